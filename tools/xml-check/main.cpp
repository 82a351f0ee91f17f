// xml-check [--tree] FILE
//
// Reads an XML file with the reader settings the setup program uses for its
// setup script (document conformance, comments and plain whitespace skipped,
// no namespace processing) and prints "ok", or the first error with its line
// and position. With --tree it also prints the element tree the setup program
// would see; after an error that is the part read before the error.
//
// A file in one of the binary document forms ("SXML", "BXML") is loaded as a
// document instead.
//
// Exit status: 0 the file is well-formed, 1 it is not, 2 bad arguments or an
// unreadable file.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/stream.h"
#include "kel/base/xml_document.h"
#include "kel/base/xml_reader.h"

namespace {

using namespace kel;

// A value between double quotes, with control characters made visible.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// One line per element, two spaces per level: name, attributes, = "text".
void PrintTree(const TKELXMLNode& document) {
  struct TFrame {
    const TKELXMLNode* node;
    int next;
  };
  std::vector<TFrame> stack{{&document, 0}};
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    if (frame.next == frame.node->Count()) {
      stack.pop_back();
      continue;
    }
    const TKELXMLNode* node = frame.node->Nodes(frame.next++);
    std::string line(2 * (stack.size() - 1), ' ');
    line += node->NodeName;
    for (int i = 0; i < node->Attributes.Count(); ++i) {
      const TKELXMLAttribute* attribute = node->Attributes.ItemByIndex(i);
      line += " " + attribute->Name + "=" + Quoted(attribute->Value);
    }
    if (!node->NodeValue.empty()) line += " = " + Quoted(node->NodeValue);
    std::cout << line << "\n";
    stack.push_back({node, 0});
  }
}

// The reader's verdict on a text file: "" when it is well-formed.
std::string CheckText(TKELStream& stream) {
  TKELXMLReaderSettings settings;
  settings.ConformanceLevel = TKELConformanceLevel::Document;
  settings.IgnoreComments = true;
  settings.IgnoreWhitespace = true;
  settings.SupportNamespaces = false;
  try {
    TKELXMLTextReader reader(&stream, settings);
    while (reader.Read()) {
      while (reader.MoveToNextAttribute()) {
      }
    }
  } catch (const EKELXMLException& e) {
    return e.Message();
  }
  return {};
}

int Usage() {
  std::cerr << "usage: xml-check [--tree] FILE\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool tree = false;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--tree")
      tree = true;
    else if (arg == "--help" || arg == "-h")
      return Usage();
    else if (file.empty())
      file = arg;
    else
      return Usage();
  }
  if (file.empty()) return Usage();

  try {
    TKELBufferedFileStream stream(file, fmOpenRead | fmShareDenyNone);
    char magic[4] = {};
    const size_t n = stream.Read(magic, sizeof magic);
    const std::string_view head(magic, n);
    const bool binary = head == "SXML" || head == "BXML";
    std::string error;
    if (!binary) {
      stream.SetPosition(0);
      error = CheckText(stream);
    }
    TKELXMLDocument document;
    if (binary || tree) {
      stream.SetPosition(0);
      try {
        document.LoadFromStream(stream);
      } catch (const Exception& e) {
        if (error.empty()) error = e.Message();
      }
    }
    if (tree) PrintTree(document);
    if (!error.empty()) {
      std::cerr << file << ": " << error << "\n";
      return 1;
    }
    std::cout << "ok\n";
    return 0;
  } catch (const Exception& e) {
    std::cerr << "xml-check: " << e.Message() << "\n";
    return 2;
  }
}
