#include "kel/base/stream.h"

#include <algorithm>
#include <cstring>

#include "kel/base/error.h"
#include "kel/base/format.h"

namespace kel {

// --- TKELStream -------------------------------------------------------------------

int64_t TKELStream::GetSize() {
  const int64_t position = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Begin);
  return size;
}

void TKELStream::SetSize(int64_t) { throw EWriteError("Stream write error"); }

void TKELStream::ReadBuffer(void* buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TKELStream::WriteBuffer(const void* buffer, size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TKELStream::CopyFrom(TKELStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  constexpr size_t kPiece = 1 << 20;
  std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(count, kPiece)));
  int64_t left = count;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, kPiece));
    source.ReadBuffer(piece.data(), n);
    WriteBuffer(piece.data(), n);
    left -= static_cast<int64_t>(n);
  }
  return count;
}

std::string TKELStream::ReadRest() {
  const int64_t left = GetSize() - GetPosition();
  std::string bytes(static_cast<size_t>(std::max<int64_t>(left, 0)), '\0');
  bytes.resize(Read(bytes.data(), bytes.size()));
  return bytes;
}

// --- TKELMemoryStream -------------------------------------------------------------

size_t TKELMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= data_.size()) return 0;
  const size_t n = std::min(count, data_.size() - position_);
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return n;
}

size_t TKELMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (position_ + count > data_.size()) data_.resize(position_ + count);
  std::memcpy(data_.data() + position_, buffer, count);
  position_ += count;
  return count;
}

int64_t TKELMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) base = static_cast<int64_t>(position_);
  if (origin == SeekOrigin::End) base = static_cast<int64_t>(data_.size());
  position_ = static_cast<size_t>(std::max<int64_t>(base + offset, 0));
  return static_cast<int64_t>(position_);
}

void TKELMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  position_ = std::min(position_, data_.size());
}

// --- TKELFileStream ---------------------------------------------------------------

namespace {

struct OpenRequest {
  platform::FileAccess access;
  platform::FileDisposition disposition;
  platform::FileShare share;
};

OpenRequest DecodeMode(uint32_t mode) {
  using namespace platform;
  if ((mode & fmCreate) == fmCreate)
    return {FileAccess::ReadWrite, FileDisposition::CreateAlways, FileShare::None};
  OpenRequest request{FileAccess::Read, FileDisposition::OpenExisting, FileShare::None};
  switch (mode & 3) {
    case 1: request.access = FileAccess::Write; break;
    case 2: request.access = FileAccess::ReadWrite; break;
    default: break;
  }
  switch ((mode >> 4) & 0xF) {
    case 2: request.share = FileShare::Read; break;
    case 3: request.share = FileShare::Write; break;
    case 4: request.share = FileShare::ReadWrite; break;
    default: break;
  }
  return request;
}

}  // namespace

TKELFileStream::TKELFileStream(const std::string& fileName, uint32_t mode) : fileName_(fileName) {
  const OpenRequest request = DecodeMode(mode);
  std::string error;
  handle_ = platform::OpenFile(fileName, request.access, request.disposition, request.share, &error);
  if (handle_ == platform::kInvalidFile) throw EFOpenError(kelFormat("Cannot open file \"%s\". %s", {fileName, error}));
}

TKELFileStream::~TKELFileStream() { platform::CloseFile(handle_); }

size_t TKELFileStream::Read(void* buffer, size_t count) {
  std::string error;
  const int64_t n = platform::ReadFile(handle_, buffer, count, &error);
  if (n < 0) throw EReadError(error);
  return static_cast<size_t>(n);
}

size_t TKELFileStream::Write(const void* buffer, size_t count) {
  std::string error;
  const int64_t n = platform::WriteFile(handle_, buffer, count, &error);
  if (n < 0) throw EWriteError(error);
  return static_cast<size_t>(n);
}

int64_t TKELFileStream::Seek(int64_t offset, SeekOrigin origin) { return platform::SeekFile(handle_, offset, origin); }

int64_t TKELFileStream::GetSize() { return platform::GetFileSize(handle_); }

void TKELFileStream::SetSize(int64_t size) {
  if (!platform::SetFileSize(handle_, size)) throw EWriteError("Stream write error");
}

// --- TKELBufferedFileStream -------------------------------------------------------
//
// The buffer is either a read window of the file ([bufferStart_,
// bufferStart_ + bufferFill_), the file positioned at its end) or a run of
// pending writes (starting at bufferStart_, where the file is positioned).

