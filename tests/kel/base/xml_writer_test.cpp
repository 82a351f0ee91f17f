#include "kel/base/xml_writer.h"

#include <gtest/gtest.h>

#include <functional>

#include "kel/base/xml_reader.h"

namespace kel {
namespace {

TKELXMLWriterSettings Plain() {
  TKELXMLWriterSettings settings;
  settings.OmitXmlDeclaration = true;
  return settings;
}

// The bytes a raw writer produces for the actions.
std::string Raw(const std::function<void(TKELXMLWriter&)>& actions, const TKELXMLWriterSettings& settings = Plain()) {
  TKELMemoryStream stream;
  {
    TKELXMLRawWriter writer(stream, settings);
    actions(writer);
    writer.Close();
  }
  return std::string(stream.View());
}

// The message of the error the actions raise ("" when none).
std::string ErrorOf(const std::function<void(TKELXMLWriter&)>& actions, TKELXMLWriterSettings settings = Plain()) {
  TKELMemoryStream stream;
  try {
    auto writer = TKELXMLWriter::Create(stream, settings);
    actions(*writer);
    writer->Close();
  } catch (const EKELXMLException& e) {
    return e.Message();
  }
  return {};
}

TEST(XMLWriter, Output) {
  struct Case {
    const char* what;
    std::function<void(TKELXMLWriter&)> actions;
    std::string expected;
  } cases[] = {
      {"empty element", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteAttributeString("x", "1");
         w.WriteEndElement();
       }, "<a x=\"1\"/>"},
      {"element with text", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteAttributeString("x", "1");
         w.WriteString("t");
         w.WriteEndElement();
       }, "<a x=\"1\">t</a>"},
      {"prefixes and a full end tag", [](TKELXMLWriter& w) {
         w.WriteStartElement("p", "a");
         w.WriteStartAttribute("q", "b");
         w.WriteEndAttribute();
         w.WriteFullEndElement();
       }, "<p:a q:b=\"\"></p:a>"},
      {"attribute escaping", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteAttributeString("v", "\"<>&'\t\n\r");
         w.WriteEndElement();
       }, "<a v=\"&quot;&lt;&gt;&amp;'&#x9;&#xA;&#xD;\"/>"},
      {"text escaping", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteString("\"<>&' x\r\ny\nz\r\U0001F600");
         w.WriteEndElement();
       }, "<a>\"&lt;&gt;&amp;' x\r\ny\r\nz\r\n\xF0\x9F\x98\x80</a>"},
      {"CDATA split", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteCData("a]]>b<&");
         w.WriteEndElement();
       }, "<a><![CDATA[a]]]]><![CDATA[>b<&]]></a>"},
      {"comment dashes", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteComment("a--b");
         w.WriteComment("c-");
         w.WriteEndElement();
       }, "<a><!--a- -b--><!--c- --></a>"},
      {"references and raw text", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteEntityRef("nbsp");
         w.WriteCharEntity(u'\u00e9');
         w.WriteSurrogateCharEntity(0xDE00, 0xD83D);
         w.WriteRaw("<b/>&");
         const char16_t raw[] = u"xyz";
         w.WriteRaw(raw, 3, 1, 2);
         w.WriteEndElement();
       }, "<a>&nbsp;&#x00e9;&#x1f600;<b/>&yz</a>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Raw(c.actions), c.expected) << c.what;
}

