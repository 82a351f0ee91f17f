#include "setup/package/package.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "kel/base/format.h"
#include "kel/base/hashes.h"
#include "kel/base/text.h"
#include "kel/platform/memory.h"
#include "setup/package/lzma_codec.h"

namespace setup {

namespace {

using detail::LzmaStatus;

constexpr char kMagic[4] = {'I', 'P', 'K', '5'};
constexpr size_t kHeaderSize = 12;
// The body's length is stored in 32 bits.
constexpr uint64_t kMaxBodySize = 0xFFFFFFFFu;
constexpr size_t kMaxNameUnits = 0xFFFF;

// Source blocks read and encoder output written per step.
constexpr size_t kInputBlock = 64 * 1024;
constexpr size_t kOutputBlock = 64 * 1024;
// Decoded per step and checksummed while still in the cache.
constexpr size_t kDecodePiece = 256 * 1024;
// The body's memory is requested from the system this much ahead of the
// decoder: one request per run instead of one page fault per page.
constexpr uint64_t kPrefaultRun = 8 << 20;
// Files are copied into the builder's body in pieces of this size.
constexpr size_t kCopyPiece = 1 << 20;

// The most bytes an LZMA stream can expand to per input byte. Every decoded
// bit costs at least -log2(2017/2048) > 0.022 bits of input (the most
// probable a bit can become), and the cheapest way to produce output, a
// repeated match of 273 bytes, takes 13 such bits: at most about 7,600
// bytes per input byte. Twice that, plus room for the coder's start,
// bounds what a given input can justify.
constexpr uint64_t kMaxExpansion = 16384;
constexpr uint64_t kExpansionSlack = 1 << 20;
// The first body allocation when the source's size is unknown.
constexpr uint64_t kUnknownSizeStart = 16 << 20;

uint32_t ReadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

template <typename T>
T ReadLE(kel::TKELStream& stream) {
  uint8_t bytes[sizeof(T)];
  stream.ReadBuffer(bytes, sizeof(T));
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= uint64_t(bytes[i]) << (8 * i);
  return static_cast<T>(value);
}

template <typename T>
void WriteLE(kel::TKELStream& stream, T value) {
  uint8_t bytes[sizeof(T)];
  const auto bits = static_cast<uint64_t>(value);
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  stream.WriteBuffer(bytes, sizeof(T));
}

// Makes room in the body, turning a failed allocation into the codec's
// "cannot store the output" error.
void ReserveBody(TSetupPackageData& body, uint64_t capacity) {
  try {
    body.Reserve(static_cast<size_t>(capacity));
  } catch (const std::bad_alloc&) {
    throw ESetupPackageLzmaError(detail::kLzmaErrorWrite);
  }
}

bool ItemInsideBody(const TSetupPackageFileTableItem& item, int64_t bodySize) {
  return item.Offset >= 0 && item.Size >= 0 && item.Offset <= bodySize && item.Size <= bodySize - item.Offset;
}

}  // namespace

ESetupPackageLzmaError::ESetupPackageLzmaError(int code)
    : Exception(kel::kelFormat("LZMA Error (%d)", {code})), code_(code) {}

TSetupPackageLzmaSettings SetupPackageLzmaSettings(int level) {
  if (level < 0 || level > 9)
    throw kel::EArgumentError(kel::kelFormat("Unknown compression level %d: the levels are 0 to 9", {level}));
  TSetupPackageLzmaSettings settings;
  if (level <= 5)
    settings.DictionarySize = 1u << (2 * level + 14);
  else
    settings.DictionarySize = level == 6 ? 1u << 25 : 1u << 26;
  settings.FastMode = level <= 4;
  settings.FastBytes = level >= 7 ? 64 : 32;
  // The match finder's cycles: 16 + fast bytes / 2, halved for the hash
  // chains of the fast mode.
  settings.MatchFinderCycles = (16 + settings.FastBytes / 2) >> (settings.FastMode ? 1 : 0);
  return settings;
}

// --- TSetupPackageData -------------------------------------------------------------------

size_t TSetupPackageData::Read(void* buffer, size_t count) {
  if (position_ >= size_) return 0;
  const size_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, buffer_.get() + position_, n);
  position_ += n;
  return n;
}

size_t TSetupPackageData::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (position_ + count > size_) {
    const size_t oldSize = size_;
    Extend(position_ + count - size_);
    if (position_ > oldSize) std::memset(buffer_.get() + oldSize, 0, position_ - oldSize);
  }
  std::memcpy(buffer_.get() + position_, buffer, count);
  position_ += count;
  return count;
}

