// Writing XML text to a byte stream.
//
// `TKELXMLRawWriter` buffers UTF-16 text, escapes content, applies the line
// break and indentation settings, enforces a small state machine and writes
// UTF-8 without a byte-order mark. `TKELXMLWellFormedWriter` sits in front
// of another writer and adds name, namespace and duplicate-attribute checks.
// `TKELXMLWriter::Create` builds the raw writer and, unless the settings say
// otherwise, the well-formed layer around it.
//
// Text arguments are UTF-8 (`std::string_view`), buffers of characters are
// UTF-16. Every write raises an exception on misuse: `EKELXMLException` for
// an operation the state or the names do not allow ("Invalid state (FState =
// %d, AToken = %d)"), `EKELXMLArgumentException` for characters that XML
// cannot hold, and the stream's own error when a flush fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/stream.h"
#include "kel/base/xml_types.h"

namespace kel {

enum class TKELNewLineHandling : uint8_t { Replace = 0, Entitize = 1, None = 2 };

enum class TKELXMLWriteState : uint8_t {
  Start = 0,
  Prolog = 1,
  Element = 2,
  Attribute = 3,
  Content = 4,
  Closed = 5,
  Error = 6,
};

enum class TKELXMLStandalone : uint8_t { Omit = 0, Yes = 1, No = 2 };

struct TKELXMLWriterSettings {
  // Characters outside the XML range are errors instead of being escaped or
  // copied.
  bool CheckCharacters = true;
  // `TKELXMLWriter::Create` adds the well-formed layer.
  bool CheckWellFormedness = true;
  // With CheckCharacters off: invalid characters in text and attribute
  // values are written "_xHHHH_" instead of "&#xHHHH;".
  bool UnderscoreEscapes = true;
  std::string IndentChars = "\t";
  std::string NewLineChars = "\r\n";
  TKELNewLineHandling NewLineHandling = TKELNewLineHandling::Replace;
  bool NewLineOnAttributes = false;
  bool Indent = false;
  // No declaration, and no line break before top-level elements.
  bool OmitXmlDeclaration = false;
};

// A high surrogate followed by something else than a low surrogate.
class EKELXMLInvalidSurrogatePairException : public EKELXMLArgumentException {
  using EKELXMLArgumentException::EKELXMLArgumentException;
};

class TKELXMLWriter {
 public:
  virtual ~TKELXMLWriter() = default;

  // A raw writer, wrapped in a well-formed writer when
  // `settings.CheckWellFormedness` is true. The stream is not owned.
  static std::unique_ptr<TKELXMLWriter> Create(TKELStream& stream, const TKELXMLWriterSettings& settings = {});

  virtual TKELXMLWriteState WriteState() const = 0;
  virtual void WriteStartDocument(TKELXMLStandalone standalone) = 0;
  virtual void WriteEndDocument() = 0;
  virtual void WriteStartElement(std::string_view prefix, std::string_view localName) = 0;
  virtual void WriteEndElement() = 0;
  virtual void WriteFullEndElement() = 0;
  virtual void WriteStartAttribute(std::string_view prefix, std::string_view localName) = 0;
  virtual void WriteEndAttribute() = 0;
  virtual void WriteCData(std::string_view text) = 0;
  virtual void WriteComment(std::string_view text) = 0;
  virtual void WriteEntityRef(std::string_view name) = 0;
  virtual void WriteCharEntity(char16_t c) = 0;
  virtual void WriteChars(const char16_t* chars, size_t count) = 0;
  virtual void WriteSurrogateCharEntity(char16_t low, char16_t high) = 0;
  // `count` characters of the buffer (of `length` characters) from `index`,
  // unescaped. A null buffer raises EKELXMLArgumentNullException "buffer",
  // a negative index or a count out of range
  // EKELXMLArgumentOutOfRangeException "index" or "count".
  virtual void WriteRaw(const char16_t* buffer, size_t length, ptrdiff_t index, ptrdiff_t count) = 0;
  virtual void WriteRaw(std::string_view text) = 0;
  virtual void Close() {}
  virtual void Flush() {}

  void WriteStartDocument() { WriteStartDocument(TKELXMLStandalone::Omit); }
  void WriteStartElement(std::string_view localName) { WriteStartElement({}, localName); }
  void WriteString(std::string_view text);
  void WriteAttributeString(std::string_view localName, std::string_view value);
};

class TKELXMLRawWriter final : public TKELXMLWriter {
 public:
  // Raises EKELXMLArgumentException when `NewLineChars` holds characters
  // that are not valid text content (with CheckCharacters and Replace).
  TKELXMLRawWriter(TKELStream& stream, const TKELXMLWriterSettings& settings = {});
  // Closes the writer; a failing flush can no longer be reported here: call
  // `Close` when the outcome matters.
  ~TKELXMLRawWriter() override;
  TKELXMLRawWriter(const TKELXMLRawWriter&) = delete;
  TKELXMLRawWriter& operator=(const TKELXMLRawWriter&) = delete;

