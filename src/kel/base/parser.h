// A small general tokenizer: splits a text into words, one-character
// delimiter and space tokens, and quoted strings, driven by three character
// sets and a few options.
//
// Result contract: `Tokenize` never fails; every input, including arbitrary
// bytes, is split into tokens that together cover it (skipped tokens and
// stripped quote characters aside). Setting a character set raises
// `EArgumentError` when it holds a non-ASCII byte.
//
// The character sets hold ASCII characters only and are tested byte by byte.
// Text is UTF-8, so every byte of a multi-byte character is 0x80 or above and
// is never a member of a set: the byte tests give the same tokens as tests of
// whole characters (or of UTF-16 code units) would.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

enum TKELParserTokenKind : uint8_t {
  tkSpace = 1,         // one character of the spaces set
  tkDelimiter = 2,     // one character of the delimiters set
  tkQuote = 3,         // a quote character without a closing partner
  tkQuotedString = 4,  // the characters between two equal quote characters
  tkWord = 5,          // a run of characters up to the next delimiter or the end
};

// A token: its place in the parser's text and its kind. For a quoted string
// with StripQuotes on, the place excludes the two quote characters.
struct TKELParserToken {
  size_t Start = 0;
  size_t Length = 0;
  TKELParserTokenKind Kind = tkWord;
};

class TKELParser {
 public:
  TKELParser() = default;
  TKELParser(std::string_view delimiters, std::string_view quotes, std::string_view spaces);
  virtual ~TKELParser() = default;

  void SetDelimiters(std::string_view characters) { SetCharacters(delimiters_, characters); }
  void SetQuotes(std::string_view characters) { SetCharacters(quotes_, characters); }
  void SetSpaces(std::string_view characters) { SetCharacters(spaces_, characters); }

  // Options.
  bool QuotedStrings = false;  // quote characters open quoted strings
  bool StripQuotes = true;     // a quoted string's token excludes its quotes
  bool SkipDelimiters = true;  // delimiter tokens are not returned
  bool SkipSpaces = true;      // space tokens are not returned
  bool SkipLoneQuotes = false;  // lone-quote tokens are not returned

  // Starts over on a new text (the parser keeps its own copy).
  void SetText(std::string_view text);
  const std::string& Text() const { return text_; }
  size_t Position() const { return position_; }
  size_t Remaining() const { return text_.size() - position_; }

  // The next token that the options do not skip; false at the end of the
  // text.
  bool Tokenize(TKELParserToken& token);
  std::string_view TokenText(const TKELParserToken& token) const {
    return std::string_view(text_).substr(token.Start, token.Length);
  }

 protected:
  // One token at the read position, skipped kinds included; false when no
  // characters remain.
  bool ReadToken(TKELParserToken& token);

 private:
  using TCharSet = std::array<bool, 256>;
  static void SetCharacters(TCharSet& set, std::string_view characters);
  static bool Contains(const TCharSet& set, char c) { return set[static_cast<unsigned char>(c)]; }
  bool Skipped(TKELParserTokenKind kind) const;

  TCharSet delimiters_{};
  TCharSet quotes_{};
  TCharSet spaces_{};
  std::string text_;
  size_t position_ = 0;
};

}  // namespace kel
