#include "kel/base/command_line.h"

#include "kel/base/text.h"
#include "kel/platform/process_arguments.h"

namespace kel {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:..." or "\\server...": the start of a new path in free text.
bool StartsWithDriveOrShare(std::string_view word) {
  if (word.size() >= 2 && IsAsciiLetter(word[0]) && word[1] == ':') return true;
  return word.size() > 2 && word[0] == '\\' && word[1] == '\\';
}

}  // namespace

// --- TCommands ----------------------------------------------------------------

TCommand& TCommands::Add(std::string name) {
  auto command = std::make_unique<TCommand>();
  command->Name = std::move(name);
  items_.push_back(std::move(command));
  return *items_.back();
}

// --- TKELCommandLineParser ------------------------------------------------------

TKELCommandLineParser::TKELCommandLineParser() : TKELParser("-/=; \r\n", "\"", " ") {
  QuotedStrings = true;
  StripQuotes = true;
  SkipDelimiters = false;
  SkipSpaces = false;
  SkipLoneQuotes = false;
}

TCommands TKELCommandLineParser::Parse(std::string_view text) {
  SetText(text);
  state_ = TState::Separator;
  accumulator_.clear();
  current_ = nullptr;
  previous_ = TKELParserToken{0, 0, tkWord};
  result_ = TCommands();

  TKELParserToken token;
  while (Tokenize(token)) {
    Handle(token);
    previous_ = token;
  }
  Flush();
  current_ = nullptr;
  return std::move(result_);
}

void TKELCommandLineParser::Handle(const TKELParserToken& token) {
  const std::string_view text = TokenText(token);
  switch (state_) {
    case TState::Separator:
      // "-" starts a switch only at the start, or once a switch has been
      // seen: "a -b" is free text.
      if (token.Kind == tkDelimiter && (text == "/" || (text == "-" && (!result_.IsEmpty() || accumulator_.empty())))) {
        state_ = TState::PrefixSeen;
        return;
      }
      // The value goes on: the space that led here belongs to it.
      state_ = TState::Value;
      accumulator_ += TokenText(previous_);
      HandleValue(token);
      return;

    case TState::PrefixSeen:
      if (token.Kind == tkWord) {
        Flush();
        current_ = &result_.Add(std::string(text));
        state_ = TState::NameRead;
        return;
      }
      // Not a switch ("/ AUTO"): the prefix and the space before it are text.
      state_ = TState::Value;
      accumulator_ += ' ';
      accumulator_ += TokenText(previous_);
      HandleValue(token);
      return;

    case TState::NameRead:
      // A name runs up to the next delimiter, so this token is a delimiter
      // or a space.
      if (text == "=") {
        state_ = TState::ValueList;
        return;
      }
      state_ = TState::Value;
      HandleValue(token);
      return;

    case TState::ValueList:
      switch (token.Kind) {
        case tkSpace:
          Flush();
          state_ = TState::Separator;
          current_ = nullptr;
          return;
        case tkDelimiter:
          if (text == ";")
            Flush();
          else
            accumulator_ += text;
          return;
        case tkQuote:
          return;
        default:
          HandleValue(token);
          return;
      }

    case TState::Value:
      HandleValue(token);
      return;
  }
}

void TKELCommandLineParser::HandleValue(const TKELParserToken& token) {
  const std::string_view text = TokenText(token);
  switch (token.Kind) {
    case tkSpace:
      // Appended by the separator state if the value goes on.
      state_ = TState::Separator;
      return;
    case tkDelimiter:
    case tkQuote:
      if (text == "\r" || text == "\n")
        Flush();
      else
        accumulator_ += text;
      return;
    case tkQuotedString:
      Flush();
      AddParameter(text);
      return;
    case tkWord:
      if (StartsWithDriveOrShare(text)) Flush();
      accumulator_ += text;
      return;
  }
}

void TKELCommandLineParser::Flush() {
  const std::string text = std::move(accumulator_);
  accumulator_.clear();
  AddParameter(text);
}

void TKELCommandLineParser::AddParameter(std::string_view text) {
  text = kelTrim(text);
  if (text.empty()) return;
  if (current_ == nullptr) current_ = &result_.Add(std::string());
  current_->Add(std::string(text));
}

// --- Queries ----------------------------------------------------------------------

TCommands ParseParams(std::string_view text) { return TKELCommandLineParser().Parse(text); }

bool HasSwitch(std::string_view text, std::string_view name, std::string& value) {
  value.clear();
  const TCommands commands = ParseParams(text);
  for (int i = 0; i < commands.Count(); ++i) {
    if (kelSameText(commands[i].Name, name)) {
      value = commands[i].Join(";");
      return true;
    }
  }
  return false;
}

bool HasSwitch(std::string_view text, std::string_view name) {
  std::string value;
  return HasSwitch(text, name, value);
}

// --- Arguments and parameter text ---------------------------------------------------

namespace {

bool NeedsQuotes(std::string_view argument) {
  if (argument.empty()) return true;
  for (char c : argument) {
    if (static_cast<unsigned char>(c) <= 32 || c == '"') return true;
  }
  return false;
}

bool IsSwitchNameCharacter(char c) {
  return static_cast<unsigned char>(c) > 32 && c != '"' && c != '-' && c != '/' && c != '=' && c != ';';
}

// The length of the "/NAME=" of a switch with a value, or 0 when the
// argument is not one.
size_t SwitchPrefixLength(std::string_view argument) {
  if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) return 0;
  size_t i = 1;
  while (i < argument.size() && IsSwitchNameCharacter(argument[i])) ++i;
  if (i == 1 || i == argument.size() || argument[i] != '=') return 0;
  return i + 1;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

bool IsArgumentSeparator(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string kelJoinCommandLine(std::span<const std::string> arguments) {
  std::string text;
  bool first = true;
  for (const std::string& argument : arguments) {
    if (!first) text += ' ';
    first = false;
    if (!NeedsQuotes(argument)) {
      text += argument;
      continue;
    }
    const size_t prefix = SwitchPrefixLength(argument);
    text.append(argument, 0, prefix);
    AppendQuoted(text, std::string_view(argument).substr(prefix));
  }
  return text;
}

std::vector<std::string> kelSplitCommandLine(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && IsArgumentSeparator(text[i])) ++i;
    if (i >= text.size()) break;
    std::string argument;
    while (i < text.size() && !IsArgumentSeparator(text[i])) {
      if (text[i] != '"') {
        argument += text[i++];
        continue;
      }
      ++i;  // the opening quote
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            argument += '"';
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        argument += text[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

// A Linux process has its arguments as separate strings, argv[0] being the
// program. The program is therefore dropped by position, not by tokenizing a
// command line for its first (possibly quoted) word, which could run into the
// parameters when the program path itself holds a quote character. The
// joined text never begins or ends with a character up to code 32 (such
// arguments are quoted), so there is nothing to trim.
std::string GetCommandLineParams() {
  const std::vector<std::string> arguments = platform::ProcessArguments();
  if (arguments.size() <= 1) return {};
  return kelJoinCommandLine(std::span(arguments).subspan(1));
}

}  // namespace kel
