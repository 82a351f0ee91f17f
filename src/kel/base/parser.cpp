#include "kel/base/parser.h"

#include "kel/base/error.h"

namespace kel {

TKELParser::TKELParser(std::string_view delimiters, std::string_view quotes, std::string_view spaces) {
  SetDelimiters(delimiters);
  SetQuotes(quotes);
  SetSpaces(spaces);
}

void TKELParser::SetCharacters(TCharSet& set, std::string_view characters) {
  TCharSet result{};
  for (char c : characters) {
    if (static_cast<unsigned char>(c) >= 0x80)
      throw EArgumentError("A parser character set holds ASCII characters only");
    result[static_cast<unsigned char>(c)] = true;
  }
  set = result;
}

void TKELParser::SetText(std::string_view text) {
  text_.assign(text);
  position_ = 0;
}

bool TKELParser::Skipped(TKELParserTokenKind kind) const {
  switch (kind) {
    case tkSpace:
      return SkipSpaces;
    case tkDelimiter:
      return SkipDelimiters;
    case tkQuote:
      return SkipLoneQuotes;
    default:
      return false;
  }
}

bool TKELParser::ReadToken(TKELParserToken& token) {
  if (position_ >= text_.size()) return false;
  const char c = text_[position_];
  token.Start = position_;
  token.Length = 1;

  if (Contains(spaces_, c)) {
    token.Kind = tkSpace;
    ++position_;
    return true;
  }
  if (Contains(quotes_, c)) {
    if (QuotedStrings) {
      const size_t close = text_.find(c, position_ + 1);
      if (close != std::string::npos) {
        token.Kind = tkQuotedString;
        if (StripQuotes) {
          token.Start = position_ + 1;
          token.Length = close - position_ - 1;
        } else {
          token.Length = close - position_ + 1;
        }
        position_ = close + 1;
        return true;
      }
    }
    token.Kind = tkQuote;
    ++position_;
    return true;
  }
  if (Contains(delimiters_, c)) {
    token.Kind = tkDelimiter;
    ++position_;
    return true;
  }
  // A word runs to the next delimiter; spaces that are not delimiters and
  // quote characters do not end it.
  size_t end = position_ + 1;
  while (end < text_.size() && !Contains(delimiters_, text_[end])) ++end;
  token.Kind = tkWord;
  token.Length = end - position_;
  position_ = end;
  return true;
}

bool TKELParser::Tokenize(TKELParserToken& token) {
  while (ReadToken(token)) {
    if (!Skipped(token.Kind)) return true;
  }
  return false;
}

}  // namespace kel
