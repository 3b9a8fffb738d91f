#pragma once
// Owning handles for an SQLite connection and a prepared statement. Private to the registry
// implementation: nothing outside platform/ includes SQLite.

#include <sqlite3.h>

#include <memory>

namespace platform {

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// Resets a cached statement and clears its bindings when the scope ends, so that a statement
// never holds a read lock past the call that used it.
class StmtScope {
public:
    explicit StmtScope(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~StmtScope() {
        if (m_stmt != nullptr) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    StmtScope(const StmtScope&) = delete;
    StmtScope& operator=(const StmtScope&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt;
};

}  // namespace platform
