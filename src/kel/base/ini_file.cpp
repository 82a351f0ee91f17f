#include "kel/base/ini_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "kel/base/error.h"
#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/hashes.h"

namespace kel {

namespace {

// --- Line ends ----------------------------------------------------------------
//
// A line ends at CR, LF or U+2028 (E2 80 A8 in UTF-8). After a line, one
// U+2028, then one CR, then one LF are skipped, so CR LF, LF, CR and U+2028
// followed by CR and/or LF each end exactly one line, while LF CR ends two.

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Non-zero when one of the eight bytes of v is zero.
inline uint64_t HasZeroByte(uint64_t v) { return (v - kOnes) & ~v & kHighBits; }

inline bool IsLineSeparatorAt(const char* s, size_t pos, size_t n) {
  return pos + 3 <= n && s[pos] == '\xE2' && s[pos + 1] == '\x80' && s[pos + 2] == '\xA8';
}

// Position of the first line end in [pos, n), or n. Eight bytes are tested
// at a time for the three bytes that can start a line end.
size_t FindLineEnd(const char* s, size_t pos, size_t n) {
  for (;;) {
    while (pos + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + pos, 8);
      if (HasZeroByte(w ^ (kOnes * '\r')) | HasZeroByte(w ^ (kOnes * '\n')) | HasZeroByte(w ^ (kOnes * 0xE2))) break;
      pos += 8;
    }
    const size_t stop = std::min(pos + 8, n);
    for (; pos < stop; ++pos) {
      const char c = s[pos];
      if (c == '\r' || c == '\n' || (c == '\xE2' && IsLineSeparatorAt(s, pos, n))) return pos;
    }
    if (pos >= n) return n;
  }
}

// Start of the next line after the line end at `pos` (or n).
inline size_t SkipLineEnd(const char* s, size_t pos, size_t n) {
  if (IsLineSeparatorAt(s, pos, n)) pos += 3;
  if (pos < n && s[pos] == '\r') ++pos;
  if (pos < n && s[pos] == '\n') ++pos;
  return pos;
}

bool HasLineEnd(std::string_view text) { return FindLineEnd(text.data(), 0, text.size()) != text.size(); }

// --- Lines in the legacy code page ----------------------------------------------
//
// A text read as UTF-8 may hold lines that are not UTF-8: a legacy file, or
// lines that another program added in its own code page. Such a line is read
// in Windows-1252 and marked, and saving writes it back in Windows-1252, so
// that it keeps its bytes and the other lines keep their UTF-8 reading.

constexpr uint8_t kLegacyLine = 1;  // item mark: the line was read in Windows-1252

bool HasHighByte(std::string_view s) {
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & kHighBits) return true;
  }
  for (; i < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) & 0x80) return true;
  return false;
}

// End of the line at `pos` when only CR and LF end lines.
size_t FindCrOrLf(const char* s, size_t pos, size_t n) {
  while (pos < n && s[pos] != '\r' && s[pos] != '\n') ++pos;
  return pos;
}

// The name of a header line: without its first character ("[") and its last
// character, whatever that is ("[" alone gives "").
std::string_view HeaderName(std::string_view line) {
  const size_t n = line.size();
  if (n < 2) return line.substr(1, 0);
  size_t start = n - 1;
  while (start > 1 && n - start < 4 && (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80) --start;
  size_t next = start;
  kelNextCodePoint(line, next);
  if (next != n) start = n - 1;  // not one whole character: drop one byte
  return line.substr(1, start - 1);
}

// --- Checks of what is written ------------------------------------------------

void CheckSectionName(std::string_view name) {
  if (HasLineEnd(name)) throw EArgumentError(kelFormat("Invalid section name \"%s\"", {name}));
}

void CheckKeyAndValue(std::string_view section, std::string_view key, std::string_view value) {
  if (HasLineEnd(key) || key.find('=') != std::string_view::npos || (!key.empty() && key[0] == '['))
    throw EArgumentError(kelFormat("Invalid key name \"%s\" in section [%s]", {key, section}));
  if (HasLineEnd(value))
    throw EArgumentError(kelFormat("The value of key \"%s\" in section [%s] holds a line break", {key, section}));
}

// --- Value conversions --------------------------------------------------------

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StrToInt32(std::string_view s, int32_t& result) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  bool hex = false;
  if (i < n && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  // Hexadecimal numbers are 32-bit patterns; decimal ones signed values.
  const uint64_t limit = hex ? (negative ? 0x80000000ull : 0xFFFFFFFFull) : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t value = 0;
  for (; i < n; ++i) {
    const int digit = hex ? HexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (digit < 0) return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > limit) return false;
  }
  const auto bits = static_cast<uint32_t>(value);
  result = static_cast<int32_t>(negative ? 0u - bits : bits);
  return true;
}

