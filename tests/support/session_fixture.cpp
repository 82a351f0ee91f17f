#include "support/session_fixture.h"

#include "kel/base/stream.h"
#include "setup/core/resources.h"
#include "setup/package/package.h"

namespace orvi::test {

std::string BuildPackage(const PackageFiles& files, int level) {
  setup::TSetupPackageBuilder builder{std::string(setup::kSetupPackageKey)};
  std::vector<std::unique_ptr<kel::TKELMemoryStream>> streams;
  for (const auto& [name, bytes] : files) {
    streams.push_back(std::make_unique<kel::TKELMemoryStream>(bytes));
    builder.Add(*streams.back(), name);
  }
  kel::TKELMemoryStream out;
  builder.CommitTo(out, level);
  return std::string(out.View());
}

std::string MinimalEnglishLng() {
  return "\xEF\xBB\xBF[File]\r\nName=English\r\nLangId=1033\r\nFamily=EN\r\n"
         "[Common]\r\n"
         "A1=A1 backing up\r\nA2=A2 shortcuts\r\nA3=A3 deleting\r\nA4=A4 extracting\r\nA5=A5 updating\r\n"
         "A6=A6 configuring\r\nA7=A7 uninstall data\r\nA8=A8 closing\r\nA9=A9 removing\r\n"
         "E1=E1 %s\r\nE3=E3 %s\r\nE4=E4 stopped\r\nQM2=QM2 %s\r\nW1=W1 %s skipped\r\nW2=W2 %s too large\r\n";
}

std::string MinimalInstallXml(const std::string& productInner, const std::string& setupInner) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Setup>\n<setup>" + setupInner +
         "</setup>\n<product>\n<Settings>\n"
         "<P name=\"ProductName\" value=\"TestProduct\"/>\n<P name=\"ProductVersion\" value=\"1.00\"/>\n"
         "<P name=\"ProductVersionId\" value=\"1000\"/>\n<P name=\"ProductVersionNo\" value=\"1.0.0.1\"/>\n"
         "<P name=\"BuildDate\" value=\"2024-01-31\"/>\n<P name=\"Publisher\" value=\"Test Publisher\"/>\n"
         "<P name=\"HomePage\" value=\"https://example.test/\"/>\n</Settings>\n" +
         productInner + "\n</product>\n</Setup>\n";
}

setup::TSetupAnswer TScriptedPrompt::AskAbortRetryIgnore(const std::string& text) {
  questions.push_back(text);
  if (answers.empty()) return setup::TSetupAnswer::Abort;
  const setup::TSetupAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

void TRecordingListener::Notify(int code, intptr_t value) {
  entries.push_back({code, value, code == setup::neStatusText ? setup::StatusTextOf(value) : std::string(),
                     std::this_thread::get_id()});
}

std::vector<intptr_t> TRecordingListener::Values(int code) const {
  std::vector<intptr_t> values;
  for (const Entry& entry : entries)
    if (entry.code == code) values.push_back(entry.value);
  return values;
}

SessionFixture::SessionFixture(const SessionSpec& spec) {
  setup::TSetupProductInfo::RegisterClass(
      spec.product ? spec.product
                   : [] { return std::unique_ptr<setup::TSetupProductInfo>(std::make_unique<TTestProduct>()); });
  PackageFiles setupFiles = {{"Install.xml", spec.installXml}, {"English.lng", spec.englishLng}};
  setupFiles.insert(setupFiles.end(), spec.setupFiles.begin(), spec.setupFiles.end());
  kel::TKELMemoryStream setupPackage(BuildPackage(setupFiles));
  kel::TKELMemoryStream productPackage(BuildPackage(spec.productFiles));
  auto resources = std::make_unique<setup::TSetupResources>(setupPackage, productPackage);
  auto prompt = std::make_unique<TScriptedPrompt>();
  prompt_ = prompt.get();
  session_ = std::make_unique<setup::TSetup>(spec.params, std::move(resources),
                                             std::make_unique<setup::TSetupQueueDispatcher>(), std::move(prompt));
  if (spec.initializeLanguages) session_->Resources().InitializeLanguages(nullptr);
}

SessionFixture::~SessionFixture() { session_.reset(); }

TTestProduct& SessionFixture::Product() { return dynamic_cast<TTestProduct&>(session_->Product()); }

}  // namespace orvi::test
