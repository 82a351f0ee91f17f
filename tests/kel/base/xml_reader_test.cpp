#include "kel/base/xml_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <unordered_set>
#include <vector>

#include "support/fuzz.h"

namespace kel {
namespace {

// A stream that hands out at most `step` bytes per read, so that every
// buffer boundary falls in every possible place.
class TTrickleStream : public TKELMemoryStream {
 public:
  TTrickleStream(std::string_view bytes, size_t step) : TKELMemoryStream(bytes), step_(step) {}
  size_t Read(void* buffer, size_t count) override { return TKELMemoryStream::Read(buffer, std::min(count, step_)); }

 private:
  size_t step_;
};

TKELXMLReaderSettings Settings(bool namespaces = false) {
  TKELXMLReaderSettings settings;
  settings.SupportNamespaces = namespaces;
  return settings;
}

// One line per node: kind, depth, name, value, line:position, and the
// attributes indented below.
std::string Trace(TKELXMLTextReader& reader) {
  std::string out;
  while (reader.Read()) {
    out += std::to_string(static_cast<int>(reader.NodeType())) + " " + std::to_string(reader.Depth()) + " " +
           reader.Name() + "=" + reader.Value() + " @" + std::to_string(reader.LineNumber()) + ":" +
           std::to_string(reader.LinePosition()) + (reader.IsEmptyElement() ? " /" : "") + "\n";
    while (reader.MoveToNextAttribute())
      out += "  " + reader.Name() + "=" + reader.Value() + " @" + std::to_string(reader.LineNumber()) + ":" +
             std::to_string(reader.LinePosition()) + "\n";
  }
  return out;
}

std::string Trace(std::string_view bytes, const TKELXMLReaderSettings& settings = Settings()) {
  TKELMemoryStream stream(bytes);
  TKELXMLTextReader reader(&stream, settings);
  return Trace(reader);
}

// The message of the error reading raises, or "" when it reads to the end.
std::string ErrorOf(std::string_view bytes, const TKELXMLReaderSettings& settings = Settings()) {
  try {
    Trace(bytes, settings);
  } catch (const EKELXMLException& e) {
    return e.Message();
  }
  return {};
}

// The value of the first text-like node.
std::string TextOf(std::string_view bytes, const TKELXMLReaderSettings& settings = Settings()) {
  TKELMemoryStream stream(bytes);
  TKELXMLTextReader reader(&stream, settings);
  while (reader.Read())
    if (reader.NodeType() == TKELXMLNodeType::Text || reader.NodeType() == TKELXMLNodeType::CDATA) return reader.Value();
  return "<none>";
}

std::string Utf16Bytes(std::u16string_view text, bool bigEndian) {
  std::string out;
  for (char16_t c : text) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

TEST(XMLReader, EveryErrorMessage) {
  struct Case {
    std::string input;
    bool namespaces;
    const char* message;
  } cases[] = {
      {"<a x='1' x='2'/>", false, "x is a duplicate attribute name Line 1, position 10"},
      {"<?XmL a?><a/>", false, "'XmL' is an invalid name for processing instructions. Line 1, position 3"},
      {"<a xml:space='keep'/>", true, "'keep' is an invalid xml:space value. Line 1, position 4"},
      {"<a x='1'y='2'/>", false, "'y' is an unexpected token. Expecting white space. Line 1, position 9"},
      {"<!DOCTYPE\n", false, "Unexpected end of file while parsing DOCTYPE has occurred. Line 1, position 3"},
      {"<!DOCTYPEa><a/>", false, "'a' is an unexpected token. Expecting white space. Line 1, position 10"},
      {"<a x=1/>", false, "'1' is an unexpected token. The expected token is '\"' or '''. Line 1, position 6"},
      {"<a><!b></a>", false,
       "'b' is an unexpected token. The expected token is '<!--' or '<[CDATA['. Line 1, position 6"},
      {"<a x/>", false, "'/' is an unexpected token. The expected token is '='. Line 1, position 5"},
      {"<a/ >", false, "' ' is an unexpected token. The expected token is '>'. Line 1, position 4"},
      {"<!-x-><a/>", false, "'x-' is an unexpected token. The expected token is '-'. Line 1, position 4"},
      {"<a><![CDAT[x]]></a>", false, "'CDAT' is an unexpected token. The expected token is 'CDATA['. Line 1, position 7"},
      {"<!ELEMENT a><a/>", false, "'ELEMENT' is an unexpected token. The expected token is 'DOCTYPE'. Line 1, position 3"},
      {"<a/><!x>", false, "'x' is an unexpected token. The expected token is '<!--'. Line 1, position 7"},
      {"<!DOCTYPE a PUBLISH><a/>", false, "'PUBLISH' is an unexpected token. The expected token is 'PUBLIC'. Line 1, position 13"},
      {"<?xml version='1.0'encoding='utf-8'?><a/>", false,
       "'encoding' is an unexpected token. The expected token is '?>'. Line 1, position 20"},
      {"<?xml version='1.0'?x<a/>", false, "'x' is an unexpected token. The expected token is ''>''. Line 1, position 21"},
      {"<a x='<'/>", false, "'<', hexadecimal value 0x3C, is an invalid attribute character. Line 1, position 7"},
      {"<a>\x01</a>", false, "'\x01', hexadecimal value 0x 1, is an invalid character. Line 1, position 4"},
      {"<a>&#0;</a>", false, "'.', hexadecimal value 0x 0, is an invalid character. Line 1, position 4"},
      {"<a>]]></a>", false, "']]&gt;' is not allowed in character data. Line 1, position 4"},
      {"<a><!-- a -- b --></a>", false,
       "An XML comment cannot contain '--', and '-' cannot be the last character. Line 1, position 11"},
      {"<a/>\n x", false, "Data at the root level is invalid. Line 2, position 2"},
      {"&amp;<a/>", false, "Data at the root level is invalid. Line 1, position 1"},
      {"<!DOCTYPE a SYSTEM 's' x><a/>", false,
       "Expecting an internal subset or the end of the DOCTYPE declaration. Line 1, position 24"},
      {"<!DOCTYPE a x><a/>", false, "Expecting external ID, '[' or '&gt;'. Line 1, position 13"},
      {"<a>\n\xFF</a>", false, "Invalid character in the given encoding. Line 2, position 1"},
      {"<a xmlns:p=''/>", true, "Invalid namespace declaration. Line 1, position 4"},
      {"<a>&#;</a>", false, "Invalid syntax for a decimal numeric entity reference. Line 1, position 4"},
      {"<a>&#12</a>", false, "Invalid syntax for a decimal numeric entity reference. Line 1, position 4"},
      {"<a>&#x;</a>", false, "Invalid syntax for a hexadecimal numeric entity reference. Line 1, position 4"},
      {"<a>&#4294967296;</a>", false, "Invalid value of a character entity reference. Line 1, position 4"},
      {"<![CDATA[x]]>", false, "InvalidRootData Line 1, position 3"},
      {"<1/>", false, "Name cannot begin with the '1' character, hexadecimal value 0x31. Line 1, position 2"},
      {std::string("\0\0\0<", 4), false, "Not implemented Line 1, position 1"},
      {"<a xmlns:p='http://www.w3.org/XML/1998/namespace'/>", true,
       "Prefix '&s' cannot be mapped to namespace name reserved for 'xml' or 'xmlns'. Line 1, position 4"},
      {"<a xmlns:xml='urn:x'/>", true,
       "Prefix 'xml' is reserved for use by XML and can be mapped only to namespace name "
       "'http://www.w3.org/XML/1998/namespace'. Line 1, position 4"},
      {"<a xmlns:xmlns='urn:x'/>", true, "Prefix 'xmlns' is reserved for use by XML. Line 1, position 4"},
      {"<!-- only -->", false, "Root element is missing."},
      {"<?xml encoding='utf-8'?><a/>", false, "Syntax for an XML declaration is invalid. Line 1, position 7"},
      {"<?xml?><a/>", false, "Syntax for an XML declaration is invalid. Line 1, position 6"},
      {"<a!/>", false, "The '!' character, hexadecimal value 0x21, cannot be included in a name. Line 1, position 3"},
      {"<a:b:c/>", true, "The ':' character, hexadecimal value 0x3A, cannot be included in a name. Line 1, position 5"},
      {"<a>\n  <b>\n</a>", false,
       "The 'b' start tag on line '2' position '4' does not match the end tag of 'a'. Line 3, position 3"},
      {"<a/><b/>", false, "There are multiple root elements. Line 1, position 6"},
      {"<a x='1", false, "There is an unclosed literal string. Line 1, position 6"},
      {"<a></a", false, "UnclosedElements Line 1, position 7"},
      {"<a/><!DOCTYPE a>", false, "Unexpected DTD declaration. Line 1, position 7"},
      {"<a><!DOCTYPE a></a>", false, "Unexpected DTD declaration. Line 1, position 6"},
      {"<a ", false, "Unexpected end of file has occurred. Line 1, position 4"},
      {"<a><b>x", false, "Unexpected end of file has occurred. The following elements are not closed: b, a. Line 1, position 8"},
      {"<a><!-- x", false, "Unexpected end of file while parsing Comment has occurred. Line 1, position 8"},
      {"<a><![CDATA[x", false, "Unexpected end of file while parsing CDATA has occurred. Line 1, position 13"},
      {"<a><?pi x", false, "Unexpected end of file while parsing PI has occurred. Line 1, position 6"},
      {"<a", false, "Unexpected end of file while parsing Name has occurred. Line 1, position 3"},
      {"<a/", false, "Unexpected end of file while parsing > has occurred. Line 1, position 4"},
      {"</a>", false, "Unexpected end tag. Line 1, position 3"},
      {" <?xml version='1.0'?><a/>", false,
       "Unexpected XML declaration. The XML declaration must be the first node in the document, and no white space "
       "characters are allowed to appear before it. Line 1, position 4"},
      {"\x4C\x6F\xA7\x94", false, "UnknownEncoding: ebcdic Line 1, position 1"},
  };
  for (const Case& c : cases) {
    TKELXMLReaderSettings settings = Settings(c.namespaces);
    EXPECT_EQ(ErrorOf(c.input, settings), c.message) << c.input;
  }

  // A document larger than the limit; no position.
  TKELXMLReaderSettings limited = Settings();
  limited.MaxCharactersInDocument = 10;
  EXPECT_EQ(ErrorOf("<a>" + std::string(100, 'x') + "</a>", limited),
            "The input document has exceeded a limit set by MaxCharactersInDocument.");
  EXPECT_EQ(ErrorOf("<a>xy</a>", limited), "");
  // An error without text.
  EXPECT_EQ(EKELXMLException("", 1, 2).Message(), "An XML error has occurred. Line 1, position 2");
}

// Codes without a UTF-8 form (a lone surrogate, a reference beyond U+10FFFF)
// are quoted as U+FFFD, so that the message is valid UTF-8; references beyond
// the last code point are invalid characters, only those beyond 32 bits
// invalid values.
TEST(XMLReader, CharactersWithoutUtf8FormInMessages) {
  const std::string lone = "\xFF\xFE" + Utf16Bytes(u"<a>\xD800</a>", false);
  const std::string loneInName = "\xFF\xFE" + Utf16Bytes(u"<a\xDC00/>", false);
  const std::string loneToken = "\xFF\xFE" + Utf16Bytes(u"<a x=\xDC00/>", false);
  const std::string replacement = "\xEF\xBF\xBD";
  struct Case {
    std::string input;
    bool checkCharacters;
    std::string message;
  } cases[] = {
      {lone, true, "'" + replacement + "', hexadecimal value 0xD800, is an invalid character. Line 1, position 4"},
      {"<a>&#xD800;</a>", true,
       "'" + replacement + "', hexadecimal value 0xD800, is an invalid character. Line 1, position 4"},
      {loneInName, true,
       "The '" + replacement + "' character, hexadecimal value 0xDC00, cannot be included in a name. Line 1, position 3"},
      {loneToken, true,
       "'" + replacement + "' is an unexpected token. The expected token is '\"' or '''. Line 1, position 6"},
      {"<a>&#x110000;</a>", true,
       "'" + replacement + "', hexadecimal value 0x110000, is an invalid character. Line 1, position 4"},
      {"<a>&#1114112;</a>", false,
       "'" + replacement + "', hexadecimal value 0x110000, is an invalid character. Line 1, position 4"},
      {"<a>&#xFFFFFFFF;</a>", true,
       "'" + replacement + "', hexadecimal value 0xFFFFFFFF, is an invalid character. Line 1, position 4"},
      {"<a>&#x100000000;</a>", true, "Invalid value of a character entity reference. Line 1, position 4"},
      {"<a>&#x10FFFF;</a>", true, ""},
  };
  for (const Case& c : cases) {
    TKELXMLReaderSettings settings = Settings();
    settings.CheckCharacters = c.checkCharacters;
    const std::string message = ErrorOf(c.input, settings);
    EXPECT_EQ(message, c.message) << c.input;
    EXPECT_TRUE(kelIsValidUtf8(message)) << c.input;
  }
}

TEST(XMLReader, ErrorCarriesPositionApartFromText) {
  TKELXMLReaderSettings settings = Settings();
  settings.LineNumberOffset = 10;
  settings.LinePositionOffset = 100;
  TKELMemoryStream stream("<a>\n<b></a>");
  TKELXMLTextReader reader(&stream, settings);
  ASSERT_TRUE(reader.Read());
  EXPECT_EQ(reader.LineNumber(), 11);
  EXPECT_EQ(reader.LinePosition(), 102);  // the offset applies to the first line only
  try {
    while (reader.Read()) {
    }
    FAIL();
  } catch (const EKELXMLException& e) {
    EXPECT_EQ(e.RawMessage(), "The 'b' start tag on line '12' position '2' does not match the end tag of 'a'.");
    EXPECT_EQ(e.LineNumber(), 12);
    EXPECT_EQ(e.LinePosition(), 6);
  }
  EXPECT_FALSE(reader.Read());  // finished after an error
}

TEST(XMLReader, ArgumentErrors) {
  EXPECT_THROW(TKELXMLTextReader(nullptr), EKELXMLArgumentNullException);
  TKELMemoryStream stream("<a/>");
  TKELXMLReaderSettings settings;
  settings.ConformanceLevel = static_cast<TKELConformanceLevel>(7);
  EXPECT_THROW(TKELXMLTextReader(&stream, settings), EKELXMLArgumentOutOfRangeException);
}

TEST(XMLReader, NodesNamesAndPositions) {
  EXPECT_EQ(Trace("<?xml version='1.0' standalone='yes'?>\r\n<!DOCTYPE r [ <!ENTITY e ']>'> <!-- ] --> ]>"
                  "<r a='1'\r\n  b=\"2\"><c/>t<!--n--><?p  d ?><![CDATA[<x>]]></r>"),
            "17 0 xml=version='1.0' standalone='yes' @1:7\n"
            "13 0 = @1:39\n"  // whitespace; values are trimmed
            "1 0 r= @2:46\n"
            "  a=1 @2:48\n"
            "  b=2 @3:3\n"
            "1 1 c= @3:10 /\n"
            "3 1 =t @3:13\n"
            "8 1 =n @3:18\n"
            "7 1 p=d @3:24\n"
            "4 1 =<x> @3:40\n"
            "15 0 r= @3:48\n");
}

TEST(XMLReader, LineEndsAndValues) {
  // Text: CR LF and CR become LF; values are trimmed outside xml:space preserve.
  EXPECT_EQ(TextOf("<a>x\r\ny\rz</a>"), "x\ny\nz");
  EXPECT_EQ(TextOf("<a>  x  </a>"), "x");
  EXPECT_EQ(TextOf("<a xml:space='preserve'>  x  </a>", Settings(true)), "  x  ");
  EXPECT_EQ(TextOf("<a xml:space='preserve'>  x  </a>", Settings(false)), "x");  // an ordinary attribute
  // Attribute values: TAB, LF, CR and CR LF become one space; references keep their character.
  TKELMemoryStream stream("<a v='1\t2\r\n3\r4\n5&#10;6' w='a&amp;b &lt;&gt;&apos;&quot; & &nbsp; &x'/>");
  TKELXMLTextReader reader(&stream, Settings());
  ASSERT_TRUE(reader.Read());
  std::string value;
  ASSERT_TRUE(reader.GetAttribute("v", value));
  EXPECT_EQ(value, "1 2 3 4 5\n6");
  EXPECT_EQ(reader.GetAttribute("w", ""), "a&b <>'\" & &nbsp; &x");
  EXPECT_FALSE(reader.GetAttribute("missing", value));
  // References in text.
  EXPECT_EQ(TextOf("<a>a &amp; b</a>"), "a & b");
  EXPECT_EQ(TextOf("<a>a & b &nbsp; &#65;&#x42;&#x1F600;</a>"), "a & b &nbsp; AB\xF0\x9F\x98\x80");
  TKELXMLReaderSettings lax = Settings();
  lax.CheckCharacters = false;
  EXPECT_EQ(TextOf("<a>x&#1;\x02y</a>", lax), "x\x01\x02y");
}

TEST(XMLReader, WhitespaceAndConformance) {
  TKELXMLReaderSettings settings = Settings(true);
  settings.IgnoreWhitespace = true;
  settings.IgnoreComments = true;
  settings.IgnoreProcessingInstructions = true;
  EXPECT_EQ(Trace("<a> <!--c--> <?p?>\n<b xml:space='preserve'> </b></a>", settings),
            "1 0 a= @1:2\n"
            "1 1 b= @2:2\n"
            "  xml:space=preserve @2:4\n"
            "14 2 =  @2:25\n"
            "15 1 b= @2:28\n"
            "15 0 a= @2:32\n");
  TKELXMLReaderSettings fragment = Settings();
  fragment.ConformanceLevel = TKELConformanceLevel::Fragment;
  EXPECT_EQ(Trace("t<a/><b/>", fragment), "3 0 =t @1:1\n1 0 a= @1:3 /\n1 0 b= @1:7 /\n");
  EXPECT_EQ(ErrorOf("&amp;", fragment), "Data at the root level is invalid. Line 1, position 1");
  TKELXMLReaderSettings automatic = Settings();
  automatic.ConformanceLevel = TKELConformanceLevel::Auto;
  EXPECT_EQ(ErrorOf("<a/><b/>x<![CDATA[y]]>", automatic), "");
  EXPECT_EQ(ErrorOf("", automatic), "");
}

TEST(XMLReader, NamespacesOnAndOff) {
  TKELMemoryStream stream("<p:a xmlns:p='urn:p' xmlns='urn:d'><b q:x='1' p:y='2' z='3'/></p:a>");
  TKELXMLTextReader reader(&stream, Settings(true));
  ASSERT_TRUE(reader.Read());
  EXPECT_EQ(reader.Prefix(), "p");
  EXPECT_EQ(reader.LocalName(), "a");
  EXPECT_EQ(reader.NamespaceURI(), "urn:p");
  ASSERT_TRUE(reader.Read());
  EXPECT_EQ(reader.NamespaceURI(), "urn:d");  // the default namespace
  EXPECT_EQ(reader.LookupNamespace("p"), "urn:p");
  EXPECT_EQ(reader.GetAttribute("y", "urn:p"), "2");
  EXPECT_EQ(reader.GetAttribute("x", "q"), "1");  // an undeclared prefix stands for itself
  std::string value;
  EXPECT_TRUE(reader.GetAttribute("p:y", value));
  EXPECT_TRUE(reader.GetAttribute("z", value));
  EXPECT_EQ(value, "3");
  ASSERT_TRUE(reader.MoveToNextAttribute());
  EXPECT_EQ(reader.NodeType(), TKELXMLNodeType::Attribute);
  EXPECT_EQ(reader.Depth(), 2);
  EXPECT_TRUE(reader.MoveToElement());
  EXPECT_EQ(reader.Name(), "b");

  // Off: one name, xmlns an ordinary attribute, nothing resolved.
  EXPECT_EQ(Trace("<x:y xmlns:x=''><:z/></x:y>"), "1 0 x:y= @1:2\n  xmlns:x= @1:6\n1 1 :z= @1:18 /\n15 0 x:y= @1:24\n");
  TKELMemoryStream off("<x:y xmlns:x='u'/>");
  TKELXMLTextReader plain(&off, Settings());
  ASSERT_TRUE(plain.Read());
  EXPECT_EQ(plain.LocalName(), "x:y");
  EXPECT_EQ(plain.LookupNamespace("x"), "");
}

TEST(XMLReader, Skip) {
  TKELMemoryStream stream("<r><a><b>x</b><c/></a><d/></r>");
  TKELXMLTextReader reader(&stream, Settings());
  reader.Read();
  reader.Read();
  reader.Skip();
  EXPECT_EQ(reader.Name(), "d");
}

TEST(XMLReader, Encodings) {
  const std::string text = "<a x='\xC3\xA9'>\xD0\x96\xF0\x9F\x98\x80</a>";
  const std::u16string units = kelUtf8ToUtf16(text);
  const std::string expected = "1 0 a= @1:2\n  x=\xC3\xA9 @1:4\n3 1 =\xD0\x96\xF0\x9F\x98\x80 @1:10\n15 0 a= @1:15\n";
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"no mark, no declaration: UTF-8", text},
      {"UTF-8 mark", "\xEF\xBB\xBF" + text},
      {"UTF-16LE mark", "\xFF\xFE" + Utf16Bytes(units, false)},
      {"UTF-16BE mark", "\xFE\xFF" + Utf16Bytes(units, true)},
      {"UTF-16LE without mark", Utf16Bytes(units, false)},
      {"UTF-16BE without mark", Utf16Bytes(units, true)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trace(c.bytes), expected) << c.what;
    TTrickleStream trickle(c.bytes, 1);
    TKELXMLTextReader reader(&trickle, Settings());
    EXPECT_EQ(Trace(reader), expected) << c.what << ", one byte at a time";
  }

