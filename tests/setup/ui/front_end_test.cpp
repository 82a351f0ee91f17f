// The wizard's front end: which runs show windows, and the questions and
// errors as message boxes.
#include "setup/core/dispatcher.h"
#include "support/testlib/environment.h"
#include "wizard_fixture.h"

namespace orvi::test {
namespace {

class FrontEndTest : public WizardTest {
 protected:
  int argc_ = 1;
  char name_[6] = "Setup";
  char* argv_[2] = {name_, nullptr};
};

TEST_F(FrontEndTest, WindowsOnlyForRunsThatAreNotSilentAndHaveADisplay) {
  const struct {
    const char* params;
    const char* platform;
    bool windows;
  } rows[] = {{"", "offscreen", true},
              {"/AUTO", "offscreen", true},
              {"/AUTO /SILENT", "offscreen", false},
              {"", nullptr, false}};  // no platform chosen and no DISPLAY
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.params) + " " + (row.platform ? row.platform : "none"));
    ScopedEnv platform("QT_QPA_PLATFORM", row.platform);
    ScopedEnv display("DISPLAY", nullptr);
    OpenSession({}, {}, row.params);
    // The session of the fixture starts with the console's hand-over.
    Session().SetUserInterface(std::make_unique<setup::TSetupQueueDispatcher>(),
                               std::make_unique<setup::TWizardPrompt>());
    setup::TWizardFrontEnd frontEnd(argc_, argv_);
    frontEnd.SessionCreated(Session());
    EXPECT_EQ(dynamic_cast<setup::TWizardDispatcher*>(&Session().Dispatcher()) != nullptr, row.windows);
    EXPECT_EQ(frontEnd.LanguageDialog() != nullptr, row.windows);
    if (!row.windows) {
      EXPECT_FALSE(frontEnd.RunWizard(Session()));
    }
  }
}

TEST_F(FrontEndTest, QuestionsAndErrorsAreMessageBoxes) {
  setup::TWizardPrompt prompt;
  kel::TKELDialogAnswers::Push("Ignore");
  EXPECT_EQ(prompt.AskAbortRetryIgnore("The file is in use."), setup::TSetupAnswer::Ignore);
  EXPECT_EQ(prompt.AskAbortRetryIgnore("The file is in use."), setup::TSetupAnswer::Retry) << "the default";
  kel::TKELDialogAnswers::Push("Abort");
  EXPECT_EQ(prompt.AskAbortRetryIgnore("The file is in use."), setup::TSetupAnswer::Abort);
  prompt.ShowError("It failed.");
  const std::vector<kel::TKELDialogRecord>& records = kel::TKELDialogAnswers::Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].text, "The file is in use.");
  EXPECT_EQ(records[0].defaultAnswer, "Retry");
  EXPECT_EQ(records[3].caption, "Setup");
  EXPECT_EQ(records[3].text, "It failed.");
  EXPECT_EQ(records[3].defaultAnswer, "OK");
}

}  // namespace
}  // namespace orvi::test
