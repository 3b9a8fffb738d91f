#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <compare>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>

#include "sqlitehandle.h"

namespace platform {

namespace {

constexpr const char* kFolder = "sonvex";
constexpr const char* kFileName = "registry.db";
constexpr int64_t kRootId = 1;
// Deeper trees than this are refused by the copy (they cannot come from the store).
constexpr int kMaxCopyDepth = 512;
// How often a refused switch to write-ahead logging is tried again.
constexpr int kJournalRetryMs = 10;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " data TEXT NOT NULL,"
    " PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, NULL, '');";

bool IsCorruption(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool IsFailure(int rc) {
    return rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE;
}

// What a failed call means to the operator: the result code, refined by the system error
// behind it where SQLite reports only "I/O error" or "cannot open".
RegistryError ErrorFrom(int rc, int systemErrno) {
    // A short write that the system refused (file size limit, quota) or shared memory that
    // could not grow is reported as an I/O error whose errno is often gone by now: both
    // mean the disk has no room for the file.
    if (rc == SQLITE_IOERR_WRITE || rc == SQLITE_IOERR_SHMSIZE) {
        return RegistryError::Full;
    }
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return RegistryError::None;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return RegistryError::ReadOnly;
        case SQLITE_FULL:
            return RegistryError::Full;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return RegistryError::Busy;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
            switch (systemErrno) {
                case ENOSPC:
                case EFBIG:
                case EDQUOT:
                    return RegistryError::Full;
                case EROFS:
                case EACCES:
                case EPERM:
                    return RegistryError::ReadOnly;
                default:
                    return RegistryError::Failed;
            }
        default:
            return RegistryError::Failed;
    }
}

// "file:" URI of an absolute path, for opening with URI parameters.
std::string FileUri(const std::string& path) {
    std::string uri = "file://";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(c);
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0xF];
        } else {
            uri += c;
        }
    }
    return uri;
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::string(value) : fallback;
}

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    const passwd* pw = ::getpwuid(::getuid());
    return pw != nullptr && pw->pw_dir != nullptr ? std::string(pw->pw_dir) : std::string();
}

// Base folder of a root. Relative values are ignored, as the XDG rules ask.
std::string BaseDir(RegistryRoot root) {
    if (root == RegistryRoot::CurrentUser) {
        std::string dir = EnvOr("XDG_CONFIG_HOME", "");
        if (dir.empty() || dir[0] != '/') {
            dir = HomeDir() + "/.config";
        }
        return dir;
    }
    const std::string dirs = EnvOr("XDG_CONFIG_DIRS", "");
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string first = dirs.substr(start, end - start);
        if (!first.empty() && first[0] == '/') {
            return first;
        }
        start = end + 1;
    }
    return "/etc/xdg";
}

bool MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Splits a backslash path into names. An empty path is the key itself; an empty name
// (leading, trailing or doubled separator) or one longer than the limit refuses the path.
bool SplitPath(std::string_view path, std::vector<std::string_view>& names) {
    names.clear();
    if (path.empty()) {
        return true;
    }
    size_t start = 0;
    while (true) {
        const size_t end = path.find('\\', start);
        const std::string_view name = path.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (name.empty() || name.size() > kRegistryMaxKeyNameBytes) {
            return false;
        }
        names.push_back(name);
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

// Files this process has checked for integrity, by identity and last change: a file is
// checked again once anything (another process, a checkpoint) has rewritten it.
struct FileStamp {
    dev_t dev;
    ino_t ino;
    off_t size;
    int64_t mtimeNs;
    auto operator<=>(const FileStamp&) const = default;
};
FileStamp StampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::mutex g_checkedMutex;
std::map<std::string, FileStamp> g_checked;
std::vector<std::string> g_setAside;  // guarded by g_checkedMutex

bool IsChecked(const std::string& path, const FileStamp& stamp) {
    const std::lock_guard<std::mutex> lock(g_checkedMutex);
    const auto it = g_checked.find(path);
    return it != g_checked.end() && it->second == stamp;
}

// Called after this process's own use of a file, which may have rewritten it.
void MarkChecked(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        const std::lock_guard<std::mutex> lock(g_checkedMutex);
        g_checked[path] = StampOf(st);
    }
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link refuses to replace as well.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    return ::unlink(from.c_str()) == 0;
}

struct TreeCopy {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<TreeCopy> children;
};

}  // namespace

