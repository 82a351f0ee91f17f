#include "setup/core/resources.h"

#include <algorithm>
#include <functional>

#include "kel/base/file_system.h"
#include "kel/base/shell.h"
#include "kel/base/text.h"
#include "kel/platform/locale.h"
#include "setup/core/errors.h"
#include "setup/core/language_choice.h"
#include "setup/core/product_info.h"
#include "setup/core/script.h"
#include "setup/core/session.h"
#include "setup/package/embedded_resources.h"
#include "setup/package/package.h"

namespace setup {

namespace {

// Shell folder numbers of the all-users desktop, Program Files and the
// all-users start-menu programs.
constexpr int kCommonDesktop = 25;
constexpr int kProgramFiles = 38;
constexpr int kCommonPrograms = 23;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  std::string out;
  size_t start = 0, found;
  while ((found = text.find(from, start)) != std::string::npos) {
    out.append(text, start, found - start);
    out += to;
    start = found + from.size();
  }
  if (start == 0) return;
  out.append(text, start, std::string::npos);
  text = std::move(out);
}

}  // namespace

TSetupResources::TSetupResources(kel::TKELStream& setupPackage, kel::TKELStream& productPackage)
    : script_(std::make_unique<TSetupScript>()) {
  setupPackage_ = std::make_unique<TSetupPackageReader>(setupPackage);
  productPackage_ = std::make_unique<TSetupPackageReader>(productPackage);

  script_->Load(*GetFile("Install.xml"));

  const TSetupPackageFileTable& table = setupPackage_->FileTable();
  for (int i = 0; i < table.Count(); ++i) {
    if (kel::kelFileMaskListContains("*.lng;", kel::kelExtractFileExt(table[i].Name))) languages_.Add(table[i].Name);
  }
  std::vector<std::string> sorted;
  for (const auto& item : languages_.Items()) sorted.push_back(item.text);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string& a, const std::string& b) { return kel::kelCompareLogical(a, b) < 0; });
  languages_.Clear();
  for (std::string& name : sorted) languages_.Add(std::move(name));

  CommonDesktopPath = kel::kelShellGetSpecialFolder(kCommonDesktop);
  ProgramFilesPath = kel::kelShellGetSpecialFolder(kProgramFiles);
  ProgramFilesX86Path = kel::kelIncludeTrailingPathDelimiter(
      kel::kelExcludeTrailingPathDelimiter(ProgramFilesPath) + " (x86)");
  CommonProgramsPath = kel::kelShellGetSpecialFolder(kCommonPrograms);
}

TSetupResources::~TSetupResources() = default;

std::unique_ptr<TSetupResources> TSetupResources::OpenProgram(const std::string& programPath) {
  const TEmbeddedResources embedded = TEmbeddedResources::OpenFile(programPath);
  std::unique_ptr<kel::TKELStream> setup = embedded.Open("SETUP");
  std::unique_ptr<kel::TKELStream> product;
  std::string productFile;
  if (kel::kelSameText(kel::kelExtractFileNameWithoutExt(programPath), "Uninstall")) {
    productFile = kel::kelChangeFileExt(programPath, ".dat");
    product = std::make_unique<kel::TKELBufferedFileStream>(productFile, kel::fmOpenRead | kel::fmShareDenyNone);
  } else {
    product = embedded.Open("PRODUCT");
  }
  auto resources = std::make_unique<TSetupResources>(*setup, *product);
  resources->ProductPackageFile = productFile;
  return resources;
}

std::unique_ptr<kel::TKELStream> TSetupResources::GetFile(std::string_view name) const {
  std::unique_ptr<kel::TKELMemoryStream> stream;
  if (productPackage_->GetFile(name, stream) || setupPackage_->GetFile(name, stream)) return stream;
  throw EInstallerInstallError(kel::kelFormat("Cannot locate \"%s\" file in setup archive", {name}));
}

