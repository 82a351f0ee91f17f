// A forward-only, pull-style reader of XML 1.0 text.
//
// Each `Read` moves to the next node and exposes it as the current node
// (kind, names, value, depth, position); the attributes of an element are
// visited with `MoveToNextAttribute`. The reader decodes the byte stream
// itself (byte-order detection, the declaration's encoding), checks
// well-formedness, and raises the first error as `EKELXMLException` with a
// message and, where the error has a place, its line and position. After an
// error the reader is finished: `Read` returns false.
//
// There is no document type support: a document type declaration is
// skipped, only the five predefined entities and character references are
// expanded, and other entity references stay in the text as written.
//
// Text is decoded into a UTF-16 buffer; lines and positions count UTF-16
// code units (from 1). Names and values are handed out as UTF-8. A node
// starts at its name (elements, end tags, attributes, processing
// instructions), at its content (comments, CDATA sections, the declaration's
// pseudo-attributes) or at its first character (text).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kel/base/stream.h"
#include "kel/base/text.h"
#include "kel/base/xml_types.h"

namespace kel {

enum class TKELConformanceLevel : uint8_t { Auto = 0, Fragment = 1, Document = 2 };

struct TKELXMLReaderSettings {
  // Characters and character references outside the XML character range
  // are errors.
  bool CheckCharacters = true;
  // Document: one root element, no text at the top level. Fragment: any
  // number of elements and text at the top level. Auto: decided by the input.
  TKELConformanceLevel ConformanceLevel = TKELConformanceLevel::Document;
  // Used instead of byte-order detection when set; the declaration may still
  // name another encoding.
  std::optional<TKELEncoding> DefaultEncoding;
  bool IgnoreComments = false;
  bool IgnoreProcessingInstructions = false;
  // Whitespace-only text outside an xml:space="preserve" scope is skipped.
  bool IgnoreWhitespace = false;
  int32_t LineNumberOffset = 0;
  int32_t LinePositionOffset = 0;  // added on the first line only
  // Limit on decoded characters (UTF-16 code units); 0 means none.
  int64_t MaxCharactersInDocument = 0;
  // Shared name table; when null the reader owns one.
  TKELXMLNameTable* NameTable = nullptr;
  // Names are split at the colon and prefixes resolved; xmlns, xml:space and
  // xml:lang are interpreted. Off: a:b is one name and those are ordinary
  // attributes.
  bool SupportNamespaces = true;
};

// The abstract pull reader.
class TKELXMLReader {
 public:
  virtual ~TKELXMLReader() = default;

  // Moves to the next node; false at the end of input (and after an error).
  virtual bool Read() = 0;
  virtual TKELXMLNodeType NodeType() const = 0;
  virtual const std::string& LocalName() const = 0;
  virtual const std::string& Prefix() const = 0;
  virtual const std::string& NamespaceURI() const = 0;
  // The qualified name: prefix, ':' and local name, or the local name.
  virtual const std::string& Name() const = 0;
  // The current node's value; unless xml:space="preserve" is in force,
  // leading and trailing characters up to U+0020 are removed. The reference
  // stays valid until the reader moves.
  virtual const std::string& Value() = 0;
  virtual int Depth() const = 0;
  virtual bool IsEmptyElement() const = 0;
  virtual int LineNumber() const = 0;
  virtual int LinePosition() const = 0;

  virtual int AttributeCount() const = 0;
  // On an element or one of its attributes: the next attribute becomes the
  // current node; false after the last.
  virtual bool MoveToNextAttribute() = 0;
  // The attribute at that index becomes the current node; false when out of
  // range.
  virtual bool MoveToAttribute(int index) = 0;
  // From an attribute back to its element; false when not on an attribute.
  virtual bool MoveToElement() = 0;
  // A name with a colon is matched against qualified names, otherwise against
  // local names in no namespace.
  virtual bool GetAttribute(std::string_view name, std::string& value) = 0;
  // Empty when there is no such attribute.
  virtual std::string GetAttribute(std::string_view localName, std::string_view namespaceURI) = 0;
  // Empty when the prefix is unknown or namespace support is off.
  virtual std::string LookupNamespace(std::string_view prefix) = 0;
  // On an element that is not empty: reads past its end element. Otherwise
  // the same as `Read`.
  virtual void Skip() = 0;
};

// The namespace declarations in scope: a stack of (prefix, URI, scope)
// pre-loaded with "" -> "", xmlns and xml. Prefixes and URIs are entries of
// the reader's name table and compare by address.
class TKELXMLNamespaceManager {
 public:
  using TName = TKELXMLNameTable::TName;

  explicit TKELXMLNamespaceManager(TKELXMLNameTable& names);

