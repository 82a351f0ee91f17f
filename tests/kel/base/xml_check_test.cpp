// The publishers' tool xml-check, run as a program on files in a temporary
// folder.
#include <gtest/gtest.h>

#include <cstdlib>

#include "kel/base/xml_document.h"
#include "support/temp_dir.h"

namespace {

// Output (stdout and stderr) and exit status of the tool.
std::string RunTool(const orvi::test::TempDir& dir, const std::string& arguments) {
  const std::string tool = std::string(ORVI_BINARY_DIR) + "/tools/xml-check/xml-check";
  const std::string output = dir / "output.txt";
  const std::string command = "'" + tool + "' " + arguments + " > '" + output + "' 2>&1; echo \"exit $?\" >> '" + output + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return orvi::test::ReadFileBytes(output);
}

TEST(XMLCheckTool, ReportsOkOrTheFirstError) {
  orvi::test::TempDir dir;
  const std::string good = dir.WriteFile("good.xml", "<?xml version='1.0'?>\n<setup><!-- c --><license>L.rtf</license></setup>");
  const std::string bad = dir.WriteFile("bad.xml", "<setup>\n  <product><File name='a'>x</Fil></product>\n</setup>");
  EXPECT_EQ(RunTool(dir, "'" + good + "'"), "ok\nexit 0\n");
  EXPECT_EQ(RunTool(dir, "'" + bad + "'"),
            bad + ": The 'File' start tag on line '2' position '13' does not match the end tag of 'Fil'. "
                  "Line 2, position 30\nexit 1\n");
  // The tree is what the setup program would see: the part before the error.
  EXPECT_EQ(RunTool(dir, "--tree '" + bad + "'"),
            "setup\n  product\n    File name=\"a\" = \"x\"\n" + bad +
                ": The 'File' start tag on line '2' position '13' does not match the end tag of 'Fil'. "
                "Line 2, position 30\nexit 1\n");
  EXPECT_EQ(RunTool(dir, "'" + (dir / "missing.xml") + "'").substr(0, 30), "xml-check: Cannot open file \"/");
  EXPECT_EQ(RunTool(dir, ""), "usage: xml-check [--tree] FILE\nexit 2\n");

  kel::TKELXMLDocument document;
  document.Add("setup")->Attributes.Add("tab", "a\tb");
  kel::TKELMemoryStream binary;
  document.SaveToStream(binary);
  const std::string saved = dir.WriteFile("setup.bin", binary.View());
  EXPECT_EQ(RunTool(dir, "--tree '" + saved + "'"), "setup tab=\"a\\tb\"\nok\nexit 0\n");
}

}  // namespace
