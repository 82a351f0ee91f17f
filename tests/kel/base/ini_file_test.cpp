#include "kel/base/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "kel/base/error.h"
#include "support/fuzz.h"
#include "support/temp_dir.h"

namespace kel {
namespace {

using Kind = TKELEncoding::Kind;

// UTF-16 bytes built by hand, so that fixtures do not depend on the
// converters under test.
std::string Utf16Bytes(std::u16string_view units, bool bigEndian) {
  std::string out;
  for (const char16_t u : units) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 32 && b < 127) {
      out += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

void LoadBytes(TKELIniFile& ini, std::string_view bytes) {
  TKELMemoryStream stream(bytes);
  ini.LoadFromStream(stream);
}

std::string SaveBytes(const TKELIniFile& ini, const TKELEncoding& encoding) {
  TKELMemoryStream stream;
  ini.SaveToStream(stream, encoding);
  return std::string(stream.View());
}

// The saved form as UTF-8 text without its mark.
std::string SavedText(const TKELIniFile& ini) { return SaveBytes(ini, TKELEncoding::UTF8()).substr(3); }

// --- Loading and saving -------------------------------------------------------------

// A file in the form the document saves: comment-like lines, foreign lines,
// blanks that are not trimmed, duplicate keys, and the headers that odd
// headers turn into («[Sec] » gives "Sec]", saved as «[Sec]]»; «[» gives "").
constexpr std::string_view kSavedForm =
    "[General]\r\n"
    "; comment=with an equals sign\r\n"
    "# another comment\r\n"
    " Key=leading blank\r\n"
    "Key = 2\r\n"
    "k=1\r\n"
    "K=2\r\n"
    "a line without equals sign\r\n"
    "=value without a name\r\n"
    "\r\n"
    "[Sec]]\r\n"
    "x=\xC3\x84\xC3\xB6 \xE2\x82\xAC\r\n"  // Äö €: in Windows-1252 too
    "\r\n"
    "[]\r\n"
    "empty=\r\n"
    "\r\n";

TEST(IniFile, LoadAndSaveGiveBackTheSameBytes) {
  const std::u16string utf16 = kelUtf8ToUtf16(kSavedForm);
  // Lone surrogates and a character outside the BMP survive UTF-16 files.
  const std::u16string odd = u"[S]\r\nlone=" + std::u16string(1, char16_t(0xD800)) + u"x" +
                             std::u16string(1, char16_t(0xDC01)) + u"\r\npair=\U0001F600\r\n\r\n";
  std::string windows1252(kSavedForm);
  windows1252.replace(windows1252.find("x=") + 2, 8, "\xC4\xF6 \x80");
  struct Case {
    const char* name;
    std::string bytes;
    Kind kind;
  } cases[] = {
      {"UTF-8 with mark", "\xEF\xBB\xBF" + std::string(kSavedForm), Kind::UTF8},
      {"UTF-16LE", "\xFF\xFE" + Utf16Bytes(utf16, false), Kind::UTF16LE},
      {"UTF-16BE", "\xFE\xFF" + Utf16Bytes(utf16, true), Kind::UTF16BE},
      {"UTF-16LE lone surrogates", "\xFF\xFE" + Utf16Bytes(odd, false), Kind::UTF16LE},
      {"no mark, locale charset", std::string(kSavedForm), Kind::Ansi},
      {"no mark, Windows-1252", windows1252, Kind::CodePage},
      {"empty file", "", Kind::Ansi},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TKELIniFile ini;
    LoadBytes(ini, c.bytes);
    EXPECT_EQ(ini.Encoding.GetKind(), c.kind);
    EXPECT_EQ(Escaped(SaveBytes(ini, ini.Encoding)), Escaped(c.bytes));
  }
  TKELIniFile ini;
  LoadBytes(ini, windows1252);
  EXPECT_EQ(ini.ReadString("sec]", "X", ""), "\xC3\x84\xC3\xB6 \xE2\x82\xAC");
}

TEST(IniFile, ParsingNormalisesLineEndsAndHeaders) {
  struct Case {
    const char* input;
    const char* saved;
  } cases[] = {
      // A repeated header continues its section; CR, LF and CR LF end lines.
      {"[A]\nx=1\r[a]\r\ny=2", "[A]\r\nx=1\r\ny=2\r\n\r\n"},
      // U+2028 alone, and followed by CR LF or LF, ends one line each.
      {"[A]\xE2\x80\xA8x=1\xE2\x80\xA8\r\ny=2\xE2\x80\xA8\nz", "[A]\r\nx=1\r\ny=2\r\nz\r\n\r\n"},
      // LF CR ends two lines; empty lines are dropped.
      {"[A]\n\rx=1\n\n\r\n\ny", "[A]\r\nx=1\r\ny\r\n\r\n"},
      // Lines before the first header are dropped; a blank-led header is a line.
      {"junk=1\n [X]\n[A]\n [B]\n", "[A]\r\n [B]\r\n\r\n"},
      // The last character of a header goes, whatever it is.
      {"[Sec] \nk=v\n[\nk=w\n[x\xC3\xA9\nk=z", "[Sec]]\r\nk=v\r\n\r\n[]\r\nk=w\r\n\r\n[x]\r\nk=z\r\n\r\n"},
      // Sections without lines are not written.
      {"[Empty]\n[A]\nk=v\n[Empty2]", "[A]\r\nk=v\r\n\r\n"},
      {"\r\n\r\n", ""},
  };
  for (const Case& c : cases) {
    TKELIniFile ini;
    ini.LoadFromString(c.input);
    EXPECT_EQ(Escaped(SavedText(ini)), Escaped(c.saved)) << Escaped(c.input);
  }
  TKELIniFile ini;
  ini.LoadFromString("[Empty]\n[A]\nk=v");
  EXPECT_TRUE(ini.ExistsSection("EMPTY"));
  EXPECT_EQ(ini.SectionCount(), 2);
  // A header ending in a stray byte loses that byte only.
  ini.LoadFromString("[ab\xA9\nk=v");
  EXPECT_EQ(ini.SectionNames(0), "ab");
}

TEST(IniFile, FirstDuplicateWinsAndNamesIgnoreCase) {
  TKELIniFile ini;
  ini.LoadFromString("[\xC3\x9C" "ber]\nk=1\nK=2\nKey=x\n[\xC3\xBC" "BER]\nk=3");  // [Über] twice
  EXPECT_EQ(ini.SectionCount(), 1);
  EXPECT_EQ(ini.ReadString("\xC3\xBC" "ber", "K", "-"), "1");
  ini.WriteString("\xC3\x9C" "BER", "k", "3");
  ini.WriteString("\xC3\x9C" "ber", "KEY", "y");  // rewritten with the new spelling
  EXPECT_EQ(ini.ReadSection("\xC3\x9C" "ber"), "k=3\r\nK=2\r\nKEY=y\r\nk=3\r\n");
  EXPECT_TRUE(ini.DeleteKey("\xC3\x9C" "ber", "K"));
  EXPECT_EQ(ini.ReadString("\xC3\x9C" "ber", "k", "-"), "2");
  EXPECT_FALSE(ini.DeleteKey("\xC3\x9C" "ber", "missing"));
  EXPECT_FALSE(ini.DeleteKey("missing", "k"));
}

// --- Values ---------------------------------------------------------------------------

TEST(IniFile, IntegerAndBooleanValues) {
  struct Case {
    const char* value;
    int32_t integer;  // ReadInteger with default 7
    int boolean;      // ReadBool: 1 true, 0 false, -1 the default
  } cases[] = {
      {"0", 0, 0},
      {"42", 42, 1},
      {"-42", -42, 1},
      {"+5", 5, 1},
      {"  \t12", 12, 1},
      {"000000000000000000000012", 12, 1},
      {"$1F", 31, 1},
      {"$ff", 255, 1},
      {"x10", 16, 1},
      {"X10", 16, 1},
      {"0x1a", 26, 1},
      {"0X1A", 26, 1},
      {"-$10", -16, 1},
      {"2147483647", 2147483647, 1},
      {"-2147483648", -2147483647 - 1, 1},
      {"$FFFFFFFF", -1, 1},
      {"-0x80000000", -2147483647 - 1, 1},
      {"", 7, -1},
      {"12 ", 7, -1},
      {"12a", 7, -1},
      {"1.5", 7, -1},
      {"true", 7, -1},
      {"-", 7, -1},
      {"$", 7, -1},
      {"0x", 7, -1},
      {"0$1", 7, -1},
      {"$$1", 7, -1},
      {"--1", 7, -1},
      {"2147483648", 7, -1},
      {"-2147483649", 7, -1},
      {"$100000000", 7, -1},
      {"-$80000001", 7, -1},
      {"99999999999999999999", 7, -1},
  };
  for (const Case& c : cases) {
    TKELIniFile ini;
    ini.WriteString("S", "v", c.value);
    EXPECT_EQ(ini.ReadInteger("S", "v", 7), c.integer) << c.value;
    EXPECT_EQ(ini.ReadBool("S", "v", true), c.boolean != 0) << c.value;
    EXPECT_EQ(ini.ReadBool("S", "v", false), c.boolean == 1) << c.value;
  }
  TKELIniFile ini;
  EXPECT_EQ(ini.ReadInteger("S", "missing", -3), -3);
  ini.WriteInteger("S", "i", -2147483647 - 1);
  ini.WriteBool("S", "t", true);
  ini.WriteBool("S", "f", false);
  EXPECT_EQ(ini.ReadSection("S"), "i=-2147483648\r\nt=1\r\nf=0\r\n");
}

TEST(IniFile, RectanglesAndByteStreams) {
  TKELIniFile ini;
  const TKELRect def{10, 20, 30, 40};
  ini.WriteRect("S", "r", {1, -2, 3, 2147483647});
  EXPECT_EQ(ini.ReadString("S", "r", ""), "1,-2,3,2147483647");
  EXPECT_EQ(ini.ReadRect("S", "r", def), (TKELRect{1, -2, 3, 2147483647}));
  ini.WriteString("S", "part", "5,x, 6");
  EXPECT_EQ(ini.ReadRect("S", "part", def), (TKELRect{5, 20, 6, 40}));
  EXPECT_EQ(ini.ReadRect("S", "missing", def), def);

  TKELMemoryStream bytes(std::string_view("\x00\xAB\xFF\x10", 4));
  bytes.SetPosition(2);
  ini.WriteStream("S", "b", bytes);
  EXPECT_EQ(ini.ReadString("S", "b", ""), "00abff10");
  EXPECT_EQ(bytes.GetPosition(), 2);
  TKELMemoryStream target("pre");
  target.SetPosition(3);
  ini.WriteString("S", "upper", "0A0B");
  ASSERT_TRUE(ini.ReadStream("S", "upper", target));
  EXPECT_EQ(target.View(), "pre\x0A\x0B");
  EXPECT_EQ(target.GetPosition(), 0);
  for (const char* bad : {"ABC", "zz", "0g"}) {
    ini.WriteString("S", "bad", bad);
    TKELMemoryStream untouched("keep");
    untouched.SetPosition(4);
    EXPECT_FALSE(ini.ReadStream("S", "bad", untouched)) << bad;
    EXPECT_EQ(untouched.View(), "keep");
    EXPECT_EQ(untouched.GetPosition(), 4);
  }
  TKELMemoryStream empty;
  ini.WriteStream("S", "b", empty);
  EXPECT_FALSE(ini.ExistsKey("S", "b"));
}

// --- Writing and structure ----------------------------------------------------------------

TEST(IniFile, WritingKeysAndSections) {
  TKELIniFile ini;
  ini.WriteString("S", "a", "");
  EXPECT_TRUE(ini.ExistsKey("S", "a"));
  EXPECT_EQ(ini.ReadString("S", "a", "default"), "");  // an empty value is a value
  EXPECT_EQ(ini.ReadInteger("S", "a", 5), 5);
  ini.WriteString("S", "a", "", "");  // equal to the default: removed
  EXPECT_FALSE(ini.ExistsKey("S", "a"));
  ini.WriteString("S", "b", "x", "y");
  EXPECT_EQ(ini.ReadString("S", "b", ""), "x");

  ini.WriteSection("T", "a=1\r\n\r\n; note\nb=2\xE2\x80\xA8 c");
  EXPECT_EQ(ini.ReadSection("t"), "a=1\r\n\r\n; note\r\nb=2\r\n c\r\n");
  TKELStringList keys;
  ini.ReadKeys("T", keys);
  EXPECT_EQ(keys.Join(","), "a,b");
  ini.WriteSection("T", "");
  EXPECT_TRUE(ini.ExistsSection("T"));
  EXPECT_EQ(ini.ReadSection("T"), "");
  EXPECT_EQ(ini.ReadSection("missing"), "");

  // A section whose lines are all gone is kept until the next load but not
  // written.
  EXPECT_TRUE(ini.DeleteKey("S", "b"));
  EXPECT_TRUE(ini.ExistsSection("S"));
  EXPECT_EQ(SavedText(ini), "");
  EXPECT_EQ(ini.SectionCount(), 2);
  EXPECT_EQ(ini.SectionNames(1), "T");
  // Deleting the section that the last lookup found must not leave it cached.
  EXPECT_TRUE(ini.ExistsSection("s"));
  EXPECT_TRUE(ini.DeleteSection("S"));
  EXPECT_FALSE(ini.ExistsSection("s"));
  EXPECT_FALSE(ini.DeleteSection("S"));
  ini.Sections(0).SetName("Renamed");
  EXPECT_TRUE(ini.ExistsSection("RENAMED"));
  EXPECT_FALSE(ini.ExistsSection("T"));
  ini.Clear();
  EXPECT_TRUE(ini.IsEmpty());
}

TEST(IniFile, WritesThatWouldBreakTheFileAreRefused) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"S", "k", "a\r\n[Injected]"}, {"S", "k", "line\nbreak"}, {"S", "k", "\xE2\x80\xA8"},
      {"S", "a=b", "v"},             {"S", "[k", "v"},          {"S", "k\r", "v"},
      {"New\nSection", "k", "v"},
  };
  for (const Case& c : cases) {
    TKELIniFile ini;
    ini.LoadFromString("[S]\nk=old");
    EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), EArgumentError) << Escaped(c.key) << Escaped(c.value);
    EXPECT_EQ(SavedText(ini), "[S]\r\nk=old\r\n\r\n");
    EXPECT_EQ(ini.SectionCount(), 1);
  }
}

