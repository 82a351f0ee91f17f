// The registry store: the Linux stand-in for the system registry, a SQLite
// file (/var/lib/orvi-setup/registry.db, mapped into the sandbox).
//
// Keys are named by their full path from a root, parts separated by '\'
// ("HKEY_LOCAL_MACHINE\Software\ORVI"; empty parts are ignored), and compared
// ignoring case (Unicode case folding). A key holds subkeys and named, typed
// values (the value named "" is the key's default value), kept in the order
// they were first written.
//
// The 32-bit view of a 64-bit system is a path, as on Windows: under
// HKEY_LOCAL_MACHINE\Software it is the Wow6432Node subkey
// (`RegistryViewPath`).
//
// Every operation is atomic; `Transaction` makes a sequence of them one
// atomic step. Writers wait for each other (up to 30 s), so processes that
// write at the same time lose nothing.
//
// Result contract: nothing throws. A store that cannot be opened (missing
// when opened for reading, not a store of ours, damaged, no permission) is
// "unusable": reads give empty results and writes give false. Such a file is
// never changed, overwritten or deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kel::platform {

inline constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";
inline constexpr std::string_view kUsers = "HKEY_USERS";
inline constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";

enum class RegistryView : uint8_t { Native, Wow32 };

// `path` as seen through `view`: for Wow32, "HKEY_LOCAL_MACHINE\Software\X"
// becomes "HKEY_LOCAL_MACHINE\Software\Wow6432Node\X" (unless it already is
// there); every other path stays.
std::string RegistryViewPath(std::string_view path, RegistryView view);

// Value types, numbered as on Windows.
enum class RegistryType : uint32_t {
  String = 1,
  ExpandString = 2,
  Binary = 3,
  DWord = 4,
  MultiString = 7,
  QWord = 11,
};

struct RegistryValue {
  RegistryType type = RegistryType::String;
  std::string text;     // String and ExpandString (UTF-8, no terminator), Binary, MultiString ('\0'-separated)
  uint64_t number = 0;  // DWord, QWord

  static RegistryValue String(std::string text) { return {RegistryType::String, std::move(text), 0}; }
  static RegistryValue DWord(uint32_t number) { return {RegistryType::DWord, {}, number}; }
  bool IsString() const { return type == RegistryType::String || type == RegistryType::ExpandString; }
};

enum class RegistryAccess : uint8_t {
  Read,       // never creates anything; a missing store is empty
  ReadWrite,  // creates the store (and its folder) when it is missing
};

class RegistryStore {
 public:
  // The machine's store: SystemPath("/var/lib/orvi-setup/registry.db").
  static std::string MachineStorePath();

  RegistryStore(const std::string& file, RegistryAccess access);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // False for an unusable store; then `Error` tells why.
  bool IsOpen() const;
  const std::string& Error() const { return error_; }

  bool KeyExists(std::string_view key);
  // Creates the key with every missing key above it.
  bool CreateKey(std::string_view key);
  // Deletes the key with all its subkeys and values. A missing key counts as
  // deleted (true).
  bool DeleteKey(std::string_view key);
  // Names of the direct subkeys, ordered ignoring case.
  std::vector<std::string> SubKeys(std::string_view key);

  // Writes a value, creating its key when needed. Rewriting a value keeps
  // its place in the order.
  bool SetValue(std::string_view key, std::string_view name, const RegistryValue& value);
  std::optional<RegistryValue> GetValue(std::string_view key, std::string_view name);
  // A missing value counts as deleted (true).
  bool DeleteValue(std::string_view key, std::string_view name);
  // Value names in the order they were first written.
  std::vector<std::string> ValueNames(std::string_view key);

  // Runs `work` as one transaction: its changes are kept when it returns
  // true and everything commits, and undone otherwise. Other writers wait
  // until it ends. Transactions do not nest (false).
  bool Transaction(const std::function<bool()>& work);

 private:
  // Opens the file; "" or why the store cannot be used.
  std::string Open(const std::string& file, RegistryAccess access);

  class Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

}  // namespace kel::platform
