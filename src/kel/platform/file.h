// Files as the operating system sees them: handles, reads, writes, seeks.
//
// Result contract: every routine reports failure through its result (an
// invalid handle, -1, false) and fills `error` with the system's error text
// when one is passed. None of them throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kel::platform {

using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

enum class FileAccess : uint8_t { Read, Write, ReadWrite };

enum class FileDisposition : uint8_t {
  OpenExisting,  // fail when the file is missing
  CreateAlways,  // create, or truncate an existing file
};

// What other openers of the same file may do meanwhile.
enum class FileShare : uint8_t { None, Read, Write, ReadWrite };

enum class SeekOrigin : uint8_t { Begin, Current, End };

FileHandle OpenFile(const std::string& path, FileAccess access, FileDisposition disposition, FileShare share,
                    std::string* error = nullptr);
// Bytes read (0 at the end of the file) or -1.
int64_t ReadFile(FileHandle file, void* buffer, size_t count, std::string* error = nullptr);
// Bytes written or -1.
int64_t WriteFile(FileHandle file, const void* buffer, size_t count, std::string* error = nullptr);
// The new position or -1.
int64_t SeekFile(FileHandle file, int64_t offset, SeekOrigin origin);
// The size of the open file or -1.
int64_t GetFileSize(FileHandle file);
bool SetFileSize(FileHandle file, int64_t size);
void CloseFile(FileHandle file);

}  // namespace kel::platform
