#include "kel/base/xml_writer.h"

#include "kel/base/format.h"
#include "kel/base/text.h"

namespace kel {

namespace {

constexpr size_t kSpare = 32;

// Four lower-case hexadecimal digits of a code unit.
std::string Hex4(char16_t c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i, c = static_cast<char16_t>(c >> 4)) out[i] = kDigits[c & 0xF];
  return out;
}

std::string InvalidCharMessage(char16_t c) {
  return kelFormat("%s, hexadecimal value %s, is an invalid character.", {kelXMLQuotedChar(c), Hex4(c)});
}

[[noreturn]] void ThrowInvalidChar(char16_t c) { throw EKELXMLArgumentException(InvalidCharMessage(c)); }

// The surrogate error for the unit at `i` of the text, or "" when the unit
// starts a valid pair. `i` holds a surrogate.
std::string SurrogateProblem(const char16_t* text, size_t count, size_t i, bool& pairError) {
  pairError = false;
  const char16_t c = text[i];
  if (kelXMLIsLowSurrogate(c))
    return kelFormat(
        "Invalid high surrogate character (%s). A high surrogate character must have a value from range (0xD800 - "
        "0xDBFF).",
        {Hex4(c)});
  if (i + 1 >= count) return "The surrogate pair is invalid. Missing a low surrogate character.";
  if (kelXMLIsLowSurrogate(text[i + 1])) return {};
  pairError = true;
  return kelFormat(
      "The surrogate pair (%s, %s) is invalid. A high surrogate character (0xD800 - 0xDBFF) must always be paired "
      "with a low surrogate character (0xDC00 - 0xDFFF).",
      {Hex4(text[i + 1]), Hex4(c)});
}

[[noreturn]] void ThrowSurrogate(const std::string& message, bool pairError) {
  if (pairError) throw EKELXMLInvalidSurrogatePairException(message);
  throw EKELXMLArgumentException(message);
}

void CheckRawArguments(const char16_t* buffer, size_t length, ptrdiff_t index, ptrdiff_t count) {
  if (buffer == nullptr) throw EKELXMLArgumentNullException("buffer");
  if (index < 0) throw EKELXMLArgumentOutOfRangeException("index");
  if (count < 0 || static_cast<size_t>(index) > length || static_cast<size_t>(count) > length - static_cast<size_t>(index))
    throw EKELXMLArgumentOutOfRangeException("count");
}

}  // namespace

// --- TKELXMLWriter ---------------------------------------------------------------------

std::unique_ptr<TKELXMLWriter> TKELXMLWriter::Create(TKELStream& stream, const TKELXMLWriterSettings& settings) {
  auto raw = std::make_unique<TKELXMLRawWriter>(stream, settings);
  if (!settings.CheckWellFormedness) return raw;
  return std::make_unique<TKELXMLWellFormedWriter>(std::move(raw));
}

void TKELXMLWriter::WriteString(std::string_view text) {
  const std::u16string chars = kelUtf8ToUtf16(text);
  WriteChars(chars.data(), chars.size());
}

void TKELXMLWriter::WriteAttributeString(std::string_view localName, std::string_view value) {
  WriteStartAttribute({}, localName);
  WriteString(value);
  WriteEndAttribute();
}

// --- TKELXMLRawWriter --------------------------------------------------------------------

TKELXMLRawWriter::TKELXMLRawWriter(TKELStream& stream, const TKELXMLWriterSettings& settings)
    : stream_(stream),
      settings_(settings),
      newLine_(kelUtf8ToUtf16(settings.NewLineChars)),
      indent_(kelUtf8ToUtf16(settings.IndentChars)),
      buffer_(kBufferSize + kSpare, u'\0') {
  elements_.reserve(8);
  if (settings_.CheckCharacters && settings_.NewLineHandling == TKELNewLineHandling::Replace) {
    for (size_t i = 0; i < newLine_.size(); ++i) {
      const char16_t c = newLine_[i];
      std::string inner;
      if (c >= 0xD800 && c <= 0xDFFF) {
        bool pairError;
        inner = SurrogateProblem(newLine_.data(), newLine_.size(), i, pairError);
        if (inner.empty()) ++i;
      } else if (c != u'\t' && c != u'\n' && c != u'\r' && !(kelXMLCharProperties[c] & xcText)) {
        inner = InvalidCharMessage(c);
      }
      if (!inner.empty())
        throw EKELXMLArgumentException(
            kelFormat("WriterSettings.%s can contain only valid XML text content characters when "
                      "XmlWriterSettings.CheckCharacters is true. %s",
                      {"NewLineChars", inner}));
    }
  }
}

