// The registry store over SQLite.
//
// Tables:
//   keys(id, parent, name, lpath)  one row per key; `parent` is the id of the key
//                                  above (0 below the root), `name` the last path
//                                  component as first spelled, `lpath` the whole
//                                  path folded to lower case (ASCII), unique.
//   vals(id, key, name, lname, type, data)
//                                  one row per value; (key, lname) unique.
// Ids come from AUTOINCREMENT, so they rise with creation and are never reused:
// ordering by id is the order of creation that enumeration promises.
//
// The connection is opened lazily and kept per process. It is dropped, not
// closed, when the process id changes (a forked child must not touch the
// parent's SQLite handle: closing it could checkpoint or remove the parent's
// WAL) or when $ORVANTA_REGISTRY names another file. SQLite opens its files
// with O_CLOEXEC and repeats interrupted calls itself, bypassing the library's system-call
// table; the store's file is therefore opened (created when missing) through
// the table first, and that descriptor is held for as long as the connection
// lives: closing any descriptor of a file drops every POSIX lock that the
// process holds on it, SQLite's included.
#include "os/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "os/clock.h"
#include "os/paths.h"
#include "os/syscall.h"

namespace lxos {

namespace {

// How long a call waits for another process's lock before it gives up with
// kRegIoFailed, unless a RegWaitLimit of the thread cuts it shorter.
constexpr int kBusyTimeoutMs = 30000;
// The nap between two tries for a lock that another process or thread holds.
constexpr int kNapUs = 500;
// Windows refuses key names (one path component) longer than this.
constexpr size_t kMaxKeyName = 255;

// Fresh stores hold the performance library's key with the English language
// sub-key. Its "Counter" and "Help" values are empty multi-strings of two UTF-16
// zero characters (4 zero bytes): an empty string and the terminator that ends
// the list. Counter installation appends its pairs in place of the final
// terminator, so every pair it adds is preceded by a zero character; removal
// searches for "\0<index>\0" and cuts back to exactly these 4 bytes.
constexpr char kPerflibEnglish[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
constexpr unsigned char kEmptyMultiSz[4] = {0, 0, 0, 0};

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  lpath TEXT NOT NULL UNIQUE);"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, id);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  lname TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, lname));";

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

std::string Fold(const char* s, size_t n) {
  std::string out(s, n);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// A parsed key path: its components as spelled and the folded whole path.
struct KeyPath {
  std::vector<std::string> parts;
  std::string folded;
};

// kRegOk with `out` filled, kRegInvalidParameter for null, kRegBadPath for a
// malformed path.
int32_t ParseKeyPath(const char* path, KeyPath* out) {
  if (path == nullptr) return kRegInvalidParameter;
  size_t len = strnlen(path, kMaxKeyPath + 1);
  if (len == 0 || len > kMaxKeyPath) return kRegBadPath;
  size_t begin = 0;
  for (size_t i = 0; i <= len; ++i) {
    if (i < len && path[i] != '\\') continue;
    size_t n = i - begin;
    if (n == 0 || n > kMaxKeyName) return kRegBadPath;
    out->parts.emplace_back(path + begin, n);
    begin = i + 1;
  }
  out->folded = Fold(path, len);
  return kRegOk;
}

// A null value name is the default value "". kRegBadPath when over-long.
int32_t ParseValueName(const char* name, std::string* spelled, std::string* folded) {
  if (name == nullptr) name = "";
  size_t len = strnlen(name, kMaxValueName + 1);
  if (len > kMaxValueName) return kRegBadPath;
  spelled->assign(name, len);
  *folded = Fold(name, len);
  return kRegOk;
}

// ---------------------------------------------------------------------------
// SQLite helpers
// ---------------------------------------------------------------------------

int32_t MapError(int rc) {
  switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_NOTADB:
      return kRegAccessDenied;
    default:
      return kRegIoFailed;
  }
}

// One prepared statement, finalized on destruction.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool ok() const { return rc_ == SQLITE_OK || rc_ == SQLITE_ROW || rc_ == SQLITE_DONE; }
  int rc() const { return rc_; }

