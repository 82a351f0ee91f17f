// A fresh, private temporary folder per test, removed with everything in it
// when the object goes away. Nothing is ever written beside the test binary.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvi::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing delimiter.
  const std::string& Path() const { return path_; }
  // Path() + "/" + relative.
  std::string operator/(std::string_view relative) const;

  // Writes a file below the folder (creating its folders); returns its path.
  std::string WriteFile(std::string_view relative, std::string_view bytes) const;
  std::string ReadFile(std::string_view relative) const;

 private:
  std::string path_;
};

// Whole-file helpers for absolute paths.
void WriteFileBytes(const std::string& path, std::string_view bytes);
std::string ReadFileBytes(const std::string& path);
// The names of the entries of a folder, sorted.
std::vector<std::string> NamesIn(const std::string& folder);

}  // namespace orvi::test