TKELXMLRawWriter::~TKELXMLRawWriter() {
  try {
    Close();
  } catch (...) {
    // Nothing can be reported from a destructor; Close() reports it.
  }
}

TKELXMLWriteState TKELXMLRawWriter::WriteState() const {
  static constexpr TKELXMLWriteState kReported[] = {
      TKELXMLWriteState::Start,     TKELXMLWriteState::Content, TKELXMLWriteState::Prolog,
      TKELXMLWriteState::Element,   TKELXMLWriteState::Content, TKELXMLWriteState::Attribute,
      TKELXMLWriteState::Attribute, TKELXMLWriteState::Closed,  TKELXMLWriteState::Error};
  return kReported[state_];
}

void TKELXMLRawWriter::Advance(TToken token) {
  const int from = state_;
  if (from == 3 && (token == kStartElement || token == kContent)) Put(u'>');
  int to = -1;
  switch (token) {
    case kStartDocument:
      if (from == 0) to = 2;
      break;
    case kStartElement:
      if (from == 0 || from == 2 || from == 3 || from == 4) to = 3;
      break;
    case kEndElement:
      if (from == 3 || from == 4) to = top_ <= 0 ? 1 : 4;
      break;
    case kContent:
      if (from == 3 || from == 4) to = 4;
      if (from == 5 || from == 6) to = 6;
      break;
    case kStartAttribute:
      if (from == 3) to = 5;
      break;
    case kEndAttribute:
      if (from == 5 || from == 6) to = 3;
      break;
  }
  if (to < 0) {
    state_ = 8;
    throw EKELXMLException(kelFormat("Invalid state (FState = %d, AToken = %d)", {from, static_cast<int>(token)}));
  }
  state_ = to;
}

