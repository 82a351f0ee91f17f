// Linux backend of the registry: the store is a SQLite file. Only platform
// code lives here (SQLite and ICU; no system calls but one stat).
//
// Schema (application_id "ORSG", user_version 1):
//   registry_key(id, path, fold UNIQUE)            one row per key; `fold` is
//       the case-folded full path, so "a\b" and "A\B" are the same key and a
//       key's subtree is the range [fold + "\", fold + "]").
//   registry_value(key_id, name, fold, type, data, position)
//       `data` is TEXT for strings, INTEGER for numbers, BLOB otherwise;
//       `position` keeps the order in which values were first written.
#include "kel/platform/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unicode/ucasemap.h>

#include <algorithm>

#include "kel/platform/filesystem.h"
#include "kel/platform/sandbox.h"

namespace kel::platform {

namespace {

constexpr int32_t kApplicationId = 0x4F525347;  // "ORSG"
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 30000;

constexpr const char* kSchema = R"sql(
  CREATE TABLE registry_key (
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL,
    fold TEXT NOT NULL UNIQUE
  );
  CREATE TABLE registry_value (
    key_id INTEGER NOT NULL,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    type INTEGER NOT NULL,
    data,
    position INTEGER NOT NULL,
    PRIMARY KEY (key_id, fold)
  ) WITHOUT ROWID;
  PRAGMA application_id = 1330795335;
  PRAGMA user_version = 1;
)sql";
static_assert(kApplicationId == 1330795335);

// Unicode case folding; bytes that are not UTF-8 stay as they are.
std::string Fold(std::string_view text) {
  static UCaseMap* const map = [] {
    UErrorCode status = U_ZERO_ERROR;
    return ucasemap_open("", U_FOLD_CASE_DEFAULT, &status);
  }();
  if (text.empty() || !map) return std::string(text);
  std::string out(text.size() * 3 + 16, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = ucasemap_utf8FoldCase(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                         static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<size_t>(length));
    status = U_ZERO_ERROR;
    length = ucasemap_utf8FoldCase(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                   static_cast<int32_t>(text.size()), &status);
  }
  if (U_FAILURE(status)) return std::string(text);
  out.resize(static_cast<size_t>(length));
  return out;
}

// "a\\b\" -> "a\b": empty parts go.
std::string NormalizeKey(std::string_view path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!result.empty()) result += '\\';
      result.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Valid() const { return statement_ != nullptr; }
  Statement& Bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }
  bool Run() { return Step() == SQLITE_DONE; }
  int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
  }
  std::string Blob(int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// The subtree range of a folded key path.
struct Range {
  std::string low, high;
};
Range SubtreeOf(const std::string& fold) { return {fold + "\\", fold + "]"}; }

}  // namespace

std::string RegistryViewPath(std::string_view path, RegistryView view) {
  const std::string key = NormalizeKey(path);
  if (view != RegistryView::Wow32) return key;
  // HKEY_LOCAL_MACHINE \ Software \ rest  ->  ... \ Software \ Wow6432Node \ rest
  const size_t first = key.find('\\');
  if (first == std::string::npos) return key;
  const size_t second = key.find('\\', first + 1);
  const std::string root = key.substr(0, first);
  const std::string software = key.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  if (Fold(root) != Fold(kLocalMachine) || Fold(software) != "software") return key;
  if (second != std::string::npos) {
    const size_t third = key.find('\\', second + 1);
    if (Fold(key.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1)) ==
        "wow6432node")
      return key;
  }
  std::string result = key.substr(0, second) + "\\Wow6432Node";
  if (second != std::string::npos) result += key.substr(second);
  return result;
}

class RegistryStore::Impl {
 public:
  ~Impl() { sqlite3_close_v2(db); }

  bool Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  std::string Message() const { return db ? sqlite3_errmsg(db) : "out of memory"; }

  // Runs `work` atomically: a transaction of its own, or a savepoint inside
  // the caller's transaction.
  template <typename Work>
  bool Atomic(Work&& work) {
    const bool own = sqlite3_get_autocommit(db) != 0;
    if (!Exec(own ? "BEGIN IMMEDIATE" : "SAVEPOINT op")) return false;
    const bool ok = work();
    if (own) {
      if (ok && Exec("COMMIT")) return true;
      Exec("ROLLBACK");
      return false;
    }
    if (!ok) Exec("ROLLBACK TO op");
    Exec("RELEASE op");
    return ok;
  }

