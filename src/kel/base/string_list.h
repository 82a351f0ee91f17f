// An ordered list of strings, each with a 32-bit tag, with change
// notification. Lines of INI sections, error lists and parameter lists are
// kept in it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

class TKELStringList {
 public:
  struct TItem {
    std::string text;
    uint32_t tag = 0;
    // A note that the owner keeps with the line; a line put in its place
    // starts without one (INI sections note the lines they read in a legacy
    // code page).
    uint8_t mark = 0;
  };

  TKELStringList() = default;
  TKELStringList(std::initializer_list<std::string> lines);
  virtual ~TKELStringList() = default;
  TKELStringList(const TKELStringList&) = default;
  TKELStringList& operator=(const TKELStringList&) = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  const std::string& operator[](int index) const { return items_[static_cast<size_t>(index)].text; }
  const std::string& Get(int index) const { return (*this)[index]; }
  uint32_t GetTag(int index) const { return items_[static_cast<size_t>(index)].tag; }
  // Tags are caches of their owners (e.g. a hash of the line); setting one is
  // not a change of the list.
  void SetTag(int index, uint32_t tag) { items_[static_cast<size_t>(index)].tag = tag; }
  const std::vector<TItem>& Items() const { return items_; }

  void Put(int index, std::string text, uint32_t tag);
  int Add(std::string text, uint32_t tag = 0);
  void Insert(int index, std::string text, uint32_t tag = 0);
  void Delete(int index);
  void Clear();
  // Appends without notification; for owners that fill a list inside an
  // update of their own.
  void AppendSilently(std::string text, uint32_t tag = 0) { items_.push_back({std::move(text), tag}); }

  // Position of the first line equal to `text` (ignoring case unless
  // CaseSensitive), or -1.
  int IndexOf(std::string_view text) const;
  bool Contains(std::string_view text) const { return IndexOf(text) >= 0; }

  // The lines, each followed by CR LF.
  std::string Text() const;
  // The lines joined by `separator` (no trailing separator).
  std::string Join(std::string_view separator) const;

  bool CaseSensitive = false;
  std::function<void()> OnChange;

  virtual void BeginUpdate() { ++updateCount_; }
  virtual void EndUpdate();
  int UpdateCount() const { return updateCount_; }

 protected:
  // Called after every change of the lines; fires OnChange outside updates.
  virtual void Changed();

  std::vector<TItem> items_;
  int updateCount_ = 0;
};

}  // namespace kel
