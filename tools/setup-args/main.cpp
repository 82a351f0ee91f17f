// setup-args: shows how Setup would read a command line.
//
//   setup-args [ARGUMENT...]
//
// Prints the parameter text that Setup rebuilds from these arguments, then
// every command read from it, one per line: the switch name after a "/"
// (whichever prefix it was given with), or "(free)" for parameters before
// any switch, followed by its parameters, each in double quotes.
// Every argument is data; the tool has no options of its own.
#include <cstdio>
#include <string>

#include "kel/base/command_line.h"

int main() {
  const std::string text = kel::GetCommandLineParams();
  std::printf("Parameter text: %s\n", text.c_str());

  const kel::TCommands commands = kel::ParseParams(text);
  std::printf("Commands: %d\n", commands.Count());
  for (int i = 0; i < commands.Count(); ++i) {
    const kel::TCommand& command = commands[i];
    std::string line = command.Name.empty() ? "(free)" : "/" + command.Name;
    for (int j = 0; j < command.Count(); ++j) line += " \"" + command[j] + "\"";
    std::printf("  %s\n", line.c_str());
  }
  return 0;
}