std::string RegistryFilePath(RegistryRoot root) {
    return BaseDir(root) + "/" + kFolder + "/" + kFileName;
}

bool TakeSetAsideFile(std::string& path) {
    const std::lock_guard<std::mutex> lock(g_checkedMutex);
    if (g_setAside.empty()) {
        return false;
    }
    path = std::move(g_setAside.front());
    g_setAside.erase(g_setAside.begin());
    return true;
}

// One connection to a root's database with its cached statements. Shared by the hive and
// its keys; the last owner closes it and, when the file turned out corrupt, moves it aside.
class RegistryConnection {
public:
    enum class OpenResult { Ok, Missing, Corrupt, Failed };
    // How the file is opened: for writing, for reading, or for reading without the shared
    // memory and locks that a folder which cannot be written does not allow.
    enum class Access { ReadWrite, ReadOnly, Immutable };

    RegistryConnection(RegistryRoot root, std::string path)
        : m_root(root), m_path(std::move(path)) {}
    ~RegistryConnection() { Close(); }

    OpenResult Open(bool create, Access access);
    // What the latest failed call or open meant; None when nothing failed.
    RegistryError Error() const { return ErrorFrom(m_lastRc, m_lastErrno); }
    // Closes the connection and moves a current-user file aside (with its journal files)
    // when it is still the one this connection opened.
    void Quarantine();

    int Exec(const char* sql) {
        return Note(sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr));
    }
    bool InTransaction() const { return sqlite3_get_autocommit(m_db.get()) == 0; }

    bool FindChild(int64_t parent, std::string_view name, int64_t& id);
    bool InsertChild(int64_t parent, std::string_view name, int64_t& id);
    bool ChildNames(int64_t parent, std::vector<std::string>& names);
    bool ChildAt(int64_t parent, uint32_t index, std::string& name);
    bool ChildIds(int64_t parent, std::vector<std::pair<std::string, int64_t>>& children);
    bool GetValue(int64_t key, std::string_view name, std::string& data);
    bool SetValue(int64_t key, std::string_view name, std::string_view data);
    bool Values(int64_t key, std::vector<std::pair<std::string, std::string>>& values);
    bool DeleteKey(int64_t key);

    // Walks a path down from `from`; creates missing keys when asked.
    bool Resolve(int64_t from, std::string_view path, bool create, int64_t& id);
    bool ReadTree(int64_t key, int depth, TreeCopy& tree);
    bool WriteTree(int64_t key, const TreeCopy& tree);

private:
    enum Stmt {
        kFindChild,
        kInsertChild,
        kChildNames,
        kChildAt,
        kGetValue,
        kSetValue,
        kValues,
        kDeleteKey,
        kStmtCount
    };

    int Note(int rc) {
        if (IsCorruption(rc)) {
            m_corrupt = true;
        }
        if (IsFailure(rc)) {
            m_lastRc = rc;
            m_lastErrno = m_db != nullptr ? sqlite3_system_errno(m_db.get()) : 0;
        }
        return rc;
    }
    int Step(sqlite3_stmt* stmt) { return Note(sqlite3_step(stmt)); }
    void Close();
    void MoveAside();
    OpenResult Prepare();
    OpenResult Fail(int rc);
    OpenResult CheckPages();
    OpenResult UseWriteAheadLog();
    OpenResult CreateSchema();
    bool PrepareStatements(int& rc);
    bool BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
        return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_STATIC) == SQLITE_OK;
    }

    RegistryRoot m_root;
    std::string m_path;
    SqliteDb m_db;
    SqliteStmt m_stmts[kStmtCount];
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    FileStamp m_stamp{};
    bool m_verified = false;  // checked and prepared: closing it may record the new stamp
    bool m_corrupt = false;
    bool m_readOnly = false;
    int m_lastRc = SQLITE_OK;
    int m_lastErrno = 0;
};