  using TKELXMLWriter::WriteStartDocument;
  using TKELXMLWriter::WriteStartElement;
  using TKELXMLWriter::WriteRaw;

  TKELXMLWriteState WriteState() const override;
  void WriteStartDocument(TKELXMLStandalone standalone) override;
  void WriteEndDocument() override {}
  void WriteStartElement(std::string_view prefix, std::string_view localName) override;
  void WriteEndElement() override;
  void WriteFullEndElement() override;
  void WriteStartAttribute(std::string_view prefix, std::string_view localName) override;
  void WriteEndAttribute() override;
  void WriteCData(std::string_view text) override;
  void WriteComment(std::string_view text) override;
  void WriteEntityRef(std::string_view name) override;
  void WriteCharEntity(char16_t c) override;
  void WriteChars(const char16_t* chars, size_t count) override;
  void WriteSurrogateCharEntity(char16_t low, char16_t high) override;
  void WriteRaw(const char16_t* buffer, size_t length, ptrdiff_t index, ptrdiff_t count) override;
  void WriteRaw(std::string_view text) override;
  void Close() override;
  void Flush() override;

 private:
  enum TToken : int { kStartDocument = 0, kStartElement = 2, kEndElement = 3, kStartAttribute = 4, kEndAttribute = 5,
                      kContent = 6 };
  enum class TMode : uint8_t { Attribute, Text, CData, Raw, Comment };
  struct TOpenElement {
    std::u16string prefix;
    std::u16string localName;
  };

  void Advance(TToken token);
  void Put(char16_t c) {
    if (bufPos_ >= kBufferSize) FlushBuffer();
    buffer_[bufPos_++] = c;
  }
  void PutAscii(std::string_view text);
  void PutName(std::u16string_view name);
  void PutHex4(char16_t c);
  void PutEntity(char16_t c);
  void PutInvalid(char16_t c, bool escape);
  void WriteBreak(int depth);
  void WriteText(const char16_t* text, size_t count, TMode mode);
  // `final`: everything, also a high surrogate still waiting for its pair.
  void FlushBuffer(bool final = false);
  char16_t LastChar() const { return buffer_[bufPos_ - 1]; }

  static constexpr size_t kBufferSize = 65536 + 1;  // slot 0 repeats the last character flushed

  TKELStream& stream_;
  TKELXMLWriterSettings settings_;
  std::u16string newLine_;
  std::u16string indent_;
  std::vector<char16_t> buffer_;
  size_t bufPos_ = 1;
  std::vector<TOpenElement> elements_;
  int top_ = -1;   // innermost open element, -1 when none
  int depth_ = 0;  // open elements, for indentation
  bool declarationWritten_ = false;
  int state_ = 0;
};

class TKELXMLWellFormedWriter final : public TKELXMLWriter {
 public:
  explicit TKELXMLWellFormedWriter(std::unique_ptr<TKELXMLWriter> inner);
  ~TKELXMLWellFormedWriter() override = default;

  using TKELXMLWriter::WriteStartDocument;
  using TKELXMLWriter::WriteStartElement;
  using TKELXMLWriter::WriteRaw;

  TKELXMLWriteState WriteState() const override;
  void WriteStartDocument(TKELXMLStandalone standalone) override;
  void WriteEndDocument() override;
  void WriteStartElement(std::string_view prefix, std::string_view localName) override;
  void WriteEndElement() override;
  void WriteFullEndElement() override;
  void WriteStartAttribute(std::string_view prefix, std::string_view localName) override;
  void WriteEndAttribute() override;
  void WriteCData(std::string_view text) override;
  void WriteComment(std::string_view text) override;
  void WriteEntityRef(std::string_view name) override;
  void WriteCharEntity(char16_t c) override;
  void WriteChars(const char16_t* chars, size_t count) override;
  void WriteSurrogateCharEntity(char16_t low, char16_t high) override;
  void WriteRaw(const char16_t* buffer, size_t length, ptrdiff_t index, ptrdiff_t count) override;
  void WriteRaw(std::string_view text) override;
  void Close() override;
  void Flush() override;

 private:
  struct TElement {
    std::string prefix;
    std::string localName;
    std::vector<std::pair<std::string, std::string>> namespaces;  // prefix -> URI declared here
  };
  struct TAttribute {
    std::string prefix;
    std::string localName;
    bool declaration;
  };

  template <typename F>
  void Guard(F&& action);
  void BeforeContent();
  void CloseStartTag();
  void NotInDeclaration(const char* kind);
  const std::string* LookupNamespace(const std::string& prefix) const;

  std::unique_ptr<TKELXMLWriter> inner_;
  std::vector<TElement> elements_;
  std::vector<TAttribute> attributes_;  // of the open start tag
  bool tagOpen_ = false;
  bool inAttribute_ = false;
  bool inDeclaration_ = false;  // inside an xmlns attribute
  std::string declaredPrefix_;
  std::string declaredUri_;
  bool failed_ = false;
};

}  // namespace kel
