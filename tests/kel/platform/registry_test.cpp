#include "kel/platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "support/temp_dir.h"

namespace kel::platform {
namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
 protected:
  std::string File() const { return dir_ / "var/lib/registry.db"; }
  orvi::test::TempDir dir_;
};

TEST_F(RegistryTest, KeysAndValues) {
  RegistryStore store(File(), RegistryAccess::ReadWrite);
  ASSERT_TRUE(store.IsOpen()) << store.Error();
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\ORVI";
  EXPECT_TRUE(store.SetValue(key, "Path", RegistryValue::String("/opt/ORVI/")));
  EXPECT_TRUE(store.SetValue(key, "Count", RegistryValue::DWord(0xFFFFFFFFu)));
  EXPECT_TRUE(store.SetValue(key, "Raw", {RegistryType::Binary, std::string("\0\xff", 2), 0}));
  EXPECT_TRUE(store.SetValue(key, "Big", {RegistryType::QWord, {}, 1ull << 40}));
  EXPECT_TRUE(store.SetValue(key, "", RegistryValue::String("default")));
  EXPECT_TRUE(store.SetValue(key, "PATH", RegistryValue::String("/opt/New/"))) << "same value, other case";

  EXPECT_EQ(store.ValueNames(key), (std::vector<std::string>{"PATH", "Count", "Raw", "Big", ""}))
      << "first-written order; a rewrite keeps its place";
  const auto path = store.GetValue("hkey_local_machine\\\\SOFTWARE\\orvi\\", "path");
  ASSERT_TRUE(path.has_value()) << "keys and names ignore case and empty parts";
  EXPECT_EQ(path->type, RegistryType::String);
  EXPECT_EQ(path->text, "/opt/New/");
  EXPECT_EQ(store.GetValue(key, "Count")->number, 0xFFFFFFFFu);
  EXPECT_EQ(store.GetValue(key, "Raw")->text, std::string("\0\xff", 2));
  EXPECT_EQ(store.GetValue(key, "Big")->number, 1ull << 40);
  EXPECT_FALSE(store.GetValue(key, "Missing").has_value());

  EXPECT_TRUE(store.KeyExists("HKEY_LOCAL_MACHINE\\Software")) << "keys above are created";
  EXPECT_TRUE(store.SetValue("HKEY_USERS\\Ключ", "x", RegistryValue::DWord(1)));
  EXPECT_TRUE(store.KeyExists("HKEY_USERS\\КЛЮЧ")) << "case is ignored beyond ASCII";

  EXPECT_TRUE(store.DeleteValue(key, "RAW"));
  EXPECT_TRUE(store.DeleteValue(key, "RAW")) << "already absent";
  EXPECT_FALSE(store.GetValue(key, "Raw").has_value());
  EXPECT_FALSE(store.SetValue("\\\\", "x", RegistryValue::DWord(1))) << "no key";
}

TEST_F(RegistryTest, SubkeysAndDeletingTrees) {
  RegistryStore store(File(), RegistryAccess::ReadWrite);
  const std::string root = "HKEY_LOCAL_MACHINE\\Uninstall";
  for (const char* key : {"b", "A", "a\\deep\\er", "a b", "ab", "a]x"})
    ASSERT_TRUE(store.SetValue(root + "\\" + key, "v", RegistryValue::DWord(1))) << key;
  EXPECT_EQ(store.SubKeys(root), (std::vector<std::string>{"A", "a b", "a]x", "ab", "b"}));
  EXPECT_EQ(store.SubKeys(root + "\\a"), std::vector<std::string>{"deep"});

  EXPECT_TRUE(store.DeleteKey(root + "\\a"));
  EXPECT_EQ(store.SubKeys(root), (std::vector<std::string>{"a b", "a]x", "ab", "b"})) << "siblings stay";
  EXPECT_FALSE(store.KeyExists(root + "\\a\\deep\\er"));
  EXPECT_FALSE(store.GetValue(root + "\\a\\deep\\er", "v").has_value());
  EXPECT_TRUE(store.DeleteKey(root + "\\a")) << "already absent";
  EXPECT_TRUE(store.DeleteKey(root));
  EXPECT_TRUE(store.SubKeys("HKEY_LOCAL_MACHINE").empty());
}