void RegistryConnection::Close() {
    if (m_db == nullptr) {
        return;
    }
    if (m_corrupt) {
        // Closing the last connection checkpoints the journal into the file; a damaged
        // file must stay as it is.
        sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    for (SqliteStmt& stmt : m_stmts) {
        stmt.reset();
    }
    m_db.reset();
    if (m_corrupt && m_root == RegistryRoot::CurrentUser) {
        MoveAside();
    } else if (!m_corrupt && m_verified) {
        MarkChecked(m_path);
    }
    m_corrupt = false;
    m_verified = false;
}

void RegistryConnection::Quarantine() {
    m_corrupt = true;
    Close();
}

void RegistryConnection::MoveAside() {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0 || st.st_dev != m_dev || st.st_ino != m_ino) {
        return;  // already replaced, by another process or an earlier operation
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    for (int attempt = 1; attempt < 100; ++attempt) {
        std::string aside = m_path + ".corrupt-" + stamp;
        if (attempt > 1) {
            aside.append(1, '-').append(std::to_string(attempt));
        }
        if (RenameNoReplace(m_path, aside)) {
            // The journal files belong to the damaged file; left behind they would be
            // replayed into the new one.
            for (const char* suffix : {"-wal", "-shm", "-journal"}) {
                const std::string from = m_path + suffix;
                if (::access(from.c_str(), F_OK) == 0) {
                    RenameNoReplace(from, aside + suffix);
                }
            }
            const std::lock_guard<std::mutex> lock(g_checkedMutex);
            g_setAside.push_back(aside);
            return;
        }
        if (errno != EEXIST) {
            return;
        }
    }
}

RegistryConnection::OpenResult RegistryConnection::Open(bool create, Access access) {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        if (!create || access != Access::ReadWrite) {
            return OpenResult::Missing;
        }
        const size_t slash = m_path.rfind('/');
        if (slash == std::string::npos || !MakeDirs(m_path.substr(0, slash))) {
            m_lastRc = SQLITE_CANTOPEN;
            m_lastErrno = errno;
            return OpenResult::Failed;
        }
    } else if (!S_ISREG(st.st_mode)) {
        m_lastRc = SQLITE_CANTOPEN;
        return OpenResult::Failed;
    }
    sqlite3* raw = nullptr;
    // One connection serves one thread: SQLite's own locking of it is not needed.
    int rc = SQLITE_OK;
    m_readOnly = access != Access::ReadWrite;
    if (m_readOnly) {
        const std::string uri =
            FileUri(m_path) + (access == Access::Immutable ? "?mode=ro&immutable=1" : "?mode=ro");
        rc = sqlite3_open_v2(uri.c_str(), &raw,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
    } else {
        const int flags =
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
        rc = sqlite3_open_v2(m_path.c_str(), &raw, flags, nullptr);
    }
    m_db.reset(raw);
    if (rc != SQLITE_OK) {
        Note(rc);
        m_db.reset();
        return OpenResult::Failed;
    }
    // A file that can only be read is not opened for writing: the caller writes.
    if (!m_readOnly && sqlite3_db_readonly(m_db.get(), "main") != 0) {
        m_lastRc = SQLITE_READONLY;
        m_db.reset();
        return OpenResult::Failed;
    }
    if (::stat(m_path.c_str(), &st) != 0) {
        m_lastRc = SQLITE_CANTOPEN;
        m_db.reset();
        return OpenResult::Failed;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_stamp = StampOf(st);
    sqlite3_extended_result_codes(m_db.get(), 1);
    sqlite3_busy_timeout(m_db.get(), kRegistryBusyTimeoutMs);
    return Prepare();
}

// Marks a damaged file for setting aside; any other failure closes the connection.
RegistryConnection::OpenResult RegistryConnection::Fail(int rc) {
    if (IsCorruption(rc)) {
        m_corrupt = true;
        return OpenResult::Corrupt;
    }
    Close();
    return OpenResult::Failed;
}

// Reads every page once, so damage anywhere is found before anything is written.
RegistryConnection::OpenResult RegistryConnection::CheckPages() {
    sqlite3_stmt* raw = nullptr;
    int rc = Note(sqlite3_prepare_v2(m_db.get(), "PRAGMA quick_check(1)", -1, &raw, nullptr));
    const SqliteStmt quick(raw);
    if (rc != SQLITE_OK) {
        return Fail(rc);
    }
    rc = Step(quick.get());
    if (rc != SQLITE_ROW) {
        return Fail(rc);
    }
    const auto* result = reinterpret_cast<const char*>(sqlite3_column_text(quick.get(), 0));
    if (result == nullptr || std::strcmp(result, "ok") != 0) {
        m_corrupt = true;
        return OpenResult::Corrupt;
    }
    return OpenResult::Ok;
}

// Readers then never block the writer, and a writer never blocks readers. Two programs
// opening a new file at once both ask for the switch, and SQLite refuses the one that finds
// the other reading at once (busy) without waiting: it looks again until the file is
// switched, by either, or the busy time-out has passed.
RegistryConnection::OpenResult RegistryConnection::UseWriteAheadLog() {
    sqlite3_stmt* raw = nullptr;
    int rc = Note(sqlite3_prepare_v2(m_db.get(), "PRAGMA journal_mode", -1, &raw, nullptr));
    const SqliteStmt mode(raw);
    if (rc != SQLITE_OK) {
        return Fail(rc);
    }
    for (int waitedMs = 0;; waitedMs += kJournalRetryMs) {
        rc = Step(mode.get());
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
        const bool wal = rc == SQLITE_ROW && text != nullptr && std::strcmp(text, "wal") == 0;
        sqlite3_reset(mode.get());
        if (wal) {
            break;
        }
        rc = Exec("PRAGMA journal_mode=WAL");
        if (rc == SQLITE_OK) {
            break;
        }
        if ((rc & 0xFF) != SQLITE_BUSY || waitedMs >= kRegistryBusyTimeoutMs) {
            return Fail(rc);
        }
        sqlite3_sleep(kJournalRetryMs);
    }
    rc = Exec("PRAGMA synchronous=NORMAL");
    return rc == SQLITE_OK ? OpenResult::Ok : Fail(rc);
}

// No tables yet: a new or empty file.
RegistryConnection::OpenResult RegistryConnection::CreateSchema() {
    int rc = Exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) {
        return Fail(rc);
    }
    rc = Exec(kSchema);
    if (rc == SQLITE_OK) {
        rc = Exec("COMMIT");
    }
    if (rc != SQLITE_OK) {
        Exec("ROLLBACK");
    }
    if (rc == SQLITE_OK) {
        PrepareStatements(rc);
    }
    if (rc != SQLITE_OK) {
        // A database made by someone else, with other tables of these names, is not
        // ours either.
        return Fail(rc == SQLITE_ERROR ? SQLITE_NOTADB : rc);
    }
    return OpenResult::Ok;
}

RegistryConnection::OpenResult RegistryConnection::Prepare() {
    int rc = Exec("PRAGMA foreign_keys=ON");
    if (rc != SQLITE_OK) {
        return Fail(rc);
    }
    if (!IsChecked(m_path, m_stamp)) {
        if (const OpenResult checked = CheckPages(); checked != OpenResult::Ok) {
            return checked;
        }
    }
    // The machine-wide file keeps whatever journal it was made with; a file opened for
    // reading keeps it too.
    if (m_root == RegistryRoot::CurrentUser && !m_readOnly) {
        if (const OpenResult journal = UseWriteAheadLog(); journal != OpenResult::Ok) {
            return journal;
        }
    }
    if (!PrepareStatements(rc)) {
        if (rc != SQLITE_ERROR || m_readOnly) {
            return Fail(rc);
        }
        if (const OpenResult created = CreateSchema(); created != OpenResult::Ok) {
            return created;
        }
    }
    m_verified = true;
    return OpenResult::Ok;
}

bool RegistryConnection::PrepareStatements(int& rc) {
    static constexpr const char* kSql[kStmtCount] = {
        "SELECT id FROM keys WHERE parent = ?1 AND name = ?2",
        "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
        "SELECT name FROM keys WHERE parent = ?1 ORDER BY name",
        "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2",
        "SELECT data FROM vals WHERE key = ?1 AND name = ?2",
        ("INSERT INTO vals(key, name, data) VALUES(?1, ?2, ?3)"
         " ON CONFLICT(key, name) DO UPDATE SET data = excluded.data"),
        "SELECT name, data FROM vals WHERE key = ?1 ORDER BY name",
        "DELETE FROM keys WHERE id = ?1",
    };
    rc = SQLITE_OK;
    for (int i = 0; i < kStmtCount; ++i) {
        sqlite3_stmt* raw = nullptr;
        rc = Note(
            sqlite3_prepare_v3(m_db.get(), kSql[i], -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr));
        m_stmts[i].reset(raw);
        if (rc != SQLITE_OK) {
            // Extended codes are on; a missing table is the plain SQLITE_ERROR.
            rc &= 0xff;
            return false;
        }
    }
    return true;
}

bool RegistryConnection::FindChild(int64_t parent, std::string_view name, int64_t& id) {
    const StmtScope s(m_stmts[kFindChild].get());
    sqlite3_bind_int64(s.get(), 1, parent);
    BindText(s.get(), 2, name);
    if (Step(s.get()) != SQLITE_ROW) {
        return false;
    }
    id = sqlite3_column_int64(s.get(), 0);
    return true;
}

bool RegistryConnection::InsertChild(int64_t parent, std::string_view name, int64_t& id) {
    const StmtScope s(m_stmts[kInsertChild].get());
    sqlite3_bind_int64(s.get(), 1, parent);
    BindText(s.get(), 2, name);
    if (Step(s.get()) != SQLITE_DONE) {
        return false;
    }
    id = sqlite3_last_insert_rowid(m_db.get());
    return true;
}

bool RegistryConnection::ChildNames(int64_t parent, std::vector<std::string>& names) {
    names.clear();
    const StmtScope s(m_stmts[kChildNames].get());
    sqlite3_bind_int64(s.get(), 1, parent);
    int rc;
    while ((rc = Step(s.get())) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                           static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)));
    }
    return rc == SQLITE_DONE;
}

