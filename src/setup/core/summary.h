// The text of the ready-to-install page: headings with their items, a blank
// line between groups. A heading is written only when an item follows it.
#pragma once

#include <string>
#include <string_view>

namespace setup {

class TSetupSummaryBuilder {
 public:
  void SetHeading(std::string text);
  // Heading from the language text (section, key).
  void SetHeading(std::string_view section, std::string_view key);
  void AddItem(std::string_view text);
  void AddItem(std::string_view section, std::string_view key);
  const std::string& ToString() const { return text_; }

 private:
  std::string text_;
  std::string heading_;
  bool headingPending_ = false;
};

}  // namespace setup
