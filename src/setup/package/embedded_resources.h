// Named data blocks appended to an executable. The setup program carries its
// packages ("SETUP", "PRODUCT") and its skins this way and finds them again
// in its own file; the program loader ignores bytes after the image.
//
// A file that carries resources is made of these segments, in order (all
// integers little-endian):
//
//   1. program image   the executable exactly as it was built
//   2. data blocks     the bytes of each resource, one after another
//   3. directory       count (32 bits), then per resource: name length (16
//                      bits), name (UTF-8), offset of its block from the
//                      start of the file (64 bits), size (64 bits)
//   4. trailer         32 bytes, the last of the file: program image size (64
//                      bits), directory offset (64 bits), directory size (32
//                      bits), CRC of the directory (32 bits, kelCrc32Update
//                      from 0), magic "ORVIRES1" (8 bytes)
//
// A file whose last eight bytes are not the magic carries no resources; its
// program image is the whole file. Tools that rewrite executables (strip,
// signing) drop or break what is appended: attach resources last.
//
// Result contract: opening never reads outside the file and either gives a
// consistent directory (every block lies between the program image and the
// directory, names are non-empty) or throws EEmbeddedResourceError naming the
// file and what is wrong. A file that cannot be opened gives the file
// stream's EFOpenError. Lookups of a missing name return nullptr (`Find`) or
// throw EEmbeddedResourceError (`Open`).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/error.h"
#include "kel/base/stream.h"

namespace setup {

class EEmbeddedResourceError : public kel::Exception {
  using Exception::Exception;
};

// Where the segments of a file with resources lie.
struct TEmbeddedResourceLayout {
  static constexpr size_t kTrailerSize = 32;
  static constexpr std::string_view kMagic = "ORVIRES1";

  int64_t ProgramSize = 0;      // bytes [0, ProgramSize): the program image
  int64_t DirectoryOffset = 0;  // the directory, then the trailer
  uint32_t DirectorySize = 0;
  uint32_t DirectoryCrc = 0;
};

struct TEmbeddedResource {
  std::string Name;
  int64_t Offset = 0;  // from the start of the file
  int64_t Size = 0;
};

// The resources a file carries.
class TEmbeddedResources {
 public:
  // The resources of a file.
  static TEmbeddedResources OpenFile(const std::string& fileName);
  // The resources of the running program's own file.
  static TEmbeddedResources OpenExecutable();
  // The resources in any stream (a whole file's bytes); `sourceName` names it
  // in messages. The streams `Open` returns read through `source`, so they
  // and this object are for one thread at a time.
  TEmbeddedResources(std::shared_ptr<kel::TKELStream> source, std::string sourceName);

  const std::string& SourceName() const { return sourceName_; }
  // The size of the program image without the resources (the whole file
  // when it carries none).
  int64_t ProgramSize() const { return programSize_; }
  bool HasResources() const { return hasTrailer_; }
  // In the order they were attached.
  const std::vector<TEmbeddedResource>& Items() const { return items_; }
  // The first resource with this name, ignoring case; nullptr if none.
  const TEmbeddedResource* Find(std::string_view name) const;
  // A read-only stream over the resource's bytes, at position 0.
  std::unique_ptr<kel::TKELStream> Open(std::string_view name) const;

 private:
  void ReadDirectory();
  [[noreturn]] void Damaged(std::string_view what) const;

  std::shared_ptr<kel::TKELStream> source_;
  std::string sourceName_;
  int64_t programSize_ = 0;
  bool hasTrailer_ = false;
  std::vector<TEmbeddedResource> items_;
};

// Writes a program with resources attached. Resources the program already
// carries are replaced, not kept: the output is the bare program image and
// the resources added here.
class TEmbeddedResourceWriter {
 public:
  // Adds a resource with the whole content of `data`, which must stay alive
  // until `Write`. Throws kel::EArgumentError for an empty name, a name of
  // more than 65,535 bytes or invalid UTF-8, or a name already added
  // (ignoring case).
  void Add(std::string_view name, kel::TKELStream& data);
  // Writes the program image of `program` followed by the resources to
  // `target`, which should be a new, empty file (offsets count from its
  // start). Throws EEmbeddedResourceError when the
  // program's own resources are damaged. `progress` sees the bytes written.
  void Write(kel::TKELStream& program, const std::string& programName, kel::TKELStream& target,
             const std::function<void(int64_t done, int64_t total)>& progress = {}) const;

 private:
  struct Entry {
    std::string name;
    kel::TKELStream* data;
  };
  std::vector<Entry> entries_;
};

}  // namespace setup