TEST(XMLWriter, DeclarationIndentationAndLineBreaks) {
  TKELXMLWriterSettings indented;
  indented.Indent = true;
  EXPECT_EQ(Raw([](TKELXMLWriter& w) {
              w.WriteStartElement("r");
              w.WriteStartElement("c");
              w.WriteEndElement();
              w.WriteStartElement("d");
              w.WriteString("t");
              w.WriteEndElement();
              w.WriteEndElement();
            }, indented),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r>\r\n\t<c/>\r\n\t<d>t</d>\r\n</r>");
  TKELXMLWriterSettings attributes;
  attributes.NewLineOnAttributes = true;
  attributes.NewLineChars = "\n";
  EXPECT_EQ(Raw([](TKELXMLWriter& w) {
              w.WriteStartDocument(TKELXMLStandalone::Yes);
              w.WriteStartElement("r");
              w.WriteAttributeString("a", "1");
              w.WriteAttributeString("b", "2");
              w.WriteEndElement();
            }, attributes),
            "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<r\n\t a=\"1\"\n\t b=\"2\"/>");
  TKELXMLWriterSettings entitize = Plain();
  entitize.NewLineHandling = TKELNewLineHandling::Entitize;
  EXPECT_EQ(Raw([](TKELXMLWriter& w) {
              w.WriteStartElement("a");
              w.WriteString("x\ry\r\nz");
              w.WriteEndElement();
            }, entitize),
            "<a>x&#xD;y&#xD;\nz</a>");
  TKELXMLWriterSettings none = Plain();
  none.NewLineHandling = TKELNewLineHandling::None;
  EXPECT_EQ(Raw([](TKELXMLWriter& w) {
              w.WriteStartElement("a");
              w.WriteAttributeString("v", "\t\n\r");
              w.WriteString("\r\n");
              w.WriteEndElement();
            }, none),
            "<a v=\"\t\n\r\">\r\n</a>");
}

TEST(XMLWriter, CDataReadsBack) {
  const std::string text = "a]]>b]]]>c";
  const std::string xml = Raw([&](TKELXMLWriter& w) {
    w.WriteStartElement("a");
    w.WriteCData(text);
    w.WriteEndElement();
  });
  TKELMemoryStream stream(xml);
  TKELXMLTextReader reader(&stream);
  std::string read;
  while (reader.Read())
    if (reader.NodeType() == TKELXMLNodeType::CDATA) read += reader.Value();
  EXPECT_EQ(read, text);
}

TEST(XMLWriter, StateMachine) {
  EXPECT_EQ(ErrorOf([](TKELXMLWriter& w) {
              w.WriteStartElement("a");
              w.WriteEndElement();
              w.WriteStartElement("b");
            }),
            "Invalid state (FState = 1, AToken = 2)");
  EXPECT_EQ(ErrorOf([](TKELXMLWriter& w) { w.WriteString("x"); }), "Invalid state (FState = 0, AToken = 6)");
  EXPECT_EQ(ErrorOf([](TKELXMLWriter& w) {
              w.WriteStartDocument();
              w.WriteStartDocument();
            }),
            "Invalid state (FState = 2, AToken = 0)");
  TKELMemoryStream stream;
  TKELXMLRawWriter writer(stream, Plain());
  EXPECT_EQ(writer.WriteState(), TKELXMLWriteState::Start);
  writer.WriteStartElement("a");
  EXPECT_EQ(writer.WriteState(), TKELXMLWriteState::Element);
  writer.WriteStartAttribute({}, "x");
  EXPECT_EQ(writer.WriteState(), TKELXMLWriteState::Attribute);
  EXPECT_THROW(writer.WriteStartElement("b"), EKELXMLException);
  EXPECT_EQ(writer.WriteState(), TKELXMLWriteState::Error);
  EXPECT_THROW(writer.WriteEndAttribute(), EKELXMLException);  // nothing after an error
}

TEST(XMLWriter, InvalidCharacters) {
  auto text = [](std::string s) { return [s](TKELXMLWriter& w) {
    w.WriteStartElement("a");
    w.WriteString(s);
    w.WriteEndElement();
  }; };
  auto attribute = [](std::string s) { return [s](TKELXMLWriter& w) {
    w.WriteStartElement("a");
    w.WriteAttributeString("v", s);
    w.WriteEndElement();
  }; };
  const std::string lowAlone = kelUtf16ToUtf8(u"\xDC00"), highAlone = kelUtf16ToUtf8(u"\xD800");
  struct Case {
    const char* what;
    std::function<void(TKELXMLWriter&)> actions;
    const char* message;
  } cases[] = {
      {"control character", text("x\x01"), "\x01, hexadecimal value 0001, is an invalid character."},
      {"U+FFFF in an attribute", attribute("\xEF\xBF\xBF"), "\xEF\xBF\xBF, hexadecimal value ffff, is an invalid character."},
      {"low surrogate alone", attribute(lowAlone),
       "Invalid high surrogate character (dc00). A high surrogate character must have a value from range "
       "(0xD800 - 0xDBFF)."},
      {"high surrogate at the end", attribute("x" + highAlone),
       "The surrogate pair is invalid. Missing a low surrogate character."},
      {"high surrogate and no low", attribute(highAlone + "A"),
       "The surrogate pair (0041, d800) is invalid. A high surrogate character (0xD800 - 0xDBFF) must always be "
       "paired with a low surrogate character (0xDC00 - 0xDFFF)."},
      {"surrogate error in text", text(highAlone + "A"),
       "\xEF\xBF\xBD, hexadecimal value d800, is an invalid character."},
      {"invalid character reference", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteCharEntity(u'\x02');
       }, "\x02, hexadecimal value 0002, is an invalid character."},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.actions), c.message) << c.what;
  {
    TKELMemoryStream stream;
    TKELXMLRawWriter writer(stream, Plain());
    writer.WriteStartElement("a");
    writer.WriteStartAttribute({}, "v");
    EXPECT_THROW(writer.WriteString(highAlone + "A"), EKELXMLInvalidSurrogatePairException);
  }

  TKELXMLWriterSettings lax = Plain();
  lax.CheckCharacters = false;
  EXPECT_EQ(Raw(text("x\x01"), lax), "<a>x_x0001_</a>");
  EXPECT_EQ(Raw(attribute("\x01"), lax), "<a v=\"_x0001_\"/>");
  lax.UnderscoreEscapes = false;
  EXPECT_EQ(Raw(text("x\x01" + highAlone), lax), "<a>x&#x0001;&#xd800;</a>");
  EXPECT_EQ(Raw([](TKELXMLWriter& w) {
              w.WriteStartElement("a");
              w.WriteCData("\x01");
              w.WriteEndElement();
            }, lax),
            "<a><![CDATA[\x01]]></a>");

  TKELXMLWriterSettings badBreak;
  badBreak.NewLineChars = "&";
  TKELMemoryStream stream;
  try {
    TKELXMLRawWriter writer(stream, badBreak);
    FAIL();
  } catch (const EKELXMLArgumentException& e) {
    EXPECT_EQ(e.Message(),
              "WriterSettings.NewLineChars can contain only valid XML text content characters when "
              "XmlWriterSettings.CheckCharacters is true. &, hexadecimal value 0026, is an invalid character.");
  }
}