  void PushScope() { ++scope_; }
  // Drops the declarations of the innermost scope.
  void PopScope();
  // Raises EKELXMLException (without position) for the declarations the
  // reserved prefixes forbid.
  void AddNamespace(const TName* prefix, const TName* uri);
  // The URI bound to the prefix, or nullptr when it is not declared.
  const TName* LookupNamespace(const TName* prefix) const;

 private:
  struct TDeclaration {
    const TName* prefix;
    const TName* uri;
    int scope;
    int previous;  // index of the previous declaration of this prefix, or -1
  };

  TKELXMLNameTable& names_;
  const TName* xml_;
  const TName* xmlns_;
  const TName* xmlUri_;
  std::vector<TDeclaration> declarations_;
  int scope_ = 0;
  // Newest declaration per prefix, kept once more than 15 are live.
  std::unordered_map<const TName*, int> index_;
  bool indexed_ = false;
};

class TKELXMLTextReader final : public TKELXMLReader {
 public:
  // Reads the first bytes at once to detect the encoding and decodes the
  // first block: a null stream raises EKELXMLArgumentNullException "input",
  // UCS-4 input "Not implemented", EBCDIC input "UnknownEncoding: ebcdic",
  // undecodable first bytes "Invalid character in the given encoding.".
  explicit TKELXMLTextReader(TKELStream* stream, const TKELXMLReaderSettings& settings = {});
  ~TKELXMLTextReader() override;
  TKELXMLTextReader(const TKELXMLTextReader&) = delete;
  TKELXMLTextReader& operator=(const TKELXMLTextReader&) = delete;

  bool Read() override;
  TKELXMLNodeType NodeType() const override { return Current().type; }
  const std::string& LocalName() const override { return Current().localName->Utf8; }
  const std::string& Prefix() const override { return Current().prefix->Utf8; }
  const std::string& NamespaceURI() const override { return Current().ns->Utf8; }
  const std::string& Name() const override { return Current().qualifiedName->Utf8; }
  const std::string& Value() override;
  int Depth() const override { return Current().depth; }
  bool IsEmptyElement() const override { return curAttribute_ < 0 && node_.isEmptyElement; }
  int LineNumber() const override;
  int LinePosition() const override;

  int AttributeCount() const override { return node_.type == TKELXMLNodeType::Element ? attributeCount_ : 0; }
  bool MoveToNextAttribute() override;
  bool MoveToAttribute(int index) override;
  bool MoveToElement() override;
  bool GetAttribute(std::string_view name, std::string& value) override;
  std::string GetAttribute(std::string_view localName, std::string_view namespaceURI) override;
  std::string LookupNamespace(std::string_view prefix) override;
  void Skip() override;

  // The quotation mark of the current attribute's value (0 elsewhere).
  char16_t QuoteChar() const { return curAttribute_ >= 0 ? attributes_[curAttribute_].quote : u'\0'; }
  // The standalone pseudo-attribute of the declaration was "yes".
  bool Standalone() const { return standalone_; }
  // xml:space in force: 0 none, 1 default, 2 preserve; and xml:lang.
  int XmlSpace() const { return contexts_.back().space; }
  const std::string& XmlLang() const { return contexts_.back().lang; }
  TKELXMLNameTable& NameTable() { return *names_; }

 private:
  using TName = TKELXMLNameTable::TName;

  // The current node, and each attribute of the current start tag. Values
  // are slices of the character buffer, turned into UTF-8 on request.
  struct TKELXMLNodeData {
    TKELXMLNodeType type = TKELXMLNodeType::None;
    const TName* localName = nullptr;
    const TName* prefix = nullptr;
    const TName* ns = nullptr;
    const TName* qualifiedName = nullptr;
    size_t valueStart = 0;
    size_t valueLength = 0;
    bool valueReady = false;
    bool isEmptyElement = false;
    char16_t quote = 0;
    int depth = 0;
    int line = 0;
    int position = 0;
    std::string value;  // UTF-8, valid when valueReady
  };
  struct TElement {
    const TName* qualifiedName;
    const TName* prefix;
    const TName* localName;
    const TName* ns;
    int line;
    int position;
    bool namespaceScope;  // declared namespaces
    bool context;         // pushed an xml:space / xml:lang context
  };
  struct TXmlContext {
    int space = 0;  // 0 none, 1 default, 2 preserve
    std::string lang;
  };
  enum class TState : uint8_t { Init, Content, EndOfInput, Error };
  enum class TDecoder : uint8_t { Ascii, Utf8, Utf16LE, Utf16BE, CodePage };
  enum class TSection : uint8_t { Comment, CData, PI };
  struct TIcuConverter;

  const TKELXMLNodeData& Current() const { return curAttribute_ >= 0 ? attributes_[curAttribute_] : node_; }

