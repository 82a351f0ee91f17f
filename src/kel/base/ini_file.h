// INI documents that keep every line of their file.
//
// A document loaded, changed in a few keys and saved again keeps its comments,
// foreign lines, key order and the spelling of untouched keys. There is no
// comment syntax, no quoting, no escaping and no trimming: a line that begins
// with "[" is a section header (its name is the line without its first and
// its last character, so «[Sec] » names "Sec]"), and every other line belongs
// to the section above it and reads as a name and a value split at its first
// "=". Lines before the first header are dropped, and so are empty lines.
// Names of sections and keys are compared ignoring case; when a name occurs
// twice, the first occurrence is the one read, rewritten and deleted.
//
// Result contract:
// - Reads never create sections and never throw: a missing section or key,
//   or a value that does not convert, yields the caller's default.
// - Writes create the section on demand. A key or value that would break the
//   file's line structure (a line end in it, a key holding "=" or beginning
//   with "[") raises EArgumentError and changes nothing; so does a section
//   name holding a line end.
// - LoadFromFile of a file that cannot be opened or read leaves the document
//   empty and returns false; SaveToFile and UpdateFile return false when the
//   file cannot be created or fully written. None of them throws.
// - What SaveToStream writes, LoadFromStream reads back as an equal document
//   (sections without lines aside, which are never written). When the text
//   cannot be held by the encoding asked for (a character missing from a code
//   page, or bytes that would be taken for another encoding when read again),
//   the text is written as UTF-8 with a byte order mark instead, or as
//   UTF-16LE if it is not even valid UTF-8. The encoding actually written is
//   returned as a load of the bytes detects it (a code page whose bytes the
//   locale charset reads alike, such as plain ASCII, counts as Ansi).
// - Text read as UTF-8 (marked so, or unmarked where the locale charset is
//   UTF-8) is decided line by line: a line that is not valid UTF-8 is read
//   in Windows-1252 and written back in it. A file that mixes the two keeps
//   the bytes of every line that is not rewritten, and a file in the saved
//   form (the layout SaveToStream writes) saves back to the same bytes,
//   whatever bytes its lines hold.
//
// Not safe for use from several threads at once, reads included: reads fill
// the name-hash caches.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/stream.h"
#include "kel/base/string_list.h"
#include "kel/base/text.h"

namespace kel {

// A rectangle as INI values store it: "left,top,right,bottom".
struct TKELRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  bool operator==(const TKELRect&) const = default;
};

// One section: its lines, in file order. Each item is one raw line; its tag
// caches the hash of the line's name (0 = not computed yet).
class TKELIniFileSection : public TKELStringList {
 public:
  explicit TKELIniFileSection(std::string name);
  TKELIniFileSection(const TKELIniFileSection&) = delete;
  TKELIniFileSection& operator=(const TKELIniFileSection&) = delete;

  const std::string& Name() const { return name_; }
  // A different spelling renames the section and is a change; the same one
  // does nothing.
  void SetName(std::string name);
  // Hash of the name ignoring case, computed on first use.
  uint32_t NameHash() const;

  // The name of a line is the text before its first "=" (empty without one);
  // the value is the text after it (the whole line without one).
  static std::string_view LineName(std::string_view line);
  static std::string_view LineValue(std::string_view line);

  // Index of the first line whose name equals the key ignoring case.
  bool FindKey(std::string_view key, int& index) const;
  // True and the value of the first matching line; false and "" otherwise.
  virtual bool ReadValue(std::string_view key, std::string& value) const;
  std::string ReadString(std::string_view key, std::string_view defaultValue) const;
  // Signed 32-bit integer: blanks (spaces, tabs) skipped in front, an optional
  // "-" or "+", then decimal digits, or hexadecimal digits after "$", "x" or
  // "0x". Hexadecimal values are 32-bit patterns ("$FFFFFFFF" is -1). The
  // default when the key is missing, the value is empty, anything follows
  // the number or the number does not fit.
  virtual int32_t ReadInteger(std::string_view key, int32_t defaultValue) const;
  // Non-zero is true; a value that is no number gives the default.
  bool ReadBool(std::string_view key, bool defaultValue) const;
  // Up to four comma-separated integers taken as left, top, right, bottom;
  // a part that is missing or not a number keeps the default's.
  TKELRect ReadRect(std::string_view key, const TKELRect& defaultValue) const;

