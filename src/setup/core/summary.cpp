#include "setup/core/summary.h"

#include "setup/core/resources.h"
#include "setup/core/session.h"

namespace setup {

void TSetupSummaryBuilder::SetHeading(std::string text) {
  heading_ = std::move(text);
  headingPending_ = true;
}

void TSetupSummaryBuilder::SetHeading(std::string_view section, std::string_view key) {
  SetHeading(TSetup::Instance().Resources().GetText(section, key));
}

void TSetupSummaryBuilder::AddItem(std::string_view text) {
  if (headingPending_) {
    if (!text_.empty()) text_ += "\r\n";
    text_ += heading_;
    text_ += "\r\n";
    headingPending_ = false;
  }
  text_ += text;
  text_ += "\r\n";
}

void TSetupSummaryBuilder::AddItem(std::string_view section, std::string_view key) {
  AddItem(TSetup::Instance().Resources().GetText(section, key));
}

}  // namespace setup