TEST(IniFile, ChangeNotification) {
  TKELIniFile ini;
  int changes = 0;
  ini.OnChanged = [&] { ++changes; };
  struct Step {
    const char* what;
    std::function<void()> run;
    int changes;
  } steps[] = {
      {"load", [&] { ini.LoadFromString("[A]\nk=1\n[B]\nx=1"); }, 1},
      {"write", [&] { ini.WriteString("A", "k", "2"); }, 1},
      {"write unchanged value", [&] { ini.WriteString("A", "k", "2"); }, 1},
      {"grouped writes",
       [&] {
         ini.BeginUpdate();
         ini.WriteString("A", "a", "1");
         ini.WriteInteger("C", "b", 2);
         ini.DeleteKey("A", "k");
         ini.EndUpdate();
       },
       1},
      {"delete missing key", [&] { ini.DeleteKey("A", "nothing"); }, 0},
      {"delete key", [&] { ini.DeleteKey("A", "a"); }, 1},
      {"delete section", [&] { ini.DeleteSection("B"); }, 1},
      {"write section", [&] { ini.WriteSection("D", "a\nb\nc"); }, 1},
      {"rename section", [&] { ini.Sections(0).SetName("Z"); }, 1},
      {"same name", [&] { ini.Sections(0).SetName("Z"); }, 0},
      {"clear", [&] { ini.Clear(); }, 1},
  };
  for (const Step& step : steps) {
    changes = 0;
    step.run();
    EXPECT_EQ(changes, step.changes) << step.what;
    EXPECT_TRUE(ini.Modified()) << step.what;
  }
}

