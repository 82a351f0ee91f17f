#include "setup/core/file_search_helper.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace setup {
namespace {

TEST(FileSearchHelper, FilesBelowARootWithoutTheExcludedPrefix) {
  orvi::test::TempDir dir;
  for (const char* file : {"ORVI/ORVI", "ORVI/Plugins/a.so", "ORVI/!Backup/z.zip", "ORVI/!Backup2/y", "ORVI/x.ini"})
    dir.WriteFile(file, "x");
  const std::string root = dir / "ORVI";

  const auto search = [&](const std::string& excluded) {
    kel::TKELStringList list;
    list.Add("kept");
    TFileSearchHelper::Search(root, excluded, list);
    std::string found;
    for (int i = 0; i < list.Count(); ++i) found += (i == 0 ? list[i] : list[i].substr(root.size())) + " ";
    return found;
  };
  EXPECT_EQ(search(""), "kept /ORVI /x.ini /!Backup/z.zip /!Backup2/y /Plugins/a.so ");
  EXPECT_EQ(search(root + "/!backup"), "kept /ORVI /x.ini /Plugins/a.so ") << "a prefix, ignoring case";
  EXPECT_EQ(search(root + "/!Backup/"), "kept /ORVI /x.ini /!Backup2/y /Plugins/a.so ");
  EXPECT_EQ(search(root + "/"), "kept ");
}

}  // namespace
}  // namespace setup