  Stmt& Text(int i, const std::string& s) {
    if (ok()) rc_ = sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Int(int i, int64_t v) {
    if (ok()) rc_ = sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Stmt& Blob(int i, const void* data, uint32_t size) {
    // A null pointer would bind SQL NULL; an empty blob needs a real address.
    static const char kEmpty = 0;
    if (ok()) rc_ = sqlite3_bind_blob64(stmt_, i, size ? data : &kEmpty, size, SQLITE_TRANSIENT);
    return *this;
  }

  // SQLITE_ROW, SQLITE_DONE or an error code (also kept in rc()).
  int Step() {
    if (ok()) rc_ = sqlite3_step(stmt_);
    return rc_;
  }

  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

void ColumnText(const Stmt& s, int i, std::string* out) {
  const unsigned char* text = sqlite3_column_text(s.get(), i);
  out->assign(text ? reinterpret_cast<const char*>(text) : "",
              static_cast<size_t>(sqlite3_column_bytes(s.get(), i)));
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// A transaction that rolls back unless committed. Writers take the write lock
// at BEGIN (IMMEDIATE): a deferred transaction that upgrades later could fail
// with SQLITE_BUSY without the busy handler being asked.
class Transaction {
 public:
  Transaction(sqlite3* db, bool write) : db_(db) {
    // A rollback that failed (out of memory) leaves the connection inside the
    // earlier call's transaction; end it before this one starts.
    if (sqlite3_get_autocommit(db) == 0) Exec(db, "ROLLBACK");
    rc_ = Exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = rc_ == SQLITE_OK;
  }
  ~Transaction() {
    if (open_) Exec(db_, "ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  int rc() const { return rc_; }

  int32_t Commit() {
    int rc = Exec(db_, "COMMIT");
    if (rc != SQLITE_OK) return MapError(rc);
    open_ = false;
    return kRegOk;
  }

 private:
  sqlite3* db_;
  int rc_;
  bool open_;
};

// The id of the key with folded path `lpath`: > 0 found, 0 missing, < 0 the
// negated SQLite error.
int64_t FindKey(sqlite3* db, const std::string& lpath) {
  Stmt s(db, "SELECT id FROM keys WHERE lpath = ?1");
  int rc = s.Text(1, lpath).Step();
  if (rc == SQLITE_ROW) return sqlite3_column_int64(s.get(), 0);
  if (rc == SQLITE_DONE) return 0;
  return -static_cast<int64_t>(rc);
}

int32_t KeyError(int64_t id) { return id == 0 ? kRegNotFound : MapError(static_cast<int>(-id)); }

// Creates the key and its missing parents inside the caller's transaction.
int32_t CreateKeyLocked(sqlite3* db, const KeyPath& path) {
  int64_t parent = 0;
  std::string lpath;
  for (const std::string& part : path.parts) {
    if (!lpath.empty()) lpath += '\\';
    lpath += Fold(part.data(), part.size());
    int64_t id = FindKey(db, lpath);
    if (id < 0) return KeyError(id);
    if (id == 0) {
      Stmt ins(db, "INSERT INTO keys(parent, name, lpath) VALUES(?1, ?2, ?3)");
      if (ins.Int(1, parent).Text(2, part).Text(3, lpath).Step() != SQLITE_DONE) return MapError(ins.rc());
      id = sqlite3_last_insert_rowid(db);
    }
    parent = id;
  }
  return kRegOk;
}

int32_t SetValueLocked(sqlite3* db, int64_t key, const std::string& name, const std::string& lname,
                       uint32_t type, const void* data, uint32_t size) {
  // An existing value keeps its place in the enumeration and its spelling.
  Stmt s(db,
         "INSERT INTO vals(key, name, lname, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
         "ON CONFLICT(key, lname) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (s.Int(1, key).Text(2, name).Text(3, lname).Int(4, type).Blob(5, data, size).Step() != SQLITE_DONE) {
    return MapError(s.rc());
  }
  return kRegOk;
}

// Schema and first content, once per store (user_version marks it done).
int32_t InitStore(sqlite3* db) {
  // A store that is set up already is only read here: a connection to it takes
  // no write lock, so readers of the store (a monitoring group) cannot hold it up.
  {
    Stmt version(db, "PRAGMA user_version");
    if (version.Step() == SQLITE_ROW && sqlite3_column_int(version.get(), 0) != 0) return kRegOk;
  }
  Transaction txn(db, true);
  if (txn.rc() != SQLITE_OK) return MapError(txn.rc());
  Stmt version(db, "PRAGMA user_version");
  if (version.Step() != SQLITE_ROW) return MapError(version.rc());
  if (sqlite3_column_int(version.get(), 0) != 0) return txn.Commit();
  int rc = Exec(db, kSchema);
  if (rc != SQLITE_OK) return MapError(rc);
  KeyPath english;
  ParseKeyPath(kPerflibEnglish, &english);
  int32_t result = CreateKeyLocked(db, english);
  if (result != kRegOk) return result;
  int64_t key = FindKey(db, english.folded);
  if (key <= 0) return KeyError(key);
  for (const char* name : {"Counter", "Help"}) {
    std::string spelled(name);
    result = SetValueLocked(db, key, spelled, Fold(name, spelled.size()), kRegMultiSz, kEmptyMultiSz,
                            sizeof kEmptyMultiSz);
    if (result != kRegOk) return result;
  }
  rc = Exec(db, "PRAGMA user_version = 1");
  if (rc != SQLITE_OK) return MapError(rc);
  return txn.Commit();
}

// ---------------------------------------------------------------------------
// The process's connection
// ---------------------------------------------------------------------------

// The innermost RegWaitLimit of the thread, or null.
thread_local RegWaitLimit* t_limit = nullptr;

// Called by SQLite while another process holds the lock; non-zero asks it to
// try again. The store's transactions are short, so short naps keep several
// writers moving (SQLite's own timeout backs off to 100 ms naps).
int WaitWhileBusy(void*, int count) {
  if (static_cast<int64_t>(count) * kNapUs >= static_cast<int64_t>(kBusyTimeoutMs) * 1000) return 0;
  if (t_limit != nullptr && t_limit->Passed()) return 0;
  usleep(kNapUs);
  return 1;
}

std::mutex g_mutex;

// Takes g_mutex; false when the thread's wait limit passed first.
bool LockProcess() {
  if (t_limit == nullptr) {
    g_mutex.lock();
    return true;
  }
  while (!g_mutex.try_lock()) {
    if (t_limit->Passed()) return false;
    usleep(kNapUs);
  }
  return true;
}
sqlite3* g_db = nullptr;
int g_storeFd = -1;  // the store's file, opened through the system-call table
pid_t g_pid = 0;
std::string* g_file = new std::string;
// Connections inherited over fork. They are never used or closed again; the
// list keeps them reachable so leak checkers do not report them.
std::vector<sqlite3*>* g_inherited = new std::vector<sqlite3*>;

void Drop() {
  if (g_db != nullptr) {
    if (g_pid == getpid()) {
      sqlite3_close_v2(g_db);
    } else {
      g_inherited->push_back(g_db);
    }
    g_db = nullptr;
  }
  // Only after SQLite's own descriptors are closed (a forked child holds no
  // locks of its parent's connection).
  if (g_storeFd >= 0) sys::Close(g_storeFd);
  g_storeFd = -1;
}

// The open connection, or null with *result set to kRegAccessDenied.
// REQUIRES: g_mutex held.
sqlite3* Connection(int32_t* result) {
  std::string file = RegistryFile();
  pid_t pid = getpid();
  if (g_db != nullptr && g_pid == pid && *g_file == file) return g_db;
  Drop();
  *result = kRegAccessDenied;
  if (file.empty()) return nullptr;
  // A new store gets the shared mode (owner only, or readable by the monitoring
  // group); a store this user may only read is opened read-only.
  int fd = sys::Open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    ApplySharedMode(fd, false);
  } else if (errno == EEXIST) {
    fd = sys::Open(file.c_str(), O_RDWR | O_NOFOLLOW);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = sys::Open(file.c_str(), O_RDONLY | O_NOFOLLOW);
  }
  if (fd < 0) return nullptr;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    sys::Close(fd);
    return nullptr;
  }
  sqlite3_busy_handler(db, &WaitWhileBusy, nullptr);
  // WAL lets readers run beside a writer; where the file system cannot share
  // memory maps the store stays in rollback-journal mode. FULL makes every
  // commit durable against power loss, not only against a crash.
  Exec(db, "PRAGMA journal_mode = WAL");
  Exec(db, "PRAGMA synchronous = FULL");
  if (InitStore(db) != kRegOk) {
    sqlite3_close_v2(db);
    sys::Close(fd);
    return nullptr;
  }
  g_db = db;
  g_storeFd = fd;
  g_pid = pid;
  *g_file = file;
  *result = kRegOk;
  return db;
}

// Runs `body(db)` with the connection, under the process's lock.
template <typename Body>
int32_t WithStore(Body body) {
  if (!LockProcess()) return kRegIoFailed;
  std::lock_guard<std::mutex> lock(g_mutex, std::adopt_lock);
  int32_t result = kRegOk;
  sqlite3* db = Connection(&result);
  if (db == nullptr) return result;
  return body(db);
}

// Runs `body(db, id)` inside a transaction (a writing one when `write`) with the
// id of the existing key `key`; commits when the body returns kRegOk.
template <typename Body>
int32_t InKey(const KeyPath& key, bool write, Body body) {
  return WithStore([&](sqlite3* db) -> int32_t {
    Transaction txn(db, write);
    if (txn.rc() != SQLITE_OK) return MapError(txn.rc());
    const int64_t id = FindKey(db, key.folded);
    if (id <= 0) return KeyError(id);
    const int32_t r = body(db, id);
    return r == kRegOk ? txn.Commit() : r;
  });
}

}  // namespace

RegWaitLimit::RegWaitLimit(uint32_t timeoutMs) : outer_(t_limit), start_(TickCount()), timeoutMs_(timeoutMs) {
  t_limit = this;
}

RegWaitLimit::~RegWaitLimit() { t_limit = outer_; }

bool RegWaitLimit::Passed() {
  if (TickCount() - start_ >= timeoutMs_) expired_ = true;
  return expired_;
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

int32_t RegCreateKey(const char* path) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  return WithStore([&](sqlite3* db) -> int32_t {
    Transaction txn(db, true);
    if (txn.rc() != SQLITE_OK) return MapError(txn.rc());
    int32_t r = CreateKeyLocked(db, key);
    return r == kRegOk ? txn.Commit() : r;
  });
}

int32_t RegKeyExists(const char* path) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  return WithStore([&](sqlite3* db) -> int32_t {
    int64_t id = FindKey(db, key.folded);
    return id > 0 ? kRegOk : KeyError(id);
  });
}

int32_t RegQueryValue(const char* path, const char* name, uint32_t* type, void* data, uint32_t* size) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  std::string spelled, lname;
  result = ParseValueName(name, &spelled, &lname);
  if (result != kRegOk) return result;
  if (data != nullptr && size == nullptr) return kRegInvalidParameter;
  return WithStore([&](sqlite3* db) -> int32_t {
    Stmt s(db,
           "SELECT v.type, v.data FROM vals v JOIN keys k ON v.key = k.id "
           "WHERE k.lpath = ?1 AND v.lname = ?2");
    int rc = s.Text(1, key.folded).Text(2, lname).Step();
    if (rc == SQLITE_DONE) return kRegNotFound;
    if (rc != SQLITE_ROW) return MapError(rc);
    if (type != nullptr) *type = static_cast<uint32_t>(sqlite3_column_int64(s.get(), 0));
    const void* bytes = sqlite3_column_blob(s.get(), 1);
    uint32_t needed = static_cast<uint32_t>(sqlite3_column_bytes(s.get(), 1));
    if (data == nullptr) {
      if (size != nullptr) *size = needed;
      return kRegOk;
    }
    if (*size < needed) {
      *size = needed;
      return kRegMoreData;
    }
    if (needed > 0) std::memcpy(data, bytes, needed);
    *size = needed;
    return kRegOk;
  });
}

int32_t RegSetValue(const char* path, const char* name, uint32_t type, const void* data, uint32_t size) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  std::string spelled, lname;
  result = ParseValueName(name, &spelled, &lname);
  if (result != kRegOk) return result;
  if (data == nullptr && size != 0) return kRegInvalidParameter;
  if (size > static_cast<uint32_t>(INT32_MAX)) return kRegInvalidParameter;
  return InKey(key, true, [&](sqlite3* db, int64_t id) {
    return SetValueLocked(db, id, spelled, lname, type, data, size);
  });
}

int32_t RegDeleteValue(const char* path, const char* name) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  std::string spelled, lname;
  result = ParseValueName(name, &spelled, &lname);
  if (result != kRegOk) return result;
  return WithStore([&](sqlite3* db) -> int32_t {
    Transaction txn(db, true);
    if (txn.rc() != SQLITE_OK) return MapError(txn.rc());
    Stmt s(db, "DELETE FROM vals WHERE key = (SELECT id FROM keys WHERE lpath = ?1) AND lname = ?2");
    if (s.Text(1, key.folded).Text(2, lname).Step() != SQLITE_DONE) return MapError(s.rc());
    if (sqlite3_changes(db) == 0) return kRegNotFound;
    return txn.Commit();
  });
}