void TKELXMLRawWriter::PutAscii(std::string_view text) {
  for (char c : text) Put(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

// Names are copied; only U+FFFE and U+FFFF count as invalid there.
void TKELXMLRawWriter::PutName(std::u16string_view name) {
  for (char16_t c : name) {
    if (c >= 0xFFFE && settings_.CheckCharacters) ThrowInvalidChar(c);
    Put(c);
  }
}

void TKELXMLRawWriter::PutHex4(char16_t c) { PutAscii(Hex4(c)); }

void TKELXMLRawWriter::PutEntity(char16_t c) {
  PutAscii("&#x");
  PutHex4(c);
  Put(u';');
}

// An invalid character: an error with CheckCharacters, else escaped (text
// and attribute values) or copied.
void TKELXMLRawWriter::PutInvalid(char16_t c, bool escape) {
  if (settings_.CheckCharacters) ThrowInvalidChar(c);
  if (!escape) {
    Put(c);
  } else if (settings_.UnderscoreEscapes) {
    PutAscii("_x");
    PutHex4(c);
    Put(u'_');
  } else {
    PutEntity(c);
  }
}

void TKELXMLRawWriter::WriteBreak(int depth) {
  for (char16_t c : newLine_) Put(c);
  for (int i = 0; i < depth; ++i)
    for (char16_t c : indent_) Put(c);
}

void TKELXMLRawWriter::WriteText(const char16_t* text, size_t count, TMode mode) {
  const bool attribute = mode == TMode::Attribute;
  const bool markup = attribute || mode == TMode::Text;
  const TKELNewLineHandling handling = settings_.NewLineHandling;
  for (size_t i = 0; i < count; ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'&':
        markup ? PutAscii("&amp;") : Put(c);
        continue;
      case u'<':
        markup ? PutAscii("&lt;") : Put(c);
        continue;
      case u'>':
        if (markup)
          PutAscii("&gt;");
        else if (mode == TMode::CData && i >= 2 && text[i - 1] == u']' && text[i - 2] == u']')
          PutAscii("]]><![CDATA[>");
        else
          Put(c);
        continue;
      case u'"':
        attribute ? PutAscii("&quot;") : Put(c);
        continue;
      case u'\t':
        attribute && handling != TKELNewLineHandling::None ? PutAscii("&#x9;") : Put(c);
        continue;
      case u'\n':
        if (attribute)
          handling != TKELNewLineHandling::None ? PutAscii("&#xA;") : Put(c);
        else if (handling == TKELNewLineHandling::Replace)
          WriteBreak(0);
        else
          Put(c);
        continue;
      case u'\r':
        if (attribute) {
          handling != TKELNewLineHandling::None ? PutAscii("&#xD;") : Put(c);
        } else if (handling == TKELNewLineHandling::Replace) {
          WriteBreak(0);
          if (i + 1 < count && text[i + 1] == u'\n') ++i;
        } else if (handling == TKELNewLineHandling::Entitize && mode == TMode::Text) {
          PutAscii("&#xD;");
        } else {
          Put(c);
        }
        continue;
      case u'-':
        Put(c);
        if (mode == TMode::Comment && (i + 1 == count || text[i + 1] == u'-')) Put(u' ');
        continue;
      default:
        break;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      bool pairError;
      const std::string problem = SurrogateProblem(text, count, i, pairError);
      if (problem.empty()) {
        Put(c);
        Put(text[++i]);
      } else if (mode == TMode::Text) {
        PutInvalid(c, true);
      } else {
        ThrowSurrogate(problem, pairError);
      }
      continue;
    }
    if (c < 0x20 || c >= 0xFFFE) {
      PutInvalid(c, markup);
      continue;
    }
    Put(c);
  }
}

// A full buffer keeps a high surrogate at its end back for the next flush:
// a pair (from text, a name, a line break or the indentation alike) is never
// encoded in two halves. Flush and Close write everything.
void TKELXMLRawWriter::FlushBuffer(bool final) {
  const bool holdBack = !final && bufPos_ > 1 && kelXMLIsHighSurrogate(LastChar());
  const size_t end = holdBack ? bufPos_ - 1 : bufPos_;
  if (end <= 1) return;
  const std::string bytes = kelUtf16ToUtf8(std::u16string_view(buffer_.data() + 1, end - 1));
  buffer_[0] = buffer_[end - 1];
  if (holdBack) buffer_[1] = buffer_[end];
  bufPos_ = holdBack ? 2 : 1;
  try {
    stream_.WriteBuffer(bytes.data(), bytes.size());
  } catch (...) {
    state_ = 8;
    throw;
  }
}

void TKELXMLRawWriter::WriteStartDocument(TKELXMLStandalone standalone) {
  Advance(kStartDocument);
  if (settings_.OmitXmlDeclaration || declarationWritten_) return;
  PutAscii("<?xml version=\"1.0\" encoding=\"utf-8\"");
  if (standalone == TKELXMLStandalone::Yes) PutAscii(" standalone=\"yes\"");
  if (standalone == TKELXMLStandalone::No) PutAscii(" standalone=\"no\"");
  PutAscii("?>");
  declarationWritten_ = true;
}

void TKELXMLRawWriter::WriteStartElement(std::string_view prefix, std::string_view localName) {
  if (state_ == 0 && !settings_.OmitXmlDeclaration) WriteStartDocument(TKELXMLStandalone::Omit);
  Advance(kStartElement);
  if ((top_ >= 0 && settings_.Indent) || (top_ < 0 && !settings_.OmitXmlDeclaration)) WriteBreak(depth_);
  TOpenElement element{kelUtf8ToUtf16(prefix), kelUtf8ToUtf16(localName)};
  Put(u'<');
  if (!element.prefix.empty()) {
    PutName(element.prefix);
    Put(u':');
  }
  PutName(element.localName);
  elements_.push_back(std::move(element));
  ++top_;
  ++depth_;
}

void TKELXMLRawWriter::WriteEndElement() {
  if (state_ != 3) {
    WriteFullEndElement();
    return;
  }
  Advance(kEndElement);
  PutAscii("/>");
  elements_.pop_back();
  --top_;
  --depth_;
}

void TKELXMLRawWriter::WriteFullEndElement() {
  const bool pending = state_ == 3;
  Advance(kEndElement);
  if (pending) Put(u'>');
  const TOpenElement element = std::move(elements_.back());
  elements_.pop_back();
  --top_;
  --depth_;
  if (settings_.Indent && LastChar() == u'>') WriteBreak(depth_);
  PutAscii("</");
  if (!element.prefix.empty()) {
    PutName(element.prefix);
    Put(u':');
  }
  PutName(element.localName);
  Put(u'>');
}

void TKELXMLRawWriter::WriteStartAttribute(std::string_view prefix, std::string_view localName) {
  Advance(kStartAttribute);
  if (settings_.NewLineOnAttributes) WriteBreak(depth_);
  Put(u' ');
  if (!prefix.empty()) {
    PutName(kelUtf8ToUtf16(prefix));
    Put(u':');
  }
  PutName(kelUtf8ToUtf16(localName));
  PutAscii("=\"");
}

void TKELXMLRawWriter::WriteEndAttribute() {
  Advance(kEndAttribute);
  Put(u'"');
}

void TKELXMLRawWriter::WriteCData(std::string_view text) {
  Advance(kContent);
  const std::u16string chars = kelUtf8ToUtf16(text);
  PutAscii("<![CDATA[");
  WriteText(chars.data(), chars.size(), TMode::CData);
  PutAscii("]]>");
}

void TKELXMLRawWriter::WriteComment(std::string_view text) {
  Advance(kContent);
  const std::u16string chars = kelUtf8ToUtf16(text);
  PutAscii("<!--");
  WriteText(chars.data(), chars.size(), TMode::Comment);
  PutAscii("-->");
}

void TKELXMLRawWriter::WriteEntityRef(std::string_view name) {
  Advance(kContent);
  Put(u'&');
  PutName(kelUtf8ToUtf16(name));
  Put(u';');
}

void TKELXMLRawWriter::WriteCharEntity(char16_t c) {
  Advance(kContent);
  if (settings_.CheckCharacters && !kelXMLIsCharData(c)) ThrowInvalidChar(c);
  PutEntity(c);
}

void TKELXMLRawWriter::WriteChars(const char16_t* chars, size_t count) {
  Advance(kContent);
  WriteText(chars, count, state_ == 6 ? TMode::Attribute : TMode::Text);
}

// Written as one reference to the code point, "&#x1f600;".
void TKELXMLRawWriter::WriteSurrogateCharEntity(char16_t low, char16_t high) {
  if (!kelXMLIsLowSurrogate(low) || !kelXMLIsHighSurrogate(high)) {
    const char16_t pair[2] = {high, low};
    bool pairError;
    std::string problem = SurrogateProblem(pair, 2, 0, pairError);
    if (problem.empty())
      problem = kelFormat("Invalid high surrogate character (%s). A high surrogate character must have a value "
                          "from range (0xD800 - 0xDBFF).",
                          {Hex4(high)});
    ThrowSurrogate(problem, pairError);
  }
  Advance(kContent);
  const uint32_t code = 0x10000 + ((high - 0xD800u) << 10) + (low - 0xDC00u);
  PutAscii("&#x" + kelFormat("%x", {code}) + ";");
}

void TKELXMLRawWriter::WriteRaw(const char16_t* buffer, size_t length, ptrdiff_t index, ptrdiff_t count) {
  CheckRawArguments(buffer, length, index, count);
  Advance(kContent);
  WriteText(buffer + index, static_cast<size_t>(count), TMode::Raw);
}

void TKELXMLRawWriter::WriteRaw(std::string_view text) {
  Advance(kContent);
  const std::u16string chars = kelUtf8ToUtf16(text);
  WriteText(chars.data(), chars.size(), TMode::Raw);
}

void TKELXMLRawWriter::Close() {
  if (state_ == 7 || state_ == 8) return;
  FlushBuffer(true);
  state_ = 7;
}

void TKELXMLRawWriter::Flush() { FlushBuffer(true); }

// --- TKELXMLWellFormedWriter -------------------------------------------------------------

namespace {

void CheckName(std::string_view name) {
  const std::u16string chars = kelUtf8ToUtf16(name);
  for (size_t i = 0; i < chars.size(); ++i) {
    const char16_t c = chars[i];
    if (i == 0 ? kelXMLIsNameStartChar(c) : kelXMLIsNameChar(c)) continue;
    throw EKELXMLException(kelFormat(
        "Invalid name character in \"%s\". The %d character, hexadecimal value %s, cannot be included in a name.",
        {name, static_cast<int>(i), Hex4(c)}));
  }
}

std::string Qualified(const std::string& prefix, const std::string& localName) {
  return prefix.empty() ? localName : prefix + ":" + localName;
}

}  // namespace

TKELXMLWellFormedWriter::TKELXMLWellFormedWriter(std::unique_ptr<TKELXMLWriter> inner) : inner_(std::move(inner)) {}

template <typename F>
void TKELXMLWellFormedWriter::Guard(F&& action) {
  try {
    action();
  } catch (...) {
    failed_ = true;
    throw;
  }
}

TKELXMLWriteState TKELXMLWellFormedWriter::WriteState() const {
  return failed_ ? TKELXMLWriteState::Error : inner_->WriteState();
}

const std::string* TKELXMLWellFormedWriter::LookupNamespace(const std::string& prefix) const {
  static const std::string xml(kXMLNamespaceXml), xmlns(kXMLNamespaceXmlns);
  for (auto element = elements_.rbegin(); element != elements_.rend(); ++element)
    for (auto it = element->namespaces.rbegin(); it != element->namespaces.rend(); ++it)
      if (it->first == prefix) return &it->second;
  if (prefix == "xml") return &xml;
  if (prefix == "xmlns") return &xmlns;
  return nullptr;
}

// The open start tag is complete: every prefix must be declared, and no two
// attributes may share a namespace and a local name.
void TKELXMLWellFormedWriter::CloseStartTag() {
  if (!tagOpen_) return;
  tagOpen_ = false;
  auto resolve = [this](const std::string& prefix) -> std::string {
    if (prefix.empty()) return {};
    const std::string* uri = LookupNamespace(prefix);
    if (uri == nullptr) throw EKELXMLException(kelFormat("Unable to find namespace for the \"%s\" prefix", {prefix}));
    return *uri;
  };
  resolve(elements_.back().prefix);
  std::vector<std::pair<std::string, std::string>> seen;
  for (const TAttribute& a : attributes_) {
    if (a.declaration) continue;
    std::pair<std::string, std::string> key{resolve(a.prefix), a.localName};
    for (const auto& other : seen)
      if (other == key)
        throw EKELXMLException(kelFormat("\"%s\" is a duplicate attribute name.", {Qualified(a.prefix, a.localName)}));
    seen.push_back(std::move(key));
  }
}

void TKELXMLWellFormedWriter::BeforeContent() {
  if (!inAttribute_) CloseStartTag();
}

void TKELXMLWellFormedWriter::NotInDeclaration(const char* kind) {
  if (inDeclaration_) throw EKELXMLException(kelFormat("The %s expected, but %s specified.", {"Namespace", kind}));
}

void TKELXMLWellFormedWriter::WriteStartDocument(TKELXMLStandalone standalone) {
  Guard([&] { inner_->WriteStartDocument(standalone); });
}

void TKELXMLWellFormedWriter::WriteEndDocument() {
  Guard([&] { inner_->WriteEndDocument(); });
}

void TKELXMLWellFormedWriter::WriteStartElement(std::string_view prefix, std::string_view localName) {
  Guard([&] {
    if (localName.empty()) throw EKELXMLArgumentException("The empty string is not a valid local name.");
    CheckName(localName);
    if (!prefix.empty()) CheckName(prefix);
    BeforeContent();
    inner_->WriteStartElement(prefix, localName);
    elements_.push_back({std::string(prefix), std::string(localName), {}});
    attributes_.clear();
    tagOpen_ = true;
  });
}

void TKELXMLWellFormedWriter::WriteEndElement() {
  Guard([&] {
    if (elements_.empty()) throw EKELXMLException("There was no XML start tag open.");
    BeforeContent();
    inner_->WriteEndElement();
    elements_.pop_back();
  });
}

void TKELXMLWellFormedWriter::WriteFullEndElement() {
  Guard([&] {
    if (elements_.empty()) throw EKELXMLException("There was no XML start tag open.");
    BeforeContent();
    inner_->WriteFullEndElement();
    elements_.pop_back();
  });
}

void TKELXMLWellFormedWriter::WriteStartAttribute(std::string_view prefix, std::string_view localName) {
  Guard([&] {
    if (localName.empty()) throw EKELXMLArgumentException("The empty string is not a valid local name.");
    CheckName(localName);
    if (!prefix.empty()) CheckName(prefix);
    for (const TAttribute& a : attributes_)
      if (a.prefix == prefix && a.localName == localName)
        throw EKELXMLException(kelFormat("\"%s\" is a duplicate attribute name.",
                                         {Qualified(std::string(prefix), std::string(localName))}));
    const bool prefixed = prefix == "xmlns";
    if (prefixed && (localName == "xml" || localName == "xmlns"))
      throw EKELXMLException(kelFormat("The %s is invalid for local name", {localName}));
    inner_->WriteStartAttribute(prefix, localName);
    const bool declaration = prefixed || (prefix.empty() && localName == "xmlns");
    attributes_.push_back({std::string(prefix), std::string(localName), declaration});
    inAttribute_ = true;
    inDeclaration_ = declaration;
    declaredPrefix_ = prefixed ? std::string(localName) : std::string();
    declaredUri_.clear();
  });
}

void TKELXMLWellFormedWriter::WriteEndAttribute() {
  Guard([&] {
    inner_->WriteEndAttribute();
    if (inDeclaration_ && !elements_.empty()) elements_.back().namespaces.emplace_back(declaredPrefix_, declaredUri_);
    inAttribute_ = false;
    inDeclaration_ = false;
  });
}

void TKELXMLWellFormedWriter::WriteCData(std::string_view text) {
  Guard([&] {
    BeforeContent();
    inner_->WriteCData(text);
  });
}

void TKELXMLWellFormedWriter::WriteComment(std::string_view text) {
  Guard([&] {
    BeforeContent();
    inner_->WriteComment(text);
  });
}

void TKELXMLWellFormedWriter::WriteEntityRef(std::string_view name) {
  Guard([&] {
    if (name.empty()) throw EKELXMLArgumentException("The empty string is not a valid name.");
    CheckName(name);
    NotInDeclaration("EntityRef");
    BeforeContent();
    inner_->WriteEntityRef(name);
  });
}

void TKELXMLWellFormedWriter::WriteCharEntity(char16_t c) {
  Guard([&] {
    if (c >= 0xD800 && c <= 0xDFFF)
      throw EKELXMLArgumentException("The surrogate pair is invalid. Missing a low surrogate character.");
    NotInDeclaration("CharEntity");
    BeforeContent();
    inner_->WriteCharEntity(c);
  });
}

void TKELXMLWellFormedWriter::WriteChars(const char16_t* chars, size_t count) {
  Guard([&] {
    BeforeContent();
    if (inDeclaration_) declaredUri_ += kelUtf16ToUtf8(std::u16string_view(chars, count));
    inner_->WriteChars(chars, count);
  });
}

void TKELXMLWellFormedWriter::WriteSurrogateCharEntity(char16_t low, char16_t high) {
  Guard([&] {
    NotInDeclaration("CharEntity");
    BeforeContent();
    inner_->WriteSurrogateCharEntity(low, high);
  });
}

void TKELXMLWellFormedWriter::WriteRaw(const char16_t* buffer, size_t length, ptrdiff_t index, ptrdiff_t count) {
  Guard([&] {
    CheckRawArguments(buffer, length, index, count);
    NotInDeclaration("Raw");
    BeforeContent();
    inner_->WriteRaw(buffer, length, index, count);
  });
}

void TKELXMLWellFormedWriter::WriteRaw(std::string_view text) {
  Guard([&] {
    NotInDeclaration("Raw");
    BeforeContent();
    inner_->WriteRaw(text);
  });
}

void TKELXMLWellFormedWriter::Close() {
  Guard([&] { inner_->Close(); });
}

void TKELXMLWellFormedWriter::Flush() {
  Guard([&] { inner_->Flush(); });
}

}  // namespace kel
