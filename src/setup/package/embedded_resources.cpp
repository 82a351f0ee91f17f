#include "setup/package/embedded_resources.h"

#include <algorithm>
#include <cstring>

#include "kel/base/format.h"
#include "kel/base/hashes.h"
#include "kel/base/text.h"
#include "kel/platform/module.h"

namespace setup {

namespace {

constexpr size_t kCopyPiece = 1 << 20;
constexpr size_t kMaxNameBytes = 0xFFFF;

uint64_t GetLE(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t(p[i]) << (8 * i);
  return value;
}

void PutLE(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// A read-only window [start, start + size) of a shared stream.
class TEmbeddedResourceStream : public kel::TKELStream {
 public:
  TEmbeddedResourceStream(std::shared_ptr<kel::TKELStream> source, int64_t start, int64_t size)
      : source_(std::move(source)), start_(start), size_(size) {}

  size_t Read(void* buffer, size_t count) override {
    if (position_ >= size_) return 0;
    const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position_));
    source_->SetPosition(start_ + position_);
    size_t done = 0;
    while (done < n) {  // a file stream may deliver less than asked
      const size_t got = source_->Read(static_cast<uint8_t*>(buffer) + done, n - done);
      if (got == 0) break;
      done += got;
    }
    position_ += static_cast<int64_t>(done);
    return done;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, kel::SeekOrigin origin) override {
    int64_t base = 0;
    if (origin == kel::SeekOrigin::Current) base = position_;
    if (origin == kel::SeekOrigin::End) base = size_;
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
  }
  int64_t GetSize() override { return size_; }

 private:
  std::shared_ptr<kel::TKELStream> source_;
  int64_t start_;
  int64_t size_;
  int64_t position_ = 0;
};

void CheckName(std::string_view name) {
  if (name.empty()) throw kel::EArgumentError("A resource needs a name");
  if (name.size() > kMaxNameBytes)
    throw kel::EArgumentError(kel::kelFormat("The resource name \"%s\" is too long", {name}));
  if (!kel::kelIsValidUtf8(name))
    throw kel::EArgumentError(kel::kelFormat("The resource name \"%s\" is not valid UTF-8", {name}));
}

}  // namespace

// --- TEmbeddedResources ----------------------------------------------------------------

TEmbeddedResources TEmbeddedResources::OpenFile(const std::string& fileName) {
  return TEmbeddedResources(std::make_shared<kel::TKELFileStream>(fileName, kel::fmOpenRead | kel::fmShareDenyNone),
                            fileName);
}

TEmbeddedResources TEmbeddedResources::OpenExecutable() {
  const std::string path = kel::platform::ExecutablePath();
  if (path.empty()) throw EEmbeddedResourceError("Cannot find the running program's file");
  return OpenFile(path);
}

TEmbeddedResources::TEmbeddedResources(std::shared_ptr<kel::TKELStream> source, std::string sourceName)
    : source_(std::move(source)), sourceName_(std::move(sourceName)) {
  ReadDirectory();
}

void TEmbeddedResources::Damaged(std::string_view what) const {
  throw EEmbeddedResourceError(kel::kelFormat("The resources of \"%s\" are damaged: %s", {sourceName_, what}));
}

void TEmbeddedResources::ReadDirectory() {
  const int64_t fileSize = source_->GetSize();
  if (fileSize < 0) Damaged("the size of the file is unknown");
  programSize_ = fileSize;
  constexpr auto kTrailerSize = static_cast<int64_t>(TEmbeddedResourceLayout::kTrailerSize);
  if (fileSize < kTrailerSize) return;
  uint8_t trailer[TEmbeddedResourceLayout::kTrailerSize];
  source_->SetPosition(fileSize - kTrailerSize);
  source_->ReadBuffer(trailer, sizeof trailer);
  if (std::memcmp(trailer + 24, TEmbeddedResourceLayout::kMagic.data(), 8) != 0) return;

  hasTrailer_ = true;
  TEmbeddedResourceLayout layout;
  const uint64_t programSize = GetLE(trailer, 8);
  const uint64_t directoryOffset = GetLE(trailer + 8, 8);
  layout.DirectorySize = static_cast<uint32_t>(GetLE(trailer + 16, 4));
  layout.DirectoryCrc = static_cast<uint32_t>(GetLE(trailer + 20, 4));
  // Everything is checked against the file size before it is used: the
  // directory must end exactly where the trailer begins.
  const auto directoryEnd = static_cast<uint64_t>(fileSize - kTrailerSize);
  if (layout.DirectorySize > directoryEnd || directoryOffset != directoryEnd - layout.DirectorySize)
    Damaged("the directory does not end at the trailer (was the file cut or extended?)");
  if (programSize > directoryOffset) Damaged("the program image overlaps the directory");
  layout.ProgramSize = static_cast<int64_t>(programSize);
  layout.DirectoryOffset = static_cast<int64_t>(directoryOffset);

  std::string directory(layout.DirectorySize, '\0');
  source_->SetPosition(layout.DirectoryOffset);
  source_->ReadBuffer(directory.data(), directory.size());
  if (kel::kelCrc32Update(0, directory.data(), directory.size()) != layout.DirectoryCrc)
    Damaged("the directory's checksum does not match");

  const auto* p = reinterpret_cast<const uint8_t*>(directory.data());
  size_t at = 0;
  auto take = [&](size_t bytes) {
    if (directory.size() - at < bytes) Damaged("the directory ends inside an entry");
    const uint8_t* start = p + at;
    at += bytes;
    return start;
  };
  const uint64_t count = GetLE(take(4), 4);
  std::vector<TEmbeddedResource> items;
  for (uint64_t i = 0; i < count; ++i) {
    TEmbeddedResource item;
    const auto nameSize = static_cast<size_t>(GetLE(take(2), 2));
    item.Name.assign(reinterpret_cast<const char*>(take(nameSize)), nameSize);
    const uint64_t offset = GetLE(take(8), 8);
    const uint64_t size = GetLE(take(8), 8);
    if (item.Name.empty()) Damaged("a resource has no name");
    if (offset < programSize || offset > directoryOffset || size > directoryOffset - offset)
      Damaged(kel::kelFormat("resource \"%s\" lies outside the data blocks", {item.Name}));
    item.Offset = static_cast<int64_t>(offset);
    item.Size = static_cast<int64_t>(size);
    items.push_back(std::move(item));
  }
  if (at != directory.size()) Damaged("the directory has bytes after its entries");
  programSize_ = layout.ProgramSize;
  items_ = std::move(items);
}