int32_t RegDeleteKey(const char* path) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  return InKey(key, true, [&](sqlite3* db, int64_t id) -> int32_t {
    Stmt child(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    int rc = child.Int(1, id).Step();
    if (rc == SQLITE_ROW) return kRegKeyHasChildren;
    if (rc != SQLITE_DONE) return MapError(rc);
    Stmt vals(db, "DELETE FROM vals WHERE key = ?1");
    if (vals.Int(1, id).Step() != SQLITE_DONE) return MapError(vals.rc());
    Stmt keys(db, "DELETE FROM keys WHERE id = ?1");
    if (keys.Int(1, id).Step() != SQLITE_DONE) return MapError(keys.rc());
    return kRegOk;
  });
}

int32_t RegDeleteTree(const char* path) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  // Every key below `path` has a folded path in [path + '\', path + ']'): ']'
  // is the character after the backslash.
  std::string low = key.folded + '\\';
  std::string high = key.folded + ']';
  return InKey(key, true, [&](sqlite3* db, int64_t) -> int32_t {
    Stmt vals(db,
              "DELETE FROM vals WHERE key IN "
              "(SELECT id FROM keys WHERE lpath = ?1 OR (lpath >= ?2 AND lpath < ?3))");
    if (vals.Text(1, key.folded).Text(2, low).Text(3, high).Step() != SQLITE_DONE) return MapError(vals.rc());
    Stmt keys(db, "DELETE FROM keys WHERE lpath = ?1 OR (lpath >= ?2 AND lpath < ?3)");
    if (keys.Text(1, key.folded).Text(2, low).Text(3, high).Step() != SQLITE_DONE) return MapError(keys.rc());
    return kRegOk;
  });
}

