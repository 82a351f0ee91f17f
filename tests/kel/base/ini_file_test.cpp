#include "kel/base/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

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

// The saved form as UTF-8 text (through UTF-16, which holds every line as
// its text).
std::string SavedText(const TKELIniFile& ini) {
  std::string text;
  TKELEncoding::UTF16LE().Decode(SaveBytes(ini, TKELEncoding::UTF16LE()).substr(2), text);
  return text;
}

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

// Text read as UTF-8 is decided line by line: a line that is no UTF-8 is
// Windows-1252, and is written back so. Each file is in the saved form.
TEST(IniFile, MixedFilesReadLineByLineAndSaveUnchanged) {
  struct Case {
    const char* name;
    std::string bytes;
    Kind kind;
    const char* text;  // the document as UTF-8
  } cases[] = {
      {"UTF-8 with mark, a Windows-1252 line", "\xEF\xBB\xBF[S]\r\nk=caf\xC3\xA9\r\nold=caf\xE9\r\n\r\n", Kind::UTF8,
       "[S]\r\nk=caf\xC3\xA9\r\nold=caf\xC3\xA9\r\n\r\n"},
      {"no mark, a Windows-1252 line", "[S]\r\nk=caf\xC3\xA9\r\nold=caf\xE9\r\n\r\n", Kind::Ansi,
       "[S]\r\nk=caf\xC3\xA9\r\nold=caf\xC3\xA9\r\n\r\n"},
      {"a Windows-1252 header", "\xEF\xBB\xBF[Caf\xE9]\r\nk=\xE2\x82\xAC\r\n\r\n", Kind::UTF8,
       "[Caf\xC3\xA9]\r\nk=\xE2\x82\xAC\r\n\r\n"},
      // In a Windows-1252 line the bytes of U+2028 are "â€¨", no line end.
      {"no mark, only Windows-1252 lines", "[S]\r\nk=\xE2\x80\xA8\xE9\r\n\r\n", Kind::CodePage,
       "[S]\r\nk=\xC3\xA2\xE2\x82\xAC\xC2\xA8\xC3\xA9\r\n\r\n"},
      // Bytes without a character in Windows-1252, an overlong form, a
      // surrogate and a code point past U+10FFFF.
      {"UTF-8 with mark, bytes no decoder takes", "\xEF\xBB\xBF[S]\r\nk=\x81\xC0\xAF\xED\xA0\x80\xF4\x90\r\n\r\n",
       Kind::UTF8, "[S]\r\nk=\xC2\x81\xC3\x80\xC2\xAF\xC3\xAD\xC2\xA0\xE2\x82\xAC\xC3\xB4\xC2\x90\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TKELIniFile ini;
    LoadBytes(ini, c.bytes);
    EXPECT_EQ(ini.Encoding.GetKind(), c.kind);
    EXPECT_EQ(Escaped(SavedText(ini)), Escaped(c.text));
    EXPECT_EQ(Escaped(SaveBytes(ini, ini.Encoding)), Escaped(c.bytes));
  }
  // A junk line before the first header changes nothing of the others.
  TKELIniFile junk;
  LoadBytes(junk, "\xFF\n[S]\nk=\xC3\xA9");
  EXPECT_EQ(junk.ReadString("S", "k", ""), "\xC3\xA9");
  EXPECT_EQ(junk.Encoding.GetKind(), Kind::Ansi);
}

// Written text reads back equal whatever the file mixed, and the lines not
// rewritten keep their bytes unless the encoding cannot hold the new text.
TEST(IniFile, WritesIntoMixedFilesReadBackAndKeepTheOtherLines) {
  const std::string mark = "\xEF\xBB\xBF";
  const std::string mixed = "[S]\r\nk=caf\xC3\xA9\r\nold=caf\xE9\r\n";  // UTF-8, then Windows-1252
  const std::string legacy = "[S]\r\nk=caf\xE9\r\n";                       // Windows-1252 only
  const std::string russian = "\xD0\x9F\xD1\x80\xD0\xB8";
  struct Case {
    const char* name;
    std::string file;
    const char* key;
    std::string value;
    std::string saved;
  } cases[] = {
      {"mark, a character outside Windows-1252", mark + mixed + "\r\n", "ru", russian,
       mark + mixed + "ru=" + russian + "\r\n\r\n"},
      {"no mark, a character outside Windows-1252", mixed + "\r\n", "ru", russian,
       mixed + "ru=" + russian + "\r\n\r\n"},
      {"no mark, the Windows-1252 line rewritten", mixed + "\r\n", "old", "na\xC3\xAFve",
       "[S]\r\nk=caf\xC3\xA9\r\nold=na\xC3\xAFve\r\n\r\n"},
      {"legacy file, text of its code page", legacy + "\r\n", "n", "na\xC3\xAFve", legacy + "n=na\xEFve\r\n\r\n"},
      // "Ã©" in Windows-1252 is C3 A9, which reads as UTF-8 "é".
      {"legacy file, code-page bytes that read as UTF-8", legacy + "\r\n", "v", "\xC3\x83\xC2\xA9",
       mark + "[S]\r\nk=caf\xC3\xA9\r\nv=\xC3\x83\xC2\xA9\r\n\r\n"},
      {"legacy file, a character outside Windows-1252", legacy + "\r\n", "ru", russian,
       mark + "[S]\r\nk=caf\xC3\xA9\r\nru=" + russian + "\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TKELIniFile ini;
    LoadBytes(ini, c.file);
    ini.WriteString("S", c.key, c.value);
    TKELMemoryStream saved;
    const TKELEncoding written = ini.SaveToStream(saved, ini.Encoding);
    EXPECT_EQ(Escaped(saved.View()), Escaped(c.saved));
    TKELIniFile again;
    saved.SetPosition(0);
    again.LoadFromStream(saved);
    EXPECT_EQ(again.ReadString("S", c.key, ""), c.value);
    EXPECT_TRUE(again.Equals(ini));
    EXPECT_EQ(again.Encoding, written);
  }
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
        // What is saved loads back as the same document, and saves again as
        // the same bytes.
        TKELMemoryStream saved;
        const TKELEncoding written = ini.SaveToStream(saved, ini.Encoding);
        TKELIniFile again;
        saved.SetPosition(0);
        again.LoadFromStream(saved);
        EXPECT_TRUE(again.Equals(ini)) << Escaped(input);
        EXPECT_EQ(again.Encoding, written) << Escaped(input);
        EXPECT_EQ(Escaped(SaveBytes(again, again.Encoding)), Escaped(saved.View())) << Escaped(input);

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
        // ... and through the document's own encoding.
        TKELIniFile reread;
        LoadBytes(reread, SaveBytes(ini, ini.Encoding));
        EXPECT_TRUE(reread.Equals(ini)) << Escaped(input);

        // Arbitrary bytes handed over as text.
        TKELIniFile raw;
        raw.LoadFromString(input);
        (void)SaveBytes(raw, TKELEncoding::Ansi());
      },
      options);
}