  std::optional<int64_t> FindKey(const std::string& fold) {
    Statement find(db, "SELECT id FROM registry_key WHERE fold = ?1");
    find.Bind(1, fold);
    if (find.Step() != SQLITE_ROW) return std::nullopt;
    return find.Integer(0);
  }

  // Creates every level of the key; its id.
  std::optional<int64_t> MakeKey(const std::string& key) {
    size_t end = 0;
    while (true) {
      end = key.find('\\', end + 1);
      const std::string level = key.substr(0, end);
      Statement insert(db, "INSERT INTO registry_key (path, fold) VALUES (?1, ?2) ON CONFLICT (fold) DO NOTHING");
      insert.Bind(1, level).Bind(2, Fold(level));
      if (!insert.Run()) return std::nullopt;
      if (end == std::string::npos) break;
    }
    return FindKey(Fold(key));
  }

  sqlite3* db = nullptr;
};

std::string RegistryStore::MachineStorePath() { return SystemPath("/var/lib/orvi-setup/registry.db"); }

RegistryStore::RegistryStore(const std::string& file, RegistryAccess access) : impl_(std::make_unique<Impl>()) {
  std::string why = Open(file, access);
  if (why.empty()) return;
  error_ = "The registry store \"" + file + "\" cannot be used: " + why;
  sqlite3_close_v2(impl_->db);
  impl_->db = nullptr;
}

std::string RegistryStore::Open(const std::string& file, RegistryAccess access) {
  struct stat info;
  const bool exists = ::stat(file.c_str(), &info) == 0;
  if (access == RegistryAccess::Read && !exists) return "it does not exist";
  if (access == RegistryAccess::ReadWrite && !exists) {
    const size_t slash = file.find_last_of('/');
    std::string why;
    if (slash != std::string::npos && slash > 0 && !CreateDirectories(file.substr(0, slash), &why)) return why;
  }
  const int flags = access == RegistryAccess::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(file.c_str(), &impl_->db, flags, nullptr) != SQLITE_OK) return impl_->Message();
  sqlite3_busy_timeout(impl_->db, kBusyTimeoutMs);

  // A file of ours (or an empty one, which becomes ours) is used; anything
  // else is left exactly as it is.
  const bool writable = access == RegistryAccess::ReadWrite && sqlite3_db_readonly(impl_->db, "main") == 0;
  if (writable && !impl_->Exec("BEGIN IMMEDIATE")) return impl_->Message();
  int64_t applicationId = -1, version = -1, objects = -1;
  {
    Statement id(impl_->db, "PRAGMA application_id");
    if (id.Step() == SQLITE_ROW) applicationId = id.Integer(0);
    Statement user(impl_->db, "PRAGMA user_version");
    if (user.Step() == SQLITE_ROW) version = user.Integer(0);
    Statement count(impl_->db, "SELECT count(*) FROM sqlite_master");
    if (count.Step() == SQLITE_ROW) objects = count.Integer(0);
  }
  const bool ours = applicationId == kApplicationId && version == kSchemaVersion;
  const bool empty = applicationId == 0 && version == 0 && objects == 0;
  if (!writable) {
    if (ours) return {};
    return objects < 0 ? impl_->Message() : "it is not a registry store";
  }
  if ((ours || (empty && impl_->Exec(kSchema))) && impl_->Exec("COMMIT")) return {};
  const std::string why = objects < 0 || empty ? impl_->Message() : "it is not a registry store";
  impl_->Exec("ROLLBACK");
  return why;
}

RegistryStore::~RegistryStore() = default;

bool RegistryStore::IsOpen() const { return impl_->db != nullptr; }

bool RegistryStore::KeyExists(std::string_view key) {
  const std::string path = NormalizeKey(key);
  return IsOpen() && !path.empty() && impl_->FindKey(Fold(path)).has_value();
}

bool RegistryStore::CreateKey(std::string_view key) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return false;
  return impl_->Atomic([&] { return impl_->MakeKey(path).has_value(); });
}

bool RegistryStore::DeleteKey(std::string_view key) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return false;
  const std::string fold = Fold(path);
  const Range range = SubtreeOf(fold);
  return impl_->Atomic([&] {
    Statement values(impl_->db,
                     "DELETE FROM registry_value WHERE key_id IN (SELECT id FROM registry_key"
                     " WHERE fold = ?1 OR (fold >= ?2 AND fold < ?3))");
    values.Bind(1, fold).Bind(2, range.low).Bind(3, range.high);
    Statement keys(impl_->db, "DELETE FROM registry_key WHERE fold = ?1 OR (fold >= ?2 AND fold < ?3)");
    keys.Bind(1, fold).Bind(2, range.low).Bind(3, range.high);
    return values.Run() && keys.Run();
  });
}

