// Types shared by the XML reader, the XML writer and the XML document:
// node kinds, the character classes of XML 1.0 names and text, the name
// table that interns names, and the XML error classes.
//
// Character classes work on UTF-16 code units: the reader's buffer and the
// writer's buffer both hold UTF-16, and surrogate pairs are validated apart
// from the table. Names handed out by the name table are UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/error.h"

namespace kel {

// --- Node kinds ------------------------------------------------------------------

// The numbering is the one clients store and compare.
enum class TKELXMLNodeType : uint8_t {
  None = 0,
  Element = 1,
  Attribute = 2,
  Text = 3,
  CDATA = 4,
  EntityReference = 5,  // never produced by the text reader
  ProcessingInstruction = 7,
  Comment = 8,
  Whitespace = 13,
  SignificantWhitespace = 14,
  EndElement = 15,
  XmlDeclaration = 17,
};

// --- Character classes ----------------------------------------------------------

// Bit flags of `kelXMLCharProperties`, one entry per UTF-16 code unit.
enum : uint8_t {
  xcWhitespace = 1,     // #x9 #xA #xD #x20
  xcLetter = 2,         // BaseChar | Ideographic of XML 1.0 (Fourth Edition)
  xcNameStart = 4,      // letters and '_' (':' is handled by the callers)
  xcName = 8,           // letters, digits, '.', '-', '_', combining chars, extenders
  xcCharData = 16,      // #x9 #xA #xD #x20-#xD7FF #xE000-#xFFFD
  xcName2 = 32,         // the name characters again
  xcText = 64,          // #x20-#xFFFD without '&', '<', ']' and surrogates
  xcAttributeValue = 128,  // #x20-#xFFFD without '"', '&', '\'', '<', '>' and surrogates
};

// Built at compile time from the range lists of XML 1.0 Appendix B.
extern const std::array<uint8_t, 65536> kelXMLCharProperties;

inline bool kelXMLIsWhitespace(char16_t c) { return (kelXMLCharProperties[c] & xcWhitespace) != 0; }
inline bool kelXMLIsNameStartChar(char16_t c) { return (kelXMLCharProperties[c] & xcNameStart) != 0; }
inline bool kelXMLIsNameChar(char16_t c) { return (kelXMLCharProperties[c] & xcName) != 0; }
inline bool kelXMLIsCharData(char16_t c) { return (kelXMLCharProperties[c] & xcCharData) != 0; }
inline bool kelXMLIsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool kelXMLIsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A character as error messages quote it: its UTF-8 form, or U+FFFD for a
// code that has none (half of a surrogate pair, a code beyond U+10FFFF), so
// that every message stays valid UTF-8.
std::string kelXMLQuotedChar(char32_t code);

// The namespace names reserved for the prefixes xml and xmlns.
inline constexpr std::string_view kXMLNamespaceXml = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kXMLNamespaceXmlns = "http://www.w3.org/2000/xmlns/";

// --- Name table -------------------------------------------------------------------

// Interns names: adding equal text (compared exactly) returns the same entry,
// so interned names compare by address. Entries live as long as the table.
// Chains of entries hang off a bucket array that doubles whenever the entries
// outnumber the buckets, so a lookup walks about one entry however many
// names a document holds.
class TKELXMLNameTable {
 public:
  struct TName {
    std::u16string Text;  // the name as UTF-16
    std::string Utf8;     // the same name as UTF-8, as handed out to clients
    uint32_t Hash = 0;
    TName* Next = nullptr;  // next entry of the same bucket
  };

  TKELXMLNameTable() : buckets_(size_t{1} << kInitialBits) {}
  TKELXMLNameTable(const TKELXMLNameTable&) = delete;
  TKELXMLNameTable& operator=(const TKELXMLNameTable&) = delete;

  // The hash of a name: 32-bit FNV-1a over its UTF-16 code units. Rotating
  // and xoring the units alone would give a million numbered names (n0000000
  // to n0999999) only 12,224 different hashes, and chains would grow with
  // the names however many buckets there are.
  static uint32_t Hash(const char16_t* text, size_t length) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) h = (h ^ text[i]) * 16777619u;
    return h;
  }

  const TName* Add(const char16_t* text, size_t length);
  const TName* Add(std::u16string_view text) { return Add(text.data(), text.size()); }
  const TName* Add(std::string_view utf8);
  // The entry of this text, or nullptr when it was never added.
  const TName* Get(std::u16string_view text) const;

  size_t Count() const { return items_.size(); }

 private:
  static constexpr int kInitialBits = 8;  // 256 buckets at first

  // The bucket of a hash: its top bits after a multiplication by 2^32 / phi,
  // which spreads hashes that differ in any of their bits.
  size_t BucketOf(uint32_t hash) const { return (hash * 0x9E3779B9u) >> shift_; }
  void Grow();

  std::vector<TName*> buckets_;    // a power of two of them
  int shift_ = 32 - kInitialBits;  // 32 - log2(bucket count)
  std::vector<std::unique_ptr<TName>> items_;
};

// --- Errors -------------------------------------------------------------------------

// An XML error. When it carries a position, `Message()` is the message text
// followed by " Line <n>, position <p>"; `RawMessage()` is the text alone.
// An empty message text becomes "An XML error has occurred.".
class EKELXMLException : public Exception {
 public:
  explicit EKELXMLException(const std::string& message);
  EKELXMLException(const std::string& message, int lineNumber, int linePosition);

  const std::string& RawMessage() const { return rawMessage_; }
  int LineNumber() const { return lineNumber_; }
  int LinePosition() const { return linePosition_; }

 private:
  std::string rawMessage_;
  int lineNumber_ = 0;
  int linePosition_ = 0;
};

class EKELXMLArgumentException : public EKELXMLException { using EKELXMLException::EKELXMLException; };
// The message is the name of the missing argument.
class EKELXMLArgumentNullException : public EKELXMLArgumentException {
  using EKELXMLArgumentException::EKELXMLArgumentException;
};
class EKELXMLArgumentOutOfRangeException : public EKELXMLArgumentException {
  using EKELXMLArgumentException::EKELXMLArgumentException;
};

}  // namespace kel