TEST(XMLWriter, WellFormedLayer) {
  struct Case {
    const char* what;
    std::function<void(TKELXMLWriter&)> actions;
    const char* message;
  } cases[] = {
      {"bad name", [](TKELXMLWriter& w) { w.WriteStartElement("a b"); },
       "Invalid name character in \"a b\". The 1 character, hexadecimal value 0020, cannot be included in a name."},
      {"empty name", [](TKELXMLWriter& w) { w.WriteStartElement(""); }, "The empty string is not a valid local name."},
      {"empty entity name", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteEntityRef("");
       }, "The empty string is not a valid name."},
      {"no start tag", [](TKELXMLWriter& w) { w.WriteEndElement(); }, "There was no XML start tag open."},
      {"duplicate attribute", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteAttributeString("x", "1");
         w.WriteAttributeString("x", "2");
       }, "\"x\" is a duplicate attribute name."},
      {"undeclared prefix", [](TKELXMLWriter& w) {
         w.WriteStartElement("p", "a");
         w.WriteString("t");
       }, "Unable to find namespace for the \"p\" prefix"},
      {"same namespace twice", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteStartAttribute("xmlns", "p");
         w.WriteString("urn:x");
         w.WriteEndAttribute();
         w.WriteStartAttribute("xmlns", "q");
         w.WriteString("urn:x");
         w.WriteEndAttribute();
         w.WriteStartAttribute("p", "v");
         w.WriteEndAttribute();
         w.WriteStartAttribute("q", "v");
         w.WriteEndAttribute();
         w.WriteEndElement();
       }, "\"q:v\" is a duplicate attribute name."},
      {"xmlns:xml", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteStartAttribute("xmlns", "xml");
       }, "The xml is invalid for local name"},
      {"reference in a declaration", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteStartAttribute("xmlns", "p");
         w.WriteEntityRef("amp");
       }, "The Namespace expected, but EntityRef specified."},
      {"surrogate entity", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteCharEntity(0xD800);
       }, "The surrogate pair is invalid. Missing a low surrogate character."},
      {"raw count", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteRaw(u"ab", 2, 1, 2);
       }, "count"},
      {"raw buffer", [](TKELXMLWriter& w) {
         w.WriteStartElement("a");
         w.WriteRaw(nullptr, 0, 0, 0);
       }, "buffer"},
      {"a colon inside a local name", [](TKELXMLWriter& w) {
         w.WriteStartElement("p", "a");
         w.WriteStartAttribute("xmlns", "p");
         w.WriteString("urn:p");
         w.WriteEndAttribute();
         w.WriteStartElement("p", "b");
         w.WriteAttributeString("xml:lang", "en");
         w.WriteEndElement();
         w.WriteEndElement();
       }, "Invalid name character in \"xml:lang\". The 3 character, hexadecimal value 003a, cannot be included in a name."},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.actions, TKELXMLWriterSettings()), c.message) << c.what;

  TKELMemoryStream stream;
  auto writer = TKELXMLWriter::Create(stream, Plain());
  writer->WriteStartElement("p", "a");
  writer->WriteStartAttribute("xmlns", "p");
  writer->WriteString("urn:p");
  writer->WriteEndAttribute();
  writer->WriteStartElement("p", "b");
  writer->WriteStartAttribute("xml", "lang");
  writer->WriteString("en");
  writer->WriteEndAttribute();
  writer->WriteEndElement();
  writer->WriteEndElement();
  writer->Close();
  EXPECT_EQ(stream.View(), "<p:a xmlns:p=\"urn:p\"><p:b xml:lang=\"en\"/></p:a>");
  EXPECT_EQ(writer->WriteState(), TKELXMLWriteState::Closed);
}

