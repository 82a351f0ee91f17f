// The player's configuration file, ORVI.ini, and the add-on installer.
#include <array>
#include <random>

#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/ini_file.h"
#include "kel/base/shell.h"
#include "kel/base/stream.h"
#include "kel/base/text.h"
#include "kel/platform/filesystem.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/core/summary.h"
#include "setup/product/actions.h"

namespace setup {

namespace {

// A random (version 4) GUID in registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuid() {
  std::random_device random;  // the system's entropy source
  std::array<uint8_t, 16> bytes{};
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const uint32_t word = random();
    for (size_t j = 0; j < 4; ++j) bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "{";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text + "}";
}

struct TAddonOptions {
  bool Viewer;
  bool Extensions;
  bool Shortcuts;
};

TAddonOptions ReadAddonOptions(const kel::TKELIniFile& settings) {
  return {settings.ReadBool("Common", "AddonsViewer", false), settings.ReadBool("Common", "AddonsExtensions", false),
          settings.ReadBool("Common", "AddonsShortcuts", false)};
}

}  // namespace

std::string AddonsValue(const kel::TKELStringList& addons, std::string_view key) {
  for (const auto& line : addons.Items()) {
    const size_t split = line.text.find('=');
    if (split != std::string::npos && kel::kelSameText(std::string_view(line.text).substr(0, split), key))
      return line.text.substr(split + 1);
  }
  return {};
}

// --- Configuration ------------------------------------------------------------

void TSetupActionConfig::Execute() {
  ReportStatus(GetCommonText("A6"));
  const std::string path = Session().DestPath() + "ORVI.ini";
  kel::TKELIniFile config(path);
  config.WriteSection("Integration", Settings().ReadSection("Integration"));
  config.DeleteSection("System");
  config.WriteString("System", "ID", NewGuid());
  config.WriteString("System", "DefaultLang", Resources().LanguageName() + ".lng");
  config.WriteBool("System", "UserMode", !Session().HasFlag(sfPORTABLE));
  config.WriteInteger("System", "Version", Product().GetVersionId());
  // Written in the encoding it was read in (UTF-16LE for a new file); a
  // failed write does not stop the run, the log tells it.
  Session().Log().Write((config.UpdateFile() ? "Wrote the configuration: " : "Could not write the configuration: ") +
                        path);
}

// --- Add-ons --------------------------------------------------------------------

void TSetupActionAddonsInstall::Execute() {
  const TAddonOptions options = ReadAddonOptions(Settings());
  if (!options.Viewer && !options.Extensions && !options.Shortcuts) return;

  const kel::TKELStringList addons = Resources().GetStringList("addons.ini");
  const std::string name = AddonsValue(addons, "P4");
  // The package file first: a missing one fails before anything is written.
  std::unique_ptr<kel::TKELStream> source = Resources().GetFile(name);
  // Only the file-name part names the copy, so that it stays in the folder.
  const std::string installer = kel::kelExpandFileName(kel::kelTempPath() + kel::kelExtractFileName(name));
  // A copy left by an earlier start may still be running: it is unlinked
  // rather than overwritten.
  if (kel::kelFileExists(installer)) kel::kelDeleteFile(installer);
  {
    kel::TKELFileStream target(installer, kel::fmCreate);
    target.CopyFrom(*source, 0);
  }
  // Packages keep no permissions: the copy is made a program here.
  kel::platform::SetExecutable(installer, true);

  std::string parameters;
  if (!options.Extensions) parameters += AddonsValue(addons, "P1") + " ";
  if (options.Viewer) parameters += AddonsValue(addons, "P2") + " ";
  if (options.Shortcuts) parameters += AddonsValue(addons, "P3") + " ";
  // Started without waiting; whether it starts is not checked.
  const std::string commandLine = kel::kelFormat(AddonsValue(addons, "CL"), {parameters});
  Session().Log().Write("Starting the add-on installer: " + installer + " " + commandLine);
  kel::kelShellExecute(installer, commandLine);
}

void TSetupActionAddonsInstall::Summarize(TSetupSummaryBuilder& builder) {
  const TAddonOptions options = ReadAddonOptions(Settings());
  builder.SetHeading("PageAddons", "Title");
  if (options.Viewer) builder.AddItem("PageAddons", "CB1");
  if (options.Extensions) builder.AddItem("PageAddons", "CB2");
  if (options.Shortcuts) builder.AddItem("PageAddons", "CB3");
}

}  // namespace setup