const TEmbeddedResource* TEmbeddedResources::Find(std::string_view name) const {
  for (const TEmbeddedResource& item : items_)
    if (kel::kelSameText(item.Name, name)) return &item;
  return nullptr;
}

std::unique_ptr<kel::TKELStream> TEmbeddedResources::Open(std::string_view name) const {
  const TEmbeddedResource* item = Find(name);
  if (item == nullptr)
    throw EEmbeddedResourceError(kel::kelFormat("Resource \"%s\" not found in \"%s\"", {name, sourceName_}));
  return std::make_unique<TEmbeddedResourceStream>(source_, item->Offset, item->Size);
}

// --- TEmbeddedResourceWriter -------------------------------------------------------------

void TEmbeddedResourceWriter::Add(std::string_view name, kel::TKELStream& data) {
  CheckName(name);
  for (const Entry& entry : entries_)
    if (kel::kelSameText(entry.name, name))
      throw kel::EArgumentError(kel::kelFormat("The resource \"%s\" is given twice", {name}));
  entries_.push_back({std::string(name), &data});
}

void TEmbeddedResourceWriter::Write(kel::TKELStream& program, const std::string& programName,
                                    kel::TKELStream& target,
                                    const std::function<void(int64_t done, int64_t total)>& progress) const {
  // Only the bare image of the program is kept: resources it already carries
  // are replaced rather than stacked.
  std::shared_ptr<kel::TKELStream> shared(&program, [](kel::TKELStream*) {});
  const TEmbeddedResources existing(shared, programName);
  const int64_t programSize = existing.ProgramSize();

  std::vector<int64_t> sizes;
  int64_t total = programSize;
  for (const Entry& entry : entries_) {
    sizes.push_back(entry.data->GetSize());
    total += sizes.back();
  }
  int64_t done = 0;
  std::vector<uint8_t> piece(kCopyPiece);
  auto copy = [&](kel::TKELStream& from, int64_t count) {
    from.SetPosition(0);
    while (count > 0) {
      const auto n = static_cast<size_t>(std::min<int64_t>(count, kCopyPiece));
      from.ReadBuffer(piece.data(), n);
      target.WriteBuffer(piece.data(), n);
      count -= static_cast<int64_t>(n);
      done += static_cast<int64_t>(n);
      if (progress) progress(done, total);
    }
  };

  copy(program, programSize);
  std::string directory;
  PutLE(directory, entries_.size(), 4);
  int64_t offset = programSize;
  for (size_t i = 0; i < entries_.size(); ++i) {
    copy(*entries_[i].data, sizes[i]);
    PutLE(directory, entries_[i].name.size(), 2);
    directory += entries_[i].name;
    PutLE(directory, static_cast<uint64_t>(offset), 8);
    PutLE(directory, static_cast<uint64_t>(sizes[i]), 8);
    offset += sizes[i];
  }
  const int64_t directoryOffset = offset;
  std::string trailer;
  PutLE(trailer, static_cast<uint64_t>(programSize), 8);
  PutLE(trailer, static_cast<uint64_t>(directoryOffset), 8);
  PutLE(trailer, directory.size(), 4);
  PutLE(trailer, kel::kelCrc32Update(0, directory.data(), directory.size()), 4);
  trailer += TEmbeddedResourceLayout::kMagic;
  target.WriteString(directory);
  target.WriteString(trailer);
}

}  // namespace setup