bool RegistryConnection::ChildAt(int64_t parent, uint32_t index, std::string& name) {
    const StmtScope s(m_stmts[kChildAt].get());
    sqlite3_bind_int64(s.get(), 1, parent);
    sqlite3_bind_int64(s.get(), 2, index);
    if (Step(s.get()) != SQLITE_ROW) {
        return false;
    }
    name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)));
    return true;
}

bool RegistryConnection::ChildIds(int64_t parent,
                                  std::vector<std::pair<std::string, int64_t>>& children) {
    std::vector<std::string> names;
    if (!ChildNames(parent, names)) {
        return false;
    }
    children.clear();
    for (std::string& name : names) {
        int64_t id = 0;
        if (!FindChild(parent, name, id)) {
            return false;
        }
        children.emplace_back(std::move(name), id);
    }
    return true;
}

bool RegistryConnection::GetValue(int64_t key, std::string_view name, std::string& data) {
    const StmtScope s(m_stmts[kGetValue].get());
    sqlite3_bind_int64(s.get(), 1, key);
    BindText(s.get(), 2, name);
    if (Step(s.get()) != SQLITE_ROW) {
        return false;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    data.assign(text == nullptr ? "" : text, static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)));
    return true;
}

bool RegistryConnection::SetValue(int64_t key, std::string_view name, std::string_view data) {
    const StmtScope s(m_stmts[kSetValue].get());
    sqlite3_bind_int64(s.get(), 1, key);
    BindText(s.get(), 2, name);
    BindText(s.get(), 3, data);
    return Step(s.get()) == SQLITE_DONE;
}