  // Input and decoding.
  void DetectEncoding();
  void SetDecoder(const TKELEncoding& encoding);
  size_t ReadData();
  void ReadBytes();
  size_t Decode(char16_t* out, size_t room);
  size_t EncodedLength(size_t from, size_t to) const;
  void SwitchEncoding(size_t at, const std::optional<TKELEncoding>& encoding);
  void ApplyDeclaredEncoding(size_t at, const std::u16string* name);
  bool IsEnd(size_t at);
  int Peek(size_t at);
  bool MatchAt(size_t at, std::u16string_view text);
  void Compact();
  void CopyOtherCharacter(size_t& p, size_t& out);

  // Errors.
  [[noreturn]] void Throw(const std::string& message, size_t at);
  [[noreturn]] void ThrowAt(const std::string& message, int line, int position);
  [[noreturn]] void ThrowBare(const std::string& message);
  [[noreturn]] void ThrowUnexpectedToken(size_t at, std::string_view expected1, std::string_view expected2 = {});
  [[noreturn]] void ThrowExpectingWhitespace(size_t at);
  [[noreturn]] void ThrowInvalidChar(size_t at, bool inAttribute);
  [[noreturn]] void ThrowInvalidCode(uint32_t code, size_t at);
  [[noreturn]] void ThrowNameChar(size_t at, bool start);
  [[noreturn]] void ThrowEofIn(std::string_view what, int line, int position);
  std::string TokenAt(size_t at);
  int PositionOf(size_t at) const { return static_cast<int>(static_cast<ptrdiff_t>(at) - lineStart_ + 1); }
  void SetPosition(TKELXMLNodeData& node, size_t at) const {
    node.line = lineNo_;
    node.position = PositionOf(at);
  }

  // Parsing.
  bool ReadFirst();
  bool ParseContent();
  bool EndOfInput(size_t at);
  bool ParseXmlDeclaration();
  void ParseStartTag(size_t at);
  void ParseEndTag(size_t at);
  size_t ParseAttributes(size_t at);
  size_t ParseAttributeValue(size_t at, TKELXMLNodeData& attribute);
  void EndStartTag(size_t next, bool empty);
  bool ParseText(size_t at, bool topLevel);
  bool ParseSection(size_t at, TSection kind, TKELXMLNodeData& node);
  bool ParsePI(size_t at);
  void SkipDoctype(size_t at);
  size_t SkipLiteral(size_t at, int line, int position);
  size_t ParseName(size_t at, const TName*& qualified, const TName*& prefix, const TName*& local, bool noColon);
  size_t ParseReference(size_t at, size_t& out);
  size_t SkipWhitespace(size_t at);
  size_t NewLine(size_t at);
  void ResolveNamespaces();
  void CheckDuplicates(bool byNamespace);
  void PopElement();
  TKELXMLNodeData& NewAttribute();
  void ResetNode();
  void MakeValue(TKELXMLNodeData& node);

  // Settings and shared state.
  TKELXMLReaderSettings settings_;
  TKELStream* stream_;
  std::unique_ptr<TKELXMLNameTable> ownNames_;
  TKELXMLNameTable* names_;
  std::unique_ptr<TKELXMLNamespaceManager> namespaces_;

  // Bytes.
  std::vector<uint8_t> bytes_;
  size_t bytePos_ = 0;
  size_t bytesUsed_ = 0;
  bool streamEnded_ = false;
  TDecoder decoder_ = TDecoder::Ascii;
  std::optional<TKELEncoding> encoding_;  // nothing while decoding is ASCII
  std::unique_ptr<TIcuConverter> icu_;
  bool decodeError_ = false;
  bool prolog_ = true;  // the encoding may still change: decode in small steps

  // Characters: chars_[charsUsed_] is always 0.
  std::vector<char16_t> chars_;
  size_t charsUsed_ = 0;
  size_t pos_ = 0;
  bool endOfInput_ = false;
  int64_t charsDecoded_ = 0;
  int lineNo_ = 1;
  ptrdiff_t lineStart_ = 0;  // buffer index of the current line's first character

  // Parser state.
  TState state_ = TState::Init;
  TKELConformanceLevel level_;
  bool rootSeen_ = false;
  bool doctypeSeen_ = false;
  bool standalone_ = false;
  bool popPending_ = false;

  TKELXMLNodeData node_;
  std::vector<TKELXMLNodeData> attributes_;
  int attributeCount_ = 0;
  int curAttribute_ = -1;
  std::vector<TElement> elements_;
  std::vector<TXmlContext> contexts_;

  // Interned names the parser compares with.
  const TName* empty_;
  const TName* xml_;
  const TName* xmlns_;
  const TName* space_;
  const TName* lang_;
  const TName* xmlUri_;
  const TName* xmlnsUri_;
};

}  // namespace kel