bool HexToBytes(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.resize(hex.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<char>(hi << 4 | lo);
  }
  return true;
}

std::string BytesToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(bytes.size() * 2, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    hex[2 * i] = kDigits[b >> 4];
    hex[2 * i + 1] = kDigits[b & 15];
  }
  return hex;
}

inline uint32_t NameHashOf(std::string_view name) { return kelElfHash(name, true); }

}  // namespace

// --- TKELIniFileSection -----------------------------------------------------------

TKELIniFileSection::TKELIniFileSection(std::string name) : name_(std::move(name)) {}

void TKELIniFileSection::SetName(std::string name) {
  if (name == name_) return;
  CheckSectionName(name);
  name_ = std::move(name);
  nameHash_ = 0;
  legacyName_ = false;
  Changed();
}

uint32_t TKELIniFileSection::NameHash() const {
  if (nameHash_ == 0) nameHash_ = NameHashOf(name_);
  return nameHash_;
}

std::string_view TKELIniFileSection::LineName(std::string_view line) {
  const size_t eq = line.find('=');
  return line.substr(0, eq == std::string_view::npos ? 0 : eq);
}

std::string_view TKELIniFileSection::LineValue(std::string_view line) {
  const size_t eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

bool TKELIniFileSection::FindKeyHashed(std::string_view key, uint32_t keyHash, int& index) const {
  // The tags are caches of the names' hashes; filling them is no change.
  auto& items = const_cast<std::vector<TItem>&>(items_);
  for (size_t i = 0; i < items.size(); ++i) {
    TItem& item = items[i];
    if (item.tag == 0) item.tag = NameHashOf(LineName(item.text));
    if (item.tag == keyHash && kelSameText(LineName(item.text), key)) {
      index = static_cast<int>(i);
      return true;
    }
  }
  index = -1;
  return false;
}

bool TKELIniFileSection::FindKey(std::string_view key, int& index) const {
  if (items_.empty()) {
    index = -1;
    return false;
  }
  return FindKeyHashed(key, NameHashOf(key), index);
}

bool TKELIniFileSection::ReadValue(std::string_view key, std::string& value) const {
  int index;
  if (!FindKey(key, index)) {
    value.clear();
    return false;
  }
  value = LineValue(items_[static_cast<size_t>(index)].text);
  return true;
}

std::string TKELIniFileSection::ReadString(std::string_view key, std::string_view defaultValue) const {
  std::string value;
  if (!ReadValue(key, value)) value = defaultValue;
  return value;
}

int32_t TKELIniFileSection::ReadInteger(std::string_view key, int32_t defaultValue) const {
  int index;
  int32_t result;
  if (FindKey(key, index) && StrToInt32(LineValue(items_[static_cast<size_t>(index)].text), result)) return result;
  return defaultValue;
}

bool TKELIniFileSection::ReadBool(std::string_view key, bool defaultValue) const {
  return ReadInteger(key, defaultValue ? 1 : 0) != 0;
}

TKELRect TKELIniFileSection::ReadRect(std::string_view key, const TKELRect& defaultValue) const {
  int index;
  if (!FindKey(key, index)) return defaultValue;
  std::string_view rest = LineValue(items_[static_cast<size_t>(index)].text);
  TKELRect rect = defaultValue;
  int32_t* fields[] = {&rect.Left, &rect.Top, &rect.Right, &rect.Bottom};
  for (int32_t* field : fields) {
    const size_t comma = rest.find(',');
    int32_t value;
    if (StrToInt32(rest.substr(0, comma), value)) *field = value;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return rect;
}

void TKELIniFileSection::WriteString(std::string_view key, std::string_view value) {
  CheckKeyAndValue(name_, key, value);
  const uint32_t keyHash = NameHashOf(key);
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append(1, '=').append(value);
  int index;
  if (!items_.empty() && FindKeyHashed(key, keyHash, index))
    Put(index, std::move(line), keyHash);
  else
    Add(std::move(line), keyHash);
}

bool TKELIniFileSection::DeleteKey(std::string_view key) {
  int index;
  if (!FindKey(key, index)) return false;
  Delete(index);
  return true;
}

// --- TKELIniFile ----------------------------------------------------------------

class TKELIniFile::UpdateScope {
 public:
  explicit UpdateScope(TKELIniFile& file) : file_(file) { file_.BeginUpdate(); }
  ~UpdateScope() { file_.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TKELIniFile& file_;
};

TKELIniFile::TKELIniFile() = default;

TKELIniFile::TKELIniFile(const std::string& fileName, bool autoSave) : AutoSave(autoSave) {
  if (!fileName.empty()) LoadFromFile(fileName);
}

TKELIniFile::~TKELIniFile() {
  if (!AutoSave) return;
  try {
    UpdateFile();
  } catch (...) {
    // A destructor cannot report; UpdateFile itself reports by its result.
  }
}

void TKELIniFile::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TKELIniFile::Changed() {
  modified_ = true;
  if (updateCount_ == 0 && OnChanged) OnChanged();
}

// --- Sections ---------------------------------------------------------------------

const TKELIniFileSection* TKELIniFile::FindSection(std::string_view name) const {
  if (sections_.empty()) return nullptr;
  if (lastSection_ != nullptr && kelSameText(lastSection_->Name(), name)) return lastSection_;
  const uint32_t hash = NameHashOf(name);
  for (const auto& section : sections_) {
    if (section->NameHash() == hash && kelSameText(section->Name(), name)) {
      lastSection_ = section.get();
      return lastSection_;
    }
  }
  return nullptr;
}

TKELIniFileSection* TKELIniFile::GetSection(std::string_view name, bool create) {
  // Sections are owned, never const objects: handing out a mutable one is fine.
  auto* section = const_cast<TKELIniFileSection*>(FindSection(name));
  if (section != nullptr || !create) return section;
  CheckSectionName(name);
  return AddSection(std::string(name), 0);
}

TKELIniFileSection* TKELIniFile::AddSection(std::string name, uint32_t nameHash) {
  auto section = std::make_unique<TKELIniFileSection>(std::move(name));
  section->nameHash_ = nameHash;
  section->OnChange = [this] { Changed(); };
  sections_.push_back(std::move(section));
  return sections_.back().get();
}

bool TKELIniFile::ExistsSection(std::string_view section) const { return FindSection(section) != nullptr; }

bool TKELIniFile::ExistsKey(std::string_view section, std::string_view key) const {
  const TKELIniFileSection* found = FindSection(section);
  int index;
  return found != nullptr && found->FindKey(key, index);
}

// --- Reading ------------------------------------------------------------------------

bool TKELIniFile::ReadValue(std::string_view section, std::string_view key, std::string& value) const {
  const TKELIniFileSection* found = FindSection(section);
  if (found == nullptr) {
    value.clear();
    return false;
  }
  return found->ReadValue(key, value);
}

std::string TKELIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  std::string value;
  if (!ReadValue(section, key, value)) value = defaultValue;
  return value;
}

int32_t TKELIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const {
  const TKELIniFileSection* found = FindSection(section);
  return found != nullptr ? found->ReadInteger(key, defaultValue) : defaultValue;
}

bool TKELIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

TKELRect TKELIniFile::ReadRect(std::string_view section, std::string_view key, const TKELRect& defaultValue) const {
  const TKELIniFileSection* found = FindSection(section);
  return found != nullptr ? found->ReadRect(key, defaultValue) : defaultValue;
}

bool TKELIniFile::ReadStream(std::string_view section, std::string_view key, TKELStream& stream) const {
  std::string hex, bytes;
  if (!ReadValue(section, key, hex) || !HexToBytes(hex, bytes)) return false;
  stream.WriteString(bytes);
  stream.SetPosition(0);
  return true;
}

void TKELIniFile::ReadKeys(std::string_view section, TKELStringList& keys) const {
  const TKELIniFileSection* found = FindSection(section);
  if (found == nullptr) return;
  keys.BeginUpdate();
  for (const auto& item : found->Items()) {
    const std::string_view name = TKELIniFileSection::LineName(item.text);
    if (!name.empty()) keys.Add(std::string(name));
  }
  keys.EndUpdate();
}

std::string TKELIniFile::ReadSection(std::string_view section) const {
  const TKELIniFileSection* found = FindSection(section);
  return found != nullptr ? found->Text() : std::string();
}

// --- Writing ------------------------------------------------------------------------

void TKELIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckKeyAndValue(section, key, value);  // before anything is created
  UpdateScope scope(*this);
  GetSection(section, true)->WriteString(key, value);
}

void TKELIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value,
                              std::string_view defaultValue) {
  if (value == defaultValue)
    DeleteKey(section, key);
  else
    WriteString(section, key, value);
}

void TKELIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TKELIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TKELIniFile::WriteRect(std::string_view section, std::string_view key, const TKELRect& value) {
  WriteString(section, key, kelFormat("%d,%d,%d,%d", {value.Left, value.Top, value.Right, value.Bottom}));
}

void TKELIniFile::WriteStream(std::string_view section, std::string_view key, TKELStream& stream) {
  const int64_t position = stream.GetPosition();
  stream.SetPosition(0);
  const std::string bytes = stream.ReadRest();
  stream.SetPosition(position);
  WriteString(section, key, BytesToHex(bytes), "");
}

void TKELIniFile::WriteSection(std::string_view section, std::string_view text) {
  UpdateScope scope(*this);
  TKELIniFileSection* target = GetSection(section, true);
  target->BeginUpdate();
  target->Clear();
  const char* s = text.data();
  const size_t n = text.size();
  size_t pos = 0;
  while (pos < n) {
    const size_t end = FindLineEnd(s, pos, n);
    target->Add(std::string(s + pos, end - pos));
    pos = SkipLineEnd(s, end, n);
  }
  target->EndUpdate();
}

bool TKELIniFile::DeleteKey(std::string_view section, std::string_view key) {
  TKELIniFileSection* found = GetSection(section, false);
  return found != nullptr && found->DeleteKey(key);
}