bool RegistryConnection::Values(int64_t key,
                                std::vector<std::pair<std::string, std::string>>& values) {
    values.clear();
    const StmtScope s(m_stmts[kValues].get());
    sqlite3_bind_int64(s.get(), 1, key);
    int rc;
    while ((rc = Step(s.get())) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
        const int nameBytes = sqlite3_column_bytes(s.get(), 0);
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1));
        const int dataBytes = sqlite3_column_bytes(s.get(), 1);
        values.emplace_back(
            std::string(name == nullptr ? "" : name, static_cast<size_t>(nameBytes)),
            std::string(data == nullptr ? "" : data, static_cast<size_t>(dataBytes)));
    }
    return rc == SQLITE_DONE;
}

bool RegistryConnection::DeleteKey(int64_t key) {
    const StmtScope s(m_stmts[kDeleteKey].get());
    sqlite3_bind_int64(s.get(), 1, key);
    return Step(s.get()) == SQLITE_DONE && sqlite3_changes(m_db.get()) > 0;
}

bool RegistryConnection::Resolve(int64_t from, std::string_view path, bool create, int64_t& id) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names)) {
        return false;
    }
    int64_t current = from;
    for (const std::string_view name : names) {
        int64_t next = 0;
        if (!FindChild(current, name, next)) {
            if (!create || !InsertChild(current, name, next)) {
                return false;
            }
        }
        current = next;
    }
    id = current;
    return true;
}

