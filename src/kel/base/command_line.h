// The command line: switches and their parameters.
//
// Syntax read by ParseParams:
//   - a switch is "/" or "-" followed directly by a name: /SILENT, -AUTO;
//   - "=" after the name starts its value list; items are separated by ";"
//     (empty items are dropped); a space ends the list: /AUTO=a;b;
//   - a switch without "=" takes the free words after it as its parameters,
//     up to the next switch: "/AUTO x" gives AUTO the parameter "x";
//   - a value with spaces must be in double quotes: /AUTO="C:\My Apps\X";
//     inside quotes nothing is special (a backslash before the closing quote
//     is an ordinary character) and a double quote cannot be written;
//   - text before the first switch forms a command without a name; a "-"
//     inside a word ("file-name.txt"), or after such free text, is text;
//   - free text holding several unquoted paths is split where a word with a
//     drive ("C:") or a share ("\\server") begins.
//
// Result contract: nothing here fails or throws on any input; arbitrary
// bytes give some list of commands (possibly empty).
//
// On Linux a process has no single command line, only its arguments (argv).
// kelJoinCommandLine turns arguments into parameter text that ParseParams
// reads as the arguments meant, and kelSplitCommandLine turns the text back
// into the same arguments, so that the text can be handed to a relaunched
// copy of the program as its argv.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/parser.h"
#include "kel/base/string_list.h"

namespace kel {

// One command: a switch (`Name` without its prefix) or, with an empty
// `Name`, free parameters. Its lines are the parameters, in order.
class TCommand : public TKELStringList {
 public:
  std::string Name;
};

// An ordered list of commands that owns them.
class TCommands {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  TCommand& operator[](int index) { return *items_[static_cast<size_t>(index)]; }
  const TCommand& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }
  // Appends a new command and returns it.
  TCommand& Add(std::string name);

 private:
  std::vector<std::unique_ptr<TCommand>> items_;
};

// The tokenizer of command lines and the state machine that turns its tokens
// into commands.
class TKELCommandLineParser : public TKELParser {
 public:
  TKELCommandLineParser();

  TCommands Parse(std::string_view text);

 private:
  enum class TState : uint8_t {
    Value,       // collecting free text or a switch's words
    Separator,   // after a space: a switch prefix may follow
    PrefixSeen,  // after "/" or "-": a name must follow for a switch
    NameRead,    // after a switch name: "=" may follow
    ValueList,   // after "=": items separated by ";"
  };

  void Handle(const TKELParserToken& token);
  void HandleValue(const TKELParserToken& token);
  void Flush();
  void AddParameter(std::string_view text);

  TState state_ = TState::Separator;
  std::string accumulator_;
  TCommand* current_ = nullptr;
  TKELParserToken previous_{0, 0, tkWord};
  TCommands result_;
};

// All commands of a command line, in order of appearance.
TCommands ParseParams(std::string_view text);

// Whether the command line holds a switch of that name (compared ignoring
// case). `value` receives the parameters of the first such switch joined by
// ";", empty when it has none or when the switch is absent.
bool HasSwitch(std::string_view text, std::string_view name);
bool HasSwitch(std::string_view text, std::string_view name, std::string& value);

// Parameter text from separate arguments, for ParseParams:
//   - the arguments are written one after the other, separated by one space;
//   - an argument is written as it is unless it is empty or holds a double
//     quote or a character with a code up to 32 (space, tab, line break...);
//   - such an argument is written in double quotes, with every double quote
//     inside it doubled. When it has the form of a switch with a value,
//     "/NAME=value" or "-NAME=value" (NAME holding none of the characters
//     that need quotes nor any of - / = ;), only the value is quoted:
//     /AUTO="/opt/My Apps/ORVI". ParseParams then gives AUTO the whole value,
//     spaces included.
// So `Setup '/AUTO=/opt/My Apps/ORVI' /SILENT` and
// `Setup /AUTO="/opt/My Apps/ORVI" /SILENT` in a shell (both pass the
// argument /AUTO=/opt/My Apps/ORVI) read as they would on a command line
// written by hand. Arguments that need no quotes are left as they are, so
// plain switches and words read exactly as the same text typed by hand
// would. A value holding a double quote cannot reach ParseParams whole (its
// syntax has no way to write one); it falls apart at the quotes.
std::string kelJoinCommandLine(std::span<const std::string> arguments);

// The inverse of kelJoinCommandLine: arguments from parameter text.
//   - arguments are separated by runs of characters with codes up to 32;
//   - a double quote opens a quoted section that runs to the next double
//     quote (or to the end of the text); inside it every character stands for
//     itself, except that two double quotes in a row stand for one;
//   - the quotes themselves are dropped; quoted sections and unquoted
//     characters next to each other form one argument (/AUTO="a b" gives
//     /AUTO=a b). A backslash is an ordinary character everywhere.
// kelSplitCommandLine(kelJoinCommandLine(a)) == a for every list a.
std::vector<std::string> kelSplitCommandLine(std::string_view text);

// The parameters of the running process as text: its arguments after the
// program (argv[1...]) joined by kelJoinCommandLine. Empty when the process
// has no parameters (or the system cannot tell).
std::string GetCommandLineParams();

}  // namespace kel