int32_t RegEnumKey(const char* path, uint32_t index, std::string* name) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  if (name == nullptr) return kRegInvalidParameter;
  return InKey(key, false, [&](sqlite3* db, int64_t id) -> int32_t {
    Stmt s(db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    int rc = s.Int(1, id).Int(2, index).Step();
    if (rc == SQLITE_DONE) return kRegNoMoreItems;
    if (rc != SQLITE_ROW) return MapError(rc);
    ColumnText(s, 0, name);
    return kRegOk;
  });
}

int32_t RegEnumValue(const char* path, uint32_t index, std::string* name, uint32_t* type) {
  KeyPath key;
  int32_t result = ParseKeyPath(path, &key);
  if (result != kRegOk) return result;
  if (name == nullptr) return kRegInvalidParameter;
  return InKey(key, false, [&](sqlite3* db, int64_t id) -> int32_t {
    Stmt s(db, "SELECT name, type FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    int rc = s.Int(1, id).Int(2, index).Step();
    if (rc == SQLITE_DONE) return kRegNoMoreItems;
    if (rc != SQLITE_ROW) return MapError(rc);
    ColumnText(s, 0, name);
    if (type != nullptr) *type = static_cast<uint32_t>(sqlite3_column_int64(s.get(), 1));
    return kRegOk;
  });
}

}  // namespace lxos
