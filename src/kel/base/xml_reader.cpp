#include "kel/base/xml_reader.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "kel/base/format.h"

namespace kel {

namespace {

constexpr size_t kByteBufferSize = 8192;
constexpr size_t kCharBufferSize = 8192;
constexpr size_t kPrologChunk = 80;         // characters decoded at a time before the encoding is settled
constexpr size_t kMinRoom = 256;            // fewer free characters than this: the buffer doubles
constexpr size_t kByteKeepLimit = 128;      // unread bytes moved to the front
constexpr int kAttributesCheckedOnAdd = 250;

const uint8_t* const kProps = kelXMLCharProperties.data();

// Messages.
constexpr const char* kInvalidChar = "'%s', hexadecimal value %s, is an invalid character.";
constexpr const char* kInvalidAttributeChar = "'%s', hexadecimal value %s, is an invalid attribute character.";
constexpr const char* kUnexpectedEof = "Unexpected end of file has occurred.";
constexpr const char* kEofWhileParsing = "Unexpected end of file while parsing %s has occurred.";
constexpr const char* kUnclosedLiteral = "There is an unclosed literal string.";
constexpr const char* kBadDeclaration = "Syntax for an XML declaration is invalid.";
constexpr const char* kRootLevel = "Data at the root level is invalid.";
constexpr const char* kCannotMap = "Prefix '&s' cannot be mapped to namespace name reserved for 'xml' or 'xmlns'.";
constexpr const char* kXmlnsReserved = "Prefix 'xmlns' is reserved for use by XML.";
constexpr const char* kInvalidEncoding = "Invalid character in the given encoding.";
constexpr const char* kBadCharRefValue = "Invalid value of a character entity reference.";

bool IsLineBreak(char16_t c) { return c == u'\n' || c == u'\r'; }

// A character quoted in a message: '.' for U+0000.
std::string Quoted(uint32_t code) { return code == 0 ? std::string(".") : kelXMLQuotedChar(code); }

// "0x" and the code in upper-case hexadecimal, space-padded to two digits.
std::string HexCode(uint32_t code) {
  std::string digits = kelFormat("%X", {code});
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), ' ');
  return "0x" + digits;
}

