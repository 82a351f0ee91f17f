#include "setup/core/extract.h"

#include <algorithm>

#include "kel/base/file_system.h"
#include "kel/base/hashes.h"
#include "kel/base/ini_file.h"
#include "kel/base/text.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/process.h"
#include "setup/core/app_repo.h"
#include "setup/core/errors.h"
#include "setup/core/file_search_helper.h"
#include "setup/core/product_info.h"
#include "setup/core/prompt.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/session.h"
#include "setup/package/embedded_resources.h"
#include "setup/package/package.h"

namespace setup {

namespace {

constexpr size_t kCopyPiece = 1 << 20;

// Packages keep no file modes. A file whose content is a program, an ELF
// image or a script starting with "#!", is what a publisher means to run, so
// it is made executable when it is written.
bool IsProgram(kel::TKELStream& source) {
  char head[4] = {};
  source.SetPosition(0);
  const size_t n = source.Read(head, sizeof head);
  source.SetPosition(0);
  return (n == 4 && std::string_view(head, 4) == "\x7F" "ELF") || (n >= 2 && head[0] == '#' && head[1] == '!');
}

void CopyInPieces(kel::TKELStream& source, kel::TKELStream& target) {
  source.SetPosition(0);
  std::vector<uint8_t> piece(kCopyPiece);
  for (;;) {
    const size_t n = source.Read(piece.data(), piece.size());
    if (n == 0) break;
    target.WriteBuffer(piece.data(), n);
  }
}

std::unique_ptr<kel::TKELBufferedFileStream> CreateForWriting(const std::string& target) {
  try {
    return std::make_unique<kel::TKELBufferedFileStream>(target, kel::fmCreate | kel::fmShareDenyNone);
  } catch (const kel::Exception&) {
    return nullptr;
  }
}

// Whether the path lies inside the destination folder: it begins with the
// destination exactly, or spells it in other case and names the same folder
// (on a file system that ignores case). Elsewhere case counts: /opt/orvi/
// and /opt/ORVI/ are two folders, and an entry made relative to the wrong
// one would have the uninstaller delete a file the setup never wrote.
bool LiesInside(const std::string& destination, const std::string& path) {
  if (path.starts_with(destination)) return true;
  if (!kel::kelStartsText(destination, path)) return false;
  kel::platform::FileStatus spelled, folder;
  return kel::platform::GetFileStatus(path.substr(0, destination.size()), spelled) &&
         kel::platform::GetFileStatus(destination, folder) && spelled.id == folder.id;
}

std::string SizeText(int64_t bytes) { return std::to_string(bytes) + " bytes"; }

const char* AnswerName(TSetupAnswer answer) {
  switch (answer) {
    case TSetupAnswer::Retry: return "Retry";
    case TSetupAnswer::Ignore: return "Ignore";
    case TSetupAnswer::Abort: break;
  }
  return "Abort";
}

// Appends one path to the log's [Uninstall] list, relative to the
// destination when it lies inside it.
void AddUninstallEntry(kel::TKELIniFile& log, const std::string& destination, const std::string& name) {
  std::string path = TSetup::Instance().Resources().ExpandPath(name);
  const int n = log.ReadInteger("Uninstall", "Count", 0);
  if (LiesInside(destination, path)) path.erase(0, destination.size());
  log.WriteString("Uninstall", std::to_string(n), path);
  log.WriteInteger("Uninstall", "Count", n + 1);
}

// The uninstaller: the running program with its setup package and skins,
// without the product package, which an uninstaller never reads (it reads
// Uninstall.dat instead). Copying the product package as well would double
// the size of the installation.
void WriteUninstaller(const std::string& source, const std::string& target) {
  const TEmbeddedResources resources = TEmbeddedResources::OpenFile(source);
  std::vector<std::unique_ptr<kel::TKELStream>> kept;
  TEmbeddedResourceWriter writer;
  for (const TEmbeddedResource& item : resources.Items()) {
    if (kel::kelSameText(item.Name, "PRODUCT")) continue;
    kept.push_back(resources.Open(item.Name));
    writer.Add(item.Name, *kept.back());
  }
  // Written beside the target and renamed over it, so that a running
  // uninstaller can be replaced and a failure leaves the old file intact.
  const std::string partial = target + ".partial";
  try {
    kel::TKELFileStream program(source, kel::fmOpenRead | kel::fmShareDenyNone);
    {
      kel::TKELBufferedFileStream out(partial, kel::fmCreate);
      writer.Write(program, source, out);
      out.Flush();
    }
    std::string error;
    if (!kel::platform::SetExecutable(partial, true, &error) ||
        !kel::platform::ReplaceFile(partial, target, &error))
      throw kel::EOSError(error);
  } catch (const kel::Exception& e) {
    kel::kelDeleteFile(partial);
    throw kel::EOSError(e.Message() + "\r\n" + source + " -> " + target);
  }
}

}  // namespace

// --- TSetupExtractHelper ----------------------------------------------------------

void TSetupExtractHelper::ExtractFile(const TSetupScriptFile& item) {
  TSetupResources& resources = TSetup::Instance().Resources();
  const std::string target = resources.ExpandPath(item.Name);
  try {
    const std::string folder = kel::kelExtractFilePath(target);
    if (!kel::kelForceDirectories(folder))
      throw EInstallerInstallError(resources.FormatCommonText("E3", {folder}));
    std::unique_ptr<kel::TKELStream> source = resources.GetFile(item.SourceName());
    std::unique_ptr<kel::TKELBufferedFileStream> stream;
    if (CreateTargetStream(target, *source, stream)) {
      CopyInPieces(*source, *stream);
      stream->Flush();
      stream.reset();
      std::string error;
      if (IsProgram(*source) && !kel::platform::SetExecutable(target, true, &error)) throw kel::EOSError(error);
      TSetup::Instance().Log().Write("Extracted: " + target + " (" + SizeText(source->GetSize()) + ")");
    }
  } catch (const kel::Exception& e) {
    throw EInstallerInstallError(target + "\r\n" + e.Message());
  }
}

bool TSetupExtractHelper::CreateTargetStream(const std::string& target, kel::TKELStream& source,
                                             std::unique_ptr<kel::TKELBufferedFileStream>& stream) {
  stream = CreateForWriting(target);
  if (stream) return true;

  // The target cannot be written (a running program, a file locked by
  // another process): nothing to do when it already holds the content.
  kel::TKELHashMD5::TState existingState = kel::TKELHashMD5::Initialize();
  kel::TKELHashMD5::UpdateFromFile(existingState, target);
  const std::string existing = kel::TKELHashMD5::Finalize(existingState);
  kel::TKELHashMD5::TState sourceState = kel::TKELHashMD5::Initialize();
  source.SetPosition(0);
  kel::TKELHashMD5::UpdateFromStream(sourceState, source);
  const std::string wanted = kel::TKELHashMD5::Finalize(sourceState);
  TSetup& session = TSetup::Instance();
  TSetupLog& log = session.Log();
  if (kel::kelSameText(existing, wanted)) {
    log.Write("Kept (in use, already the new content): " + target);
    return false;
  }

  // A file in use can usually be renamed: the new content then goes to the
  // path at once and the old one survives as .bak.
  if (kel::kelMoveFile(target, target + ".bak")) log.Write("Renamed aside (in use): " + target + " -> " + target + ".bak");

  for (;;) {
    stream = CreateForWriting(target);
    if (stream) return true;
    const std::string question = session.Resources().FormatCommonText("QM2", {target});
    log.Write("Question: " + question);
    TSetupAnswer answer = TSetupAnswer::Abort;
    session.Dispatcher().Invoke([&] { answer = session.Prompt().AskAbortRetryIgnore(question); });
    log.Write(std::string("Answer: ") + AnswerName(answer));
    switch (answer) {
      case TSetupAnswer::Retry:
        continue;
      case TSetupAnswer::Ignore:
        return false;
      case TSetupAnswer::Abort:
        session.MarkAbortedByUser();
        throw EInstallerInstallError(session.Resources().FormatCommonText("E1", {target}));
    }
  }
}

void TSetupExtractHelper::WriteUninstallData(const std::string& folder,
                                             const std::vector<const TSetupScriptFile*>& items) {
  TSetup& session = TSetup::Instance();
  const std::string exe = folder + "Uninstall";
  const std::string dat = folder + "Uninstall.dat";
  TSetupLog& runLog = session.Log();
  WriteUninstaller(kel::kelModuleFileName(), exe);
  runLog.Write("Wrote the uninstaller: " + exe + " (" + SizeText(kel::kelFileGetSize(exe)) + ")");

  kel::TKELIniFile log;
  log.Assign(&session.Settings());
  log.DeleteSection("Uninstall");
  for (const TSetupScriptFile* item : items) AddUninstallEntry(log, folder, item->Name);
  AddUninstallEntry(log, folder, dat);
  AddUninstallEntry(log, folder, exe);

  TSetupPackageBuilder builder{std::string(kSetupPackageKey)};
  kel::TKELMemoryStream logStream;
  log.SaveToStream(logStream);
  builder.Add(logStream, "Uninstall.ini");
  builder.Commit(dat, 4);
  runLog.Write("Wrote the uninstall data: " + dat + " (" + SizeText(kel::kelFileGetSize(dat)) + ", " +
               std::to_string(log.ReadInteger("Uninstall", "Count", 0)) + " entries)");

  if (!session.HasFlag(sfPORTABLE)) {
    TSetupProductInfo& product = session.Product();
    const bool registered = TSetupAppRepo::Register(product.GetName(), exe, product.GetVersionNo(),
                                                    product.GetPublisher(), product.GetHomePage());
    runLog.Write("Registry: the entry of \"" + product.GetName() + "\" " + product.GetVersionNo() +
                 (registered ? " was written" : " could not be written") + " (uninstaller " + exe + ")");
  }
}

// --- TSetupActionExtract ----------------------------------------------------------

void TSetupActionExtract::Execute() {
  ReportStatus(GetCommonText("A4"));
  const std::string family = Resources().GetLanguageFamily();
  std::vector<const TSetupScriptFile*> items;
  for (const TSetupScriptFile& item : Script().Components)
    if (item.MatchesFamily(family)) items.push_back(&item);
  const size_t count = items.size();
  for (size_t i = 0; i < count; ++i) {
    SetProgress(static_cast<int>((i * 100 + 100) / count));
    ExtractFile(*items[i]);
  }
  ReportStatus(GetCommonText("A7"));
  Session().Extractor().WriteUninstallData(Session().DestPath(), items);
}

// --- TSetupFileList ---------------------------------------------------------------

void TSetupFileList::AddFolder(const std::string& root, const std::string& excludedPrefix,
                               const std::string& targetRoot) {
  kel::TKELStringList files;
  TFileSearchHelper::Search(root, excludedPrefix, files);
  for (const auto& file : files.Items()) {
    const size_t skip = std::min(root.size() + 1, file.text.size());
    Add(file.text, targetRoot + file.text.substr(skip));
  }
}

void TSetupFileList::RemoveByName(std::string_view fileName) {
  for (size_t i = items_.size(); i-- > 0;)
    if (kel::kelSameText(kel::kelExtractFileName(items_[i].Source), fileName)) items_.erase(items_.begin() + i);
}

// --- File services ----------------------------------------------------------------

void DeleteFileOrSchedule(const std::string& path) {
  if (!kel::kelFileExists(path)) return;
  kel::kelFileSetAttributes(path, kel::faNormal);
  if (kel::kelDeleteFile(path)) {
    TSetup::CurrentLog().Write("Deleted: " + path);
    return;
  }
  // Move it out of the way into the temporary folder, from where it goes
  // away later, so that the path itself is free now.
  std::string aside;
  try {
    aside = kel::kelTempFileName("delete");
  } catch (const kel::Exception&) {
    TSetup::CurrentLog().Write("Could not delete: " + path);
    return;
  }
  kel::kelDeleteFile(aside);
  if (kel::kelMoveFile(path, aside)) {
    kel::platform::DeleteAtRestart(aside);
    TSetup::CurrentLog().Write("Deleted (moved aside to be deleted later): " + path + " -> " + aside);
  } else {
    TSetup::CurrentLog().Write("Could not delete: " + path);
  }
}

bool RunAndWait(const std::string& commandLine) {
  TSetup::CurrentLog().Write("Running: " + commandLine);
  std::string error;
  const int code = kel::platform::RunCommandLine(commandLine, &error);
  if (code >= 0)
    TSetup::CurrentLog().Write("The program ended with exit code " + std::to_string(code));
  else
    TSetup::CurrentLog().Write("The program could not be started: " + error);
  return code >= 0;
}

}  // namespace setup