TEST_F(RegistryTest, ViewPaths) {
  const struct {
    const char* path;
    const char* wow32;
  } rows[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\ORVI", "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\ORVI"},
      {"hkey_local_machine\\SOFTWARE", "hkey_local_machine\\SOFTWARE\\Wow6432Node"},
      {"HKEY_LOCAL_MACHINE\\Software\\wow6432node\\X", "HKEY_LOCAL_MACHINE\\Software\\wow6432node\\X"},
      {"HKEY_LOCAL_MACHINE\\SoftwareX\\Y", "HKEY_LOCAL_MACHINE\\SoftwareX\\Y"},
      {"HKEY_USERS\\Software\\X", "HKEY_USERS\\Software\\X"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RegistryViewPath(row.path, RegistryView::Wow32), row.wow32) << row.path;
    EXPECT_EQ(RegistryViewPath(row.path, RegistryView::Native), row.path) << row.path;
  }
}

TEST_F(RegistryTest, Transactions) {
  RegistryStore store(File(), RegistryAccess::ReadWrite);
  const std::string key = "HKEY_LOCAL_MACHINE\\T";
  EXPECT_TRUE(store.Transaction([&] {
    EXPECT_FALSE(store.Transaction([] { return true; })) << "no nesting";
    return store.SetValue(key, "kept", RegistryValue::DWord(1));
  }));
  EXPECT_FALSE(store.Transaction([&] {
    store.SetValue(key, "undone", RegistryValue::DWord(1));
    store.DeleteKey(key);
    return false;
  }));
  EXPECT_THROW(store.Transaction([&]() -> bool {
    store.SetValue(key, "thrown", RegistryValue::DWord(1));
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_EQ(store.ValueNames(key), std::vector<std::string>{"kept"});

  RegistryStore reader(File(), RegistryAccess::Read);
  ASSERT_TRUE(reader.IsOpen()) << reader.Error();
  EXPECT_TRUE(reader.GetValue(key, "kept").has_value()) << "committed for everyone";
  EXPECT_FALSE(reader.SetValue(key, "x", RegistryValue::DWord(1))) << "a reader does not write";
}

TEST_F(RegistryTest, UnusableStoresAreLeftAlone) {
  {
    RegistryStore missing(File(), RegistryAccess::Read);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(fs::exists(File())) << "reading creates nothing";
    EXPECT_FALSE(missing.GetValue("HKEY_USERS\\X", "v").has_value());
    EXPECT_TRUE(missing.SubKeys("HKEY_USERS").empty());
    EXPECT_FALSE(missing.SetValue("HKEY_USERS\\X", "v", RegistryValue::DWord(1)));
    EXPECT_FALSE(missing.Transaction([] { return true; }));
  }

  const std::string garbage(3000, '\x5a');
  const std::string foreign = dir_.WriteFile("foreign.db", "");
  {
    RegistryStore other(foreign, RegistryAccess::ReadWrite);  // empty: becomes a store
    ASSERT_TRUE(other.IsOpen()) << other.Error();
  }
  // A SQLite file of somebody else's: a table of its own, no id of ours.
  const std::string sqlite = orvi::test::ReadFileBytes(foreign);
  std::string theirs = sqlite;
  theirs[68] = theirs[69] = theirs[70] = theirs[71] = 0;  // application id
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"not a database", garbage},
      {"a database that is not ours", theirs},
      {"a damaged header", std::string("SQLite format 3\0", 16) + garbage},
  };
  for (const auto& row : rows) {
    const std::string file = dir_.WriteFile("bad.db", row.bytes);
    for (RegistryAccess access : {RegistryAccess::Read, RegistryAccess::ReadWrite}) {
      RegistryStore store(file, access);
      EXPECT_FALSE(store.IsOpen()) << row.what;
      EXPECT_NE(store.Error().find("cannot be used"), std::string::npos) << store.Error();
      EXPECT_FALSE(store.SetValue("HKEY_USERS\\X", "v", RegistryValue::DWord(1)));
      EXPECT_FALSE(store.KeyExists("HKEY_USERS"));
    }
    EXPECT_EQ(orvi::test::ReadFileBytes(file), row.bytes) << row.what << ": never overwritten";
    EXPECT_FALSE(fs::exists(file + "-journal"));
  }

  fs::create_directories(dir_ / "folder.db");
  EXPECT_FALSE(RegistryStore(dir_ / "folder.db", RegistryAccess::ReadWrite).IsOpen());
  dir_.WriteFile("file", "x");
  EXPECT_FALSE(RegistryStore(dir_ / "file/registry.db", RegistryAccess::ReadWrite).IsOpen()) << "no folder";
}

}  // namespace
}  // namespace kel::platform
