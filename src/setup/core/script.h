// The setup script (Install.xml): groups of file items and the product's
// properties. Elements other than the ones read here are ignored; a syntax
// error keeps what was read before it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/stream.h"
#include "kel/base/string_list.h"

namespace kel {
class TKELXMLNode;
}

namespace setup {

class TSetupScriptFile {
 public:
  std::string Name;        // attribute "name"
  std::string Text;        // the element's text
  std::string LangFamily;  // attribute "lang-family"; empty: every family

  // The text, or the file-name part of the name (after the last ':', '\' or
  // '/').
  std::string SourceName() const;
  // No family, or the family ignoring case.
  bool MatchesFamily(std::string_view family) const;
};

class TSetupScriptGroup {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const TSetupScriptFile& operator[](int index) const { return items_[static_cast<size_t>(index)]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  // The first item matching the family.
  bool FindByFamily(std::string_view family, const TSetupScriptFile*& item) const;
  void Add(TSetupScriptFile item) { items_.push_back(std::move(item)); }

 private:
  std::vector<TSetupScriptFile> items_;
};

class TSetupScript {
 public:
  TSetupScriptGroup Actions;
  TSetupScriptGroup Components;
  TSetupScriptGroup License;
  kel::TKELStringList Properties;  // "name=value" lines
  TSetupScriptGroup Shortcuts;

  // Reads the document (text or binary forms) and appends what it describes.
  // Only text whose encoding cannot be recognised or decoded fails, with the
  // reader's error.
  void Load(kel::TKELStream& stream);
  // The value of the last property of that name (ignoring case); empty when
  // none.
  std::string GetProperty(std::string_view name) const;

 private:
  static void LoadGroup(const kel::TKELXMLNode& element, TSetupScriptGroup& group);
};

}  // namespace setup
