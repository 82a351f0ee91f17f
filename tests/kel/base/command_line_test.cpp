#include "kel/base/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kel/platform/module.h"
#include "support/fuzz.h"
#include "support/temp_dir.h"

// Started with ORVI_TEST_PRINT_PARAMS=1, this test program prints its own
// parameter text and ends at once: the process test below runs it that way
// to see the real process arguments go through GetCommandLineParams.
static const bool kPrintParamsAndExit = [] {
  const char* flag = std::getenv("ORVI_TEST_PRINT_PARAMS");
  if (flag != nullptr && std::string(flag) == "1") {
    std::fputs(kel::GetCommandLineParams().c_str(), stdout);
    std::fflush(stdout);
    std::_Exit(0);
  }
  return false;
}();

namespace kel {
namespace {

// Commands as one line: Name(param,param) for each, separated by spaces; a
// free command has no name.
std::string Render(const TCommands& commands) {
  std::string out;
  for (int i = 0; i < commands.Count(); ++i) {
    if (i > 0) out += ' ';
    out += commands[i].Name + "(" + commands[i].Join(",") + ")";
  }
  return out;
}

TEST(ParseParams, Commands) {
  struct Case {
    const char* text;
    const char* commands;
  };
  const Case cases[] = {
      {"", ""},
      {"  \t ", ""},
      {R"(/AUTO="C:\Games\ORVI" /SILENT)", R"(AUTO(C:\Games\ORVI) SILENT())"},
      // A backslash before the closing quote is an ordinary character.
      {R"(/PATH="C:\Program Files\ORVI\" /AUTO)", R"(PATH(C:\Program Files\ORVI\) AUTO())"},
      {"/AUTO=a;;b", "AUTO(a,b)"},
      {"/AUTO=x=y-z/w", "AUTO(x=y-z/w)"},
      // Without quotes a space ends the value and clears the current switch.
      {R"(/AUTO=C:\Program Files\X)", R"(AUTO(C:\Program) (Files\X))"},
      // Without "=" the free words up to the next switch are the parameters.
      {"/AUTO x y /RUN", "AUTO(x y) RUN()"},
      {"-AUTO", "AUTO()"},
      {"a -b", "(a -b)"},
      {"/X a -b", "X(a) b()"},
      {"file-name.txt", "(file-name.txt)"},
      {"/ AUTO", "(/ AUTO)"},
      {"a //b", "(a //b)"},
      {"a   b", "(a   b)"},
      // An unterminated quote: the lone quote is dropped from the value list.
      {R"(/AUTO="C:\x)", R"(AUTO(C:\x))"},
      {R"(a"b c)", R"((a"b c))"},
      // Paths in free text are split where a drive or a share begins; so is
      // text at a line break.
      {R"(C:\a C:\b \\srv\share\c)", R"((C:\a,C:\b,\\srv\share\c))"},
      {"a\r\nb", "(a,b)"},
      // Free text before the first switch belongs to no switch.
      {"x /A", "(x) A()"},
      {R"(/A "x y" z)", "A(x y,z)"},
      {R"(/A="" /B=" ")", "A() B()"},
      {"/\xC3\x9C=\xC3\xA4", "\xC3\x9C(\xC3\xA4)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Render(ParseParams(c.text)), c.commands) << c.text;
}

TEST(HasSwitch, FindsTheFirstSwitchIgnoringCase) {
  struct Case {
    const char* text;
    const char* name;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"/auto", "AUTO", true, ""},
      {"/AUTO=a;;b /SILENT", "auto", true, "a;b"},
      {"/X a -b", "X", true, "a"},
      {"/AUTO=1 /AUTO=2", "AUTO", true, "1"},
      {"/\xC3\xBC", "\xC3\x9C", true, ""},
      {"/SILENT", "AUTO", false, ""},
      {"/ AUTO", "AUTO", false, ""},
      {"AUTO", "AUTO", false, ""},
      {"/AUTOMATIC", "AUTO", false, ""},
  };
  for (const Case& c : cases) {
    std::string value = "left over";
    EXPECT_EQ(HasSwitch(c.text, c.name, value), c.found) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(HasSwitch(c.text, c.name), c.found) << c.text;
  }
}

TEST(JoinCommandLine, QuotesOnlyWhatNeedsIt) {
  struct Case {
    std::vector<std::string> arguments;
    const char* text;
  };
  const Case cases[] = {
      {{}, ""},
      {{"/AUTO=/opt/My Apps/ORVI", "/SILENT"}, R"(/AUTO="/opt/My Apps/ORVI" /SILENT)"},
      {{"-PATH=C:\\Program Files\\ORVI\\"}, R"(-PATH="C:\Program Files\ORVI\")"},
      {{"/AUTO=", "/opt/x", "a;b"}, "/AUTO= /opt/x a;b"},
      {{"", "a b", "tab\there"}, "\"\" \"a b\" \"tab\there\""},
      {{"a\"b", "/X=say \"hi\""}, R"("a""b" /X="say ""hi""")"},
      // Not a switch with a value: quoted whole.
      {{"/X y", "/=a b", "--X=a b"}, R"("/X y" "/=a b" "--X=a b")"},
  };
  for (const Case& c : cases) EXPECT_EQ(kelJoinCommandLine(c.arguments), c.text) << c.text;
}

TEST(JoinCommandLine, ArgumentsSurviveTheRoundTrip) {
  // Each row: process arguments and the switches ParseParams must read from
  // their parameter text.
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> switches;
  };
  const Case cases[] = {
      {{"/AUTO=/opt/My Apps/ORVI", "/SILENT"}, {{"AUTO", "/opt/My Apps/ORVI"}, {"SILENT", ""}}},
      {{"/PATH=C:\\Program Files\\ORVI\\", "", "/RUN"}, {{"PATH", "C:\\Program Files\\ORVI\\"}, {"RUN", ""}}},
      {{"-AUTO=a;b c", "/NOBACKUP"}, {{"AUTO", "a;b c"}, {"NOBACKUP", ""}}},
      {{"/AUTO", "/home/me/My Apps"}, {{"AUTO", "/home/me/My Apps"}}},
      {{"/X=say \"hi\"", "  ", "\"", "\"\"", "a\"\"b\""}, {}},
      {{"/\xC3\x9C=\xC3\xA4 \xC3\xB6"}, {{"\xC3\x9C", "\xC3\xA4 \xC3\xB6"}}},
  };
  for (const Case& c : cases) {
    const std::string text = kelJoinCommandLine(c.arguments);
    EXPECT_EQ(kelSplitCommandLine(text), c.arguments) << text;
    for (const auto& [name, expected] : c.switches) {
      std::string value;
      EXPECT_TRUE(HasSwitch(text, name, value)) << text << " " << name;
      EXPECT_EQ(value, expected) << text;
    }
    // A relaunch hands the text, with a switch added, back as arguments; the
    // child rebuilds text that reads the same.
    const std::string relaunched = kelJoinCommandLine(kelSplitCommandLine(text + " /SKIPUAC=42"));
    EXPECT_EQ(relaunched, text + " /SKIPUAC=42");
    std::string value;
    EXPECT_TRUE(HasSwitch(relaunched, "SKIPUAC", value));
    EXPECT_EQ(value, "42");
  }
}

TEST(SplitCommandLine, TextWrittenByHand) {
  struct Case {
    const char* text;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"", {}},
      {" \t\r\n ", {}},
      {R"(/PATH="C:\Program Files\ORVI\" /AUTO)", {"/PATH=C:\\Program Files\\ORVI\\", "/AUTO"}},
      {R"(  a   "b c"d "" )", {"a", "b cd", ""}},
      {R"(/AUTO="C:\x)", {"/AUTO=C:\\x"}},
      {R"("a""b" """")", {"a\"b", "\""}},
  };
  for (const Case& c : cases) EXPECT_EQ(kelSplitCommandLine(c.text), c.arguments) << c.text;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

TEST(GetCommandLineParams, RebuildsTheParametersFromTheProcessArguments) {
  // Runs this test program again with arguments; it prints its parameter
  // text (see kPrintParamsAndExit).
  orvi::test::TempDir dir;
  const std::string self = platform::ExecutablePath();
  ASSERT_FALSE(self.empty());
  const auto run = [&](const std::string& arguments) {
    const std::string output = dir / "params.txt";
    const std::string command =
        "ORVI_TEST_PRINT_PARAMS=1 " + ShellQuote(self) + " " + arguments + " > " + ShellQuote(output);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return orvi::test::ReadFileBytes(output);
  };
  EXPECT_EQ(run(""), "");
  const std::string text = run(R"('/AUTO=/opt/My Apps/ORVI' '' /AUTO2="/a b" /SILENT)");
  EXPECT_EQ(text, R"(/AUTO="/opt/My Apps/ORVI" "" /AUTO2="/a b" /SILENT)");
  std::string value;
  EXPECT_TRUE(HasSwitch(text, "AUTO", value));
  EXPECT_EQ(value, "/opt/My Apps/ORVI");
  EXPECT_TRUE(HasSwitch(text, "SILENT"));
}

TEST(CommandLineFuzz, ArbitraryBytes) {
  orvi::test::FuzzOptions options;
  options.seeds = {R"(/AUTO="C:\Games\ORVI" /SILENT)", R"(/PATH="C:\Program Files\ORVI\" /AUTO)",
                   "/AUTO=a;;b -RUN x", "a -b /X a -b", R"(C:\a \\srv\b "x""y" /=")", "/SKIPUAC=12 /AUTO"};
  options.dictionary = {"/", "-", "=", ";", "\"", "\"\"", " ", "\r\n", "\t", "C:", "\\\\", "/AUTO=", "\xC3\xBC"};
  const size_t runs = orvi::test::RunFuzzTarget(
      "command line",
      [](std::string_view text) {
        const TCommands commands = ParseParams(text);
        for (int i = 0; i < commands.Count(); ++i) {
          if (commands[i].Name.empty()) continue;
          std::string value;
          ASSERT_TRUE(HasSwitch(text, commands[i].Name, value));
          break;
        }

        // Without skipping or stripping, the tokens cover the text exactly.
        TKELParser parser("-/=; \r\n", "\"", " ");
        parser.QuotedStrings = true;
        parser.StripQuotes = false;
        parser.SkipDelimiters = false;
        parser.SkipSpaces = false;
        parser.SetText(text);
        std::string covered;
        TKELParserToken token;
        while (parser.Tokenize(token)) {
          ASSERT_EQ(token.Start, covered.size());
          ASSERT_GT(token.Length, 0u);
          covered += parser.TokenText(token);
        }
        ASSERT_EQ(covered, text);

        const std::vector<std::string> arguments = kelSplitCommandLine(text);
        ASSERT_EQ(kelSplitCommandLine(kelJoinCommandLine(arguments)), arguments);
      },
      options);
  EXPECT_GT(runs, 0u);
}

}  // namespace
}  // namespace kel