bool TKELIniFile::DeleteSection(std::string_view section) {
  const TKELIniFileSection* found = FindSection(section);
  if (found == nullptr) return false;
  if (lastSection_ == found) lastSection_ = nullptr;
  sections_.erase(std::find_if(sections_.begin(), sections_.end(),
                               [found](const auto& item) { return item.get() == found; }));
  Changed();
  return true;
}

void TKELIniFile::ClearSections() {
  lastSection_ = nullptr;
  sections_.clear();
}

void TKELIniFile::Clear() {
  UpdateScope scope(*this);
  ClearSections();
}

void TKELIniFile::Merge(const TKELIniFile& source, bool overwrite) {
  if (&source == this) return;
  UpdateScope scope(*this);
  for (const auto& from : source.sections_) {
    TKELIniFileSection* to = GetSection(from->Name(), false);
    if (to == nullptr) {
      WriteSection(from->Name(), from->Text());
      continue;
    }
    std::string value;
    for (const auto& item : from->Items()) {
      const std::string_view key = TKELIniFileSection::LineName(item.text);
      int index;
      if (key.empty() || (!overwrite && to->FindKey(key, index))) continue;
      from->ReadValue(key, value);  // the first line of a duplicated key wins
      to->WriteString(key, value);
    }
  }
}

void TKELIniFile::Merge(const std::string& fileName, bool overwrite) {
  TKELIniFile source;
  source.LoadFromFile(fileName);
  Merge(source, overwrite);
}

void TKELIniFile::Assign(const TKELIniFile* source) {
  if (source == this) return;
  UpdateScope scope(*this);
  Clear();
  if (source == nullptr) return;
  TKELMemoryStream copy;
  source->SaveToStream(copy, TKELEncoding::UTF16LE());
  copy.SetPosition(0);
  LoadFromStream(copy);
}