  // Code pages named by the declaration, also after a long declaration and
  // when read one byte at a time.
  const std::string decl1251 = "<?xml version='1.0'" + std::string(90, ' ') + "encoding='windows-1251'?>";
  for (size_t step : {size_t(1), size_t(3), size_t(8192)}) {
    TTrickleStream stream(decl1251 + "<a>\xCF\xF0\xE8\xE2\xE5\xF2</a>", step);
    TKELXMLTextReader reader(&stream, Settings());
    reader.Read();
    reader.Read();
    reader.Read();
    EXPECT_EQ(reader.Value(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82") << step;
  }
  EXPECT_EQ(TextOf("<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>"), "\xC3\xA9");
  EXPECT_EQ(TextOf("<?xml version='1.0' encoding='UTF-8'?><a>\xC3\xA9</a>"), "\xC3\xA9");
  // A UTF-16 name on 8-bit input and an unknown name both read UTF-8.
  EXPECT_EQ(TextOf("<?xml version='1.0' encoding='utf-16'?><a>\xC3\xA9</a>"), "\xC3\xA9");
  EXPECT_EQ(TextOf("<?xml version='1.0' encoding='no-such-code-page'?><a>\xC3\xA9</a>"), "\xC3\xA9");
  // UTF-16 input keeps UTF-16 whatever an 8-bit declaration says.
  EXPECT_EQ(TextOf("\xFF\xFE" + Utf16Bytes(u"<?xml version='1.0' encoding='windows-1252'?><a>\u00e9</a>", false)),
            "\xC3\xA9");
  // A default encoding replaces detection; its mark is skipped.
  TKELXMLReaderSettings latin = Settings();
  latin.DefaultEncoding = TKELEncoding::Windows1252();
  EXPECT_EQ(TextOf("<a>\x80</a>", latin), "\xE2\x82\xAC");
  latin.DefaultEncoding = TKELEncoding::UTF16BE();
  EXPECT_EQ(TextOf("\xFE\xFF" + Utf16Bytes(u"<a>b</a>", true), latin), "b");

  // Undecodable bytes: at the first character that cannot be decoded.
  EXPECT_EQ(ErrorOf("<a>x\xC3</a>"), "Invalid character in the given encoding. Line 1, position 5");
  EXPECT_EQ(ErrorOf("<a>x\xC3"), "Invalid character in the given encoding. Line 1, position 5");
  EXPECT_EQ(ErrorOf("<a>\xED\xA0\x80</a>"), "Invalid character in the given encoding. Line 1, position 4");
  EXPECT_EQ(ErrorOf("<?xml version='1.0' encoding='shift_jis'?><a>\x82</a>"),
            "Invalid character in the given encoding. Line 1, position 46");
  EXPECT_EQ(ErrorOf(std::string("\xFF\xFE<\0a\0/\0>\0!", 11)),  // a lone last byte
            "Invalid character in the given encoding. Line 1, position 5");
  // Undecodable first bytes already fail when the reader is created.
  TKELMemoryStream bad("\xEF\xBB\xBF\xFF<a/>");
  EXPECT_THROW(TKELXMLTextReader(&bad, Settings()), EKELXMLException);
  // UCS-4 patterns.
  for (const char* bytes : {"\x3C\0\0\0", "\xFF\xFE\0\0", "\xFE\xFF\0\0", "\0\x3C\0\0", "\0\0\xFE\xFF"}) {
    TKELMemoryStream ucs4(std::string(bytes, 4) + "....");
    EXPECT_THROW(TKELXMLTextReader(&ucs4, Settings()), EKELXMLException);
  }
}

// Long nodes cross every buffer boundary: the reader grows and compacts its
// buffers while values stay slices of them.
TEST(XMLReader, LongNodesAcrossBuffers) {
  std::mt19937 rng(11);
  std::string doc = "<r>", expected;
  const char* pieces[] = {"a", "b", "\xC3\xA9", "\xF0\x9F\x98\x80", "&", "\r\n", "\r", "\n", " "};
  for (int i = 0; i < 300; ++i) {
    const size_t length = rng() % 20000;
    std::string escaped, normalised;
    for (size_t k = 0; k < length; ++k) {
      const std::string piece = pieces[rng() % std::size(pieces)];
      escaped += piece == "&" ? "&amp;" : piece;
      normalised += piece;
    }
    for (size_t at; (at = normalised.find('\r')) != std::string::npos;)
      normalised.replace(at, normalised.compare(at, 2, "\r\n") == 0 ? 2 : 1, "\n");
    doc += "<e n='" + std::to_string(i) + "'>X" + escaped + "X</e>";
    expected += "X" + normalised + "X|";
  }
  doc += "</r>";
  for (size_t step : {size_t(7), size_t(100000)}) {
    TTrickleStream stream(doc, step);
    TKELXMLTextReader reader(&stream, Settings());
    std::string got;
    while (reader.Read())
      if (reader.NodeType() == TKELXMLNodeType::Text) got += reader.Value() + "|";
    EXPECT_TRUE(got == expected) << step;  // (megabytes: no diff)
  }
}

TEST(XMLReader, SharedNameTableInternsNames) {
  TKELXMLNameTable names;
  TKELXMLReaderSettings settings = Settings();
  settings.NameTable = &names;
  TKELMemoryStream stream("<item><item/></item>");
  TKELXMLTextReader reader(&stream, settings);
  reader.Read();
  const std::string* first = &reader.Name();
  reader.Read();
  EXPECT_EQ(&reader.Name(), first);
  EXPECT_EQ(names.Get(u"item")->Utf8, "item");
  EXPECT_EQ(names.Get(u"other"), nullptr);
}

// The table grows many times over while names are added: every name is
// still found, and adding it again gives the same entry.
TEST(XMLReader, NameTableGrowsWithItsNames) {
  TKELXMLNameTable names;
  std::vector<const TKELXMLNameTable::TName*> added;
  auto name = [](size_t i) { return kelUtf8ToUtf16("n" + std::to_string(i)); };
  for (size_t i = 0; i < 5000; ++i) added.push_back(names.Add(name(i)));
  EXPECT_EQ(names.Count(), 5000u);
  for (size_t i = 0; i < added.size(); ++i) {
    EXPECT_EQ(names.Add(name(i)), added[i]) << i;
    ASSERT_EQ(names.Get(name(i)), added[i]) << i;
    EXPECT_EQ(added[i]->Utf8, "n" + std::to_string(i));
  }
  EXPECT_EQ(names.Count(), 5000u);

  // Names alike but for a few characters get hashes of their own, so that
  // chains stay short.
  std::unordered_set<uint32_t> hashes;
  for (size_t i = 0; i < 100000; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "n%07zu", i);
    const std::u16string name16 = kelUtf8ToUtf16(text);
    hashes.insert(TKELXMLNameTable::Hash(name16.data(), name16.size()));
  }
  EXPECT_GT(hashes.size(), 99000u);
}

TEST(XMLReader, Fuzz) {
  orvi::test::FuzzOptions options;
  options.seeds = {
      "<?xml version='1.0' encoding='utf-8'?><a x='1' y=\"&amp;&#65;\">t<b/><!--c--><?p d?><![CDATA[x]]></a>",
      "<!DOCTYPE a PUBLIC 'p' 's' [<!ENTITY x '>'>]><a>&#x1F600;&lt;</a>",
      "<p:a xmlns:p='urn:x' xmlns='urn:d' xml:space='preserve' xml:lang='en'><p:b p:c='1'/> </p:a>",
      "\xEF\xBB\xBF<a>\xC3\xA9</a>",
      "\xFF\xFE<\0a\0/\0>\0",
      std::string("\xFF\xFE<\0a\0>\0\x00\xD8<\0/\0a\0>\0", 18),
      "<?xml version='1.0' encoding='windows-1251'?><a>\xCF</a>",
  };
  options.dictionary = {"<",   ">",      "/>",       "</",       "<!--",       "-->",      "<![CDATA[", "]]>",
                        "&#",  "&#x",    "&amp;",    "xmlns:",   "xml:space=", "<?xml ",   "?>",        "<!DOCTYPE ",
                        "'",   "\"",     "\r\n",     "\xC3\xA9", "\xF0\x9F\x98\x80", "\0",  "encoding=", ":",
                        "&#xD800;", "&#x110000;"};
  orvi::test::RunFuzzTarget(
      "xml_reader",
      [](std::string_view input) {
        for (int variant = 0; variant < 2; ++variant) {
          TKELMemoryStream stream(input);
          TKELXMLReaderSettings settings;
          settings.SupportNamespaces = variant == 0;
          settings.ConformanceLevel = variant == 0 ? TKELConformanceLevel::Document : TKELConformanceLevel::Auto;
          settings.IgnoreWhitespace = variant == 1;
          try {
            TKELXMLTextReader reader(&stream, settings);
            while (reader.Read()) {
              (void)reader.Value();
              while (reader.MoveToNextAttribute()) (void)reader.Value();
            }
          } catch (const EKELXMLException& e) {
            if (!kelIsValidUtf8(e.Message())) ADD_FAILURE() << "a message that is not UTF-8: " << e.Message();
          }
        }
      },
      options);
}

}  // namespace
}  // namespace kel