// A file in the saved form made of arbitrary bytes. The first byte chooses
// the encoding (none, UTF-8, UTF-16LE or UTF-16BE with their marks); the rest,
// as bytes or as code units, gives the lines, split at CR and LF. A line that
// begins with "[" becomes a header of its own name (numbered, so that no two
// sections share one); lines before the first header go to a section "Top";
// sections without lines are left out. U+2028 is replaced by U+2029, as it
// would end a line.
template <typename Char>
std::basic_string<Char> SavedFormOf(std::basic_string<Char> body) {
  using Text = std::basic_string<Char>;
  const auto lit = [](std::string_view ascii) { return Text(ascii.begin(), ascii.end()); };
  const Text separator = sizeof(Char) == 1 ? lit("\xE2\x80\xA8") : Text(1, Char(0x2028));
  const Text replacement = sizeof(Char) == 1 ? lit("\xE2\x80\xA9") : Text(1, Char(0x2029));
  for (size_t at; (at = body.find(separator)) != Text::npos;) body.replace(at, separator.size(), replacement);
  std::vector<std::pair<Text, std::vector<Text>>> sections = {{lit("[Top]"), {}}};
  size_t pos = 0;
  while (pos <= body.size()) {
    const size_t end = std::min(body.find(Char('\r'), pos), body.find(Char('\n'), pos));
    const Text line = body.substr(pos, end == Text::npos ? Text::npos : end - pos);
    if (!line.empty() && line[0] == Char('['))
      sections.push_back({lit("[" + std::to_string(sections.size()) + ":") + line.substr(1) + lit("]"), {}});
    else if (!line.empty())
      sections.back().second.push_back(line);
    if (end == Text::npos) break;
    pos = end + 1;
  }
  Text file;
  for (const auto& [header, lines] : sections) {
    if (lines.empty()) continue;
    file += header + lit("\r\n");
    for (const Text& line : lines) file += line + lit("\r\n");
    file += lit("\r\n");
  }
  return file;
}

TEST(IniFile, FuzzFilesInTheSavedFormSaveBackUnchanged) {
  orvi::test::FuzzOptions options;
  options.seeds = {
      "\x01k=caf\xC3\xA9\nold=caf\xE9\n[Caf\xE9\n\xE2\x80\xA8\xE9",
      "\x00[A\nk=caf\xC3\xA9\nold=caf\xE9\n[B\n\x81\x8D\x8F\x90\x9D\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80",
      "\x00k=caf\xE9\n[Gr\xF6\xDF" "e\nx=\xC3\xA9",
      "\x02\x5B\x00\x41\x00\x0A\x00\x6B\x00\x3D\x00\x00\xD8\x41\x00\x01\xDC",
      "\x03\x00\x6B\x00\x3D\xD8\x3D\xDE\x00\x20\x28\x00\x78",
  };
  options.dictionary = {"[", "\r\n", "\n", "\xE9", "\xC3\xA9", "\xE2\x80\xA8", "\xED\xA0\x80", "\x81"};
  orvi::test::RunFuzzTarget(
      "ini_file_saved_form",
      [](std::string_view input) {
        if (input.empty()) return;
        const int encoding = static_cast<unsigned char>(input[0]) % 4;
        const std::string body(input.substr(1));
        std::string file;
        if (encoding < 2) {
          file = (encoding == 1 ? "\xEF\xBB\xBF" : "") + SavedFormOf(body);
        } else {
          const bool bigEndian = encoding == 3;
          std::u16string units;
          for (size_t i = 0; i + 1 < body.size(); i += 2)
            units += static_cast<char16_t>(static_cast<unsigned char>(body[i + bigEndian]) |
                                           static_cast<unsigned char>(body[i + !bigEndian]) << 8);
          file = (bigEndian ? "\xFE\xFF" : "\xFF\xFE") + Utf16Bytes(SavedFormOf(units), bigEndian);
        }
        TKELIniFile ini;
        LoadBytes(ini, file);
        EXPECT_EQ(Escaped(SaveBytes(ini, ini.Encoding)), Escaped(file));
      },
      options);
}

}  // namespace
}  // namespace kel
