// Setup packages: the container in which the installer carries its own files
// and the product's files, and the uninstaller its log.
//
// Layout of a package file (integers little-endian):
//
//   1. header, 12 bytes: "IPK5", CRC of the uncompressed body (kelCrc32Update
//      from 0), length of the uncompressed body (32 bits);
//   2. the compressed body, scrambled (XORed with the key text's bytes,
//      repeating, from its first byte): the 5-byte LZMA properties (byte
//      (pb * 5 + lp) * 9 + lc, dictionary size in 32 bits), then raw LZMA
//      data. The builder writes no end marker; the reader stops at the body
//      length and also accepts a stream that ends with a marker.
//
// The uncompressed body is the files' contents one after another, then the
// file table, then the table's length T in 32 bits:
//
//   table:  count (signed 32 bits), then per file: name length in UTF-16
//           code units (16 bits), the name in UTF-16LE, offset of the file in
//           the body (signed 64 bits), size (signed 64 bits).
//
// Result contract: the reader's constructor either leaves a complete,
// checked package (every table entry lies inside the body) or throws:
//   - ESetupPackageReadError "Package was corrupted": wrong magic, a body of
//     the wrong length or checksum, damaged LZMA data, or a table that does
//     not fit the body;
//   - ESetupPackageLzmaError "LZMA Error (n)": 4 unsupported LZMA properties,
//     2 the codec ran out of memory, 9 the body could not be stored;
//   - kel::EReadError: the source is shorter than the header, or the table
//     runs past its end, or the source itself fails.
// Lookups (`Contains`, `GetFile` returning false) never throw for a missing
// name. The builder throws kel::EArgumentError for input the format cannot
// describe (names over 65,535 UTF-16 units, a body of 4 GiB or more, an
// unknown level, an empty key), ESetupPackageLzmaError when the encoder
// fails, and the file stream's errors when the output cannot be written (the
// output file is then left as far as it was written).
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

// The key text every setup package is scrambled with.
inline constexpr std::string_view kSetupPackageKey = "5081620459";
// The compression level the engine writes packages with.
inline constexpr int kSetupPackageDefaultLevel = 4;

class ESetupPackageReadError : public kel::Exception {
 public:
  ESetupPackageReadError() : Exception("Package was corrupted") {}
};

// The LZMA codec failed; the message is "LZMA Error (n)" with the codec's
// error number (see the contract above).
class ESetupPackageLzmaError : public kel::Exception {
 public:
  explicit ESetupPackageLzmaError(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

// Called now and then during long work with the bytes done and the total.
using TSetupPackageProgress = std::function<void(int64_t done, int64_t total)>;

// The encoder settings a compression level stands for (levels 0 to 9).
struct TSetupPackageLzmaSettings {
  uint32_t DictionarySize = 0;
  uint32_t Lc = 3, Lp = 0, Pb = 2;
  bool FastMode = true;             // fast mode with the hash-chain match finder
  uint32_t FastBytes = 32;          // "nice length"
  uint32_t MatchFinderCycles = 16;  // search depth
  uint32_t HashBytes = 4;

  uint8_t PropertiesByte() const { return static_cast<uint8_t>((Pb * 5 + Lp) * 9 + Lc); }
};
// Throws kel::EArgumentError for a level outside 0 to 9.
TSetupPackageLzmaSettings SetupPackageLzmaSettings(int level);

// XORs a stream with a repeating key; the key position carries on from one
// call to the next.
class Scrambler {
 public:
  // `key` is the key text; its bytes are those of the system's ANSI code
  // page (the engine's key is ASCII digits, the same in every code page).
  // Throws kel::EArgumentError for an empty key.
  explicit Scrambler(std::string_view key);
  void Apply(uint8_t* data, size_t count);

 private:
  static constexpr size_t kRun = 4096;
  std::string key_;
  std::string repeated_;
  size_t position_ = 0;
};

class TSetupPackageFileTableItem {
 public:
  int64_t Offset = 0;  // of the first byte within the body
  int64_t Size = 0;
  std::string Name;    // UTF-8; may hold a relative path with '\'
};

// The files of a package, in the order they were added.
class TSetupPackageFileTable {
 public:
  TSetupPackageFileTableItem& Add();
  int Count() const { return static_cast<int>(items_.size()); }
  TSetupPackageFileTableItem& operator[](int index) { return *items_.at(static_cast<size_t>(index)); }
  const TSetupPackageFileTableItem& operator[](int index) const { return *items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }

  // The first item whose name equals `name` ignoring case; false and
  // `item` untouched when there is none.
  bool Find(std::string_view name, const TSetupPackageFileTableItem*& item) const;

  // Replaces the items with the table read from the stream's position.
  // Throws kel::EReadError when the stream ends inside the table and
  // ESetupPackageReadError for a negative count.
  void ReadFrom(kel::TKELStream& stream);
  // Throws kel::EArgumentError for a name the format cannot hold.
  void WriteTo(kel::TKELStream& stream) const;

 private:
  std::vector<std::unique_ptr<TSetupPackageFileTableItem>> items_;
};

// The in-memory stream that holds a package's body. Besides the usual
// stream operations it can grow without clearing the new room first
// (`Extend`), which spares the reader and the builder a pass over the whole
// body.
class TSetupPackageData : public kel::TKELStream {
 public:
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, kel::SeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(size_); }
  // New bytes read as zero.
  void SetSize(int64_t size) override;

  const uint8_t* Memory() const { return buffer_.get(); }
  uint8_t* Memory() { return buffer_.get(); }
  std::string_view View() const { return {reinterpret_cast<const char*>(buffer_.get()), size_}; }
  void Clear();
  // Makes room for `capacity` bytes without touching them. Throws
  // std::bad_alloc when the memory is not there.
  void Reserve(size_t capacity);
  // Appends `count` bytes left for the caller to fill and returns where
  // they start; the stream's position does not move.
  uint8_t* Extend(size_t count);

 private:
  std::unique_ptr<uint8_t[]> buffer_;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t position_ = 0;
};

class TCustomSetupPackage {
 public:
  virtual ~TCustomSetupPackage() = default;

