// Loading and saving the XML document: XML text through the text reader and
// the raw writer, and the two binary forms.
//
// Binary form "SXML" (integers little-endian; varuint = unsigned LEB128):
//   magic "SXML" | int64 S | tree block (S bytes) | name table
//   tree block:  node list = varuint N, N node records
//   node record: varuint name index, flags byte (1 attributes, 2 children,
//                4 value), [value string], [varuint A, A x (varuint name
//                index, value string)], [node list]
//   string:      varuint L, L UTF-16LE code units
//   name table:  varuint K, K x (varuint byte length, name in the ANSI code page,
//                which on Linux is the locale's charset; see TKELBinaryXMLBuilder)
// Name indices follow the first use in a pre-order walk (a node's name, its
// attribute names, then its children).
//
// Legacy form "BXML" (read only): magic, then a node list of int32 N and
// records of (uint16-length ANSI name, flags, [int32-length UTF-16 value],
// [int32 A, A x (uint16-length ANSI name, uint16-length UTF-16 value)],
// [node list]).
#include <cstring>
#include <unordered_map>

#include "kel/base/format.h"
#include "kel/base/xml_document.h"
#include "kel/base/xml_reader.h"
#include "kel/base/xml_writer.h"

namespace kel {

namespace {

// --- Reading bytes -----------------------------------------------------------------------

// Buffered little-endian reading with a position of its own; reads beyond the
// end raise the stream's read error before anything is allocated for them.
class TByteReader {
 public:
  explicit TByteReader(TKELStream& stream)
      : stream_(stream), position_(stream.GetPosition()), size_(stream.GetSize()) {}

  int64_t Position() const { return position_; }
  int64_t Left() const { return size_ - position_; }

  void Seek(int64_t position) {
    stream_.SetPosition(position);
    position_ = position;
    buffer_.clear();
    at_ = 0;
  }

  // Puts the stream at the position read up to.
  void Leave() { stream_.SetPosition(position_); }

  void Bytes(void* out, size_t count) {
    auto* target = static_cast<uint8_t*>(out);
    while (count > 0) {
      if (at_ == buffer_.size()) Fill();
      const size_t n = std::min(count, buffer_.size() - at_);
      std::memcpy(target, buffer_.data() + at_, n);
      at_ += n;
      target += n;
      count -= n;
      position_ += static_cast<int64_t>(n);
    }
  }

  uint8_t Byte() {
    if (at_ == buffer_.size()) Fill();
    ++position_;
    return buffer_[at_++];
  }

  template <typename Int>
  Int Integer() {
    uint8_t bytes[sizeof(Int)];
    Bytes(bytes, sizeof bytes);
    uint64_t value = 0;
    for (size_t i = sizeof bytes; i-- > 0;) value = (value << 8) | bytes[i];
    return static_cast<Int>(value);
  }

  // Unsigned LEB128; groups beyond 32 bits are read and dropped.
  uint32_t VarUInt() {
    uint32_t value = 0;
    for (int shift = 0;; shift += 7) {
      const uint8_t b = Byte();
      if (shift < 32) value |= static_cast<uint32_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return value;
    }
  }

  // `count` bytes, refused before allocating when the stream is shorter.
  std::string Block(uint64_t count) {
    if (count > static_cast<uint64_t>(std::max<int64_t>(Left(), 0))) throw EReadError("Stream read error");
    std::string bytes(static_cast<size_t>(count), '\0');
    Bytes(bytes.data(), bytes.size());
    return bytes;
  }