bool TKELIniFile::Equals(const TKELIniFile& other) const {
  if (&other == this) return true;
  TKELMemoryStream mine, theirs;
  SaveToStream(mine, TKELEncoding::UTF16LE());
  other.SaveToStream(theirs, TKELEncoding::UTF16LE());
  return mine.View() == theirs.View();
}

// --- Loading ------------------------------------------------------------------------

bool TKELIniFile::LoadFromFile(const std::string& fileName) {
  bool loaded = false;
  {
    UpdateScope scope(*this);
    Clear();
    fileName_ = fileName;
    if (std::unique_ptr<TKELBufferedFileStream> file = TKELBufferedFileStream::OpenForRead(fileName)) {
      try {
        LoadFromStream(*file);
        loaded = true;
      } catch (const Exception&) {
        Clear();  // a read error part-way: nothing half-loaded
      }
    }
  }
  modified_ = false;
  return loaded;
}

void TKELIniFile::LoadFromStream(TKELStream& stream) {
  UpdateScope scope(*this);
  Clear();
  const int64_t start = stream.GetPosition();
  unsigned char head[3] = {};
  const size_t got = stream.Read(head, sizeof head);
  size_t markLength = 0;
  TKELEncoding detected = TKELEncoding::Ansi();
  if (got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    detected = TKELEncoding::UTF8();
    markLength = 3;
  } else if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    detected = TKELEncoding::UTF16LE();
    markLength = 2;
  } else if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    detected = TKELEncoding::UTF16BE();
    markLength = 2;
  }
  stream.SetPosition(start + static_cast<int64_t>(markLength));
  const std::string bytes = stream.ReadRest();

  const bool utf8Locale = kelLocaleEncoding().GetKind() == TKELEncoding::Kind::UTF8;
  if (detected.GetKind() == TKELEncoding::Kind::UTF8 || (detected.GetKind() == TKELEncoding::Kind::Ansi && utf8Locale)) {
    Encoding = detected;
    if (kelIsValidUtf8(bytes)) {  // the common case: parse the bytes as they are
      LoadFromBuffer(bytes.data(), bytes.size());
      return;
    }
    // Without a mark, a file whose every line beyond ASCII is Windows-1252
    // is a legacy file: lines written into it go in that code page too.
    const bool utf8Lines = Parse(bytes.data(), bytes.size(), true);
    if (detected.GetKind() == TKELEncoding::Kind::Ansi && !utf8Lines) Encoding = TKELEncoding::Windows1252();
    return;
  }
  // UTF-16, or no mark where the locale charset is not UTF-8: the whole text
  // in one encoding (the locale charset, else Windows-1252, which then
  // becomes the document's, so that saving writes the same bytes back).
  std::string text;
  if (detected.GetKind() == TKELEncoding::Kind::Ansi) {
    const TKELEncoding ansi = TKELEncoding::AnsiFor(bytes);
    ansi.Decode(bytes, text);
    if (!(ansi == kelLocaleEncoding())) detected = ansi;
  } else {
    detected.Decode(bytes, text);
  }
  Encoding = detected;
  LoadFromBuffer(text.data(), text.size());
}

void TKELIniFile::LoadFromBuffer(const char* text, size_t length) { Parse(text, length, false); }