int64_t TSetupPackageData::Seek(int64_t offset, kel::SeekOrigin origin) {
  int64_t base = 0;
  if (origin == kel::SeekOrigin::Current) base = static_cast<int64_t>(position_);
  if (origin == kel::SeekOrigin::End) base = static_cast<int64_t>(size_);
  position_ = static_cast<size_t>(std::max<int64_t>(base + offset, 0));
  return static_cast<int64_t>(position_);
}

void TSetupPackageData::SetSize(int64_t size) {
  const auto newSize = static_cast<size_t>(std::max<int64_t>(size, 0));
  if (newSize > size_) {
    const size_t oldSize = size_;
    Extend(newSize - size_);
    std::memset(buffer_.get() + oldSize, 0, newSize - oldSize);
  }
  size_ = newSize;
  position_ = std::min(position_, size_);
}

void TSetupPackageData::Clear() {
  buffer_.reset();
  size_ = capacity_ = position_ = 0;
}

void TSetupPackageData::Reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);  // not cleared: filled as the body grows
  if (size_ != 0) std::memcpy(bigger.get(), buffer_.get(), size_);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

uint8_t* TSetupPackageData::Extend(size_t count) {
  if (count > capacity_ - size_) {
    if (count > std::numeric_limits<size_t>::max() - size_) throw std::bad_alloc();
    Reserve(std::max(size_ + count, capacity_ + capacity_ / 2));
  }
  uint8_t* start = buffer_.get() + size_;
  size_ += count;
  return start;
}

// --- Scrambler -----------------------------------------------------------------------

Scrambler::Scrambler(std::string_view key) : key_(kel::TKELEncoding::Ansi().Encode(key)) {
  if (key_.empty()) throw kel::EArgumentError("The package key must not be empty");
  // The key repeated, so that a run of bytes is XORed with one contiguous
  // run of key bytes (a loop the compiler vectorizes).
  while (repeated_.size() < kRun + key_.size()) repeated_ += key_;
}

void Scrambler::Apply(uint8_t* data, size_t count) {
  const auto* key = reinterpret_cast<const uint8_t*>(repeated_.data());
  while (count > 0) {
    const size_t n = std::min(count, kRun);
    const uint8_t* run = key + position_;
    for (size_t i = 0; i < n; ++i) data[i] ^= run[i];
    position_ = (position_ + n) % key_.size();
    data += n;
    count -= n;
  }
}

// --- TSetupPackageFileTable --------------------------------------------------------------

TSetupPackageFileTableItem& TSetupPackageFileTable::Add() {
  items_.push_back(std::make_unique<TSetupPackageFileTableItem>());
  return *items_.back();
}

bool TSetupPackageFileTable::Find(std::string_view name, const TSetupPackageFileTableItem*& item) const {
  for (const auto& candidate : items_) {
    if (kel::kelSameText(candidate->Name, name)) {
      item = candidate.get();
      return true;
    }
  }
  return false;
}

void TSetupPackageFileTable::ReadFrom(kel::TKELStream& stream) {
  const auto count = ReadLE<int32_t>(stream);
  if (count < 0) throw ESetupPackageReadError();
  // No reservation by the count: a damaged count must not allocate; every
  // entry read is backed by at least 18 bytes of input.
  std::vector<std::unique_ptr<TSetupPackageFileTableItem>> items;
  std::vector<uint8_t> nameBytes;
  for (int32_t i = 0; i < count; ++i) {
    auto item = std::make_unique<TSetupPackageFileTableItem>();
    const auto units = ReadLE<uint16_t>(stream);
    nameBytes.resize(size_t(units) * 2);
    stream.ReadBuffer(nameBytes.data(), nameBytes.size());
    std::u16string name(units, u'\0');
    for (size_t k = 0; k < units; ++k) name[k] = static_cast<char16_t>(nameBytes[2 * k] | nameBytes[2 * k + 1] << 8);
    item->Name = kel::kelUtf16ToUtf8(name);
    item->Offset = ReadLE<int64_t>(stream);
    item->Size = ReadLE<int64_t>(stream);
    items.push_back(std::move(item));
  }
  items_ = std::move(items);
}