std::vector<std::string> RegistryStore::SubKeys(std::string_view key) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return {};
  const Range range = SubtreeOf(Fold(path));
  Statement select(impl_->db, "SELECT path, fold FROM registry_key WHERE fold >= ?1 AND fold < ?2 ORDER BY fold");
  select.Bind(1, range.low).Bind(2, range.high);
  std::vector<std::string> names;
  while (select.Step() == SQLITE_ROW) {
    const std::string fold = select.Text(1);
    if (fold.find('\\', range.low.size()) != std::string::npos) continue;  // deeper down
    const std::string child = select.Text(0);
    names.push_back(child.substr(child.find_last_of('\\') + 1));
  }
  return names;
}

bool RegistryStore::SetValue(std::string_view key, std::string_view name, const RegistryValue& value) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return false;
  return impl_->Atomic([&] {
    const std::optional<int64_t> id = impl_->MakeKey(path);
    if (!id) return false;
    Statement upsert(impl_->db,
                     "INSERT INTO registry_value (key_id, name, fold, type, data, position)"
                     " VALUES (?1, ?2, ?3, ?4, ?5,"
                     " (SELECT coalesce(max(position), 0) + 1 FROM registry_value WHERE key_id = ?1))"
                     " ON CONFLICT (key_id, fold) DO UPDATE SET name = excluded.name, type = excluded.type,"
                     " data = excluded.data");
    upsert.Bind(1, *id).Bind(2, name).Bind(3, Fold(name)).Bind(4, static_cast<int64_t>(value.type));
    switch (value.type) {
      case RegistryType::String:
      case RegistryType::ExpandString: upsert.Bind(5, value.text); break;
      case RegistryType::DWord: upsert.Bind(5, static_cast<int64_t>(value.number & 0xFFFFFFFFu)); break;
      case RegistryType::QWord: upsert.Bind(5, static_cast<int64_t>(value.number)); break;
      default: upsert.BindBlob(5, value.text); break;
    }
    return upsert.Run();
  });
}

std::optional<RegistryValue> RegistryStore::GetValue(std::string_view key, std::string_view name) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return std::nullopt;
  Statement select(impl_->db,
                   "SELECT v.type, v.data FROM registry_value v JOIN registry_key k ON v.key_id = k.id"
                   " WHERE k.fold = ?1 AND v.fold = ?2");
  select.Bind(1, Fold(path)).Bind(2, Fold(name));
  if (select.Step() != SQLITE_ROW) return std::nullopt;
  RegistryValue value;
  value.type = static_cast<RegistryType>(select.Integer(0));
  switch (value.type) {
    case RegistryType::String:
    case RegistryType::ExpandString: value.text = select.Text(1); break;
    case RegistryType::DWord: value.number = static_cast<uint64_t>(select.Integer(1)) & 0xFFFFFFFFu; break;
    case RegistryType::QWord: value.number = static_cast<uint64_t>(select.Integer(1)); break;
    default: value.text = select.Blob(1); break;
  }
  return value;
}

bool RegistryStore::DeleteValue(std::string_view key, std::string_view name) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return false;
  Statement remove(impl_->db,
                   "DELETE FROM registry_value WHERE fold = ?2"
                   " AND key_id = (SELECT id FROM registry_key WHERE fold = ?1)");
  remove.Bind(1, Fold(path)).Bind(2, Fold(name));
  return remove.Run();
}

std::vector<std::string> RegistryStore::ValueNames(std::string_view key) {
  const std::string path = NormalizeKey(key);
  if (!IsOpen() || path.empty()) return {};
  Statement select(impl_->db,
                   "SELECT v.name FROM registry_value v JOIN registry_key k ON v.key_id = k.id"
                   " WHERE k.fold = ?1 ORDER BY v.position");
  select.Bind(1, Fold(path));
  std::vector<std::string> names;
  while (select.Step() == SQLITE_ROW) names.push_back(select.Text(0));
  return names;
}

bool RegistryStore::Transaction(const std::function<bool()>& work) {
  if (!IsOpen() || sqlite3_get_autocommit(impl_->db) == 0) return false;
  if (!impl_->Exec("BEGIN IMMEDIATE")) return false;
  bool ok;
  try {
    ok = work();
  } catch (...) {
    impl_->Exec("ROLLBACK");
    throw;
  }
  if (ok && impl_->Exec("COMMIT")) return true;
  impl_->Exec("ROLLBACK");
  return false;
}

}  // namespace kel::platform