// --- Files ----------------------------------------------------------------------------------

TEST(IniFile, SavingReplacesAReadOnlyFile) {
  orvi::test::TempDir dir;
  const std::string path = dir.WriteFile("ro.ini", "[A]\r\nk=1\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  TKELIniFile ini(path);
  ini.WriteString("A", "k", "2");
  EXPECT_TRUE(ini.UpdateFile());
  TKELIniFile again(path);
  EXPECT_EQ(again.ReadString("A", "k", ""), "2");
}

TEST(IniFile, UpdateFileWritesOnlyWhatChanged) {
  orvi::test::TempDir dir;
  TKELIniFile memory;
  memory.WriteString("S", "k", "v");
  EXPECT_FALSE(memory.UpdateFile());  // no file name

  // Unchanged: true without touching the disk.
  const std::string legacy = dir.WriteFile("legacy.ini", "[S]\r\nk=caf\xE9\r\n\r\n");
  {
    TKELIniFile ini(legacy);
    EXPECT_FALSE(ini.Modified());
    std::filesystem::remove(legacy);
    EXPECT_TRUE(ini.UpdateFile());
    EXPECT_FALSE(std::filesystem::exists(legacy));
  }
  // Changed: written in the encoding it was read in (here Windows-1252).
  dir.WriteFile("legacy.ini", "[S]\r\nk=caf\xE9\r\n\r\n");
  {
    TKELIniFile ini(legacy);
    ini.WriteString("S", "n", "na\xC3\xAFve");
    EXPECT_TRUE(ini.UpdateFile());
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(Escaped(dir.ReadFile("legacy.ini")), Escaped("[S]\r\nk=caf\xE9\r\nn=na\xEFve\r\n\r\n"));
  }
  // A missing file starts empty and is written as UTF-16LE with its mark;
  // AutoSave writes it when the document goes.
  const std::string fresh = dir / "fresh.ini";
  {
    TKELIniFile ini(fresh, true);
    EXPECT_TRUE(ini.IsEmpty());
    ini.WriteString("S", "k", "v");
  }
  EXPECT_EQ(dir.ReadFile("fresh.ini"), "\xFF\xFE" + Utf16Bytes(u"[S]\r\nk=v\r\n\r\n", false));
  // An existing empty file reads as the locale charset.
  TKELIniFile empty(dir.WriteFile("empty.ini", ""));
  EXPECT_EQ(empty.Encoding.GetKind(), Kind::Ansi);
  // A file that cannot be created: false, and still modified.
  TKELIniFile lost(dir / "no/such/folder/x.ini");
  EXPECT_FALSE(lost.LoadFromFile(dir / "no/such/folder/x.ini"));
  lost.WriteString("S", "k", "v");
  EXPECT_FALSE(lost.UpdateFile());
  EXPECT_TRUE(lost.Modified());
  EXPECT_FALSE(lost.SaveToFile(dir.Path()));  // a folder
}

TEST(IniFile, TextACodePageCannotHoldIsWrittenAsUtf8) {
  orvi::test::TempDir dir;
  const std::string path = dir.WriteFile("legacy.ini", "[S]\r\nk=caf\xE9\r\n\r\n");
  {
    TKELIniFile ini(path);
    ASSERT_EQ(ini.Encoding, TKELEncoding::Windows1252());
    ini.WriteString("S", "ru", "\xD0\x9F\xD1\x80\xD0\xB8");  // Cyrillic
    EXPECT_TRUE(ini.UpdateFile());
    EXPECT_EQ(ini.Encoding, TKELEncoding::UTF8());
  }
  TKELIniFile again(path);
  EXPECT_EQ(again.ReadString("S", "k", ""), "caf\xC3\xA9");
  EXPECT_EQ(again.ReadString("S", "ru", ""), "\xD0\x9F\xD1\x80\xD0\xB8");

  // Dropped junk was all that made a file invalid UTF-8: the rest, written
  // back without a mark, would be read as UTF-8 and mean something else.
  TKELIniFile junk;
  LoadBytes(junk, "\xFF\n[S]\nk=\xC3\xA9");
  TKELMemoryStream saved;
  EXPECT_EQ(junk.SaveToStream(saved, junk.Encoding), TKELEncoding::UTF8());
  TKELIniFile reread;
  saved.SetPosition(0);
  reread.LoadFromStream(saved);
  EXPECT_TRUE(reread.Equals(junk));
}

TEST(IniFile, MergeLaysOneDocumentOverAnother) {
  const char* english = "[Common]\nCaption=Setup\nQM=Really quit?\n[PageWelcome]\nTitle=Welcome\n";
  const char* other = "[common]\n; translated\nqm=\nNew=neu\nNew=zweites\n[PageFinish]\n; comment\nTitle=Fertig\n";
  struct Case {
    bool overwrite;
    const char* expected;
  } cases[] = {
      {true,
       "[Common]\r\nCaption=Setup\r\nqm=\r\nNew=neu\r\n\r\n[PageWelcome]\r\nTitle=Welcome\r\n\r\n"
       "[PageFinish]\r\n; comment\r\nTitle=Fertig\r\n\r\n"},
      {false,
       "[Common]\r\nCaption=Setup\r\nQM=Really quit?\r\nNew=neu\r\n\r\n[PageWelcome]\r\nTitle=Welcome\r\n\r\n"
       "[PageFinish]\r\n; comment\r\nTitle=Fertig\r\n\r\n"},
  };
  orvi::test::TempDir dir;
  const std::string otherFile = dir.WriteFile("other.lng", other);
  for (const Case& c : cases) {
    TKELIniFile target, source;
    target.LoadFromString(english);
    source.LoadFromString(other);
    target.Merge(source, c.overwrite);
    EXPECT_EQ(SavedText(target), c.expected) << c.overwrite;
    TKELIniFile fromFile;
    fromFile.LoadFromString(english);
    fromFile.Merge(otherFile, c.overwrite);
    EXPECT_TRUE(fromFile.Equals(target));
  }
  TKELIniFile self;
  self.LoadFromString(english);
  self.Merge(self, true);
  EXPECT_EQ(SavedText(self), "[Common]\r\nCaption=Setup\r\nQM=Really quit?\r\n\r\n[PageWelcome]\r\nTitle=Welcome\r\n\r\n");
}

TEST(IniFile, AssignCopiesAndEqualsCompares) {
  TKELIniFile source, copy;
  source.LoadFromString("[A]\nk=1\n; c\n[B]\nx=\xF0\x9F\x98\x80");
  source.WriteSection("Empty", "");
  copy.LoadFromString("[Z]\nz=1");
  copy.Assign(&source);
  EXPECT_TRUE(copy.Equals(source));
  EXPECT_EQ(copy.SectionCount(), 2);  // the empty section is not carried
  copy.WriteString("B", "x", "other");
  EXPECT_FALSE(copy.Equals(source));
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.IsEmpty());
}

