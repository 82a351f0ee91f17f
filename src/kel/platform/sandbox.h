// The sandbox: with ORVI_SETUP_SANDBOX=DIR the machine is replaced by the
// folder DIR. Every system path the platform layer hands out (program files,
// application menus, the registry store, the passwd database, home folders,
// the temporary folder) is DIR followed by that path, and the process counts
// as elevated. This is the one place where system paths are mapped; nothing
// else in the program changes behaviour.
//
// Result contract: none of these routines fails or throws.
#pragma once

#include <string>
#include <string_view>

namespace kel::platform {

// The environment variable that selects the sandbox.
inline constexpr const char* kSandboxVariable = "ORVI_SETUP_SANDBOX";

// The test hook that scripts a sandboxed wizard's answers. Alone of the
// hooks it goes on to an elevated copy of a sandboxed run: it does only what
// the user at the window could do.
inline constexpr const char* kWizardScriptVariable = "ORVI_SETUP_WIZARD_SCRIPT";

// True when ORVI_SETUP_SANDBOX is set and not empty.
bool IsSandboxed();

// The sandbox folder as an absolute, normalised path without a trailing '/'
// ("" when not sandboxed, and also for DIR = "/"). A relative DIR is taken
// relative to the current folder at the moment it is first seen, so a later
// change of the current folder does not move the sandbox. The variable is
// read at every call (tests switch sandboxes).
std::string SandboxRoot();

// Where the absolute system path `path` lives: in the sandbox DIR followed by
// the lexically normalised path (".." never leaves DIR), otherwise `path`
// unchanged.
std::string SystemPath(std::string_view path);

// A path the user gave (the destination on the command line) as a path of
// the machine: in the sandbox an absolute path that does not already lie
// inside DIR is taken as a path of the sandboxed machine (DIR followed by
// it); otherwise the path is returned unchanged.
std::string MachinePath(std::string_view path);

// The other way round: where the system path `path` lies on the sandboxed
// machine. In the sandbox a path inside DIR loses DIR ("/" for DIR itself);
// any other path, in the sandbox or not, stays as it is. Both lexically
// normalised.
std::string PathOnMachine(std::string_view path);

// Lexical normalisation of a '/'-separated path: repeated '/' collapse, "."
// parts go, ".." removes the part before it (never above the root of an
// absolute path; kept at the start of a relative one). A trailing '/' stays.
std::string NormalizePath(std::string_view path);

}  // namespace kel::platform
