#include "kel/base/xml_document.h"

#include <gtest/gtest.h>

#include <random>

#include "kel/base/xml_reader.h"
#include "support/fuzz.h"

namespace kel {
namespace {

// name{attr=value,...}"value"(children) — a compact picture of a tree.
std::string Dump(const TKELXMLNode& node) {
  std::string out = node.NodeName;
  if (node.Attributes.Count() > 0) {
    out += "{";
    for (int i = 0; i < node.Attributes.Count(); ++i)
      out += (i ? "," : "") + node.Attributes.ItemByIndex(i)->Name + "=" + node.Attributes.ItemByIndex(i)->Value;
    out += "}";
  }
  if (!node.NodeValue.empty()) out += "\"" + node.NodeValue + "\"";
  if (node.Count() > 0) {
    out += "(";
    for (int i = 0; i < node.Count(); ++i) out += (i ? " " : "") + Dump(*node.Nodes(i));
    out += ")";
  }
  return out;
}

std::string Load(std::string_view bytes, bool allowMultipleRoots = false) {
  TKELMemoryStream stream(bytes);
  TKELXMLDocument document;
  document.AllowMultipleRoots = allowMultipleRoots;
  document.LoadFromStream(stream);
  return Dump(document);
}

std::string Save(TKELXMLDocument& document, uint8_t format, bool indent = false, bool newLineOnAttributes = false) {
  TKELMemoryStream stream;
  TKELXMLDocumentFormatSettings settings;
  settings.Format = format;
  settings.Indent = indent;
  settings.NewLineOnAttributes = newLineOnAttributes;
  document.SaveToStream(stream, settings);
  return std::string(stream.View());
}

TEST(XMLDocument, LookupsIgnoreAsciiCaseOnly) {
  TKELXMLDocument document;
  TKELXMLNode* root = document.Add("setup");
  root->Attributes.Add("name", "1");
  root->Attributes.Add("NAME", "2");
  TKELXMLNode* child = root->Add("\xC3\xA4" "b");  // äb
  EXPECT_EQ(root->Attributes.GetValue("Name"), "1");
  EXPECT_EQ(root->FindNode("\xC3\x84" "B"), nullptr);  // Äb: only ASCII letters fold
  EXPECT_EQ(root->FindNode("\xC3\xA4" "B"), child);
  std::string value = "x";
  EXPECT_FALSE(root->Attributes.GetValue("missing", value));
  EXPECT_EQ(value, "");
  EXPECT_EQ(root->Attributes.GetValue("missing"), "");
  EXPECT_EQ(root->Attributes.ItemByIndex(2), nullptr);
  EXPECT_EQ(root->Nodes(-1), nullptr);
  EXPECT_EQ(root->Nodes(root->Count()), nullptr);
  EXPECT_EQ(child->Count(), 0);
}

TEST(XMLDocument, FindNodeByPath) {
  TKELXMLDocument document;
  TKELXMLNode* root = document.Add("root");
  root->Add("Setup");
  TKELXMLNode* found = root;
  EXPECT_FALSE(root->FindNode({"setup", "license"}, found, false));
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(Dump(document), "(root(Setup))");
  EXPECT_TRUE(root->FindNode({"setup", "license", "file"}, found, true));
  EXPECT_EQ(found->NodeName, "file");
  EXPECT_EQ(Dump(document), "(root(Setup(license(file))))");
  EXPECT_TRUE(root->FindNode({"SETUP", "License"}, found, false));
  EXPECT_EQ(found->NodeName, "license");
}

TEST(XMLDocument, ParentMovesAndOwnership) {
  TKELXMLDocument document;
  TKELXMLNode* root = document.Add("r");
  TKELXMLNode* a = root->Add("a");
  TKELXMLNode* b = a->Add("b");
  TKELXMLNode* c = root->Add("c");
  b->Add("d");
  a->SetParent(b->Nodes(0));  // below itself: refused
  a->SetParent(a);
  a->SetParent(root);  // already its parent
  EXPECT_EQ(Dump(document), "(r(a(b(d)) c))");
  EXPECT_TRUE(root->IsChild(b->Nodes(0)));
  EXPECT_FALSE(b->IsChild(root));
  b->SetParent(c);
  EXPECT_EQ(Dump(document), "(r(a c(b(d))))");
  EXPECT_EQ(b->Parent(), c);
  c->SetParent(nullptr);  // detached: now ours
  EXPECT_EQ(Dump(document), "(r(a))");
  EXPECT_EQ(c->Parent(), nullptr);
  c->SetParent(a);  // owned by the tree again
  EXPECT_EQ(Dump(document), "(r(a(c(b(d)))))");
  delete b;  // detaches itself first
  EXPECT_EQ(Dump(document), "(r(a(c)))");
  root->Clear();
  EXPECT_EQ(Dump(document), "(r)");
}

TEST(XMLDocument, OnlyOneRoot) {
  TKELXMLDocument document;
  document.Add("a");
  try {
    document.Add("b");
    FAIL();
  } catch (const EKELXMLDocument& e) {
    EXPECT_EQ(e.Message(), "Only one Root available");
  }
  TKELXMLDocument several;
  several.AllowMultipleRoots = true;
  several.Add("a");
  several.Add("b");
  EXPECT_THROW(document.Assign(several), EKELXMLDocument);
}

TEST(XMLDocument, EqualsAndAssign) {
  TKELXMLDocument one, two;
  TKELXMLNode* r = one.Add("r");
  r->NodeValue = "v";
  r->Attributes.Add("x", "1");
  r->Attributes.Add("y", "2");
  r->Add("c")->Add("d");
  two.Assign(one);
  EXPECT_EQ(Dump(two), Dump(one));
  EXPECT_TRUE(two.Equals(one));
  // Attribute order is not compared; names match ignoring ASCII case.
  two.Nodes(0)->Attributes.Clear();
  two.Nodes(0)->Attributes.Add("Y", "2");
  two.Nodes(0)->Attributes.Add("X", "1");
  EXPECT_TRUE(two.Equals(one));
  two.Nodes(0)->Attributes.ItemByIndex(0)->Value = "3";
  EXPECT_FALSE(two.Equals(one));
  two.Assign(one);
  two.Nodes(0)->Nodes(0)->NodeName = "C";  // names compare case-sensitively
  EXPECT_FALSE(two.Equals(one));
  TKELXMLAttributes repeated, copied;  // repeated names still equal their copy
  repeated.Add("a", "1");
  repeated.Add("A", "2");
  copied.Assign(repeated);
  EXPECT_TRUE(copied.Equals(repeated));
  TKELXMLNode plain;
  plain.Assign(one);
  EXPECT_FALSE(plain.Equals(one));  // another class
  // Copying from itself, from below or from above keeps the source intact.
  r->Assign(*r);
  EXPECT_EQ(Dump(one), "(r{x=1,y=2}\"v\"(c(d)))");
  r->Assign(*r->Nodes(0));
  EXPECT_EQ(Dump(one), "(c(d))");
  TKELXMLNode* d = one.Nodes(0)->Nodes(0);
  d->Assign(*one.Nodes(0));
  EXPECT_EQ(Dump(one), "(c(c(d)))");
}

TEST(XMLDocument, LoadText) {
  struct Case {
    std::string text;
    std::string tree;
  } cases[] = {
      {"<?xml version='1.0'?><!DOCTYPE s><!--c--><s a='1' b=' x\ny '><f n='&lt;'>v</f><?p?></s>",
       "(s{a=1,b=x y}(f{n=<}\"v\"))"},
      {"<a>   </a>", "(a)"},
      {"<a>x<!--c-->y</a>", "(a\"y\")"},
      {"<a>x<b/>y</a>", "(a\"y\"(b))"},
      {"<a>  x  </a>", "(a\"x\")"},
      {"<a><![CDATA[ <c> ]]></a>", "(a\"<c>\")"},
      {"<x:y xmlns:x='' xml:space='preserve'> v </x:y>", "(x:y{xmlns:x=,xml:space=preserve}\"v\")"},
      {"<root/><second/>", "(root)"},                         // the second root is dropped silently
      {"<a><b><c/></b><d>t</b></a>", "(a(b(c) d\"t\"))"},  // a partial tree, no error
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Load(c.text), c.tree) << c.text;
  EXPECT_EQ(Load(std::string("\xFF\xFE<\0a\0/\0>\0", 10)), "(a)");
  EXPECT_EQ(Load("<a/><b>t</b>", true), "(a b\"t\")");
  // Only the errors of the reader's start leave.
  EXPECT_THROW(Load(std::string("\0\0\0<", 4)), EKELXMLException);
  EXPECT_THROW(Load("\xEF\xBB\xBF\xFF<a/>"), EKELXMLException);
  // A default encoding.
  TKELMemoryStream stream("<a>\xE9</a>");
  TKELXMLDocument document;
  const TKELEncoding latin = TKELEncoding::Windows1252();
  document.LoadFromStream(stream, &latin);
  EXPECT_EQ(Dump(document), "(a\"\xC3\xA9\")");
  // Loading replaces the children, not the document's own attributes.
  document.Attributes.Add("own", "1");
  TKELMemoryStream again("<b/>");
  document.LoadFromStream(again);
  EXPECT_EQ(Dump(document), "{own=1}(b)");
  // The constructor on a stream.
  TKELMemoryStream script("<setup/>");
  EXPECT_EQ(Dump(TKELXMLDocument(script)), "(setup)");
}

TEST(XMLDocument, SaveText) {
  TKELXMLDocument document;
  TKELXMLNode* r = document.Add("r");
  r->Attributes.Add("a", "1\"<");
  r->NodeValue = "x&y";
  r->Add("c")->Attributes.Add("b", "2");
  r->Add("d")->NodeValue = "t";
  EXPECT_EQ(Save(document, kelXMLFormatText),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r a=\"1&quot;&lt;\">x&amp;y<c b=\"2\"/><d>t</d></r>");
  EXPECT_EQ(Save(document, kelXMLFormatText, true, true),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r\r\n\t a=\"1&quot;&lt;\">x&amp;y\r\n\t<c\r\n\t\t b=\"2\"/>"
            "\r\n\t<d>t</d>\r\n</r>");
  // Several top-level nodes cannot be written as text.
  TKELXMLDocument several;
  several.AllowMultipleRoots = true;
  several.Add("a");
  several.Add("b");
  EXPECT_THROW(Save(several, kelXMLFormatText), EKELXMLException);
  EXPECT_THROW(Save(document, 2), EKELXMLDocument);
  // An invalid character in a value.
  r->NodeValue = "\x01";
  EXPECT_THROW(Save(document, kelXMLFormatText), EKELXMLArgumentException);
}

// --- Binary forms --------------------------------------------------------------------------

TEST(XMLDocument, BinaryLayout) {
  TKELXMLDocument document;
  TKELXMLNode* r = document.Add("r");
  r->Attributes.Add("n", "\xC3\xA9");
  r->Add("n")->NodeValue = "v";
  r->Add("r");
  const std::string bytes = Save(document, kelXMLFormatBinary);
  const std::string tree =
      std::string("\x01"                  // one top-level node
                  "\x00\x03"              // name 0 (r), attributes and children
                  "\x01\x01\x01\xE9\x00"  // one attribute: name 1 (n), value "é"
                  "\x02"                  // two children
                  "\x01\x04\x01v\x00"     // n, value "v"
                  "\x00\x00",             // r, nothing
                  16);
  const std::string names("\x02\x01r\x01n", 5);  // each name once
  EXPECT_EQ(bytes, "SXML" + std::string("\x10\0\0\0\0\0\0\0", 8) + tree + names);
  TKELMemoryStream stream(bytes + "tail");
  TKELXMLDocument loaded;
  loaded.LoadFromStream(stream);
  EXPECT_TRUE(loaded.Equals(document));
  EXPECT_EQ(stream.GetPosition(), 12 + 16);  // left at the end of the tree block
}

TEST(XMLDocument, BinaryErrors) {
  TKELXMLDocument document;
  document.Add("r")->Add("c")->NodeValue = "value";
  const std::string bytes = Save(document, kelXMLFormatBinary);
  // A value longer than the stream: the stream's read error, with the nodes
  // read so far.
  std::string cut = bytes;
  ASSERT_EQ(cut[18], '\x05');  // the length of "value"
  cut[18] = '\x7F';
  TKELMemoryStream truncated(cut);
  TKELXMLDocument partial;
  EXPECT_THROW(partial.LoadFromStream(truncated), EReadError);
  EXPECT_EQ(Dump(partial), "(r(c))");
  struct Case {
    std::string bytes;
    const char* message;
  } cases[] = {
      {"SXML" + std::string("\x7F\0\0\0\0\0\0\0", 8), "Stream read error"},               // tree beyond the end
      {"SXML" + std::string("\x02\0\0\0\0\0\0\0\x01\x05\x01\x00", 12), "Invalid name index 5 in binary XML data"},
      {"SXML" + std::string("\x05\0\0\0\0\0\0\0\x01\x00\x04\xFF\xFF\x01\x01r", 16), "Stream read error"},  // huge
      {"SXML" + std::string("\x05\0\0\0\0\0\0\0\x02\x00\x00\x00\x00\x01\x01x", 16), "Only one Root available"},
  };
  for (const Case& c : cases) {
    TKELMemoryStream stream(c.bytes);
    TKELXMLDocument target;
    try {
      target.LoadFromStream(stream);
      ADD_FAILURE() << c.message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  // A text that happens to start with the magic is read as binary.
  EXPECT_THROW(Load("SXML<a/>"), EReadError);
}

// The legacy form, written byte by byte.
class TLegacyWriter {
 public:
  TLegacyWriter& I32(int32_t v) { return Raw(&v, 4); }
  TLegacyWriter& U16(uint16_t v) { return Raw(&v, 2); }
  TLegacyWriter& Byte(uint8_t v) { return Raw(&v, 1); }
  TLegacyWriter& Ansi(std::string_view s) {
    U16(static_cast<uint16_t>(s.size()));
    bytes += s;
    return *this;
  }
  TLegacyWriter& Wide(std::u16string_view s, bool shortForm) {
    shortForm ? U16(static_cast<uint16_t>(s.size())) : I32(static_cast<int32_t>(s.size()));
    for (char16_t c : s) U16(c);
    return *this;
  }
  std::string bytes = "BXML";

 private:
  TLegacyWriter& Raw(const void* p, size_t n) {
    bytes.append(static_cast<const char*>(p), n);  // little-endian host
    return *this;
  }
};

TEST(XMLDocument, LegacyBinaryFixture) {
  TLegacyWriter w;
  w.I32(1);                                  // one top-level node
  w.Ansi("setup").Byte(1 | 2);               // attributes and children
  w.I32(2).Ansi("name").Wide(u"ORVI", true).Ansi("\xE9t\xE9").Wide(u"\u00e9\U0001F600", true);
  w.I32(3);                                  // three children
  w.Ansi("license").Byte(4).Wide(u"Licence.rtf", false);
  w.Ansi("empty").Byte(2 | 4).I32(-1).I32(-5);  // a negative length and a negative count: nothing
  w.Ansi("File").Byte(1).I32(1).Ansi("lang-family").Wide(u"de", true);
  TKELMemoryStream stream(w.bytes);
  TKELXMLDocument document;
  document.LoadFromStream(stream);
  EXPECT_EQ(Dump(document),
            "(setup{name=ORVI,\xC3\xA9t\xC3\xA9=\xC3\xA9\xF0\x9F\x98\x80}(license\"Licence.rtf\" empty File{lang-family=de}))");
  EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(w.bytes.size()));
}

// --- Round trips over random trees ------------------------------------------------------------

class TRandomTree {
 public:
  explicit TRandomTree(uint32_t seed) : rng_(seed) {}

  // A valid name: ASCII and other letters, digits, '.', '-', '_' and ':'.
  std::string Name() {
    static const char* starts[] = {"a", "Z", "_", ":", "\xC3\xA9", "\xD0\x96", "\xE4\xB8\xAD"};
    static const char* rest[] = {"b", "7", ".", "-", "_", ":", "\xC2\xB7", "\xCC\x81", "\xD9\xA1", "x"};
    std::string name = starts[rng_() % std::size(starts)];
    for (size_t n = rng_() % 6; n > 0; --n) name += rest[rng_() % std::size(rest)];
    return name;
  }

  // Every class of character XML text may hold.
  std::string Value() {
    static const char* pieces[] = {"a", " ", "\t", "\n", "\r", "\r\n", "<", ">", "&", "\"", "'", "]]>", "&amp;",
                                   "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "\xED\x9F\xBF",
                                   "\xEE\x80\x80", "~"};
    std::string value;
    for (size_t n = rng_() % 12; n > 0; --n) value += pieces[rng_() % std::size(pieces)];
    return value;
  }

  void Fill(TKELXMLNode& node, int depth) {
    for (size_t n = rng_() % 4; n > 0; --n) node.Attributes.Add(Name() + std::to_string(n), Value());
    if (rng_() % 2) node.NodeValue = Value();
    if (depth < 5)
      for (size_t n = rng_() % 4; n > 0; --n) Fill(*node.Add(Name()), depth + 1);
  }

 private:
  std::mt19937 rng_;
};

// What the text form keeps: values are trimmed, line ends in text come back
// as LF; attribute values keep their line ends (written as references).
void NormaliseForText(TKELXMLNode& node) {
  for (size_t at; (at = node.NodeValue.find('\r')) != std::string::npos;)
    node.NodeValue.replace(at, node.NodeValue.compare(at, 2, "\r\n") == 0 ? 2 : 1, "\n");
  node.NodeValue = std::string(kelTrim(node.NodeValue));
  for (int i = 0; i < node.Attributes.Count(); ++i) {
    TKELXMLAttribute* a = node.Attributes.ItemByIndex(i);
    a->Value = std::string(kelTrim(a->Value));
  }
  for (int i = 0; i < node.Count(); ++i) NormaliseForText(*node.Nodes(i));
}

TEST(XMLDocument, RandomTreesRoundTrip) {
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    TKELXMLDocument document;
    TRandomTree(seed).Fill(*document.Add("root"), 0);

    TKELMemoryStream binary(Save(document, kelXMLFormatBinary));
    TKELXMLDocument fromBinary;
    fromBinary.LoadFromStream(binary);
    ASSERT_TRUE(fromBinary.Equals(document)) << seed << "\n" << Dump(document) << "\n" << Dump(fromBinary);

    TKELXMLDocument expected;
    expected.Assign(document);
    NormaliseForText(expected);
    for (bool indent : {false, true}) {
      const std::string text = Save(document, kelXMLFormatText, indent, indent);
      TKELXMLDocument fromText;
      TKELMemoryStream stream(text);
      fromText.LoadFromStream(stream);
      ASSERT_TRUE(fromText.Equals(expected)) << seed << "\n" << text << "\n" << Dump(expected) << "\n" << Dump(fromText);
    }
  }
}

// Deep trees load, compare, copy, save and free without recursion.
TEST(XMLDocument, DeepTree) {
  const int depth = 100000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  TKELMemoryStream stream(text);
  TKELXMLDocument document(stream);
  const TKELXMLNode* node = &document;
  int levels = 0;
  while (node->Count() == 1) {
    node = node->Nodes(0);
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  TKELXMLDocument copy;
  copy.Assign(document);
  EXPECT_TRUE(copy.Equals(document));
  for (uint8_t format : {kelXMLFormatBinary, kelXMLFormatText}) {
    TKELMemoryStream saved(Save(document, format));
    TKELXMLDocument loaded(saved);
    EXPECT_TRUE(loaded.Equals(document)) << int(format);
  }
}

TEST(XMLDocument, Fuzz) {
  TKELXMLDocument sample;
  TRandomTree(7).Fill(*sample.Add("root"), 0);
  TLegacyWriter legacy;
  legacy.I32(1).Ansi("a").Byte(7).Wide(u"v", false).I32(1).Ansi("n").Wide(u"x", true).I32(1).Ansi("b").Byte(0);
  orvi::test::FuzzOptions options;
  options.seeds = {Save(sample, kelXMLFormatBinary), Save(sample, kelXMLFormatText), legacy.bytes,
                   "<s><license lang-family='de'>L.rtf</license><product><Components><File name='a'/></Components>"
                   "</product></s>"};
  options.dictionary = {"SXML", "BXML", std::string("\xFF\xFF\xFF\xFF", 4), std::string("\0", 1), "\x80", "<a>", "</a>"};
  orvi::test::RunFuzzTarget(
      "xml_document",
      [](std::string_view input) {
        TKELMemoryStream stream(input);
        TKELXMLDocument document;
        try {
          document.LoadFromStream(stream);
        } catch (const Exception&) {
        }
        TKELXMLDocument copy;
        copy.AllowMultipleRoots = true;
        copy.Assign(document);
        if (!copy.Equals(document)) throw std::logic_error("copy differs");
      },
      options);
}

}  // namespace
}  // namespace kel