// --- Arbitrary input ----------------------------------------------------------------------------

TEST(IniFile, FuzzLoadReadWriteSave) {
  orvi::test::FuzzOptions options;
  options.seeds = {
      std::string(kSavedForm),
      "\xEF\xBB\xBF[A]\r\nk=1\r\nx=$1F\r\nr=1,2,3,4\r\nb=00ff\r\n",
      "\xFF\xFE" + Utf16Bytes(u"[A]\r\nk=1\u2028[B]\nv=\U0001F600", false),
      "\xFE\xFF" + Utf16Bytes(u"[A]\r\nk=0x10\r\n", true),
      "[Sec] \n[\nk=caf\xE9\n\n\r[A]\xE2\x80\xA8k=v",
  };
  options.dictionary = {"[", "]", "=", "\r\n", "\n", "\r", "\xE2\x80\xA8", "\xEF\xBB\xBF", "\xFF\xFE",
                        "\xFE\xFF", "$", "0x", "-", "[Sec] ", std::string(1, '\0'), "\xED\xA0\x80"};
  orvi::test::RunFuzzTarget(
      "ini_file",
      [](std::string_view input) {
        TKELIniFile ini;
        LoadBytes(ini, input);
        for (int s = 0; s < ini.SectionCount() && s < 4; ++s) {
          const std::string name = ini.SectionNames(s);
          TKELStringList keys;
          ini.ReadKeys(name, keys);
          for (int k = 0; k < keys.Count() && k < 4; ++k) {
            (void)ini.ReadInteger(name, keys[k], 0);
            (void)ini.ReadBool(name, keys[k], true);
            (void)ini.ReadRect(name, keys[k], {});
            TKELMemoryStream bytes;
            (void)ini.ReadStream(name, keys[k], bytes);
          }
        }
        // What is saved loads back as the same document.
        TKELMemoryStream saved;
        const TKELEncoding written = ini.SaveToStream(saved, ini.Encoding);
        TKELIniFile again;
        saved.SetPosition(0);
        again.LoadFromStream(saved);
        EXPECT_TRUE(again.Equals(ini)) << Escaped(input);
        EXPECT_EQ(again.Encoding, written) << Escaped(input);

        // Writes with names and values cut from the input, then the same
        // round trip through UTF-16LE.
        const std::string piece = kelUtf16ToUtf8(kelUtf8ToUtf16(input.substr(0, 24)));
        const std::string section = piece.substr(0, piece.size() / 3), key = piece.substr(piece.size() / 3);
        try {
          ini.WriteString(section, key, piece);
          EXPECT_EQ(ini.ReadString(section, key, "-"), piece) << Escaped(input);
        } catch (const EArgumentError&) {
        }
        ini.WriteInteger("N", "i", static_cast<int32_t>(input.size()));
        ini.DeleteKey(section, "k");
        TKELIniFile copy;
        copy.Assign(&ini);
        EXPECT_TRUE(copy.Equals(ini)) << Escaped(input);

        // Arbitrary bytes handed over as text.
        TKELIniFile raw;
        raw.LoadFromString(input);
        (void)SaveBytes(raw, TKELEncoding::Ansi());
      },
      options);
}

}  // namespace
}  // namespace kel