  TSetupPackageFileTable& FileTable() { return fileTable_; }
  const TSetupPackageFileTable& FileTable() const { return fileTable_; }
  // The body: the reader's holds files and table, the builder's the files
  // added so far.
  TSetupPackageData& Data() { return data_; }
  const TSetupPackageData& Data() const { return data_; }

 protected:
  TSetupPackageFileTable fileTable_;
  TSetupPackageData data_;
};

class TSetupPackageReader : public TCustomSetupPackage {
 public:
  // Reads and checks the package from the source's position to its end.
  // The source is read in blocks and decoded as it arrives; only the body
  // is kept. `progress` sees the decoded bytes against the body length.
  explicit TSetupPackageReader(kel::TKELStream& source, const TSetupPackageProgress& progress = {});

  bool Contains(std::string_view name) const;
  // When found: a new memory stream with a copy of the file, at position 0.
  bool GetFile(std::string_view name, std::unique_ptr<kel::TKELMemoryStream>& stream) const;
  // Writes the item's bytes to `target` (for large files that should not be
  // copied in memory first). Throws ESetupPackageReadError when the item
  // does not lie inside the body.
  void WriteFileTo(const TSetupPackageFileTableItem& item, kel::TKELStream& target) const;
  // GetFile and WriteFileTo move no shared state: several threads may read
  // files of one package at the same time.

 private:
  void Decode(kel::TKELStream& source, uint32_t bodySize, uint32_t checksum, const TSetupPackageProgress& progress);
  void ReadTable();
};

class TSetupPackageBuilder : public TCustomSetupPackage {
 public:
  explicit TSetupPackageBuilder(std::string key);

  const std::string& Key() const { return key_; }

  // Appends the stream's whole content (from its start to its size) as a
  // file named `name`.
  void Add(kel::TKELStream& stream, std::string_view name);
  // Creates (or overwrites) the file and writes the package: the files
  // added, then the table. The builder itself is left as it was, so Commit
  // may be called again. `progress` sees the body bytes compressed.
  void Commit(const std::string& path, int level, const TSetupPackageProgress& progress = {}) const;
  // The same into any stream, from its position.
  void CommitTo(kel::TKELStream& target, int level, const TSetupPackageProgress& progress = {}) const;

 private:
  std::string key_;
};

}  // namespace setup
