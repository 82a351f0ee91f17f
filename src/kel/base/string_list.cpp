#include "kel/base/string_list.h"

#include "kel/base/text.h"

namespace kel {

TKELStringList::TKELStringList(std::initializer_list<std::string> lines) {
  for (const std::string& line : lines) items_.push_back({line, 0});
}

void TKELStringList::Put(int index, std::string text, uint32_t tag) {
  items_[static_cast<size_t>(index)] = {std::move(text), tag};
  Changed();
}

int TKELStringList::Add(std::string text, uint32_t tag) {
  items_.push_back({std::move(text), tag});
  Changed();
  return Count() - 1;
}

void TKELStringList::Insert(int index, std::string text, uint32_t tag) {
  items_.insert(items_.begin() + index, {std::move(text), tag});
  Changed();
}

void TKELStringList::Delete(int index) {
  items_.erase(items_.begin() + index);
  Changed();
}

void TKELStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

int TKELStringList::IndexOf(std::string_view text) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string& line = items_[i].text;
    if (CaseSensitive ? line == text : kelSameText(line, text)) return static_cast<int>(i);
  }
  return -1;
}

std::string TKELStringList::Text() const {
  std::string out;
  for (const TItem& item : items_) {
    out += item.text;
    out += "\r\n";
  }
  return out;
}

std::string TKELStringList::Join(std::string_view separator) const {
  std::string out;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i) out += separator;
    out += items_[i].text;
  }
  return out;
}

void TKELStringList::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TKELStringList::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange();
}

}  // namespace kel
