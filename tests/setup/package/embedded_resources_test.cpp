#include "setup/package/embedded_resources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "kel/base/hashes.h"
#include "kel/platform/module.h"
#include "package_fixtures.h"
#include "setup/package/package.h"
#include "support/fuzz.h"
#include "support/temp_dir.h"

namespace setup {
namespace {

std::string Bytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

using Resources = std::vector<std::pair<std::string, std::string>>;

std::string Attach(const std::string& program, const Resources& resources) {
  TEmbeddedResourceWriter writer;
  std::vector<std::unique_ptr<kel::TKELMemoryStream>> streams;
  for (const auto& [name, content] : resources) {
    streams.push_back(std::make_unique<kel::TKELMemoryStream>(content));
    writer.Add(name, *streams.back());
  }
  kel::TKELMemoryStream source(program), target;
  writer.Write(source, "program", target);
  return std::string(target.View());
}

TEmbeddedResources Read(const std::string& file) {
  return TEmbeddedResources(std::make_shared<kel::TKELMemoryStream>(file), "Setup");
}

std::string ResourceError(const std::string& file) {
  try {
    Read(file);
    return "";
  } catch (const kel::Exception& e) {
    return e.Message();
  }
}

std::string Content(const TEmbeddedResources& resources, std::string_view name) {
  auto stream = resources.Open(name);
  return stream->ReadRest();
}

TEST(EmbeddedResources, AttachedBlocksReadBack) {
  const std::string program = Bytes(10000, 1);
  const std::string setupPackage = orvi::test::BuildPackage({{"Install.xml", "<Setup/>"}, {"English.lng", "[File]"}});
  const Resources resources = {
      {"SETUP", setupPackage}, {"PRODUCT", Bytes(3000, 2)}, {"KELDEFAULTSKIN", "skin"}, {"EMPTY", ""}};
  const std::string file = Attach(program, resources);
  EXPECT_EQ(file.substr(0, program.size()), program);

  const TEmbeddedResources read = Read(file);
  EXPECT_TRUE(read.HasResources());
  EXPECT_EQ(read.ProgramSize(), static_cast<int64_t>(program.size()));
  ASSERT_EQ(read.Items().size(), resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    EXPECT_EQ(read.Items()[i].Name, resources[i].first);
    EXPECT_EQ(Content(read, resources[i].first), resources[i].second);
  }
  EXPECT_EQ(Content(read, "keldefaultskin"), "skin");
  EXPECT_EQ(read.Find("KELDEFAULTSKIN_DARK"), nullptr);
  try {
    read.Open("KELDEFAULTSKIN_DARK");
    FAIL() << "opened a missing resource";
  } catch (const EEmbeddedResourceError& e) {
    EXPECT_EQ(e.Message(), "Resource \"KELDEFAULTSKIN_DARK\" not found in \"Setup\"");
  }

  // A resource stream is a window: seeks stay inside it, and a package
  // opens straight from it.
  auto stream = read.Open("PRODUCT");
  EXPECT_EQ(stream->GetSize(), 3000);
  stream->Seek(-10, kel::SeekOrigin::End);
  EXPECT_EQ(stream->ReadRest(), resources[1].second.substr(2990));
  char byte;
  EXPECT_EQ(stream->Read(&byte, 1), 0u);
  auto setupStream = read.Open("SETUP");
  TSetupPackageReader package(*setupStream);
  EXPECT_TRUE(package.Contains("install.xml"));
}

TEST(EmbeddedResources, AttachingAgainReplaces) {
  const std::string program = Bytes(5000, 3);
  const std::string once = Attach(program, {{"SETUP", "old setup"}, {"PRODUCT", Bytes(4000, 4)}});
  const Resources fresh = {{"SETUP", "new setup"}, {"PRODUCT", "new product"}};
  EXPECT_EQ(Attach(once, fresh), Attach(program, fresh));
  EXPECT_EQ(Attach(once, {}), Attach(program, {}));
  EXPECT_EQ(Read(Attach(once, {})).Items().size(), 0u);
}

TEST(EmbeddedResources, FilesWithoutResources) {
  for (const std::string& file : {std::string(), std::string("short"), Bytes(31, 5), Bytes(5000, 6)}) {
    const TEmbeddedResources read = Read(file);
    EXPECT_FALSE(read.HasResources());
    EXPECT_EQ(read.ProgramSize(), static_cast<int64_t>(file.size()));
    EXPECT_TRUE(read.Items().empty());
  }
}

TEST(EmbeddedResources, WriterRefusesBadNames) {
  TEmbeddedResourceWriter writer;
  kel::TKELMemoryStream data("x");
  writer.Add("SETUP", data);
  EXPECT_THROW(writer.Add("setup", data), kel::EArgumentError);
  EXPECT_THROW(writer.Add("", data), kel::EArgumentError);
  EXPECT_THROW(writer.Add(std::string(65536, 'N'), data), kel::EArgumentError);
  EXPECT_THROW(writer.Add("\xFF", data), kel::EArgumentError);
}

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string DirectoryEntry(std::string_view name, uint64_t offset, uint64_t size) {
  std::string entry;
  Put(entry, name.size(), 2);
  entry += name;
  Put(entry, offset, 8);
  Put(entry, size, 8);
  return entry;
}

// A file of `body`, then `directory` with a trailer whose fields are right
// unless changed by the deltas.
std::string WithDirectory(const std::string& body, const std::string& directory, uint64_t programSize,
                          int64_t offsetDelta = 0, int64_t sizeDelta = 0, uint32_t crcXor = 0) {
  std::string file = body + directory;
  Put(file, programSize, 8);
  Put(file, body.size() + static_cast<uint64_t>(offsetDelta), 8);
  Put(file, directory.size() + static_cast<uint64_t>(sizeDelta), 4);
  Put(file, kel::kelCrc32Update(0, directory.data(), directory.size()) ^ crcXor, 4);
  return file + std::string(TEmbeddedResourceLayout::kMagic);
}

std::string Count(uint32_t count) {
  std::string bytes;
  Put(bytes, count, 4);
  return bytes;
}

TEST(EmbeddedResources, DamagedDirectoriesAreReported) {
  const std::string body = "PROGRAM" + std::string("data");  // program image of 7 bytes, one block of 4
  const std::string good = Count(1) + DirectoryEntry("SETUP", 7, 4);
  const std::string damaged = "The resources of \"Setup\" are damaged: ";
  const struct {
    const char* label;
    std::string file;
    std::string message;
  } cases[] = {
      {"consistent", WithDirectory(body, good, 7), ""},
      {"directory offset off by one", WithDirectory(body, good, 7, 1), "the directory does not end at the trailer"},
      {"directory size larger than the file", WithDirectory(body, good, 7, 0, 1000),
       "the directory does not end at the trailer"},
      {"program image past the directory", WithDirectory(body, good, 12), "the program image overlaps the directory"},
      {"checksum", WithDirectory(body, good, 7, 0, 0, 1), "the directory's checksum does not match"},
      {"block inside the program image", WithDirectory(body, Count(1) + DirectoryEntry("SETUP", 6, 4), 7),
       "resource \"SETUP\" lies outside the data blocks"},
      {"block running into the directory", WithDirectory(body, Count(1) + DirectoryEntry("SETUP", 7, 5), 7),
       "resource \"SETUP\" lies outside the data blocks"},
      {"block size overflowing", WithDirectory(body, Count(1) + DirectoryEntry("SETUP", 7, ~uint64_t(0)), 7),
       "resource \"SETUP\" lies outside the data blocks"},
      {"more entries counted than present", WithDirectory(body, Count(2) + DirectoryEntry("SETUP", 7, 4), 7),
       "the directory ends inside an entry"},
      {"huge count", WithDirectory(body, Count(0xFFFFFFFF), 7), "the directory ends inside an entry"},
      {"unnamed entry", WithDirectory(body, Count(1) + DirectoryEntry("", 7, 4), 7), "a resource has no name"},
      {"bytes after the entries", WithDirectory(body, good + "x", 7), "the directory has bytes after its entries"},
  };
  for (const auto& c : cases) {
    const std::string error = ResourceError(c.file);
    if (c.message.empty()) {
      EXPECT_EQ(error, "") << c.label;
    } else {
      EXPECT_EQ(error.rfind(damaged + c.message, 0), 0u) << c.label << ": " << error;
    }
  }

  // Cutting a file with resources anywhere either leaves no trailer (the
  // rest counts as the program) or is reported.
  const std::string file = Attach("PROGRAM", {{"SETUP", "setup data"}, {"PRODUCT", "product"}});
  for (size_t length = 0; length < file.size(); ++length) {
    const std::string cut = file.substr(0, length);
    const std::string error = ResourceError(cut);
    if (error.empty()) {
      EXPECT_FALSE(Read(cut).HasResources()) << length;
    } else {
      EXPECT_EQ(error.rfind(damaged, 0), 0u) << length << ": " << error;
    }
  }
}

TEST(EmbeddedResources, FuzzDirectory) {
  orvi::test::FuzzOptions options;
  options.seeds = {Attach("PROGRAM", {{"SETUP", "setup data"}, {"PRODUCT", "product"}}), Attach("", {}),
                   Attach(Bytes(100, 7), {{"A", ""}})};
  options.dictionary = {std::string(TEmbeddedResourceLayout::kMagic), std::string(8, '\xFF'), std::string(8, '\0')};
  orvi::test::RunFuzzTarget(
      "embedded resources",
      [](std::string_view input) {
        try {
          const TEmbeddedResources read = Read(std::string(input));
          for (const TEmbeddedResource& item : read.Items()) {
            EXPECT_LE(item.Offset + item.Size, static_cast<int64_t>(input.size()));
            EXPECT_EQ(static_cast<int64_t>(read.Open(item.Name)->ReadRest().size()), item.Size);
          }
        } catch (const kel::Exception&) {
        }
      },
      options);
}

// The program reads its own file: a copy of this test program with a
// package attached runs the child test below, which reports what it finds.
TEST(EmbeddedResources, RunningProgramFindsItsOwnResources) {
  orvi::test::TempDir dir;
  const std::string self = kel::platform::ExecutablePath();
  ASSERT_FALSE(self.empty());
  const std::string copy = dir / "setup-copy";
  const std::string package = orvi::test::BuildPackage({{"Install.xml", "<Setup version=\"1\"/>"}});
  {
    TEmbeddedResourceWriter writer;
    kel::TKELMemoryStream setupPackage(package);
    writer.Add("SETUP", setupPackage);
    kel::TKELFileStream program(self, kel::fmOpenRead | kel::fmShareDenyNone);
    kel::TKELFileStream target(copy, kel::fmCreate);
    writer.Write(program, self, target);
  }
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  const std::string report = dir / "report";
  const std::string command = "ORVI_RESOURCE_REPORT='" + report + "' '" + copy +
                              "' --gtest_filter=EmbeddedResourcesChild.ReportOwnResources > '" + (dir / "log") +
                              "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << orvi::test::ReadFileBytes(dir / "log");
  EXPECT_EQ(orvi::test::ReadFileBytes(report), "<Setup version=\"1\"/>");
}

TEST(EmbeddedResourcesChild, ReportOwnResources) {
  const char* report = std::getenv("ORVI_RESOURCE_REPORT");
  if (report == nullptr) GTEST_SKIP() << "runs only as the child of RunningProgramFindsItsOwnResources";
  const TEmbeddedResources own = TEmbeddedResources::OpenExecutable();
  auto stream = own.Open("SETUP");
  TSetupPackageReader package(*stream);
  std::unique_ptr<kel::TKELMemoryStream> script;
  ASSERT_TRUE(package.GetFile("Install.xml", script));
  orvi::test::WriteFileBytes(report, std::string(script->View()));
}

}  // namespace
}  // namespace setup