bool TSetupResources::HasProductFile(std::string_view name) const { return productPackage_->Contains(name); }

kel::TKELStringList TSetupResources::GetStringList(std::string_view name) const {
  std::unique_ptr<kel::TKELStream> stream = GetFile(name);
  const std::string bytes = stream->ReadRest();
  kel::TKELEncoding encoding = kel::TKELEncoding::Ansi();
  std::string_view body = bytes;
  for (const kel::TKELEncoding& marked :
       {kel::TKELEncoding::UTF8(), kel::TKELEncoding::UTF16LE(), kel::TKELEncoding::UTF16BE()}) {
    if (body.substr(0, marked.Preamble().size()) == marked.Preamble()) {
      encoding = marked;
      body.remove_prefix(marked.Preamble().size());
      break;
    }
  }
  std::string text;
  if (!encoding.Decode(body, text)) kel::TKELEncoding::Ansi().Decode(body, text);
  kel::TKELStringList lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.Add(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::string TSetupResources::GetText(std::string_view section, std::string_view key) const {
  return ExpandVariables(languageIni_.ReadString(section, key, ""));
}

std::string TSetupResources::FormatCommonText(std::string_view key,
                                              std::initializer_list<kel::TKELFormatArg> args) const {
  return kel::kelFormat(GetText("Common", key), args);
}

std::string TSetupResources::GetLanguageFamily() const { return languageIni_.ReadString("File", "Family", "EN"); }

std::unique_ptr<kel::TKELStream> TSetupResources::GetLicense() const {
  const TSetupScriptFile* item = nullptr;
  if (!script_->License.FindByFamily(GetLanguageFamily(), item) && !script_->License.FindByFamily("EN", item))
    return nullptr;
  return GetFile(item->Name);
}

std::string TSetupResources::ExpandVariables(std::string_view text) const {
  std::string result(text);
  ReplaceAll(result, "\\n", "\r\n");
  if (result.find('$') == std::string::npos) return result;
  TSetup& session = TSetup::Instance();
  TSetupProductInfo& product = session.Product();
  // In this order; each value is computed only when its variable occurs, so
  // that an unused variable can never fail the expansion.
  const std::pair<std::string_view, std::function<std::string()>> variables[] = {
      {"$DEST", [&] { return session.DestPath(); }},
      {"$TEMP", [] { return kel::kelTempPath(); }},
      {"$LINK", [&] { return product.GetHomePage(); }},
      {"$NAME", [&] { return product.GetName(); }},
      {"$VERSION", [&] { return product.GetFullVersion(); }},
      {"$DESKTOP", [this] { return CommonDesktopPath; }},
      {"$STARTMENU", [this] { return CommonProgramsPath; }},
      {"$PROGRAMS", [this] { return ProgramFilesPath; }},
  };
  for (const auto& [name, value] : variables) {
    if (result.find(name) != std::string::npos) ReplaceAll(result, name, value());
  }
  return result;
}

std::string TSetupResources::ExpandPath(std::string_view text) const {
  return kel::kelValidateFilePath(ExpandVariables(text));
}

void TSetupResources::InitializeLanguages(ISetupLanguageDialog* dialog) {
  languageIni_.LoadFromStream(*GetFile("English.lng"));
  const std::vector<TSetupLanguageEntry> entries = CollectLanguageEntries(*this);
  const int preselected = PreselectLanguage(entries, kel::platform::UserUiLanguageIds());
  const int chosen = dialog ? dialog->Choose(entries, preselected) : preselected;
  languageName_ = chosen >= 0 && chosen < static_cast<int>(entries.size())
                      ? languages_[entries[static_cast<size_t>(chosen)].Index]
                      : std::string("English.lng");
  kel::TKELIniFile chosenIni;
  chosenIni.LoadFromStream(*GetFile(languageName_));
  languageIni_.Merge(chosenIni, true);
  languageName_ = kel::kelExtractFileNameWithoutExt(languageName_);
}

}  // namespace setup