void TSetupPackageFileTable::WriteTo(kel::TKELStream& stream) const {
  if (items_.size() > size_t(std::numeric_limits<int32_t>::max()))
    throw kel::EArgumentError("Too many files for one package");
  WriteLE(stream, static_cast<int32_t>(items_.size()));
  std::string nameBytes;
  for (const auto& item : items_) {
    const std::u16string name = kel::kelUtf8ToUtf16(item->Name);
    if (name.size() > kMaxNameUnits)
      throw kel::EArgumentError(kel::kelFormat("The name \"%s\" is too long for a package", {item->Name}));
    WriteLE(stream, static_cast<uint16_t>(name.size()));
    nameBytes.resize(name.size() * 2);
    for (size_t k = 0; k < name.size(); ++k) {
      nameBytes[2 * k] = static_cast<char>(name[k] & 0xFF);
      nameBytes[2 * k + 1] = static_cast<char>(name[k] >> 8);
    }
    stream.WriteString(nameBytes);
    WriteLE(stream, item->Offset);
    WriteLE(stream, item->Size);
  }
}

// --- TSetupPackageReader ---------------------------------------------------------------

TSetupPackageReader::TSetupPackageReader(kel::TKELStream& source, const TSetupPackageProgress& progress) {
  uint8_t header[kHeaderSize];
  source.ReadBuffer(header, sizeof header);
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) throw ESetupPackageReadError();
  Decode(source, ReadLE32(header + 8), ReadLE32(header + 4), progress);
  ReadTable();
}

// Feeds the source block by block through the scrambler into the decoder,
// which writes straight into the body; each decoded piece is checksummed at
// once. The body is allocated once, as large as the header says but never
// larger than the remaining input can expand to, so that a damaged header
// cannot make the reader allocate what the input does not justify.
void TSetupPackageReader::Decode(kel::TKELStream& source, uint32_t bodySize, uint32_t checksum,
                                 const TSetupPackageProgress& progress) {
  uint64_t limit = bodySize;
  const int64_t position = source.GetPosition();
  const int64_t size = source.GetSize();
  const bool sizeKnown = position >= 0 && size >= position;
  if (sizeKnown) {
    const auto remaining = static_cast<uint64_t>(size - position);
    if (remaining < (kMaxBodySize - kExpansionSlack) / kMaxExpansion)
      limit = std::min(limit, remaining * kMaxExpansion + kExpansionSlack);
  }

  Scrambler scrambler(kSetupPackageKey);
  std::vector<uint8_t> block(kInputBlock);
  size_t blockFill = 0;
  size_t blockPos = 0;
  bool sourceEnded = false;
  auto refill = [&] {
    blockPos = 0;
    blockFill = source.Read(block.data(), block.size());
    if (blockFill == 0)
      sourceEnded = true;
    else
      scrambler.Apply(block.data(), blockFill);
  };

  uint8_t properties[detail::kLzmaPropertiesSize];
  size_t propertiesRead = 0;
  while (propertiesRead < sizeof properties) {
    if (blockPos == blockFill) refill();
    if (sourceEnded) break;
    const size_t n = std::min(sizeof properties - propertiesRead, blockFill - blockPos);
    std::memcpy(properties + propertiesRead, block.data() + blockPos, n);
    propertiesRead += n;
    blockPos += n;
  }

  data_.Clear();
  uint64_t produced = 0;
  uint32_t crc = 0;
  if (propertiesRead == sizeof properties) {
    const detail::LzmaProperties lzmaProperties = detail::DecodeLzmaProperties(properties);
    // The body's memory is reserved once and put to use piece by piece, so
    // that each piece is touched first, decoded into and checksummed while
    // it is in the cache. A source that cannot tell its size gets a body
    // that grows as needed.
    uint64_t capacity = sizeKnown ? limit : std::min<uint64_t>(limit, kUnknownSizeStart);
    ReserveBody(data_, capacity);
    uint64_t prefaulted = 0;
    detail::LzmaDecoder decoder(lzmaProperties, bodySize, static_cast<uint32_t>(std::min(limit, kMaxBodySize)));
    while (produced < bodySize) {
      if (blockPos == blockFill && !sourceEnded) refill();
      if (produced == capacity) {
        capacity = std::min<uint64_t>(bodySize, std::max<uint64_t>(capacity * 2, capacity + kDecodePiece));
        ReserveBody(data_, capacity);
        prefaulted = produced;
      }
      const auto pieceSize = static_cast<size_t>(std::min<uint64_t>(kDecodePiece, capacity - produced));
      if (produced + pieceSize > prefaulted) {
        const uint64_t end = std::min<uint64_t>(capacity, produced + kPrefaultRun);
        kel::platform::PrefaultForWrite(data_.Memory() + produced, static_cast<size_t>(end - produced));
        prefaulted = end;
      }
      uint8_t* const start = data_.Extend(pieceSize);  // within the reserved memory
      const uint8_t* input = block.data() + blockPos;
      size_t inputLeft = blockFill - blockPos;
      uint8_t* output = start;
      size_t outputLeft = pieceSize;
      const LzmaStatus status = decoder.Decode(input, inputLeft, output, outputLeft, sourceEnded);
      const auto made = static_cast<size_t>(output - start);
      const auto consumed = static_cast<size_t>(input - (block.data() + blockPos));
      blockPos += consumed;
      crc = kel::kelCrc32Update(crc, start, made);
      produced += made;
      data_.SetSize(static_cast<int64_t>(produced));  // gives back what the piece did not use
      if (made != 0 && progress) progress(static_cast<int64_t>(produced), bodySize);
      // Damaged data ends the decoding; the length check below reports it.
      if (status != LzmaStatus::Ok) break;
      if (made == 0 && consumed == 0 && sourceEnded) break;
    }
  }
  data_.SetSize(static_cast<int64_t>(produced));
  data_.SetPosition(0);
  if (produced != bodySize || crc != checksum) throw ESetupPackageReadError();
}