// A character beyond U+FFFF is written whole wherever it falls relative to
// the writer's 65,536-unit buffer, in every kind of output.
TEST(XMLWriter, PairsAcrossTheBufferBoundary) {
  const std::string face = "\U0001F600";  // two UTF-16 units, four UTF-8 bytes
  TKELXMLWriterSettings oddBreaks = Plain();
  oddBreaks.NewLineChars = face;
  oddBreaks.IndentChars = face;
  oddBreaks.Indent = true;
  for (size_t fill = 65536 - 16; fill <= 65536 + 2; ++fill) {
    const std::string x(fill, 'x');
    struct Case {
      const char* what;
      std::function<void(TKELXMLWriter&)> actions;
      std::string expected;
      TKELXMLWriterSettings settings;
    } cases[] = {
        {"text", [&](TKELXMLWriter& w) {
           w.WriteStartElement("a");
           w.WriteString(x + face);
           w.WriteEndElement();
         }, "<a>" + x + face + "</a>", Plain()},
        {"attribute", [&](TKELXMLWriter& w) {
           w.WriteStartElement("a");
           w.WriteAttributeString("v", x + face);
           w.WriteEndElement();
         }, "<a v=\"" + x + face + "\"/>", Plain()},
        {"CDATA", [&](TKELXMLWriter& w) {
           w.WriteStartElement("a");
           w.WriteCData(x + face);
           w.WriteEndElement();
         }, "<a><![CDATA[" + x + face + "]]></a>", Plain()},
        {"comment", [&](TKELXMLWriter& w) {
           w.WriteStartElement("a");
           w.WriteComment(x + face);
           w.WriteEndElement();
         }, "<a><!--" + x + face + "--></a>", Plain()},
        {"raw", [&](TKELXMLWriter& w) {
           w.WriteStartElement("a");
           w.WriteRaw(x + face);
           w.WriteEndElement();
         }, "<a>" + x + face + "</a>", Plain()},
        {"name", [&](TKELXMLWriter& w) {
           w.WriteStartElement(x + face);
           w.WriteEndElement();
         }, "<" + x + face + "/>", Plain()},
        {"line break and indentation", [&](TKELXMLWriter& w) {
           w.WriteStartElement("a");
           w.WriteString(x + "\n");
           w.WriteStartElement("b");
           w.WriteEndElement();
           w.WriteEndElement();
         }, "<a>" + x + face + face + face + "<b/>" + face + "</a>", oddBreaks},
    };
    for (const Case& c : cases) {
      const std::string written = Raw(c.actions, c.settings);
      EXPECT_TRUE(kelIsValidUtf8(written)) << c.what << " " << fill;
      EXPECT_EQ(written, c.expected) << c.what << " " << fill;
    }
  }
}

// A stream that refuses writes.
class TFullStream : public TKELMemoryStream {
 public:
  size_t Write(const void*, size_t) override { return 0; }
};

TEST(XMLWriter, FailingStream) {
  TFullStream stream;
  TKELXMLRawWriter writer(stream, Plain());
  writer.WriteStartElement("a");
  writer.WriteEndElement();
  EXPECT_THROW(writer.Close(), EWriteError);
  EXPECT_EQ(writer.WriteState(), TKELXMLWriteState::Error);
}

}  // namespace
}  // namespace kel