  std::string Utf16(uint64_t units) {
    const std::string bytes = Block(units * 2);
    std::u16string text(static_cast<size_t>(units), u'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return kelUtf16ToUtf8(text);
  }

  std::string Ansi(uint64_t length) {
    std::string text;
    TKELEncoding::Ansi().Decode(Block(length), text);
    return text;
  }

 private:
  void Fill() {
    buffer_.resize(65536);
    const size_t n = stream_.Read(buffer_.data(), buffer_.size());
    buffer_.resize(n);
    at_ = 0;
    if (n == 0) throw EReadError("Stream read error");
  }

  TKELStream& stream_;
  int64_t position_;
  int64_t size_;
  std::vector<uint8_t> buffer_;
  size_t at_ = 0;
};

enum : uint8_t { kHasAttributes = 1, kHasChildren = 2, kHasValue = 4 };

// Node lists are read with an explicit stack: any depth is safe.
struct TListFrame {
  TKELXMLNode* parent;
  int64_t left;
};

void ReadBinary(TKELXMLDocument& document, TKELStream& stream) {
  TByteReader in(stream);
  const int64_t treeSize = in.Integer<int64_t>();
  const int64_t treeStart = in.Position();
  if (treeSize < 0 || treeSize > in.Left()) throw EReadError("Stream read error");
  in.Seek(treeStart + treeSize);
  std::vector<std::string> names;
  for (uint32_t count = in.VarUInt(); count > 0; --count) names.push_back(in.Ansi(in.VarUInt()));
  in.Seek(treeStart);
  auto name = [&](uint32_t index) -> const std::string& {
    if (index >= names.size())
      throw EKELXMLDocument(kelFormat("Invalid name index %u in binary XML data", {index}));
    return names[index];
  };
  std::vector<TListFrame> stack{{&document, in.VarUInt()}};
  while (!stack.empty()) {
    if (stack.back().left == 0) {
      stack.pop_back();
      continue;
    }
    --stack.back().left;
    TKELXMLNode* node = stack.back().parent->Add(name(in.VarUInt()));
    const uint8_t flags = in.Byte();
    if (flags & kHasValue) node->NodeValue = in.Utf16(in.VarUInt());
    if (flags & kHasAttributes) {
      const uint32_t attributes = in.VarUInt();
      if (attributes <= 1024) node->Attributes.Reserve(static_cast<int>(attributes));
      for (uint32_t count = attributes; count > 0; --count) {
        const std::string& attributeName = name(in.VarUInt());
        node->Attributes.Add(attributeName, in.Utf16(in.VarUInt()));
      }
    }
    if (flags & kHasChildren) {
      const uint32_t count = in.VarUInt();
      if (count > 0) stack.push_back({node, count});
    }
  }
  in.Leave();
}

void ReadLegacyBinary(TKELXMLDocument& document, TKELStream& stream) {
  TByteReader in(stream);
  std::vector<TListFrame> stack{{&document, in.Integer<int32_t>()}};
  while (!stack.empty()) {
    if (stack.back().left <= 0) {
      stack.pop_back();
      continue;
    }
    --stack.back().left;
    std::string nodeName = in.Ansi(in.Integer<uint16_t>());
    TKELXMLNode* node = stack.back().parent->Add(nodeName);
    const uint8_t flags = in.Byte();
    if (flags & kHasValue) {
      const int32_t length = in.Integer<int32_t>();
      if (length > 0) node->NodeValue = in.Utf16(static_cast<uint64_t>(length));
    }
    if (flags & kHasAttributes) {
      for (int32_t count = in.Integer<int32_t>(); count > 0; --count) {
        std::string attributeName = in.Ansi(in.Integer<uint16_t>());
        node->Attributes.Add(attributeName, in.Utf16(in.Integer<uint16_t>()));
      }
    }
    if (flags & kHasChildren) stack.push_back({node, in.Integer<int32_t>()});
  }
  in.Leave();
}

// The loader of XML text keeps every node read before an error.
void ReadText(TKELXMLDocument& document, TKELStream& stream, const TKELEncoding* encoding) {
  TKELXMLReaderSettings settings;
  settings.CheckCharacters = true;
  settings.ConformanceLevel =
      document.AllowMultipleRoots ? TKELConformanceLevel::Fragment : TKELConformanceLevel::Document;
  settings.IgnoreComments = true;
  settings.IgnoreWhitespace = true;
  settings.IgnoreProcessingInstructions = false;
  settings.SupportNamespaces = false;
  if (encoding != nullptr) settings.DefaultEncoding = *encoding;
  TKELXMLTextReader reader(&stream, settings);  // errors of the start leave
  TKELXMLNode* current = &document;
  try {
    while (reader.Read()) {
      switch (reader.NodeType()) {
        case TKELXMLNodeType::Element: {
          const bool empty = reader.IsEmptyElement();
          TKELXMLNode* node = current->Add(reader.Name());
          const int count = reader.AttributeCount();
          if (count > 0) node->Attributes.Reserve(count);
          for (int i = 0; i < count; ++i) {
            reader.MoveToAttribute(i);
            node->Attributes.Add(reader.Name(), reader.Value());
          }
          if (!empty) current = node;
          break;
        }
        case TKELXMLNodeType::Text:
        case TKELXMLNodeType::CDATA:
        case TKELXMLNodeType::SignificantWhitespace:
          current->NodeValue = reader.Value();
          break;
        case TKELXMLNodeType::EndElement:
          if (current->Parent() != nullptr) current = current->Parent();
          break;
        default:
          break;
      }
    }
  } catch (const Exception&) {
    // A malformed text leaves the nodes read so far.
  }
}

// --- Writing -----------------------------------------------------------------------------

void PutVarUInt(std::string& out, uint32_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void PutUtf16(std::string& out, std::string_view text) {
  const std::u16string units = kelUtf8ToUtf16(text);
  PutVarUInt(out, static_cast<uint32_t>(units.size()));
  for (char16_t c : units) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
}

struct TWriteFrame {
  const TKELXMLNode* node;
  int next;
};

}  // namespace

void TKELXMLDocument::LoadFromStream(TKELStream& stream, const TKELEncoding* encoding) {
  Clear();
  char magic[4];
  const size_t n = stream.Read(magic, sizeof magic);
  if (n == 4 && std::memcmp(magic, "SXML", 4) == 0) {
    ReadBinary(*this, stream);
  } else if (n == 4 && std::memcmp(magic, "BXML", 4) == 0) {
    ReadLegacyBinary(*this, stream);
  } else {
    stream.Seek(-static_cast<int64_t>(n), SeekOrigin::Current);
    ReadText(*this, stream, encoding);
  }
}

void TKELXMLDocument::SaveToStream(TKELStream& stream, const TKELXMLDocumentFormatSettings& settings) {
  using TFactory = std::unique_ptr<TKELXMLBuilder> (*)(TKELStream&);
  static constexpr TFactory kBuilders[] = {
      [](TKELStream& s) -> std::unique_ptr<TKELXMLBuilder> { return std::make_unique<TKELBinaryXMLBuilder>(s); },
      [](TKELStream& s) -> std::unique_ptr<TKELXMLBuilder> { return std::make_unique<TKELTextXMLBuilder>(s); },
  };
  if (settings.Format >= std::size(kBuilders))
    throw EKELXMLDocument(kelFormat("Unknown XML document format %d", {static_cast<int>(settings.Format)}));
  kBuilders[settings.Format](stream)->Build(*this, settings);
}

void TKELBinaryXMLBuilder::Build(const TKELXMLDocument& document, const TKELXMLDocumentFormatSettings&) {
  std::unordered_map<std::string, uint32_t> indices;
  std::vector<const std::string*> names;
  auto index = [&](const std::string& name) {
    auto [it, added] = indices.try_emplace(name, static_cast<uint32_t>(names.size()));
    if (added) names.push_back(&it->first);
    return it->second;
  };
  std::string tree;
  PutVarUInt(tree, static_cast<uint32_t>(document.Count()));
  std::vector<TWriteFrame> stack{{&document, 0}};
  while (!stack.empty()) {
    TWriteFrame& frame = stack.back();
    if (frame.next == frame.node->Count()) {
      stack.pop_back();
      continue;
    }
    const TKELXMLNode* node = frame.node->Nodes(frame.next++);
    PutVarUInt(tree, index(node->NodeName));
    const int attributes = node->Attributes.Count();
    tree += static_cast<char>((attributes > 0 ? kHasAttributes : 0) | (node->Count() > 0 ? kHasChildren : 0) |
                              (!node->NodeValue.empty() ? kHasValue : 0));
    if (!node->NodeValue.empty()) PutUtf16(tree, node->NodeValue);
    if (attributes > 0) {
      PutVarUInt(tree, static_cast<uint32_t>(attributes));
      for (int i = 0; i < attributes; ++i) {
        const TKELXMLAttribute* attribute = node->Attributes.ItemByIndex(i);
        PutVarUInt(tree, index(attribute->Name));
        PutUtf16(tree, attribute->Value);
      }
    }
    if (node->Count() > 0) {
      PutVarUInt(tree, static_cast<uint32_t>(node->Count()));
      stack.push_back({node, 0});
    }
  }
  std::string head = "SXML";
  const uint64_t size = tree.size();
  for (int i = 0; i < 8; ++i) head += static_cast<char>((size >> (8 * i)) & 0xFF);
  std::string table;
  PutVarUInt(table, static_cast<uint32_t>(names.size()));
  const TKELEncoding ansi = TKELEncoding::Ansi();
  for (const std::string* name : names) {
    const std::string bytes = ansi.Encode(*name);
    PutVarUInt(table, static_cast<uint32_t>(bytes.size()));
    table += bytes;
  }
  stream_.WriteString(head);
  stream_.WriteString(tree);
  stream_.WriteString(table);
}

void TKELTextXMLBuilder::Build(const TKELXMLDocument& document, const TKELXMLDocumentFormatSettings& settings) {
  TKELXMLWriterSettings writerSettings;
  writerSettings.Indent = settings.Indent;
  writerSettings.NewLineOnAttributes = settings.NewLineOnAttributes;
  TKELXMLRawWriter writer(stream_, writerSettings);
  writer.WriteStartDocument();
  std::vector<TWriteFrame> stack{{&document, 0}};
  while (!stack.empty()) {
    TWriteFrame& frame = stack.back();
    if (frame.next == frame.node->Count()) {
      if (stack.size() > 1) writer.WriteEndElement();
      stack.pop_back();
      continue;
    }
    const TKELXMLNode* node = frame.node->Nodes(frame.next++);
    writer.WriteStartElement(node->NodeName);
    for (int i = 0; i < node->Attributes.Count(); ++i) {
      const TKELXMLAttribute* attribute = node->Attributes.ItemByIndex(i);
      writer.WriteAttributeString(attribute->Name, attribute->Value);
    }
    if (!node->NodeValue.empty()) writer.WriteString(node->NodeValue);
    stack.push_back({node, 0});
  }
  writer.Close();
}

}  // namespace kel
