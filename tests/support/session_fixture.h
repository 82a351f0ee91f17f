// A setup session built from packages made in memory, for tests of the
// engine and of the product's actions. The session runs in a sandbox folder
// (ORVI_SETUP_SANDBOX), so every system path it touches lies inside it.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "setup/core/dispatcher.h"
#include "setup/core/notify.h"
#include "setup/core/page_class.h"
#include "setup/core/prompt.h"
#include "setup/core/product_info.h"
#include "setup/core/session.h"
#include "support/testlib/environment.h"

namespace orvi::test {

using PackageFiles = std::vector<std::pair<std::string, std::string>>;

// The bytes of a setup package holding the files, in order.
std::string BuildPackage(const PackageFiles& files, int level = 0);

// An English.lng with the [Common] keys the engine uses (A1-A9, E1, E3, E4,
// QM2), each text naming its key so tests can recognise it ("E1 %s").
std::string MinimalEnglishLng();

// An Install.xml with the given inner text of <product> (and, optionally,
// of <setup>), and the settings ProductName=TestProduct,
// ProductVersion=1.00, ProductVersionId=1000, BuildDate=2024-01-31,
// Publisher=Test Publisher, HomePage=https://example.test/.
std::string MinimalInstallXml(const std::string& productInner, const std::string& setupInner = "");

// Answers the prompt's questions from a queue (Abort when it runs empty) and
// records what was asked.
class TScriptedPrompt : public setup::ISetupUserPrompt {
 public:
  setup::TSetupAnswer AskAbortRetryIgnore(const std::string& text) override;
  void ShowError(const std::string& text) override { errors.push_back(text); }

  std::deque<setup::TSetupAnswer> answers;
  std::vector<std::string> questions;
  std::vector<std::string> errors;
};

// Records every notification with the thread that delivered it.
class TRecordingListener : public setup::IInstallerNotify {
 public:
  struct Entry {
    int code;
    intptr_t value;
    std::string text;  // of neStatusText
    std::thread::id thread;
  };
  void Notify(int code, intptr_t value) override;
  // The values of the notifications with that code, in order.
  std::vector<intptr_t> Values(int code) const;
  std::vector<Entry> entries;
};

struct SessionSpec {
  std::string installXml = MinimalInstallXml("");
  PackageFiles setupFiles;    // besides Install.xml and English.lng
  std::string englishLng = MinimalEnglishLng();
  PackageFiles productFiles;  // the PRODUCT package
  std::string params;         // the command-line parameters
  // The product description class; the fixture's own test product when
  // empty (see TTestProduct).
  setup::TSetupProductInfo::TFactory product = nullptr;
  bool initializeLanguages = true;
};

// A product description for engine tests: the installed version, update
// and portable answers are plain fields; its actions are the ones tests put
// into Actions.
class TTestProduct : public setup::TSetupProductInfo {
 public:
  bool CanUpdate() override { return canUpdate; }
  bool IsPortableInstallation() override { return portable; }
  int GetInstalledVersion() override { return installedVersion; }
  void LoadInstalledInfo() override { ++loads; }
  void PopulateActions(const TAddAction& add) override {
    for (const setup::TSetupActionClass& action : Actions) add(action);
  }
  void PopulatePages(const TAddPage& add) override {
    for (const setup::TSetupPageClass& page : Pages) add(page);
  }

  static inline std::vector<setup::TSetupActionClass> Actions;
  static inline std::vector<setup::TSetupPageClass> Pages;
  static inline bool canUpdate = false;
  static inline bool portable = false;
  static inline int installedVersion = 0;
  int loads = 0;
};

// Resets TTestProduct's shared answers when made and when it goes away, so
// that no test sees what another one chose. Every test that touches them
// holds one.
class TTestProductScope {
 public:
  TTestProductScope() { Reset(); }
  ~TTestProductScope() { Reset(); }
  TTestProductScope(const TTestProductScope&) = delete;
  TTestProductScope& operator=(const TTestProductScope&) = delete;

 private:
  static void Reset() {
    TTestProduct::Actions.clear();
    TTestProduct::Pages.clear();
    TTestProduct::canUpdate = false;
    TTestProduct::portable = false;
    TTestProduct::installedVersion = 0;
  }
};

class SessionFixture {
 public:
  explicit SessionFixture(const SessionSpec& spec);
  ~SessionFixture();

  setup::TSetup& Session() { return *session_; }
  // The session's product description when it is the fixture's TTestProduct.
  TTestProduct& Product();
  TScriptedPrompt& Prompt() { return *prompt_; }
  const Sandbox& Machine() const { return sandbox_; }

 private:
  Sandbox sandbox_;
  TScriptedPrompt* prompt_ = nullptr;  // owned by the session
  std::unique_ptr<setup::TSetup> session_;
};

}  // namespace orvi::test