bool TKELIniFile::Parse(const char* text, size_t length, bool legacyLines) {
  UpdateScope scope(*this);
  Clear();
  // Headers are found through an index by hash, so that a text of many
  // sections parses in linear time; every section here comes from this text.
  std::unordered_multimap<uint32_t, TKELIniFileSection*> byHash;
  TKELIniFileSection* current = nullptr;
  const auto addLine = [&](std::string_view line, bool legacy) {
    if (line.empty()) return;
    if (line[0] != '[') {
      if (current != nullptr) current->items_.push_back({std::string(line), 0, legacy ? kLegacyLine : uint8_t{0}});
      return;
    }
    const std::string_view name = HeaderName(line);
    const uint32_t hash = NameHashOf(name);
    for (auto [it, last] = byHash.equal_range(hash); it != last; ++it) {
      if (kelSameText(it->second->Name(), name)) {
        current = it->second;
        return;
      }
    }
    current = AddSection(std::string(name), hash);
    current->legacyName_ = legacy;
    byHash.emplace(hash, current);
  };
  // The lines of [pos, end), split at every line end.
  const auto addLines = [&](size_t pos, size_t end) {
    while (pos < end) {
      const size_t lineEnd = FindLineEnd(text, pos, end);
      addLine(std::string_view(text + pos, lineEnd - pos), false);
      pos = SkipLineEnd(text, lineEnd, end);
    }
  };
  if (!legacyLines) {
    addLines(0, length);
    return false;
  }
  // Each line is decided on its own. A line in Windows-1252 ends at CR or LF
  // only: there the bytes of U+2028 are three characters of the line.
  bool utf8Lines = false;
  std::string decoded;
  for (size_t pos = 0; pos < length;) {
    const size_t end = FindCrOrLf(text, pos, length);
    const std::string_view line(text + pos, end - pos);
    if (kelIsValidUtf8(line)) {
      utf8Lines = utf8Lines || HasHighByte(line);
      addLines(pos, end);
    } else {
      TKELEncoding::Windows1252().Decode(line, decoded);
      addLine(decoded, true);
    }
    pos = end + 1;
  }
  return utf8Lines;
}

// --- Saving ---------------------------------------------------------------------------

// Collects the lines of the saved form after a preamble, each followed by
// CR LF: as UTF-8 text, or as bytes that a load reads back line by line
// (UTF-8 where valid, else Windows-1252) as the same lines. A line read in
// Windows-1252 is written in it again, and so is every line in the code page
// of a document that has one, where those bytes read back as the line.
// Other lines go as UTF-8 in a UTF-8 document; in a document with a code
// page, a line that it cannot write is refused.
class TKELIniFile::LineWriter {
 public:
  // UTF-8 text, every line as it is.
  explicit LineWriter(std::string_view preamble = {}) : bytes_(preamble) {}
  // Bytes read back line by line; `codePage` is null for a UTF-8 document.
  LineWriter(std::string_view preamble, const TKELEncoding* codePage)
      : bytes_(preamble), checked_(true), codePage_(codePage) {}

  void Reserve(size_t size) { bytes_.reserve(bytes_.size() + size); }

  bool Add(std::string_view line, bool legacy) {
    if (!checked_) {
      legacyLines_ = legacyLines_ || legacy;
    } else if (HasHighByte(line)) {
      const TKELEncoding* codePage = legacy ? &legacy_ : codePage_;
      if (codePage != nullptr) {
        if (AddInCodePage(line, *codePage)) return true;
        if (codePage_ != nullptr) return false;
      }
      if (!kelIsValidUtf8(line)) return false;
      utf8Lines_ = true;
    }
    bytes_.append(line).append("\r\n");
    return true;
  }

  // Lines beyond ASCII that a load reads as UTF-8, and as Windows-1252 (as
  // text: lines that were read in Windows-1252).
  bool Utf8Lines() const { return utf8Lines_; }
  bool LegacyLines() const { return legacyLines_; }
  const std::string& Bytes() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }

 private:
  // The line in the code page if those bytes read back as the line: bytes
  // that are not UTF-8 and that Windows-1252 decodes to it.
  bool AddInCodePage(std::string_view line, const TKELEncoding& codePage) {
    const std::string encoded = codePage.Encode(line);
    std::string back;
    if (kelIsValidUtf8(encoded) || !legacy_.Decode(encoded, back) || back != line) return false;
    bytes_.append(encoded).append("\r\n");
    legacyLines_ = true;
    return true;
  }

  std::string bytes_;
  bool checked_ = false;
  const TKELEncoding* codePage_ = nullptr;
  const TKELEncoding legacy_ = TKELEncoding::Windows1252();
  bool utf8Lines_ = false;
  bool legacyLines_ = false;
};

bool TKELIniFile::RenderLines(LineWriter& writer) const {
  size_t size = 0;
  for (const auto& section : sections_) {
    if (section->IsEmpty()) continue;
    size += section->Name().size() + 6;
    for (const auto& item : section->Items()) size += item.text.size() + 2;
  }
  writer.Reserve(size);
  std::string header;
  for (const auto& section : sections_) {
    if (section->IsEmpty()) continue;
    header.assign(1, '[').append(section->Name()).append(1, ']');
    if (!writer.Add(header, section->legacyName_)) return false;
    for (const auto& item : section->Items())
      if (!writer.Add(item.text, item.mark == kLegacyLine)) return false;
    if (!writer.Add({}, false)) return false;
  }
  return true;
}

