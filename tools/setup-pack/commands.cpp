#include "commands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "kel/base/format.h"
#include "kel/base/stream.h"
#include "kel/base/text.h"
#include "kel/graphics/skin.h"
#include "progress.h"
#include "setup/package/embedded_resources.h"
#include "setup/package/package.h"

namespace setup_pack {

namespace fs = std::filesystem;

namespace {

std::string Files(size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

void Warn(const std::string& message) { std::fprintf(stderr, "setup-pack: warning: %s\n", message.c_str()); }

// Writes `path` through a temporary file beside it, so that a failure never
// leaves a half-written result under the final name.
template <typename WriteFn>
void WriteAtomically(const std::string& path, WriteFn write) {
  const std::string temporary = path + ".partial";
  try {
    write(temporary);
    fs::rename(temporary, path);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

std::unique_ptr<setup::TSetupPackageReader> OpenPackage(const std::string& path) {
  kel::TKELFileStream file(path, kel::fmOpenRead | kel::fmShareDenyNone);
  TProgress progress("Reading " + path);
  try {
    return std::make_unique<setup::TSetupPackageReader>(file, progress.Callback());
  } catch (const kel::Exception& e) {
    throw kel::Exception(kel::kelFormat("\"%s\": %s", {path, e.Message()}));
  }
}

// Reads a skin as the setup program will: one that does not parse, or whose
// references lead nowhere, must not ship.
void CheckSkin(const std::string& name, const std::string& path) {
  kel::TKELFileStream file(path, kel::fmOpenRead | kel::fmShareDenyNone);
  std::vector<std::string> problems;
  try {
    problems = kel::TKELSkin::Parse(file.ReadRest()).Problems();
  } catch (const kel::ESkinError& e) {
    problems.push_back(e.Message());
  }
  if (problems.empty()) return;
  std::string message = kel::kelFormat("The skin %s \"%s\" is damaged:", {name, path});
  for (const std::string& problem : problems) message += "\n  " + problem;
  throw kel::Exception(message);
}

struct SourceFile {
  std::string name;  // as stored: relative, '\' separators
  fs::path path;
  int64_t size;
};

std::vector<SourceFile> CollectFiles(const fs::path& folder, const fs::path& skip) {
  if (!fs::is_directory(folder)) throw kel::Exception(kel::kelFormat("\"%s\" is not a folder", {folder.string()}));
  std::vector<SourceFile> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const fs::path& path = entry.path();
    if (entry.is_symlink() && entry.is_directory()) {
      Warn(kel::kelFormat("skipping \"%s\": links to folders are not followed", {path.string()}));
      continue;
    }
    if (entry.is_directory()) continue;
    if (!entry.is_regular_file()) {
      Warn(kel::kelFormat("skipping \"%s\": not a regular file", {path.string()}));
      continue;
    }
    std::error_code error;
    if (!skip.empty() && fs::equivalent(path, skip, error)) continue;
    std::string name;
    for (const fs::path& part : path.lexically_relative(folder)) {
      const std::string text = part.string();
      if (text.find('\\') != std::string::npos)
        throw kel::Exception(kel::kelFormat("Cannot store \"%s\": a backslash in a name would read as a folder separator",
                                            {path.string()}));
      if (!name.empty()) name += '\\';
      name += text;
    }
    if (!kel::kelIsValidUtf8(name))
      throw kel::Exception(kel::kelFormat("Cannot store \"%s\": its name is not valid UTF-8", {path.string()}));
    files.push_back({std::move(name), path, static_cast<int64_t>(entry.file_size())});
  }
  std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
  return files;
}

// The first entry of every name (ignoring case) is the one that lookups
// reach; later entries of the same name are shadowed.
std::vector<const setup::TSetupPackageFileTableItem*> ReachableItems(const setup::TSetupPackageFileTable& table) {
  std::vector<const setup::TSetupPackageFileTableItem*> items;
  std::map<std::string, std::string> seen;  // case key -> first name
  for (int i = 0; i < table.Count(); ++i) {
    const auto& item = table[i];
    const auto [first, inserted] = seen.emplace(kel::kelUpperCaseKeys(item.Name), item.Name);
    if (inserted)
      items.push_back(&item);
    else
      Warn(kel::kelFormat("skipping \"%s\": \"%s\" comes first and has the same name ignoring case",
                          {item.Name, first->second}));
  }
  return items;
}

[[noreturn]] void RefuseToExtract(const std::string& name, const std::string& why) {
  throw kel::Exception(kel::kelFormat("Refusing to extract \"%s\": %s", {name, why}));
}

// The relative path an entry name stands for, or an error when it could lead
// outside the target folder. '\' and '/' both separate folders; empty parts
// and "." are dropped, so several names can stand for one path.
fs::path SafeRelativePath(const std::string& name) {
  auto refuse = [&](const char* why) { RefuseToExtract(name, why); };
  if (name.find('\0') != std::string::npos) refuse("the name holds a null character");
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) refuse("the name is an absolute path");
  if (name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'))
    refuse("the name starts with a drive");
  fs::path path;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") refuse("the name leads outside the target folder");
    if (!part.empty() && part != ".") path /= part;
    start = end + 1;
  }
  if (path.empty()) refuse("the name is empty");
  return path;
}

// The relative paths of the entries. Two entries that stand for one path
// ("a\b" and "a/b", "a\\b" or "a\.\b") would overwrite each other, and an
// entry whose path another one needs as a folder ("a" and "a\b") cannot be
// written beside it: both are refused, naming the two entries.
std::vector<fs::path> TargetPaths(const std::vector<const setup::TSetupPackageFileTableItem*>& items) {
  std::map<fs::path, const std::string*> files, folders;  // path -> the entry written there / the first needing it
  std::vector<fs::path> targets;
  for (const auto* item : items) {
    const std::string& name = item->Name;
    fs::path target = SafeRelativePath(name);
    if (const auto file = files.find(target); file != files.end())
      RefuseToExtract(name,
                      kel::kelFormat("\"%s\" is written to the same file, \"%s\"", {*file->second, target.string()}));
    if (const auto folder = folders.find(target); folder != folders.end())
      RefuseToExtract(name, kel::kelFormat("\"%s\" needs \"%s\" as a folder", {*folder->second, target.string()}));
    for (fs::path parent = target.parent_path(); !parent.empty(); parent = parent.parent_path()) {
      if (const auto file = files.find(parent); file != files.end())
        RefuseToExtract(name, kel::kelFormat("\"%s\" is written as a file where it needs the folder \"%s\"",
                                             {*file->second, parent.string()}));
      folders.emplace(parent, &name);
    }
    files.emplace(target, &name);
    targets.push_back(std::move(target));
  }
  return targets;
}

bool Inside(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

int Create(const std::string& output, const std::string& folder, int level) {
  setup::SetupPackageLzmaSettings(level);
  std::error_code error;
  const std::vector<SourceFile> files = CollectFiles(folder, fs::exists(output, error) ? fs::path(output) : fs::path());
  std::map<std::string, std::string> seen;
  int64_t total = 0;
  for (const SourceFile& file : files) {
    const auto [first, inserted] = seen.emplace(kel::kelUpperCaseKeys(file.name), file.name);
    if (!inserted)
      Warn(kel::kelFormat("\"%s\" and \"%s\" differ only in case: only the first is found by name",
                          {first->second, file.name}));
    total += file.size;
  }

  setup::TSetupPackageBuilder builder{std::string(setup::kSetupPackageKey)};
  {
    TProgress progress("Reading files");
    int64_t done = 0;
    for (const SourceFile& file : files) {
      kel::TKELFileStream stream(file.path.string(), kel::fmOpenRead | kel::fmShareDenyNone);
      builder.Add(stream, file.name);
      done += file.size;
      progress.Update(done, total);
    }
  }
  WriteAtomically(output, [&](const std::string& path) {
    TProgress progress("Compressing");
    builder.Commit(path, level, progress.Callback());
  });
  std::printf("Created %s: %s, %" PRId64 " bytes packed into %" PRIuMAX " bytes\n", output.c_str(),
              Files(files.size()).c_str(), total, static_cast<uintmax_t>(fs::file_size(output)));
  return 0;
}

int List(const std::string& package) {
  const auto reader = OpenPackage(package);
  const setup::TSetupPackageFileTable& table = reader->FileTable();
  int64_t total = 0;
  std::printf("%14s  %s\n", "Size", "Name");
  for (int i = 0; i < table.Count(); ++i) {
    std::printf("%14" PRId64 "  %s\n", table[i].Size, table[i].Name.c_str());
    total += table[i].Size;
  }
  std::printf("%s, %" PRId64 " bytes\n", Files(static_cast<size_t>(table.Count())).c_str(), total);
  return 0;
}

int Verify(const std::string& package) {
  const auto reader = OpenPackage(package);
  std::printf("%s: OK, %s, body of %" PRId64 " bytes\n", package.c_str(),
              Files(static_cast<size_t>(reader->FileTable().Count())).c_str(), reader->Data().GetSize());
  return 0;
}

int Extract(const std::string& package, const std::string& folder, const std::vector<std::string>& names) {
  const auto reader = OpenPackage(package);
  std::vector<const setup::TSetupPackageFileTableItem*> items;
  if (names.empty()) {
    items = ReachableItems(reader->FileTable());
  } else {
    for (const std::string& name : names) {
      const setup::TSetupPackageFileTableItem* item = nullptr;
      if (!reader->FileTable().Find(name, item))
        throw kel::Exception(kel::kelFormat("\"%s\" is not in \"%s\"", {name, package}));
      if (std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
    }
  }
  // Every name is checked before anything is written.
  const std::vector<fs::path> targets = TargetPaths(items);

  fs::create_directories(folder);
  const fs::path root = fs::canonical(folder);
  int64_t total = 0, done = 0;
  for (const auto* item : items) total += item->Size;
  TProgress progress("Extracting");
  for (size_t i = 0; i < items.size(); ++i) {
    const fs::path target = root / targets[i];
    // A link inside the folder must not carry a file (or a new folder)
    // outside it: the existing part of the path is resolved before anything
    // is created, and the file itself must not be a link.
    if (fs::is_symlink(target) || !Inside(fs::weakly_canonical(target), root))
      throw kel::Exception(kel::kelFormat("Refusing to extract \"%s\": \"%s\" leads outside the target folder",
                                          {items[i]->Name, target.string()}));
    fs::create_directories(target.parent_path());
    kel::TKELFileStream file(target.string(), kel::fmCreate);
    reader->WriteFileTo(*items[i], file);
    done += items[i]->Size;
    progress.Update(done, total);
  }
  progress.Finish();
  std::printf("Extracted %s to %s\n", Files(items.size()).c_str(), folder.c_str());
  return 0;
}

int Attach(const std::string& program, const std::string& output, const std::string& setupPackage,
           const std::string& productPackage, const std::vector<std::pair<std::string, std::string>>& resources) {
  // The packages are checked first: a broken package must not ship.
  for (const std::string* package : {&setupPackage, &productPackage}) {
    const auto reader = OpenPackage(*package);
    if (package == &setupPackage && !reader->Contains("Install.xml"))
      Warn(kel::kelFormat("\"%s\" holds no Install.xml: the setup program will not start with it", {*package}));
  }

  bool skins = false;
  for (const auto& [name, file] : resources) {
    if (!kel::kelSameTextAscii(name, kel::kelDefaultSkinResource) &&
        !kel::kelSameTextAscii(name, kel::kelDefaultSkinDarkResource))
      continue;
    CheckSkin(name, file);
    skins = true;
  }
  if (!skins)
    Warn(kel::kelFormat("no skin is attached (--resource %s=FILE): the wizard shows the plain look of its toolkit",
                        {kel::kelDefaultSkinResource}));

  std::vector<std::pair<std::string, std::string>> all = {{"SETUP", setupPackage}, {"PRODUCT", productPackage}};
  all.insert(all.end(), resources.begin(), resources.end());
  setup::TEmbeddedResourceWriter writer;
  std::vector<std::unique_ptr<kel::TKELFileStream>> streams;
  for (const auto& [name, file] : all) {
    streams.push_back(std::make_unique<kel::TKELFileStream>(file, kel::fmOpenRead | kel::fmShareDenyNone));
    try {
      writer.Add(name, *streams.back());
    } catch (const kel::EArgumentError& e) {
      throw EUsageError(e.Message());
    }
  }

  kel::TKELFileStream programFile(program, kel::fmOpenRead | kel::fmShareDenyNone);
  WriteAtomically(output, [&](const std::string& path) {
    {
      kel::TKELBufferedFileStream target(path, kel::fmCreate);
      TProgress progress("Writing " + output);
      writer.Write(programFile, program, target, [&](int64_t done, int64_t total) { progress.Update(done, total); });
      target.Flush();
    }
    fs::permissions(path, fs::status(program).permissions());
  });

  const setup::TEmbeddedResources written = setup::TEmbeddedResources::OpenFile(output);
  std::printf("Wrote %s: program of %" PRId64 " bytes", output.c_str(), written.ProgramSize());
  for (const setup::TEmbeddedResource& item : written.Items())
    std::printf(", %s (%" PRId64 " bytes)", item.Name.c_str(), item.Size);
  std::printf("\n");
  return 0;
}

}  // namespace setup_pack
