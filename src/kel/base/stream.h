// Byte streams: the abstract stream, the in-memory stream, and the file
// streams.
//
// `Read` and `Write` move what they can and return the count; the *Buffer
// forms insist on the whole count and raise `EReadError` "Stream read error"
// or `EWriteError` "Stream write error" otherwise. A failing operating-system
// call inside a file stream raises `EReadError`/`EWriteError` with the
// system's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/platform/file.h"

namespace kel {

using platform::SeekOrigin;

class TKELStream {
 public:
  virtual ~TKELStream() = default;

  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual size_t Write(const void* buffer, size_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t size);

  int64_t GetPosition() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }

  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count);
  void WriteString(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }
  // Copies `count` bytes from the source's position; a count of 0 copies the
  // whole source from its start. Returns the bytes copied.
  int64_t CopyFrom(TKELStream& source, int64_t count);
  // Everything from the position to the end.
  std::string ReadRest();
};

// A growable stream in memory.
class TKELMemoryStream : public TKELStream {
 public:
  TKELMemoryStream() = default;
  explicit TKELMemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  const uint8_t* Memory() const { return data_.data(); }
  uint8_t* Memory() { return data_.data(); }
  std::string_view View() const { return {reinterpret_cast<const char*>(data_.data()), data_.size()}; }
  void Clear() {
    data_.clear();
    position_ = 0;
  }
  void Reserve(size_t capacity) { data_.reserve(capacity); }

 private:
  std::vector<uint8_t> data_;
  size_t position_ = 0;
};

// Open modes of file streams. The access is one of the fmOpen* values, the
// sharing one of the fmShare* values, or'ed together; `fmCreate` creates (or
// truncates) a file for reading and writing that nobody else may open. No
// sharing value (0) shares nothing. On Linux sharing is kept with advisory
// locks (kel/platform/file.h): a file that another opener denies fails to
// open with "The file is in use by another process.".
enum : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// A stream over an operating-system file handle. Opening failures raise
// `EFOpenError` "Cannot open file "<name>". <system text>".
class TKELFileStream : public TKELStream {
 public:
  TKELFileStream(const std::string& fileName, uint32_t mode);
  ~TKELFileStream() override;
  TKELFileStream(const TKELFileStream&) = delete;
  TKELFileStream& operator=(const TKELFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  platform::FileHandle handle_;
};

// A buffered stream over a file stream it owns. Buffers of 1,023 bytes or
// less become 262,144 bytes. Pending writes reach the file at `Flush`, at a
// seek and when the stream is destroyed (where an error can no longer be
// reported: call `Flush` when the outcome matters).
class TKELBufferedFileStream : public TKELStream {
 public:
  static constexpr size_t kDefaultBufferSize = 262144;

  TKELBufferedFileStream(const std::string& fileName, uint32_t mode, size_t bufferSize = kDefaultBufferSize);
  ~TKELBufferedFileStream() override;

  // Open an existing file for reading (others may read and write) or create
  // one; nullptr instead of an error.
  static std::unique_ptr<TKELBufferedFileStream> OpenForRead(const std::string& fileName);
  static std::unique_ptr<TKELBufferedFileStream> Create(const std::string& fileName);

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;
  void Flush();

  const std::string& FileName() const { return file_.FileName(); }

 private:
  void DropReadBuffer();

  TKELFileStream file_;
  std::vector<uint8_t> buffer_;
  int64_t bufferStart_ = 0;  // file position of buffer_[0]
  size_t bufferFill_ = 0;    // valid bytes read into the buffer
  size_t bufferPos_ = 0;     // position inside the buffer
  size_t pendingWrite_ = 0;  // bytes of the buffer waiting to be written
};

}  // namespace kel