void TSetupPackageReader::ReadTable() {
  const int64_t length = data_.GetSize();
  if (length < 4) throw kel::EReadError("Stream read error");
  const uint32_t tableSize = ReadLE32(data_.Memory() + length - 4);
  if (tableSize > static_cast<uint64_t>(length - 4)) throw ESetupPackageReadError();
  const int64_t tableStart = length - 4 - tableSize;
  // The table is read from its own bytes only: an entry that runs past them
  // is a short read, not a read of the length field or beyond.
  kel::TKELMemoryStream table(data_.View().substr(static_cast<size_t>(tableStart), tableSize));
  fileTable_.ReadFrom(table);
  for (int i = 0; i < fileTable_.Count(); ++i) {
    if (!ItemInsideBody(fileTable_[i], length)) {
      fileTable_.Clear();
      throw ESetupPackageReadError();
    }
  }
}

bool TSetupPackageReader::Contains(std::string_view name) const {
  const TSetupPackageFileTableItem* item = nullptr;
  return fileTable_.Find(name, item);
}

bool TSetupPackageReader::GetFile(std::string_view name, std::unique_ptr<kel::TKELMemoryStream>& stream) const {
  const TSetupPackageFileTableItem* item = nullptr;
  if (!fileTable_.Find(name, item)) return false;
  if (!ItemInsideBody(*item, static_cast<int64_t>(data_.View().size()))) throw ESetupPackageReadError();
  auto copy = std::make_unique<kel::TKELMemoryStream>();
  copy->Reserve(static_cast<size_t>(std::max<int64_t>(item->Size, 0)));
  WriteFileTo(*item, *copy);
  copy->SetPosition(0);
  stream = std::move(copy);
  return true;
}

void TSetupPackageReader::WriteFileTo(const TSetupPackageFileTableItem& item, kel::TKELStream& target) const {
  // The table is open to callers: check again before touching the body.
  if (!ItemInsideBody(item, static_cast<int64_t>(data_.View().size()))) throw ESetupPackageReadError();
  const uint8_t* bytes = data_.Memory() + item.Offset;
  int64_t left = item.Size;
  while (left > 0) {
    const auto n = static_cast<size_t>(std::min<int64_t>(left, kCopyPiece));
    target.WriteBuffer(bytes, n);
    bytes += n;
    left -= static_cast<int64_t>(n);
  }
}

// --- TSetupPackageBuilder --------------------------------------------------------------

TSetupPackageBuilder::TSetupPackageBuilder(std::string key) : key_(std::move(key)) {
  Scrambler check(key_);  // rejects an empty key now rather than at Commit
}