std::string TKELIniFile::RenderText() const {
  LineWriter writer;
  RenderLines(writer);
  return writer.Take();
}

std::string TKELIniFile::EncodeText(const TKELEncoding& encoding, TKELEncoding& written) const {
  written = encoding;
  const TKELEncoding::Kind kind = encoding.GetKind();
  if (kind == TKELEncoding::Kind::UTF16LE || kind == TKELEncoding::Kind::UTF16BE)
    return std::string(encoding.Preamble()) + encoding.Encode(RenderText());
  // Without a mark the bytes must decode to the same text when read again.
  // UTF-8, and text without a mark where the locale charset is UTF-8, are
  // read line by line.
  if (kind == TKELEncoding::Kind::UTF8 || kelLocaleEncoding().GetKind() == TKELEncoding::Kind::UTF8) {
    const TKELEncoding* codePage = kind == TKELEncoding::Kind::CodePage ? &encoding : nullptr;
    if (codePage == nullptr) {  // the common case: UTF-8 throughout
      LineWriter text(encoding.Preamble());
      RenderLines(text);
      if (!text.LegacyLines() && kelIsValidUtf8(text.Bytes())) return text.Take();
    }
    LineWriter writer(encoding.Preamble(), codePage);
    if (RenderLines(writer)) {
      if (kind != TKELEncoding::Kind::UTF8)
        written = writer.LegacyLines() && !writer.Utf8Lines() ? TKELEncoding::Windows1252() : TKELEncoding::Ansi();
      return writer.Take();
    }
  } else {
    // Elsewhere the whole text is read in the locale charset, else in
    // Windows-1252: every character must be in the code page, and no bytes
    // may be taken for the locale charset instead.
    const std::string text = RenderText();
    std::string bytes = encoding.Encode(text);
    const TKELEncoding reader = TKELEncoding::AnsiFor(bytes);
    std::string back;
    if (reader.Decode(bytes, back) && back == text) {
      // Text that the locale charset reads alike (plain ASCII) counts as
      // written in it, as a load of these bytes would say.
      written = reader == kelLocaleEncoding() ? TKELEncoding::Ansi() : reader;
      return bytes;
    }
  }
  const std::string text = RenderText();
  written = kelIsValidUtf8(text) ? TKELEncoding::UTF8() : TKELEncoding::UTF16LE();
  return std::string(written.Preamble()) + written.Encode(text);
}

TKELEncoding TKELIniFile::SaveToStream(TKELStream& stream, const TKELEncoding& encoding) const {
  TKELEncoding written = encoding;
  stream.WriteString(EncodeText(encoding, written));
  return written;
}

bool TKELIniFile::WriteToFile(const std::string& fileName, const TKELEncoding& encoding, TKELEncoding& written) const {
  // The whole file is prepared first, so that no conversion can fail once
  // the old file is truncated.
  const std::string bytes = EncodeText(encoding, written);
  // A read-only file is made writable first, as saving means to replace it.
  if (kelFileExists(fileName)) kelFileSetAttributes(fileName, faNormal);
  std::unique_ptr<TKELBufferedFileStream> file = TKELBufferedFileStream::Create(fileName);
  if (!file) return false;
  try {
    file->WriteString(bytes);
    file->Flush();
  } catch (const Exception&) {
    return false;
  }
  return true;
}

bool TKELIniFile::SaveToFile(const std::string& fileName, const TKELEncoding& encoding) const {
  TKELEncoding written = encoding;
  return WriteToFile(fileName, encoding, written);
}

bool TKELIniFile::UpdateFile() {
  if (fileName_.empty()) return false;
  if (!modified_) return true;
  TKELEncoding written = Encoding;
  if (!WriteToFile(fileName_, Encoding, written)) return false;
  Encoding = written;
  modified_ = false;
  return true;
}

}  // namespace kel