bool RegistryConnection::ReadTree(int64_t key, int depth, TreeCopy& tree) {
    if (depth > kMaxCopyDepth || !Values(key, tree.values)) {
        return false;
    }
    std::vector<std::pair<std::string, int64_t>> children;
    if (!ChildIds(key, children)) {
        return false;
    }
    tree.children.resize(children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        tree.children[i].name = children[i].first;
        if (!ReadTree(children[i].second, depth + 1, tree.children[i])) {
            return false;
        }
    }
    return true;
}

bool RegistryConnection::WriteTree(int64_t key, const TreeCopy& tree) {
    for (const auto& [name, data] : tree.values) {
        if (!SetValue(key, name, data)) {
            return false;
        }
    }
    for (const TreeCopy& child : tree.children) {
        int64_t id = 0;
        if (!Resolve(key, child.name, true, id) || !WriteTree(id, child)) {
            return false;
        }
    }
    return true;
}

// ---- RegistryKey ----

void RegistryKey::Close() {
    m_connection.reset();
    m_id = 0;
}

bool RegistryKey::OpenSubKey(std::string_view path, RegistryKey& result) const {
    int64_t id = 0;
    if (!IsOpen() || !m_connection->Resolve(m_id, path, false, id)) {
        return false;
    }
    result.m_connection = m_connection;
    result.m_id = id;
    return true;
}

bool RegistryKey::CreateSubKey(std::string_view path, RegistryKey& result) const {
    int64_t id = 0;
    if (!IsOpen()) {
        return false;
    }
    // Creating several levels is all or nothing. The write lock is taken before the first
    // read: a transaction that read first and then writes fails at once, without waiting,
    // when another process wrote in between.
    const bool own = !m_connection->InTransaction();
    if (own && m_connection->Exec("BEGIN IMMEDIATE") != SQLITE_OK) {
        return false;
    }
    const bool ok = m_connection->Resolve(m_id, path, true, id);
    if (own && (!ok || m_connection->Exec("COMMIT") != SQLITE_OK)) {
        m_connection->Exec("ROLLBACK");
        return false;
    }
    if (!ok) {
        return false;
    }
    result.m_connection = m_connection;
    result.m_id = id;
    return true;
}

bool RegistryKey::EnumKey(uint32_t index, char* name, size_t size) const {
    std::string found;
    if (!IsOpen() || name == nullptr || !m_connection->ChildAt(m_id, index, found) ||
        found.size() + 1 > size) {
        return false;
    }
    std::memcpy(name, found.c_str(), found.size() + 1);
    return true;
}

bool RegistryKey::SubKeyNames(std::vector<std::string>& names) const {
    return IsOpen() && m_connection->ChildNames(m_id, names);
}

bool RegistryKey::QueryString(std::string_view valueName, char* buffer, size_t size) const {
    std::string data;
    if (!IsOpen() || buffer == nullptr || !m_connection->GetValue(m_id, valueName, data) ||
        data.size() + 1 > size) {
        return false;
    }
    std::memcpy(buffer, data.c_str(), data.size() + 1);
    return true;
}

bool RegistryKey::SetString(std::string_view valueName, std::string_view data) const {
    // Values are NUL-terminated text: an embedded NUL could not be read back whole.
    if (!IsOpen() || data.find('\0') != std::string_view::npos ||
        valueName.find('\0') != std::string_view::npos) {
        return false;
    }
    return m_connection->SetValue(m_id, valueName, data);
}

bool RegistryKey::DeleteTree(std::string_view path) const {
    int64_t id = 0;
    if (!IsOpen() || path.empty() || !m_connection->Resolve(m_id, path, false, id)) {
        return false;
    }
    return m_connection->DeleteKey(id);
}