// UTF-16 to UTF-8, lossless for unpaired surrogates (as kelUtf16ToUtf8),
// with a fast path for ASCII runs; `out` keeps its capacity.
void AssignUtf8(std::string& out, const char16_t* text, size_t length) {
  size_t ascii = 0;
  while (ascii < length && text[ascii] < 0x80) ++ascii;
  if (ascii == length) {
    out.resize(length);
    char* o = out.data();
    for (size_t i = 0; i < length; ++i) o[i] = static_cast<char>(text[i]);
    return;
  }
  out.resize(ascii + (length - ascii) * 3);
  char* o = out.data();
  for (size_t i = 0; i < ascii; ++i) o[i] = static_cast<char>(text[i]);
  size_t n = ascii;
  for (size_t i = ascii; i < length; ++i) {
    uint32_t c = text[i];
    if (c < 0x80) {
      o[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
      o[n++] = static_cast<char>(0xC0 | (c >> 6));
      o[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      if (kelXMLIsHighSurrogate(static_cast<char16_t>(c)) && i + 1 < length && kelXMLIsLowSurrogate(text[i + 1])) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        o[n++] = static_cast<char>(0xF0 | (c >> 18));
        o[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      } else {
        o[n++] = static_cast<char>(0xE0 | (c >> 12));
      }
      o[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      o[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(n);
}

std::string ToUtf8(const char16_t* text, size_t length) {
  std::string out;
  AssignUtf8(out, text, length);
  return out;
}

// Validating UTF-8 decoder that never splits a sequence: an incomplete
// sequence at the end of the bytes waits for more unless `final`. Returns the
// code units written; `used` is the bytes consumed; `invalid` is set at the
// first byte sequence that is not UTF-8.
size_t DecodeUtf8(const uint8_t* src, size_t n, size_t& used, char16_t* dst, size_t room, bool final,
                  bool& invalid) {
  size_t i = 0, o = 0;
  while (i < n && o < room) {
    while (i + 8 <= n && o + 8 <= room) {
      uint64_t chunk;
      std::memcpy(&chunk, src + i, 8);
      if (chunk & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) dst[o + k] = src[i + k];
      i += 8;
      o += 8;
    }
    if (i >= n || o >= room) break;
    const uint8_t b0 = src[i];
    if (b0 < 0x80) {
      dst[o++] = b0;
      ++i;
      continue;
    }
    const TKELUtf8Lead lead = kelUtf8Lead(b0);  // no surrogate code points
    if (lead.need == 0) {
      invalid = true;
      break;
    }
    const size_t need = lead.need;
    uint32_t cp = lead.bits;
    bool bad = false, incomplete = false;
    for (size_t k = 1; k <= need; ++k) {
      if (i + k >= n) {
        incomplete = true;
        break;
      }
      const uint8_t b = src[i + k];
      if (k == 1 ? (b < lead.lo || b > lead.hi) : (b & 0xC0) != 0x80) {
        bad = true;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (bad || (incomplete && final)) {
      invalid = true;
      break;
    }
    if (incomplete) break;
    if (cp >= 0x10000) {
      if (o + 2 > room) break;
      cp -= 0x10000;
      dst[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      dst[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      dst[o++] = static_cast<char16_t>(cp);
    }
    i += need + 1;
  }
  used = i;
  return o;
}

}  // namespace

// --- ICU converter --------------------------------------------------------------------

struct TKELXMLTextReader::TIcuConverter {
  UConverter* converter = nullptr;
  std::string name;
  bool flushed = false;
  ~TIcuConverter() {
    if (converter) ucnv_close(converter);
  }
};

// --- Namespace manager ---------------------------------------------------------------

TKELXMLNamespaceManager::TKELXMLNamespaceManager(TKELXMLNameTable& names)
    : names_(names),
      xml_(names.Add(std::string_view("xml"))),
      xmlns_(names.Add(std::string_view("xmlns"))),
      xmlUri_(names.Add(kXMLNamespaceXml)) {
  const TName* empty = names.Add(std::u16string_view());
  declarations_.push_back({empty, empty, 0, -1});
  declarations_.push_back({xmlns_, names.Add(kXMLNamespaceXmlns), 0, -1});
  declarations_.push_back({xml_, xmlUri_, 0, -1});
}

void TKELXMLNamespaceManager::PopScope() {
  while (!declarations_.empty() && declarations_.back().scope == scope_) {
    const TDeclaration& d = declarations_.back();
    if (indexed_) {
      if (d.previous >= 0)
        index_[d.prefix] = d.previous;
      else
        index_.erase(d.prefix);
    }
    declarations_.pop_back();
  }
  if (scope_ > 0) --scope_;
  if (indexed_ && declarations_.size() <= 15) {
    index_.clear();
    indexed_ = false;
  }
}

void TKELXMLNamespaceManager::AddNamespace(const TName* prefix, const TName* uri) {
  if (prefix == xml_ && uri != xmlUri_)
    throw EKELXMLException("Prefix 'xml' is reserved for use by XML and can be mapped only to namespace name '" +
                           std::string(kXMLNamespaceXml) + "'.");
  if (prefix == xmlns_) throw EKELXMLException(kXmlnsReserved);
  int previous = -1;
  if (indexed_) {
    auto it = index_.find(prefix);
    if (it != index_.end()) previous = it->second;
  } else {
    for (int i = static_cast<int>(declarations_.size()) - 1; i >= 0; --i)
      if (declarations_[i].prefix == prefix) {
        previous = i;
        break;
      }
  }
  declarations_.push_back({prefix, uri, scope_, previous});
  const int index = static_cast<int>(declarations_.size()) - 1;
  if (!indexed_ && declarations_.size() > 15) {
    for (int i = 0; i < index; ++i) index_[declarations_[i].prefix] = i;
    indexed_ = true;
  }
  if (indexed_) index_[prefix] = index;
}

const TKELXMLNameTable::TName* TKELXMLNamespaceManager::LookupNamespace(const TName* prefix) const {
  if (indexed_) {
    auto it = index_.find(prefix);
    return it == index_.end() ? nullptr : declarations_[it->second].uri;
  }
  for (auto it = declarations_.rbegin(); it != declarations_.rend(); ++it)
    if (it->prefix == prefix) return it->uri;
  return nullptr;
}

// --- Construction ---------------------------------------------------------------------

TKELXMLTextReader::TKELXMLTextReader(TKELStream* stream, const TKELXMLReaderSettings& settings)
    : settings_(settings), stream_(stream), level_(settings.ConformanceLevel) {
  if (stream == nullptr) throw EKELXMLArgumentNullException("input");
  if (static_cast<uint8_t>(settings.ConformanceLevel) > 2)
    throw EKELXMLArgumentOutOfRangeException("ConformanceLevel");
  if (settings_.NameTable != nullptr) {
    names_ = settings_.NameTable;
  } else {
    ownNames_ = std::make_unique<TKELXMLNameTable>();
    names_ = ownNames_.get();
  }
  empty_ = names_->Add(std::u16string_view());
  xml_ = names_->Add(std::string_view("xml"));
  xmlns_ = names_->Add(std::string_view("xmlns"));
  space_ = names_->Add(std::string_view("space"));
  lang_ = names_->Add(std::string_view("lang"));
  xmlUri_ = names_->Add(kXMLNamespaceXml);
  xmlnsUri_ = names_->Add(kXMLNamespaceXmlns);
  if (settings_.SupportNamespaces) namespaces_ = std::make_unique<TKELXMLNamespaceManager>(*names_);
  contexts_.emplace_back();
  attributes_.resize(8);
  ResetNode();

  bytes_.resize(kByteBufferSize);
  chars_.assign(kCharBufferSize, u'\0');
  while (bytesUsed_ < 4 && !streamEnded_) ReadBytes();
  if (settings_.DefaultEncoding) {
    SetDecoder(*settings_.DefaultEncoding);
    const std::string_view preamble = encoding_ ? encoding_->Preamble() : std::string_view();
    if (!preamble.empty() && bytesUsed_ >= preamble.size() &&
        std::memcmp(bytes_.data(), preamble.data(), preamble.size()) == 0)
      bytePos_ = preamble.size();
  } else {
    DetectEncoding();
  }
  ReadData();
}

TKELXMLTextReader::~TKELXMLTextReader() = default;

void TKELXMLTextReader::DetectEncoding() {
  decoder_ = TDecoder::Ascii;
  if (bytesUsed_ < 2) return;
  const uint8_t* b = bytes_.data();
  const uint32_t first = (b[0] << 8) | b[1];
  const uint32_t second = bytesUsed_ >= 4 ? ((b[2] << 8) | b[3]) : 0;
  switch (first) {
    case 0x0000:
      if (second == 0x003C || second == 0x3C00 || second == 0xFEFF || second == 0xFFFE)
        ThrowAt("Not implemented", 1, 1);
      break;
    case 0xFEFF:
    case 0x003C:
      if (second == 0) ThrowAt("Not implemented", 1, 1);
      SetDecoder(TKELEncoding::UTF16BE());
      if (first == 0xFEFF) bytePos_ = 2;
      break;
    case 0xFFFE:
    case 0x3C00:
      if (second == 0) ThrowAt("Not implemented", 1, 1);
      SetDecoder(TKELEncoding::UTF16LE());
      if (first == 0xFFFE) bytePos_ = 2;
      break;
    case 0xEFBB:
      if (bytesUsed_ >= 3 && b[2] == 0xBF) {
        SetDecoder(TKELEncoding::UTF8());
        bytePos_ = 3;
      }
      break;
    case 0x4C6F:
      if (second == 0xA794) ThrowAt("UnknownEncoding: ebcdic", 1, 1);
      break;
    default:
      break;
  }
}

void TKELXMLTextReader::SetDecoder(const TKELEncoding& encoding) {
  icu_.reset();
  switch (encoding.GetKind()) {
    case TKELEncoding::Kind::Ansi:
      SetDecoder(kelLocaleEncoding());
      return;
    case TKELEncoding::Kind::UTF8:
      decoder_ = TDecoder::Utf8;
      break;
    case TKELEncoding::Kind::UTF16LE:
      decoder_ = TDecoder::Utf16LE;
      break;
    case TKELEncoding::Kind::UTF16BE:
      decoder_ = TDecoder::Utf16BE;
      break;
    case TKELEncoding::Kind::CodePage: {
      auto icu = std::make_unique<TIcuConverter>();
      UErrorCode status = U_ZERO_ERROR;
      icu->converter = ucnv_open(encoding.CodePageName().c_str(), &status);
      if (U_FAILURE(status) || icu->converter == nullptr) {
        // A name that cannot be opened decodes as UTF-8.
        decoder_ = TDecoder::Utf8;
        encoding_ = TKELEncoding::UTF8();
        return;
      }
      ucnv_setToUCallBack(icu->converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
      icu->name = encoding.CodePageName();
      icu_ = std::move(icu);
      decoder_ = TDecoder::CodePage;
      break;
    }
  }
  encoding_ = encoding;
}

// --- Bytes and characters -----------------------------------------------------------------

void TKELXMLTextReader::ReadBytes() {
  // Unread bytes move to the front when few remain; bytes already decoded
  // are kept while the encoding may still change (they may be decoded again).
  if (!prolog_ && bytesUsed_ - bytePos_ <= kByteKeepLimit && bytePos_ > 0) {
    std::memmove(bytes_.data(), bytes_.data() + bytePos_, bytesUsed_ - bytePos_);
    bytesUsed_ -= bytePos_;
    bytePos_ = 0;
  }
  if (bytesUsed_ == bytes_.size()) bytes_.resize(bytes_.size() * 2);
  const size_t n = stream_->Read(bytes_.data() + bytesUsed_, bytes_.size() - bytesUsed_);
  if (n == 0)
    streamEnded_ = true;
  else
    bytesUsed_ += n;
}

size_t TKELXMLTextReader::Decode(char16_t* out, size_t room) {
  const uint8_t* src = bytes_.data() + bytePos_;
  const size_t n = bytesUsed_ - bytePos_;
  size_t produced = 0, used = 0;
  switch (decoder_) {
    case TDecoder::Ascii:
      used = std::min(n, room);
      for (size_t i = 0; i < used; ++i) out[i] = src[i] < 0x80 ? src[i] : u'\uFFFD';
      produced = used;
      break;
    case TDecoder::Utf8:
      produced = DecodeUtf8(src, n, used, out, room, streamEnded_, decodeError_);
      break;
    case TDecoder::Utf16LE:
    case TDecoder::Utf16BE: {
      const size_t units = std::min(n / 2, room);
      const bool big = decoder_ == TDecoder::Utf16BE;
      for (size_t i = 0; i < units; ++i) {
        const unsigned a = src[2 * i], b = src[2 * i + 1];
        out[i] = static_cast<char16_t>(big ? (a << 8 | b) : (b << 8 | a));
      }
      produced = units;
      used = units * 2;
      if (units == 0 && n == 1 && streamEnded_) decodeError_ = true;  // a lone last byte
      break;
    }
    case TDecoder::CodePage: {
      if (icu_->flushed) break;
      UChar* target = reinterpret_cast<UChar*>(out);
      const char* source = reinterpret_cast<const char*>(src);
      UErrorCode status = U_ZERO_ERROR;
      ucnv_toUnicode(icu_->converter, &target, reinterpret_cast<UChar*>(out + room), &source,
                     reinterpret_cast<const char*>(src + n), nullptr, streamEnded_, &status);
      produced = static_cast<size_t>(target - reinterpret_cast<UChar*>(out));
      used = static_cast<size_t>(source - reinterpret_cast<const char*>(src));
      if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) decodeError_ = true;
      if (streamEnded_ && used == n && status != U_BUFFER_OVERFLOW_ERROR) icu_->flushed = true;
      break;
    }
  }
  bytePos_ += used;
  return produced;
}

size_t TKELXMLTextReader::ReadData() {
  if (endOfInput_) return 0;
  // Decoding stops at the first character that cannot be decoded.
  if (decodeError_) Throw(kInvalidEncoding, charsUsed_);
  for (;;) {
    size_t room = chars_.size() - 1 - charsUsed_;
    if (room < kMinRoom && !(prolog_ && room >= 2)) {
      chars_.resize(chars_.size() * 2);
      room = chars_.size() - 1 - charsUsed_;
    }
    if (prolog_) room = std::min(room, kPrologChunk);
    const bool icuPending = decoder_ == TDecoder::CodePage && streamEnded_ && !icu_->flushed;
    if (bytePos_ < bytesUsed_ || icuPending) {
      const size_t produced = Decode(chars_.data() + charsUsed_, room);
      if (produced > 0) {
        charsUsed_ += produced;
        chars_[charsUsed_] = 0;
        charsDecoded_ += static_cast<int64_t>(produced);
        if (settings_.MaxCharactersInDocument > 0 && charsDecoded_ > settings_.MaxCharactersInDocument)
          ThrowBare(kelFormat("The input document has exceeded a limit set by %s.", {"MaxCharactersInDocument"}));
        return produced;
      }
      if (decodeError_) Throw(kInvalidEncoding, charsUsed_);
    }
    if (!streamEnded_) {
      ReadBytes();
      continue;
    }
    if (bytePos_ < bytesUsed_) Throw(kInvalidEncoding, charsUsed_);  // bytes that form no character
    endOfInput_ = true;
    return 0;
  }
}

// Bytes that the characters [from, to) were decoded from.
size_t TKELXMLTextReader::EncodedLength(size_t from, size_t to) const {
  const size_t count = to - from;
  switch (decoder_) {
    case TDecoder::Ascii:
      return count;
    case TDecoder::Utf16LE:
    case TDecoder::Utf16BE:
      return count * 2;
    case TDecoder::Utf8: {
      size_t bytes = 0;
      for (size_t i = from; i < to; ++i) {
        const char16_t c = chars_[i];
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : kelXMLIsHighSurrogate(c) ? 2 : kelXMLIsLowSurrogate(c) ? 2 : 3;
      }
      return bytes;
    }
    case TDecoder::CodePage: {
      UErrorCode status = U_ZERO_ERROR;
      UConverter* converter = ucnv_open(icu_->name.c_str(), &status);
      if (U_FAILURE(status)) return count;
      status = U_ZERO_ERROR;
      const int32_t length = ucnv_fromUChars(converter, nullptr, 0, reinterpret_cast<const UChar*>(&chars_[from]),
                                             static_cast<int32_t>(count), &status);
      ucnv_close(converter);
      status = U_ZERO_ERROR;
      const int32_t pending = ucnv_toUCountPending(icu_->converter, &status);
      return static_cast<size_t>(length) + static_cast<size_t>(std::max(0, pending));
    }
  }
  return count;
}

// Decodes the input from character `at` on again in the new encoding
// (nothing: keep the current one).
void TKELXMLTextReader::SwitchEncoding(size_t at, const std::optional<TKELEncoding>& encoding) {
  if (encoding) {
    const size_t giveBack = EncodedLength(at, charsUsed_);
    bytePos_ = giveBack <= bytePos_ ? bytePos_ - giveBack : 0;
    charsDecoded_ -= static_cast<int64_t>(charsUsed_ - at);
    charsUsed_ = at;
    chars_[at] = 0;
    decodeError_ = false;
    endOfInput_ = false;
    SetDecoder(*encoding);
  }
  prolog_ = false;
}

// The rules for the encoding named by the declaration (or for none): a
// name switches an ASCII or 8-bit decoding when it differs; a UTF-16 input
// stays UTF-16 whatever an 8-bit declaration says, and a UTF-16 name on
// 8-bit input means no name. Unknown names read as UTF-8.
void TKELXMLTextReader::ApplyDeclaredEncoding(size_t at, const std::u16string* name) {
  const bool utf16Input = decoder_ == TDecoder::Utf16LE || decoder_ == TDecoder::Utf16BE;
  std::optional<TKELEncoding> declared;
  if (name != nullptr && !utf16Input) {
    const std::string text = kelUtf16ToUtf8(*name);
    declared = kelSameTextAscii(text, "utf-8") ? TKELEncoding::UTF8()
                                                : TKELEncoding::FromName(text).value_or(TKELEncoding::UTF8());
    const auto kind = declared->GetKind();
    if (kind == TKELEncoding::Kind::UTF16LE || kind == TKELEncoding::Kind::UTF16BE) declared.reset();
  }
  if (!declared) {
    SwitchEncoding(at, decoder_ == TDecoder::Ascii ? std::optional<TKELEncoding>(TKELEncoding::UTF8()) : std::nullopt);
    return;
  }
  const bool differs = decoder_ == TDecoder::Ascii || !encoding_ || !(*encoding_ == *declared);
  SwitchEncoding(at, differs ? declared : std::nullopt);
}

bool TKELXMLTextReader::IsEnd(size_t at) {
  while (at >= charsUsed_)
    if (ReadData() == 0) return true;
  return false;
}

int TKELXMLTextReader::Peek(size_t at) { return IsEnd(at) ? -1 : chars_[at]; }

bool TKELXMLTextReader::MatchAt(size_t at, std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (Peek(at + i) != text[i]) return false;
  return true;
}

// At the start of a node: when at least half of the buffer lies behind,
// the unread characters move to the front.
void TKELXMLTextReader::Compact() {
  if (pos_ == 0 || pos_ < chars_.size() / 2) return;
  std::memmove(chars_.data(), chars_.data() + pos_, (charsUsed_ - pos_ + 1) * sizeof(char16_t));
  charsUsed_ -= pos_;
  lineStart_ -= static_cast<ptrdiff_t>(pos_);
  pos_ = 0;
}

// --- Errors -----------------------------------------------------------------------------

void TKELXMLTextReader::ThrowAt(const std::string& message, int line, int position) {
  state_ = TState::Error;
  const int reportedPosition = position + (line == 1 ? settings_.LinePositionOffset : 0);
  throw EKELXMLException(message, line + settings_.LineNumberOffset, reportedPosition);
}

void TKELXMLTextReader::ThrowBare(const std::string& message) {
  state_ = TState::Error;
  throw EKELXMLException(message);
}

// The line and position of buffer index `at`, which lies on the current line
// or after it (lines between are counted here).
void TKELXMLTextReader::Throw(const std::string& message, size_t at) {
  int line = lineNo_;
  ptrdiff_t start = lineStart_;
  const ptrdiff_t end = static_cast<ptrdiff_t>(std::min(at, charsUsed_));
  for (ptrdiff_t i = std::max<ptrdiff_t>(start, 0); i < end; ++i) {
    if (chars_[i] == u'\n') {
      ++line;
      start = i + 1;
    } else if (chars_[i] == u'\r') {
      if (i + 1 < end && chars_[i + 1] == u'\n') ++i;
      ++line;
      start = i + 1;
    }
  }
  ThrowAt(message, line, static_cast<int>(static_cast<ptrdiff_t>(at) - start + 1));
}

std::string TKELXMLTextReader::TokenAt(size_t at) {
  const int c = Peek(at);
  if (c < 0) return {};
  size_t end = at + 1;
  if (kelXMLIsNameChar(static_cast<char16_t>(c)) || c == u':') {
    for (int n; (n = Peek(end)) >= 0 && (kelXMLIsNameChar(static_cast<char16_t>(n)) || n == u':');) ++end;
  } else if (kelXMLIsHighSurrogate(static_cast<char16_t>(c))) {
    const int n = Peek(end);
    if (n >= 0 && kelXMLIsLowSurrogate(static_cast<char16_t>(n))) ++end;
  }
  return end - at == 1 ? kelXMLQuotedChar(static_cast<char32_t>(c)) : ToUtf8(&chars_[at], end - at);
}

void TKELXMLTextReader::ThrowUnexpectedToken(size_t at, std::string_view expected1, std::string_view expected2) {
  const std::string token = TokenAt(at);
  if (token.empty()) Throw(kUnexpectedEof, at);
  if (expected2.empty())
    Throw(kelFormat("'%s' is an unexpected token. The expected token is '%s'.", {token, expected1}), at);
  Throw(kelFormat("'%s' is an unexpected token. The expected token is '%s' or '%s'.", {token, expected1, expected2}),
        at);
}

void TKELXMLTextReader::ThrowExpectingWhitespace(size_t at) {
  const std::string token = TokenAt(at);
  if (token.empty()) Throw(kUnexpectedEof, at);
  Throw(kelFormat("'%s' is an unexpected token. Expecting white space.", {token}), at);
}

void TKELXMLTextReader::ThrowInvalidCode(uint32_t code, size_t at) {
  Throw(kelFormat(kInvalidChar, {Quoted(code), HexCode(code)}), at);
}

// The character (or surrogate pair) at `at`, quoted with its code.
void TKELXMLTextReader::ThrowInvalidChar(size_t at, bool inAttribute) {
  const char16_t c = chars_[at];
  const char* pattern = inAttribute ? kInvalidAttributeChar : kInvalidChar;
  if (kelXMLIsHighSurrogate(c) && at + 1 < charsUsed_ && kelXMLIsLowSurrogate(chars_[at + 1]))
    Throw(kelFormat(pattern, {ToUtf8(&chars_[at], 2), HexCode(c) + ", " + HexCode(chars_[at + 1])}), at);
  Throw(kelFormat(pattern, {Quoted(c), HexCode(c)}), at);
}

void TKELXMLTextReader::ThrowNameChar(size_t at, bool start) {
  const int c = Peek(at);
  if (c < 0) ThrowEofIn("Name", lineNo_, PositionOf(at));
  const char* pattern = start ? "Name cannot begin with the '%s' character, hexadecimal value %s."
                              : "The '%s' character, hexadecimal value %s, cannot be included in a name.";
  const char16_t ch = static_cast<char16_t>(c);
  if (kelXMLIsHighSurrogate(ch) && Peek(at + 1) >= 0 && kelXMLIsLowSurrogate(chars_[at + 1]))
    Throw(kelFormat(pattern, {ToUtf8(&chars_[at], 2), HexCode(ch) + ", " + HexCode(chars_[at + 1])}), at);
  Throw(kelFormat(pattern, {Quoted(ch), HexCode(ch)}), at);
}

void TKELXMLTextReader::ThrowEofIn(std::string_view what, int line, int position) {
  ThrowAt(kelFormat(kEofWhileParsing, {what}), line, position);
}

// --- Reading ------------------------------------------------------------------------------

void TKELXMLTextReader::ResetNode() {
  node_.type = TKELXMLNodeType::None;
  node_.localName = node_.prefix = node_.ns = node_.qualifiedName = empty_;
  node_.valueStart = node_.valueLength = 0;
  node_.valueReady = false;
  node_.isEmptyElement = false;
  node_.quote = 0;
  node_.depth = static_cast<int>(elements_.size());
}

bool TKELXMLTextReader::Read() {
  curAttribute_ = -1;
  attributeCount_ = 0;
  try {
    switch (state_) {
      case TState::Init:
        ResetNode();
        return ReadFirst();
      case TState::Content:
        if (popPending_) {
          popPending_ = false;
          PopElement();
        }
        return ParseContent();
      case TState::EndOfInput:
      case TState::Error:
        break;
    }
  } catch (...) {
    state_ = TState::Error;
    ResetNode();
    throw;
  }
  ResetNode();
  return false;
}

bool TKELXMLTextReader::ReadFirst() {
  state_ = TState::Content;
  if (MatchAt(pos_, u"<?xml")) {
    const int next = Peek(pos_ + 5);
    if (next < 0 || (!kelXMLIsNameChar(static_cast<char16_t>(next)) && next != u':')) return ParseXmlDeclaration();
  }
  ApplyDeclaredEncoding(pos_, nullptr);
  return ParseContent();
}

bool TKELXMLTextReader::ParseXmlDeclaration() {
  size_t p = pos_ + 5;
  int index = 0;  // pseudo-attributes read: version, then encoding, then standalone
  size_t first = std::string::npos, last = 0;
  std::u16string encodingName;
  bool hasEncoding = false;
  for (;;) {
    const size_t before = p;
    p = SkipWhitespace(p);
    const int c = Peek(p);
    if (c < 0) Throw(kUnexpectedEof, p);
    if (c == u'?') {
      const int n = Peek(p + 1);
      if (n != u'>') ThrowUnexpectedToken(p + 1, "'>'");
      if (index == 0) Throw(kBadDeclaration, p);
      p += 2;
      break;
    }
    if (p == before) {
      if (index == 0) Throw(kBadDeclaration, p);
      ThrowUnexpectedToken(p, "?>");
    }
    size_t end = p;
    for (int n; (n = Peek(end)) >= 0 && (kelXMLIsNameChar(static_cast<char16_t>(n)) || n == u':');) ++end;
    const std::u16string_view name(&chars_[p], end - p);
    int which;
    if (name == u"version" && index == 0)
      which = 1;
    else if (name == u"encoding" && index == 1)
      which = 2;
    else if (name == u"standalone" && (index == 1 || index == 2))
      which = 3;
    else
      Throw(kBadDeclaration, p);
    if (first == std::string::npos) {
      first = p;
      SetPosition(node_, p);
    }
    p = SkipWhitespace(end);
    if (Peek(p) != u'=') ThrowUnexpectedToken(p, "=");
    p = SkipWhitespace(p + 1);
    const int quote = Peek(p);
    if (quote != u'"' && quote != u'\'') ThrowUnexpectedToken(p, "\"", "'");
    const int quoteLine = lineNo_, quotePosition = PositionOf(p);
    const size_t valueStart = ++p;
    for (;;) {
      const int v = Peek(p);
      if (v < 0) ThrowAt(kUnclosedLiteral, quoteLine, quotePosition);
      if (v == quote) break;
      if (!(kProps[v] & xcAttributeValue)) Throw(kBadDeclaration, p);
      ++p;
    }
    const std::u16string_view value(&chars_[valueStart], p - valueStart);
    if (which == 2) {
      encodingName.assign(value);
      hasEncoding = true;
    } else if (which == 3) {
      standalone_ = value == u"yes";
    }
    index = which;
    last = ++p;
  }
  // The value is the pseudo-attributes as written, with line ends normalised.
  size_t out = first;
  for (size_t i = first; i < last; ++i) {
    char16_t c = chars_[i];
    if (c == u'\r') {
      if (i + 1 < last && chars_[i + 1] == u'\n') ++i;
      c = u'\n';
    }
    chars_[out++] = c;
  }
  node_.type = TKELXMLNodeType::XmlDeclaration;
  node_.localName = node_.qualifiedName = xml_;
  node_.valueStart = first;
  node_.valueLength = out - first;
  node_.depth = 0;
  pos_ = p;
  ApplyDeclaredEncoding(p, hasEncoding ? &encodingName : nullptr);
  return true;
}

bool TKELXMLTextReader::ParseContent() {
  for (;;) {
    Compact();
    ResetNode();
    const size_t p = pos_;
    const char16_t c = chars_[p];
    if (c == u'<') {
      const int c1 = Peek(p + 1);
      if (c1 == u'/') {
        ParseEndTag(p + 2);
        return true;
      }
      if (c1 == u'?') {
        if (ParsePI(p + 2)) return true;
        continue;
      }
      if (c1 == u'!') {
        const int c2 = Peek(p + 2);
        if (c2 == u'-') {
          if (Peek(p + 3) != u'-') ThrowUnexpectedToken(p + 3, "-");
          if (ParseSection(p + 4, TSection::Comment, node_)) return true;
          continue;
        }
        if (c2 == u'[') {
          if (elements_.empty() && level_ == TKELConformanceLevel::Document) Throw("InvalidRootData", p + 2);
          if (!MatchAt(p + 3, u"CDATA[")) ThrowUnexpectedToken(p + 3, "CDATA[");
          if (elements_.empty()) level_ = TKELConformanceLevel::Fragment;
          ParseSection(p + 9, TSection::CData, node_);
          return true;
        }
        const bool doctype = MatchAt(p + 2, u"DOCTYPE");
        if (elements_.empty()) {
          if (!doctype) ThrowUnexpectedToken(p + 2, rootSeen_ ? "<!--" : "DOCTYPE");
          if (rootSeen_ || doctypeSeen_) Throw("Unexpected DTD declaration.", p + 2);
          SkipDoctype(p + 9);
          continue;
        }
        if (doctype) {
          const int after = Peek(p + 9);
          if (after < 0 || !kelXMLIsNameChar(static_cast<char16_t>(after))) Throw("Unexpected DTD declaration.", p + 2);
        }
        ThrowUnexpectedToken(p + 2, "<!--", "<[CDATA[");
      }
      if (c1 < 0) Throw(kUnexpectedEof, p + 1);
      ParseStartTag(p + 1);
      return true;
    }
    if (c == 0 && p == charsUsed_) {
      if (ReadData() == 0) return EndOfInput(p);
      continue;
    }
    if (ParseText(p, elements_.empty())) return true;
  }
}

bool TKELXMLTextReader::EndOfInput(size_t at) {
  if (!elements_.empty()) {
    std::string names;
    for (auto it = elements_.rbegin(); it != elements_.rend(); ++it) {
      if (!names.empty()) names += ", ";
      names += it->qualifiedName->Utf8;
    }
    Throw("Unexpected end of file has occurred. The following elements are not closed: " + names + ".", at);
  }
  if (level_ == TKELConformanceLevel::Document && !rootSeen_) ThrowBare("Root element is missing.");
  if (level_ == TKELConformanceLevel::Auto) level_ = rootSeen_ ? TKELConformanceLevel::Document : TKELConformanceLevel::Fragment;
  state_ = TState::EndOfInput;
  ResetNode();
  return false;
}

// --- Names ---------------------------------------------------------------------------------

// Scans a name at `at` and interns it. With namespace support a name is an
// NCName, optionally prefix ':' local name (`noColon`: no colon at all);
// without it colons are ordinary name characters. Returns the index after
// the name.
size_t TKELXMLTextReader::ParseName(size_t at, const TName*& qualified, const TName*& prefix, const TName*& local,
                                    bool noColon) {
  const bool namespaces = settings_.SupportNamespaces;
  const int first = Peek(at);
  if (first < 0) ThrowEofIn("Name", lineNo_, PositionOf(at));
  if (!kelXMLIsNameStartChar(static_cast<char16_t>(first)) && (namespaces || first != u':')) ThrowNameChar(at, true);
  size_t p = at + 1, colon = 0;
  for (;;) {
    const char16_t* c = chars_.data();
    while (kProps[c[p]] & xcName) ++p;
    const char16_t ch = c[p];
    if (ch == u':') {
      if (!namespaces) {
        ++p;
        continue;
      }
      if (noColon || colon != 0) ThrowNameChar(p, false);
      colon = p++;
      const int next = Peek(p);
      if (next < 0) ThrowEofIn("Name", lineNo_, PositionOf(p));
      if (!kelXMLIsNameStartChar(static_cast<char16_t>(next))) ThrowNameChar(p, true);
      ++p;
      continue;
    }
    if (ch == 0 && p == charsUsed_) {
      if (ReadData() == 0) ThrowEofIn("Name", lineNo_, PositionOf(p));
      continue;
    }
    break;
  }
  qualified = names_->Add(&chars_[at], p - at);
  if (colon != 0) {
    prefix = names_->Add(&chars_[at], colon - at);
    local = names_->Add(&chars_[colon + 1], p - colon - 1);
  } else {
    prefix = empty_;
    local = qualified;
  }
  return p;
}

// Moves past a line break at `at` (LF, CR LF or CR) and counts the line.
size_t TKELXMLTextReader::NewLine(size_t at) {
  if (chars_[at] == u'\r' && Peek(at + 1) == u'\n') ++at;
  ++lineNo_;
  lineStart_ = static_cast<ptrdiff_t>(at + 1);
  return at + 1;
}

size_t TKELXMLTextReader::SkipWhitespace(size_t at) {
  for (;;) {
    const char16_t c = chars_[at];
    if (c == u' ' || c == u'\t') {
      ++at;
    } else if (IsLineBreak(c)) {
      at = NewLine(at);
    } else if (c == 0 && at == charsUsed_) {
      if (ReadData() == 0) return at;
    } else {
      return at;
    }
  }
}

// --- Tags ----------------------------------------------------------------------------------

void TKELXMLTextReader::ParseStartTag(size_t at) {
  if (elements_.empty()) {
    if (rootSeen_) {
      if (level_ == TKELConformanceLevel::Document) Throw("There are multiple root elements.", at);
      level_ = TKELConformanceLevel::Fragment;
    }
    rootSeen_ = true;
  }
  node_.type = TKELXMLNodeType::Element;
  SetPosition(node_, at);
  size_t p = ParseName(at, node_.qualifiedName, node_.prefix, node_.localName, false);
  node_.ns = empty_;
  const char16_t c = chars_[p];
  if (c == u'>') {
    EndStartTag(p + 1, false);
  } else if (c == u'/') {
    const int n = Peek(p + 1);
    if (n < 0) ThrowEofIn(">", lineNo_, PositionOf(p + 1));
    if (n != u'>') ThrowUnexpectedToken(p + 1, ">");
    EndStartTag(p + 2, true);
  } else if (kelXMLIsWhitespace(c)) {
    ParseAttributes(p);
  } else {
    ThrowNameChar(p, false);
  }
}

size_t TKELXMLTextReader::ParseAttributes(size_t at) {
  size_t p = at;
  for (;;) {
    p = SkipWhitespace(p);
    const int c = Peek(p);
    if (c < 0) Throw(kUnexpectedEof, p);
    if (c == u'>') {
      EndStartTag(p + 1, false);
      return p + 1;
    }
    if (c == u'/') {
      const int n = Peek(p + 1);
      if (n < 0) ThrowEofIn(">", lineNo_, PositionOf(p + 1));
      if (n != u'>') ThrowUnexpectedToken(p + 1, ">");
      EndStartTag(p + 2, true);
      return p + 2;
    }
    TKELXMLNodeData& attribute = NewAttribute();
    SetPosition(attribute, p);
    p = ParseName(p, attribute.qualifiedName, attribute.prefix, attribute.localName, false);
    p = SkipWhitespace(p);
    if (Peek(p) != u'=') ThrowUnexpectedToken(p, "=");
    p = SkipWhitespace(p + 1);
    const int quote = Peek(p);
    if (quote != u'"' && quote != u'\'') ThrowUnexpectedToken(p, "\"", "'");
    p = ParseAttributeValue(p, attribute);
    if (attributeCount_ <= kAttributesCheckedOnAdd) {
      for (int i = 0; i < attributeCount_ - 1; ++i)
        if (attributes_[i].qualifiedName == attribute.qualifiedName)
          ThrowAt(kelFormat("%s is a duplicate attribute name", {attribute.qualifiedName->Utf8}), attribute.line,
                  attribute.position);
    }
    const int next = Peek(p);
    if (next >= 0 && !kelXMLIsWhitespace(static_cast<char16_t>(next)) && next != u'>' && next != u'/')
      ThrowExpectingWhitespace(p);
  }
}

// Reads a quoted value at `at` in place: references replaced, TAB, LF, CR
// and CR LF turned into one space. Returns the index after the closing quote.
size_t TKELXMLTextReader::ParseAttributeValue(size_t at, TKELXMLNodeData& attribute) {
  const char16_t quote = chars_[at];
  const int quoteLine = lineNo_, quotePosition = PositionOf(at);
  attribute.quote = quote;
  const size_t start = at + 1;
  size_t p = start, out = start;
  for (;;) {
    char16_t* c = chars_.data();
    if (out == p) {
      while (kProps[c[p]] & xcAttributeValue) ++p;
      out = p;
    } else {
      while (kProps[c[p]] & xcAttributeValue) c[out++] = c[p++];
    }
    const char16_t ch = c[p];
    if (ch == quote) break;
    switch (ch) {
      case u'"':
      case u'\'':
      case u'>':
        c[out++] = ch;
        ++p;
        continue;
      case u'&':
        p = ParseReference(p, out);
        continue;
      case u'<':
        ThrowInvalidChar(p, true);
      case u'\t':
        c[out++] = u' ';
        ++p;
        continue;
      case u'\n':
      case u'\r':
        p = NewLine(p);
        chars_[out++] = u' ';
        continue;
      default:
        break;
    }
    if (ch == 0 && p == charsUsed_) {
      if (ReadData() == 0) ThrowAt(kUnclosedLiteral, quoteLine, quotePosition);
      continue;
    }
    CopyOtherCharacter(p, out);
  }
  attribute.type = TKELXMLNodeType::Attribute;
  attribute.valueStart = start;
  attribute.valueLength = out - start;
  return p + 1;
}

// Reads a reference at `at` ('&'): a predefined entity or a character
// reference is written at `out` in place; any other '&' is kept as written.
// Returns the index after what was read.
size_t TKELXMLTextReader::ParseReference(size_t at, size_t& out) {
  if (Peek(at + 1) == u'#') {
    const bool hex = Peek(at + 2) == u'x';
    size_t p = at + (hex ? 3 : 2);
    const size_t digits = p;
    uint64_t value = 0;
    for (int d; (d = Peek(p)) >= 0; ++p) {
      int digit;
      if (d >= u'0' && d <= u'9')
        digit = d - u'0';
      else if (hex && d >= u'a' && d <= u'f')
        digit = d - u'a' + 10;
      else if (hex && d >= u'A' && d <= u'F')
        digit = d - u'A' + 10;
      else
        break;
      value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
      if (value > 0xFFFFFFFFull) value = 0x100000000ull;  // saturate: too large either way
    }
    if (p == digits || Peek(p) != u';')
      Throw(hex ? "Invalid syntax for a hexadecimal numeric entity reference."
                : "Invalid syntax for a decimal numeric entity reference.",
            at);
    // A value beyond 32 bits is no value at all; one beyond the last code
    // point is a character that XML cannot hold, whatever the settings.
    if (value > 0xFFFFFFFFull) Throw(kBadCharRefValue, at);
    if (value > 0x10FFFF) ThrowInvalidCode(static_cast<uint32_t>(value), at);
    if (value >= 0x10000) {
      value -= 0x10000;
      chars_[out++] = static_cast<char16_t>(0xD800 + (value >> 10));
      chars_[out++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      if (settings_.CheckCharacters && !kelXMLIsCharData(static_cast<char16_t>(value)))
        ThrowInvalidCode(static_cast<uint32_t>(value), at);
      chars_[out++] = static_cast<char16_t>(value);
    }
    return p + 1;
  }
  static constexpr struct {
    std::u16string_view name;
    char16_t c;
  } kEntities[] = {{u"lt", u'<'}, {u"gt", u'>'}, {u"amp", u'&'}, {u"apos", u'\''}, {u"quot", u'"'}};
  size_t p = at + 1;
  while (p - at <= 5) {
    const int d = Peek(p);
    if (d < u'a' || d > u'z') break;
    ++p;
  }
  if (p > at + 1 && Peek(p) == u';') {
    const std::u16string_view name(&chars_[at + 1], p - at - 1);
    for (const auto& entity : kEntities)
      if (entity.name == name) {
        chars_[out++] = entity.c;
        return p + 1;
      }
  }
  chars_[out++] = u'&';
  return at + 1;
}

void TKELXMLTextReader::EndStartTag(size_t next, bool empty) {
  pos_ = next;
  node_.isEmptyElement = empty;
  node_.depth = static_cast<int>(elements_.size());
  for (int i = 0; i < attributeCount_; ++i) attributes_[i].depth = node_.depth + 1;
  TElement element{node_.qualifiedName, node_.prefix, node_.localName, empty_, node_.line, node_.position, false, false};
  if (settings_.SupportNamespaces) {
    elements_.push_back(element);
    ResolveNamespaces();
  } else {
    if (attributeCount_ > kAttributesCheckedOnAdd) CheckDuplicates(false);
    for (int i = 0; i < attributeCount_; ++i) attributes_[i].ns = empty_;
    elements_.push_back(element);
  }
  popPending_ = empty;
}

void TKELXMLTextReader::ResolveNamespaces() {
  TElement& element = elements_.back();
  if (attributeCount_ > kAttributesCheckedOnAdd) CheckDuplicates(false);
  for (int i = 0; i < attributeCount_; ++i) {
    TKELXMLNodeData& a = attributes_[i];
    a.ns = empty_;
    const bool isDefault = a.prefix == empty_ && a.localName == xmlns_;
    if (isDefault || a.prefix == xmlns_) {
      a.ns = xmlnsUri_;
      const TName* uri = names_->Add(&chars_[a.valueStart], a.valueLength);
      const TName* declared = isDefault ? empty_ : a.localName;
      if (uri == xmlnsUri_)
        ThrowAt(declared == xmlns_ ? kXmlnsReserved : kCannotMap, a.line, a.position);
      if (uri == xmlUri_ && declared != xml_) ThrowAt(kCannotMap, a.line, a.position);
      if (!isDefault && uri == empty_) ThrowAt("Invalid namespace declaration.", a.line, a.position);
      if (!element.namespaceScope) {
        namespaces_->PushScope();
        element.namespaceScope = true;
      }
      try {
        namespaces_->AddNamespace(declared, uri);
      } catch (const EKELXMLException& e) {
        ThrowAt(e.RawMessage(), a.line, a.position);
      }
    } else if (a.prefix == xml_) {
      a.ns = xmlUri_;
      if (a.localName == space_ || a.localName == lang_) {
        if (!element.context) {
          contexts_.push_back(contexts_.back());
          element.context = true;
        }
        const std::string value = ToUtf8(&chars_[a.valueStart], a.valueLength);
        if (a.localName == space_) {
          const std::string_view trimmed = kelTrim(value);
          if (trimmed == "preserve")
            contexts_.back().space = 2;
          else if (trimmed == "default")
            contexts_.back().space = 1;
          else
            ThrowAt(kelFormat("'%s' is an invalid xml:space value.", {value}), a.line, a.position);
        } else {
          contexts_.back().lang = value;
        }
      }
    }
  }
  auto resolve = [this](const TName* prefix) {
    const TName* uri = namespaces_->LookupNamespace(prefix);
    return uri != nullptr ? uri : prefix;  // an undeclared prefix stands for itself
  };
  element.ns = node_.ns = resolve(node_.prefix);
  bool prefixed = false;
  for (int i = 0; i < attributeCount_; ++i) {
    TKELXMLNodeData& a = attributes_[i];
    if (a.prefix != empty_ && a.prefix != xmlns_ && a.prefix != xml_) a.ns = resolve(a.prefix);
    prefixed = prefixed || a.prefix != empty_;
  }
  if (prefixed) CheckDuplicates(true);
}

// Duplicate attributes by qualified name, or by local name and namespace.
void TKELXMLTextReader::CheckDuplicates(bool byNamespace) {
  auto key = [&](const TKELXMLNodeData& a) {
    return byNamespace ? std::make_pair(a.localName, a.ns) : std::make_pair(a.qualifiedName, empty_);
  };
  auto fail = [&](const TKELXMLNodeData& a) {
    ThrowAt(kelFormat("%s is a duplicate attribute name", {a.qualifiedName->Utf8}), a.line, a.position);
  };
  if (attributeCount_ <= kAttributesCheckedOnAdd) {
    for (int i = 1; i < attributeCount_; ++i)
      for (int j = 0; j < i; ++j)
        if (key(attributes_[i]) == key(attributes_[j])) fail(attributes_[i]);
    return;
  }
  struct PairHash {
    size_t operator()(const std::pair<const TName*, const TName*>& k) const {
      return std::hash<const void*>()(k.first) * 31 + std::hash<const void*>()(k.second);
    }
  };
  std::unordered_set<std::pair<const TName*, const TName*>, PairHash> seen;
  for (int i = 0; i < attributeCount_; ++i)
    if (!seen.insert(key(attributes_[i])).second) fail(attributes_[i]);
}

void TKELXMLTextReader::ParseEndTag(size_t at) {
  node_.type = TKELXMLNodeType::EndElement;
  SetPosition(node_, at);
  if (elements_.empty()) Throw("Unexpected end tag.", at);
  const TElement& element = elements_.back();
  const std::u16string& expected = element.qualifiedName->Text;
  size_t p = at;
  if (charsUsed_ - at > expected.size() &&
      std::memcmp(&chars_[at], expected.data(), expected.size() * sizeof(char16_t)) == 0 &&
      !kelXMLIsNameChar(chars_[at + expected.size()]) && chars_[at + expected.size()] != u':') {
    p = at + expected.size();
  } else {
    for (;;) {
      const int c = Peek(p);
      if (c < 0) Throw("UnclosedElements", p);
      if (!kelXMLIsNameChar(static_cast<char16_t>(c)) && c != u':') break;
      ++p;
    }
  }
  if (std::u16string_view(&chars_[at], p - at) != expected) {
    if (p == at) ThrowNameChar(at, true);
    Throw(kelFormat("The '%s' start tag on line '%s' position '%s' does not match the end tag of '%s'.",
                    {element.qualifiedName->Utf8, element.line + settings_.LineNumberOffset,
                     element.position + (element.line == 1 ? settings_.LinePositionOffset : 0),
                     ToUtf8(&chars_[at], p - at)}),
          at);
  }
  p = SkipWhitespace(p);
  const int c = Peek(p);
  if (c < 0) Throw("UnclosedElements", p);
  if (c != u'>') ThrowUnexpectedToken(p, ">");
  node_.qualifiedName = element.qualifiedName;
  node_.prefix = element.prefix;
  node_.localName = element.localName;
  node_.ns = element.ns;
  node_.depth = static_cast<int>(elements_.size()) - 1;
  pos_ = p + 1;
  popPending_ = true;
}

void TKELXMLTextReader::PopElement() {
  const TElement& element = elements_.back();
  if (element.namespaceScope) namespaces_->PopScope();
  if (element.context) contexts_.pop_back();
  elements_.pop_back();
}

TKELXMLTextReader::TKELXMLNodeData& TKELXMLTextReader::NewAttribute() {
  if (static_cast<size_t>(attributeCount_) == attributes_.size()) attributes_.resize(attributes_.size() * 2);
  TKELXMLNodeData& a = attributes_[attributeCount_++];
  a.type = TKELXMLNodeType::Attribute;
  a.ns = empty_;
  a.valueStart = a.valueLength = 0;
  a.valueReady = false;
  a.isEmptyElement = false;
  return a;
}

// --- Text and other content --------------------------------------------------------------------

bool TKELXMLTextReader::ParseText(size_t at, bool topLevel) {
  if (topLevel) {
    if (chars_[at] == u'&') Throw(kRootLevel, at);
    if (level_ == TKELConformanceLevel::Document) {
      size_t q = at;
      while (!IsEnd(q) && kelXMLIsWhitespace(chars_[q])) ++q;
      if (!IsEnd(q) && chars_[q] != u'<') Throw(kRootLevel, q);
    }
  }
  SetPosition(node_, at);
  size_t p = at, out = at;
  bool whitespace = true;
  for (;;) {
    char16_t* c = chars_.data();
    if (!whitespace) {
      if (out == p) {
        while (kProps[c[p]] & xcText) ++p;
        out = p;
      } else {
        while (kProps[c[p]] & xcText) c[out++] = c[p++];
      }
    }
    const char16_t ch = c[p];
    if (ch == u'<') break;
    switch (ch) {
      case u' ':
      case u'\t':
        c[out++] = ch;
        ++p;
        continue;
      case u'\n':
      case u'\r':
        p = NewLine(p);
        chars_[out++] = u'\n';
        continue;
      case u'&':
        whitespace = false;
        p = ParseReference(p, out);
        continue;
      case u']':
        if (Peek(p + 1) == u']' && Peek(p + 2) == u'>') Throw("']]&gt;' is not allowed in character data.", p);
        whitespace = false;
        chars_[out++] = ch;
        ++p;
        continue;
      default:
        break;
    }
    if (ch == 0 && p == charsUsed_) {
      if (ReadData() == 0) break;
      continue;
    }
    whitespace = false;
    if (kProps[ch] & xcText) {
      c[out++] = ch;
      ++p;
      continue;
    }
    CopyOtherCharacter(p, out);
  }
  pos_ = p;
  node_.valueStart = at;
  node_.valueLength = out - at;
  if (whitespace) {
    const bool preserve = contexts_.back().space == 2;
    node_.type = preserve ? TKELXMLNodeType::SignificantWhitespace : TKELXMLNodeType::Whitespace;
    return !(settings_.IgnoreWhitespace && !preserve);
  }
  if (topLevel && level_ == TKELConformanceLevel::Auto) level_ = TKELConformanceLevel::Fragment;
  node_.type = TKELXMLNodeType::Text;
  return true;
}

// Copies the character at `p` that none of a scanning loop's fast cases
// took: a surrogate pair whole, anything else after the character check.
void TKELXMLTextReader::CopyOtherCharacter(size_t& p, size_t& out) {
  const char16_t ch = chars_[p];
  if (kelXMLIsHighSurrogate(ch)) {
    const int low = Peek(p + 1);
    if (low >= 0 && kelXMLIsLowSurrogate(static_cast<char16_t>(low))) {
      chars_[out++] = ch;
      chars_[out++] = static_cast<char16_t>(low);
      p += 2;
      return;
    }
  }
  if (settings_.CheckCharacters) ThrowInvalidChar(p, false);
  chars_[out++] = ch;
  ++p;
}

// Comments, CDATA sections and processing-instruction content: read up to
// the terminator in place, line ends normalised, characters checked.
bool TKELXMLTextReader::ParseSection(size_t at, TSection kind, TKELXMLNodeData& node) {
  if (kind != TSection::PI) SetPosition(node, at);
  const int startLine = node.line, startPosition = node.position;
  const char16_t special = kind == TSection::Comment ? u'-' : kind == TSection::CData ? u']' : u'?';
  size_t p = at, out = at, end;
  for (;;) {
    char16_t* c = chars_.data();
    while ((kProps[c[p]] & xcText) && c[p] != special) c[out++] = c[p++];
    const char16_t ch = c[p];
    if (ch == special) {
      if (kind == TSection::Comment && Peek(p + 1) == u'-') {
        if (Peek(p + 2) != u'>')
          Throw("An XML comment cannot contain '--', and '-' cannot be the last character.", p);
        end = p + 3;
        break;
      }
      if (kind == TSection::CData && Peek(p + 1) == u']' && Peek(p + 2) == u'>') {
        end = p + 3;
        break;
      }
      if (kind == TSection::PI && Peek(p + 1) == u'>') {
        end = p + 2;
        break;
      }
      chars_[out++] = ch;
      ++p;
      continue;
    }
    switch (ch) {
      case u'&':
      case u'<':
      case u']':
      case u'\t':
        c[out++] = ch;
        ++p;
        continue;
      case u'\n':
      case u'\r':
        p = NewLine(p);
        chars_[out++] = u'\n';
        continue;
      default:
        break;
    }
    if (ch == 0 && p == charsUsed_) {
      if (ReadData() == 0)
        ThrowEofIn(kind == TSection::Comment ? "Comment" : kind == TSection::CData ? "CDATA" : "PI", startLine,
                   startPosition);
      continue;
    }
    CopyOtherCharacter(p, out);
  }
  pos_ = end;
  node.valueStart = at;
  node.valueLength = out - at;
  switch (kind) {
    case TSection::Comment:
      node.type = TKELXMLNodeType::Comment;
      return !settings_.IgnoreComments;
    case TSection::CData:
      node.type = TKELXMLNodeType::CDATA;
      return true;
    case TSection::PI:
      node.type = TKELXMLNodeType::ProcessingInstruction;
      return !settings_.IgnoreProcessingInstructions;
  }
  return true;
}

bool TKELXMLTextReader::ParsePI(size_t at) {
  SetPosition(node_, at);
  const size_t p = ParseName(at, node_.qualifiedName, node_.prefix, node_.localName, true);
  const std::string& target = node_.qualifiedName->Utf8;
  if (target == "xml")
    Throw("Unexpected XML declaration. The XML declaration must be the first node in the document, and no white "
          "space characters are allowed to appear before it.",
          at);
  if (kelSameTextAscii(target, "xml"))
    Throw(kelFormat("'%s' is an invalid name for processing instructions.", {target}), at);
  const char16_t c = chars_[p];
  if (c == u'?' && Peek(p + 1) == u'>') {
    node_.type = TKELXMLNodeType::ProcessingInstruction;
    node_.valueStart = p;
    node_.valueLength = 0;
    pos_ = p + 2;
    return !settings_.IgnoreProcessingInstructions;
  }
  if (!kelXMLIsWhitespace(c)) ThrowNameChar(p, false);
  return ParseSection(SkipWhitespace(p), TSection::PI, node_);
}

void TKELXMLTextReader::SkipDoctype(size_t at) {
  const int startLine = lineNo_, startPosition = PositionOf(at - 7);
  auto requireWhitespace = [&](size_t p) {
    const int c = Peek(p);
    if (c < 0) ThrowEofIn("DOCTYPE", startLine, startPosition);
    if (!kelXMLIsWhitespace(static_cast<char16_t>(c))) ThrowExpectingWhitespace(p);
    return SkipWhitespace(p);
  };
  size_t p = requireWhitespace(at);
  if (Peek(p) < 0) ThrowEofIn("DOCTYPE", startLine, startPosition);
  const TName *qualified, *prefix, *local;
  p = SkipWhitespace(ParseName(p, qualified, prefix, local, false));
  int c = Peek(p);
  if (c == u'P' || c == u'S') {
    const bool isPublic = c == u'P';
    if (!MatchAt(p, isPublic ? u"PUBLIC" : u"SYSTEM")) ThrowUnexpectedToken(p, isPublic ? "PUBLIC" : "SYSTEM");
    p = requireWhitespace(p + 6);
    p = SkipLiteral(p, startLine, startPosition);
    if (isPublic) p = SkipLiteral(requireWhitespace(p), startLine, startPosition);
    p = SkipWhitespace(p);
    c = Peek(p);
    if (c < 0) ThrowEofIn("DOCTYPE", startLine, startPosition);
    if (c != u'[' && c != u'>') Throw("Expecting an internal subset or the end of the DOCTYPE declaration.", p);
  } else if (c < 0) {
    ThrowEofIn("DOCTYPE", startLine, startPosition);
  } else if (c != u'[' && c != u'>') {
    Throw("Expecting external ID, '[' or '&gt;'.", p);
  }
  if (c == u'[') {
    // The internal subset, up to its ']', past literals, comments and
    // processing instructions.
    ++p;
    for (;;) {
      c = Peek(p);
      if (c < 0) ThrowEofIn("DOCTYPE", startLine, startPosition);
      if (c == u']') break;
      if (c == u'"' || c == u'\'') {
        p = SkipLiteral(p, startLine, startPosition);
      } else if (c == u'<' && MatchAt(p, u"<!--")) {
        p += 4;
        while (!MatchAt(p, u"-->")) {
          if (IsEnd(p)) ThrowEofIn("DOCTYPE", startLine, startPosition);
          p = IsLineBreak(chars_[p]) ? NewLine(p) : p + 1;
        }
        p += 3;
      } else if (c == u'<' && MatchAt(p, u"<?")) {
        p += 2;
        while (!MatchAt(p, u"?>")) {
          if (IsEnd(p)) ThrowEofIn("DOCTYPE", startLine, startPosition);
          p = IsLineBreak(chars_[p]) ? NewLine(p) : p + 1;
        }
        p += 2;
      } else {
        p = IsLineBreak(chars_[p]) ? NewLine(p) : p + 1;
      }
    }
    p = SkipWhitespace(p + 1);
    c = Peek(p);
    if (c < 0) ThrowEofIn("DOCTYPE", startLine, startPosition);
    if (c != u'>') ThrowUnexpectedToken(p, ">");
  }
  doctypeSeen_ = true;
  pos_ = p + 1;
}

size_t TKELXMLTextReader::SkipLiteral(size_t at, int line, int position) {
  const int quote = Peek(at);
  if (quote < 0) ThrowEofIn("DOCTYPE", line, position);
  if (quote != u'"' && quote != u'\'') ThrowUnexpectedToken(at, "\"", "'");
  size_t p = at + 1;
  for (;;) {
    const int c = Peek(p);
    if (c < 0) ThrowEofIn("DOCTYPE", line, position);
    if (c == quote) return p + 1;
    p = IsLineBreak(static_cast<char16_t>(c)) ? NewLine(p) : p + 1;
  }
}

// --- The current node -------------------------------------------------------------------------

void TKELXMLTextReader::MakeValue(TKELXMLNodeData& node) {
  const char16_t* text = chars_.data() + node.valueStart;
  size_t length = node.valueLength;
  if (contexts_.back().space != 2) {
    while (length > 0 && text[0] <= 0x20) {
      ++text;
      --length;
    }
    while (length > 0 && text[length - 1] <= 0x20) --length;
  }
  AssignUtf8(node.value, text, length);
  node.valueReady = true;
}

const std::string& TKELXMLTextReader::Value() {
  TKELXMLNodeData& node = curAttribute_ >= 0 ? attributes_[curAttribute_] : node_;
  if (!node.valueReady) MakeValue(node);
  return node.value;
}

int TKELXMLTextReader::LineNumber() const { return Current().line + settings_.LineNumberOffset; }

int TKELXMLTextReader::LinePosition() const {
  const TKELXMLNodeData& node = Current();
  return node.position + (node.line == 1 ? settings_.LinePositionOffset : 0);
}

bool TKELXMLTextReader::MoveToNextAttribute() {
  if (node_.type != TKELXMLNodeType::Element || curAttribute_ + 1 >= attributeCount_) return false;
  ++curAttribute_;
  return true;
}

bool TKELXMLTextReader::MoveToAttribute(int index) {
  if (node_.type != TKELXMLNodeType::Element || index < 0 || index >= attributeCount_) return false;
  curAttribute_ = index;
  return true;
}

bool TKELXMLTextReader::MoveToElement() {
  if (curAttribute_ < 0) return false;
  curAttribute_ = -1;
  return true;
}

bool TKELXMLTextReader::GetAttribute(std::string_view name, std::string& value) {
  value.clear();
  if (node_.type != TKELXMLNodeType::Element) return false;
  const bool qualified = name.find(':') != std::string_view::npos;
  for (int i = 0; i < attributeCount_; ++i) {
    TKELXMLNodeData& a = attributes_[i];
    if (qualified ? a.qualifiedName->Utf8 == name : (a.localName->Utf8 == name && a.ns == empty_)) {
      if (!a.valueReady) MakeValue(a);
      value = a.value;
      return true;
    }
  }
  return false;
}

std::string TKELXMLTextReader::GetAttribute(std::string_view localName, std::string_view namespaceURI) {
  if (node_.type != TKELXMLNodeType::Element) return {};
  for (int i = 0; i < attributeCount_; ++i) {
    TKELXMLNodeData& a = attributes_[i];
    if (a.localName->Utf8 == localName && a.ns->Utf8 == namespaceURI) {
      if (!a.valueReady) MakeValue(a);
      return a.value;
    }
  }
  return {};
}

std::string TKELXMLTextReader::LookupNamespace(std::string_view prefix) {
  if (!namespaces_) return {};
  const TName* name = names_->Get(kelUtf8ToUtf16(prefix));
  if (name == nullptr) return {};
  const TName* uri = namespaces_->LookupNamespace(name);
  return uri != nullptr ? uri->Utf8 : std::string();
}

void TKELXMLTextReader::Skip() {
  MoveToElement();
  if (node_.type == TKELXMLNodeType::Element && !node_.isEmptyElement) {
    const int depth = node_.depth;
    while (Read())
      if (node_.type == TKELXMLNodeType::EndElement && node_.depth == depth) break;
  }
  Read();
}

}  // namespace kel
