// The commands of setup-pack. Each returns the process's exit code; errors
// are thrown: EUsageError for wrong arguments (exit code 2), any other
// kel::Exception or file-system error for work that failed (exit code 1).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kel/base/error.h"

namespace setup_pack {

class EUsageError : public kel::Exception {
  using Exception::Exception;
};

// A package of every file below `folder`, named by its path relative to the
// folder with '\' separators, in the byte order of those names.
int Create(const std::string& output, const std::string& folder, int level);
// The names and sizes of the files of a package.
int List(const std::string& package);
// Opens and checks a package.
int Verify(const std::string& package);
// Writes the package's files (or only the named ones) below `folder`.
int Extract(const std::string& package, const std::string& folder, const std::vector<std::string>& names);
// Writes `output`: `program` with the two packages and the further
// resources (name, file) attached.
int Attach(const std::string& program, const std::string& output, const std::string& setupPackage,
           const std::string& productPackage, const std::vector<std::pair<std::string, std::string>>& resources);

}  // namespace setup_pack