TKELBufferedFileStream::TKELBufferedFileStream(const std::string& fileName, uint32_t mode, size_t bufferSize)
    : file_(fileName, mode), buffer_(bufferSize > 1023 ? bufferSize : kDefaultBufferSize) {}

TKELBufferedFileStream::~TKELBufferedFileStream() {
  try {
    Flush();
  } catch (const Exception&) {
    // Nothing can be reported from a destructor; callers that care flush.
  }
}

std::unique_ptr<TKELBufferedFileStream> TKELBufferedFileStream::OpenForRead(const std::string& fileName) {
  try {
    return std::make_unique<TKELBufferedFileStream>(fileName, fmOpenRead | fmShareDenyNone);
  } catch (const Exception&) {
    return nullptr;
  }
}

std::unique_ptr<TKELBufferedFileStream> TKELBufferedFileStream::Create(const std::string& fileName) {
  try {
    return std::make_unique<TKELBufferedFileStream>(fileName, fmCreate);
  } catch (const Exception&) {
    return nullptr;
  }
}

void TKELBufferedFileStream::Flush() {
  if (pendingWrite_ == 0) return;
  const size_t pending = pendingWrite_;
  pendingWrite_ = 0;
  file_.WriteBuffer(buffer_.data(), pending);
  bufferStart_ += static_cast<int64_t>(pending);
}

void TKELBufferedFileStream::DropReadBuffer() {
  if (bufferFill_ == 0) return;
  bufferStart_ += static_cast<int64_t>(bufferPos_);
  file_.Seek(bufferStart_, SeekOrigin::Begin);
  bufferFill_ = bufferPos_ = 0;
}

size_t TKELBufferedFileStream::Read(void* buffer, size_t count) {
  Flush();
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (bufferPos_ < bufferFill_) {
      const size_t n = std::min(count - done, bufferFill_ - bufferPos_);
      std::memcpy(out + done, buffer_.data() + bufferPos_, n);
      bufferPos_ += n;
      done += n;
      continue;
    }
    bufferStart_ += static_cast<int64_t>(bufferFill_);
    bufferFill_ = bufferPos_ = 0;
    if (count - done >= buffer_.size()) {  // large reads bypass the buffer
      const size_t n = file_.Read(out + done, count - done);
      bufferStart_ += static_cast<int64_t>(n);
      done += n;
      if (n == 0) break;
      continue;
    }
    bufferFill_ = file_.Read(buffer_.data(), buffer_.size());
    if (bufferFill_ == 0) break;
  }
  return done;
}

size_t TKELBufferedFileStream::Write(const void* buffer, size_t count) {
  DropReadBuffer();
  const auto* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (pendingWrite_ == 0 && count - done >= buffer_.size()) {  // large writes bypass the buffer
      file_.WriteBuffer(in + done, count - done);
      bufferStart_ += static_cast<int64_t>(count - done);
      return count;
    }
    const size_t n = std::min(count - done, buffer_.size() - pendingWrite_);
    std::memcpy(buffer_.data() + pendingWrite_, in + done, n);
    pendingWrite_ += n;
    done += n;
    if (pendingWrite_ == buffer_.size()) Flush();
  }
  return done;
}

int64_t TKELBufferedFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t current = bufferStart_ + static_cast<int64_t>(pendingWrite_ != 0 ? pendingWrite_ : bufferPos_);
  if (origin == SeekOrigin::Current && offset == 0) return current;
  Flush();
  int64_t target = offset;
  if (origin == SeekOrigin::Current) target = current + offset;
  if (origin == SeekOrigin::End) target = file_.GetSize() + offset;
  if (target < 0) target = 0;
  if (bufferFill_ != 0 && target >= bufferStart_ && target <= bufferStart_ + static_cast<int64_t>(bufferFill_)) {
    bufferPos_ = static_cast<size_t>(target - bufferStart_);
    return target;
  }
  bufferFill_ = bufferPos_ = 0;
  bufferStart_ = file_.Seek(target, SeekOrigin::Begin);
  return bufferStart_;
}

int64_t TKELBufferedFileStream::GetSize() {
  return std::max(file_.GetSize(), bufferStart_ + static_cast<int64_t>(pendingWrite_));
}

void TKELBufferedFileStream::SetSize(int64_t size) {
  const int64_t position = Seek(0, SeekOrigin::Current);
  Flush();
  bufferFill_ = bufferPos_ = 0;
  file_.SetSize(size);
  bufferStart_ = file_.Seek(std::min(position, size), SeekOrigin::Begin);
}

}  // namespace kel