  // Rewrites the first line of the key as key=value (the key spelled as
  // passed) or appends such a line.
  virtual void WriteString(std::string_view key, std::string_view value);
  // Removes the first line of the key; false if there is none.
  bool DeleteKey(std::string_view key);

 private:
  friend class TKELIniFile;

  bool FindKeyHashed(std::string_view key, uint32_t keyHash, int& index) const;

  std::string name_;
  mutable uint32_t nameHash_ = 0;
  // The header was read in Windows-1252 (see the contract above); a new
  // name clears it.
  bool legacyName_ = false;
};

class TKELIniFile {
 public:
  // An in-memory document without a file.
  TKELIniFile();
  // A document of the file, loaded at once when the name is not empty (a
  // missing file gives an empty document). With autoSave, destroying the
  // document runs UpdateFile.
  explicit TKELIniFile(const std::string& fileName, bool autoSave = false);
  virtual ~TKELIniFile();
  TKELIniFile(const TKELIniFile&) = delete;
  TKELIniFile& operator=(const TKELIniFile&) = delete;

  // --- State -----------------------------------------------------------------

  bool AutoSave = false;
  // The encoding UpdateFile writes: UTF-16LE for a new document, else the one
  // detected by the last load (Ansi for a file without a byte order mark
  // that the locale charset decodes; Windows-1252 for one that it does not,
  // unless some lines of it read as UTF-8 with more than ASCII in them).
  TKELEncoding Encoding = TKELEncoding::UTF16LE();
  // Fired by Changed outside updates.
  std::function<void()> OnChanged;

  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }
  // Set by every change (and by every update, even one that changed
  // nothing); cleared at the end of LoadFromFile and by a successful
  // UpdateFile.
  bool Modified() const { return modified_; }

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  // Marks the document modified and fires OnChanged outside updates.
  virtual void Changed();

  // --- Sections --------------------------------------------------------------

  // The first section of that name, or with create a new one appended at the
  // end; nullptr when missing and not created.
  TKELIniFileSection* GetSection(std::string_view name, bool create);
  const TKELIniFileSection* FindSection(std::string_view name) const;
  int SectionCount() const { return static_cast<int>(sections_.size()); }
  const std::string& SectionNames(int index) const { return sections_[static_cast<size_t>(index)]->Name(); }
  TKELIniFileSection& Sections(int index) { return *sections_[static_cast<size_t>(index)]; }
  const TKELIniFileSection& Sections(int index) const { return *sections_[static_cast<size_t>(index)]; }

  virtual bool ExistsSection(std::string_view section) const;
  virtual bool ExistsKey(std::string_view section, std::string_view key) const;
  // The document holds no section.
  virtual bool IsEmpty() const { return sections_.empty(); }

  // --- Reading ---------------------------------------------------------------

  virtual bool ReadValue(std::string_view section, std::string_view key, std::string& value) const;
  // The value when the key exists (an empty one too), else the default.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
  virtual int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  TKELRect ReadRect(std::string_view section, std::string_view key, const TKELRect& defaultValue) const;
  // Decodes a hexadecimal value (two digits a byte, either case) and writes
  // the bytes at the stream's position, which is then set to 0. False, and
  // the stream untouched, when the key is missing or the value holds an odd
  // number of digits or a character that is no hexadecimal digit.
  bool ReadStream(std::string_view section, std::string_view key, TKELStream& stream) const;
  // Appends the names of the section's lines in order, skipping empty names.
  void ReadKeys(std::string_view section, TKELStringList& keys) const;
  // Every line of the section followed by CR LF; "" for a missing section.
  std::string ReadSection(std::string_view section) const;

  // --- Writing ---------------------------------------------------------------

  virtual void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Deletes the key instead when the value equals the default exactly.
  void WriteString(std::string_view section, std::string_view key, std::string_view value,
                   std::string_view defaultValue);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void WriteRect(std::string_view section, std::string_view key, const TKELRect& value);
  // The stream's whole content as lower-case hexadecimal; an empty stream
  // deletes the key. The stream's position is kept.
  void WriteStream(std::string_view section, std::string_view key, TKELStream& stream);
  // Creates the section if needed and replaces its lines by the lines of the
  // text, split at line ends as a file is (empty lines kept, a last line
  // without a line end kept unless empty).
  void WriteSection(std::string_view section, std::string_view text);

  bool DeleteKey(std::string_view section, std::string_view key);
  bool DeleteSection(std::string_view section);
  void Clear();

  // Lays the source over this document: keys of sections that exist here are
  // written one by one (existing keys replaced only with overwrite), sections
  // missing here are copied whole, comment-like lines included. Merging a
  // document into itself changes nothing.
  void Merge(const TKELIniFile& source, bool overwrite);
  // The same with the document of a file; a missing file merges nothing.
  void Merge(const std::string& fileName, bool overwrite);
  // Replaces the content by the source's (through a UTF-16LE copy, so
  // sections without lines are left out), or just clears without a source.
  void Assign(const TKELIniFile* source);
  // Both documents save to identical UTF-16LE bytes.
  virtual bool Equals(const TKELIniFile& other) const;

  // --- Loading and saving ----------------------------------------------------

  // Clears, remembers the file name and loads the file; a file that cannot
  // be opened or read leaves the document empty (false). Modified is false
  // afterwards.
  virtual bool LoadFromFile(const std::string& fileName);
  // Detects a byte order mark at the stream's position (EF BB BF UTF-8,
  // FF FE UTF-16LE, FE FF UTF-16BE; none: the locale charset, else
  // Windows-1252), sets Encoding and parses the rest. In a text read as
  // UTF-8, the lines that are not valid UTF-8 are read in Windows-1252.
  // Errors of the stream itself propagate.
  virtual void LoadFromStream(TKELStream& stream);
  // Parses UTF-8 text; line ends are CR, LF and U+2028, each optionally
  // followed by CR and then LF.
  void LoadFromString(std::string_view text) { LoadFromBuffer(text.data(), text.size()); }
  virtual void LoadFromBuffer(const char* text, size_t length);

  // Writes the byte order mark of the encoding and then every section that
  // holds lines: "[name]", its lines, and an empty line, each ended by CR LF.
  // Returns the encoding actually written (see the contract above).
  virtual TKELEncoding SaveToStream(TKELStream& stream,
                                    const TKELEncoding& encoding = TKELEncoding::UTF16LE()) const;
  // Creates or truncates the file and saves into it; false when the file
  // cannot be created or written.
  bool SaveToFile(const std::string& fileName, const TKELEncoding& encoding = TKELEncoding::UTF16LE()) const;
  // Saves to FileName in Encoding if modified: false without a file name or
  // when saving fails; true, without touching the disk, when not modified.
  virtual bool UpdateFile();

 private:
  // Scope of BeginUpdate/EndUpdate that also ends when an exception leaves.
  class UpdateScope;

  class LineWriter;

  TKELIniFileSection* AddSection(std::string name, uint32_t nameHash);
  void ClearSections();
  // Parses text; with legacyLines the text is bytes read as UTF-8 whose
  // lines that are not valid UTF-8 are Windows-1252. Returns whether a line
  // held valid UTF-8 beyond ASCII.
  bool Parse(const char* text, size_t length, bool legacyLines);
  // The saved form as UTF-8 text, without a byte order mark.
  std::string RenderText() const;
  // Hands the lines of the saved form to the writer; false as soon as it
  // refuses one.
  bool RenderLines(LineWriter& writer) const;
  // The saved bytes in the encoding, or in the fallback when the encoding
  // cannot hold the text; `written` receives the encoding used.
  std::string EncodeText(const TKELEncoding& encoding, TKELEncoding& written) const;
  bool WriteToFile(const std::string& fileName, const TKELEncoding& encoding, TKELEncoding& written) const;

  std::vector<std::unique_ptr<TKELIniFileSection>> sections_;
  mutable TKELIniFileSection* lastSection_ = nullptr;
  std::string fileName_;
  int updateCount_ = 0;
  bool modified_ = false;
};

}  // namespace kel