bool RegistryKey::CopyTree(std::string_view path, const RegistryKey& destination) const {
    if (!IsOpen() || !destination.IsOpen()) {
        return false;
    }
    int64_t id = 0;
    TreeCopy tree;
    // Read whole before writing, so a copy into its own subtree cannot chase itself.
    if (!m_connection->Resolve(m_id, path, false, id) || !m_connection->ReadTree(id, 0, tree)) {
        return false;
    }
    RegistryConnection& target = *destination.m_connection;
    // As in CreateSubKey: the write lock first, then the reads and writes.
    const bool own = !target.InTransaction();
    if (own && target.Exec("BEGIN IMMEDIATE") != SQLITE_OK) {
        return false;
    }
    const bool ok = target.WriteTree(destination.m_id, tree);
    if (own && (!ok || target.Exec("COMMIT") != SQLITE_OK)) {
        target.Exec("ROLLBACK");
        return false;
    }
    return ok;
}

// ---- RegistryHive ----

RegistryHive::RegistryHive(RegistryRoot root, Mode mode) {
    using Access = RegistryConnection::Access;
    using OpenResult = RegistryConnection::OpenResult;
    const bool create = mode == Mode::CreateIfMissing && root == RegistryRoot::CurrentUser;
    auto connection = std::make_shared<RegistryConnection>(root, RegistryFilePath(root));
    OpenResult result = connection->Open(create, Access::ReadWrite);
    if (result == OpenResult::Corrupt) {
        if (root != RegistryRoot::CurrentUser) {
            return;  // never touched: treated as absent
        }
        connection->Quarantine();
        connection = std::make_shared<RegistryConnection>(root, RegistryFilePath(root));
        result = connection->Open(create, Access::ReadWrite);
    }
    if (result == OpenResult::Ok) {
        m_connection = std::move(connection);
        return;
    }
    if (result != OpenResult::Failed) {
        return;
    }
    m_openError = connection->Error();
    if (m_openError == RegistryError::None) {
        m_openError = RegistryError::Failed;
    }
    if (mode != Mode::OpenExisting || root != RegistryRoot::CurrentUser) {
        return;
    }
    // What cannot be written can still be read: first with the shared memory of the
    // journal (other processes may be writing), then, where the folder allows no such
    // file, as a file nobody changes.
    for (const Access access : {Access::ReadOnly, Access::Immutable}) {
        connection = std::make_shared<RegistryConnection>(root, RegistryFilePath(root));
        if (connection->Open(false, access) == OpenResult::Ok) {
            m_connection = std::move(connection);
            m_readOnly = true;
            return;
        }
    }
}

RegistryHive::~RegistryHive() = default;

RegistryError RegistryHive::LastError() const {
    if (m_connection == nullptr) {
        return m_openError;
    }
    if (m_readOnly) {
        return m_openError;  // why it could not be opened for writing
    }
    return m_connection->Error();
}

bool RegistryHive::Root(RegistryKey& root) const {
    if (!IsOpen()) {
        return false;
    }
    root.m_connection = m_connection;
    root.m_id = kRootId;
    return true;
}

bool RegistryHive::OpenKey(std::string_view path, RegistryKey& result) const {
    RegistryKey root;
    return Root(root) && root.OpenSubKey(path, result);
}

bool RegistryHive::CreateKey(std::string_view path, RegistryKey& result) const {
    RegistryKey root;
    return Root(root) && root.CreateSubKey(path, result);
}

bool RegistryHive::DeleteTree(std::string_view path) const {
    RegistryKey root;
    return Root(root) && root.DeleteTree(path);
}

// ---- RegistryTransaction ----

RegistryTransaction::RegistryTransaction(const RegistryHive& hive, Kind kind)
    : m_connection(hive.m_connection) {
    if (m_connection == nullptr || m_connection->InTransaction()) {
        return;
    }
    m_active = m_connection->Exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN") == SQLITE_OK;
}

RegistryTransaction::~RegistryTransaction() {
    // A failed write may have rolled the transaction back already; a second rollback would
    // only replace the reason it failed.
    if (m_active && m_connection->InTransaction()) {
        m_connection->Exec("ROLLBACK");
    }
}

bool RegistryTransaction::Commit() {
    if (!m_active) {
        return false;
    }
    m_active = false;
    if (m_connection->Exec("COMMIT") == SQLITE_OK) {
        return true;
    }
    if (m_connection->InTransaction()) {
        m_connection->Exec("ROLLBACK");
    }
    return false;
}

}  // namespace platform