void TSetupPackageBuilder::Add(kel::TKELStream& stream, std::string_view name) {
  const std::u16string units = kel::kelUtf8ToUtf16(name);
  if (kel::kelUtf16ToUtf8(units) != name)
    throw kel::EArgumentError(kel::kelFormat("The name \"%s\" is not valid UTF-8", {name}));
  if (units.size() > kMaxNameUnits)
    throw kel::EArgumentError(kel::kelFormat("The name \"%s\" is too long for a package", {name}));
  const int64_t size = stream.GetSize();
  if (size < 0) throw kel::EReadError("Stream read error");
  const int64_t offset = data_.GetSize();
  if (static_cast<uint64_t>(offset) + static_cast<uint64_t>(size) > kMaxBodySize)
    throw kel::EArgumentError(
        kel::kelFormat("\"%s\" does not fit in the package: a package holds less than 4 GiB", {name}));

  // Grow the body once and read the file straight into it.
  uint8_t* target = data_.Extend(static_cast<size_t>(size));
  try {
    stream.SetPosition(0);
    int64_t done = 0;
    while (done < size) {
      const auto n = static_cast<size_t>(std::min<int64_t>(size - done, kCopyPiece));
      stream.ReadBuffer(target + done, n);
      done += static_cast<int64_t>(n);
    }
  } catch (...) {
    data_.SetSize(offset);
    throw;
  }
  data_.Seek(0, kel::SeekOrigin::End);
  TSetupPackageFileTableItem& item = fileTable_.Add();
  item.Name = std::string(name);
  item.Offset = offset;
  item.Size = size;
}

void TSetupPackageBuilder::Commit(const std::string& path, int level, const TSetupPackageProgress& progress) const {
  SetupPackageLzmaSettings(level);  // an unknown level fails before the file is touched
  kel::TKELFileStream file(path, kel::fmCreate);
  CommitTo(file, level, progress);
}

void TSetupPackageBuilder::CommitTo(kel::TKELStream& target, int level, const TSetupPackageProgress& progress) const {
  const TSetupPackageLzmaSettings settings = SetupPackageLzmaSettings(level);

  // The body is the files added, then the table and its length; the first
  // part is encoded from where it lies, the rest from a small buffer.
  kel::TKELMemoryStream tail;
  fileTable_.WriteTo(tail);
  const auto tableSize = static_cast<uint32_t>(tail.GetSize());
  WriteLE(tail, tableSize);
  const uint64_t bodySize = data_.View().size() + tail.View().size();
  if (bodySize > kMaxBodySize) throw kel::EArgumentError("The files do not fit in one package: it holds less than 4 GiB");

  struct Segment {
    const uint8_t* bytes;
    size_t size;
  };
  const std::array<Segment, 2> segments = {Segment{data_.Memory(), data_.View().size()},
                                           Segment{tail.Memory(), static_cast<size_t>(tail.GetSize())}};

  uint32_t crc = 0;
  for (const Segment& segment : segments) crc = kel::kelCrc32Update(crc, segment.bytes, segment.size);
  uint8_t header[kHeaderSize];
  std::memcpy(header, kMagic, sizeof kMagic);
  PutLE32(header + 4, crc);
  PutLE32(header + 8, static_cast<uint32_t>(bodySize));
  target.WriteBuffer(header, sizeof header);

  Scrambler scrambler(key_);
  uint8_t properties[detail::kLzmaPropertiesSize];
  detail::EncodeLzmaProperties(settings, properties);
  scrambler.Apply(properties, sizeof properties);
  target.WriteBuffer(properties, sizeof properties);

  detail::LzmaEncoder encoder(settings, bodySize);
  std::vector<uint8_t> block(kOutputBlock);
  size_t segment = 0;
  const uint8_t* input = segments[0].bytes;
  size_t inputLeft = segments[0].size;
  uint64_t consumed = 0;
  for (;;) {
    while (inputLeft == 0 && segment + 1 < segments.size()) {
      ++segment;
      input = segments[segment].bytes;
      inputLeft = segments[segment].size;
    }
    const bool finish = segment + 1 == segments.size();
    uint8_t* output = block.data();
    size_t outputLeft = block.size();
    const size_t given = inputLeft;
    const LzmaStatus status = encoder.Encode(input, inputLeft, output, outputLeft, finish);
    consumed += given - inputLeft;
    const auto made = static_cast<size_t>(output - block.data());
    scrambler.Apply(block.data(), made);
    target.WriteBuffer(block.data(), made);
    if (progress && given != inputLeft) progress(static_cast<int64_t>(consumed), static_cast<int64_t>(bodySize));
    if (status == LzmaStatus::End) break;
  }
}

}  // namespace setup
