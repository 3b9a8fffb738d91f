#pragma once
// A registry of keys and string values kept in one SQLite database file per root: the
// current user's under $XDG_CONFIG_HOME (default ~/.config), the machine-wide one under the
// first folder of $XDG_CONFIG_DIRS (default /etc/xdg), each as sonvex/registry.db.
//
// Key paths are backslash-separated ("Software\\Vendor\\App"). Key and value names compare
// case-insensitively (ASCII letters) and keep the case they were created with; subkeys
// enumerate in case-insensitive name order. A key name is 1 to 255 bytes.
//
// A RegistryHive is one open connection to a root's file, held for the length of one
// operation; RegistryKey handles share it and may be closed in any order. A root whose file
// does not exist behaves like a missing key; the machine-wide file is never created here.
// Two processes may use the same file at once: writers wait for each other (bounded by a
// busy time-out) and readers see whole transactions. A current-user file that is not a
// valid database is moved aside as registry.db.corrupt-<time> and an empty tree replaces it;
// TakeSetAsideFile tells about each such move once. A current-user file that cannot be
// written (read-only file or folder, full disk) is opened read-only for reading, so that
// what it holds stays visible while every write fails with ReadOnly.
// Not thread-safe: one hive and its keys belong to one thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryRoot { CurrentUser, MachineWide };

// Size of the caller buffers the store reads names and values into (259 bytes and a NUL).
constexpr size_t kRegistryBufferBytes = 260;
constexpr size_t kRegistryMaxKeyNameBytes = 255;
// How long a writer waits for another process's transaction before giving up.
constexpr int kRegistryBusyTimeoutMs = 5000;

// Why a hive could not be opened for writing or its last write failed.
enum class RegistryError {
    None,
    ReadOnly,  // the file or its folder cannot be written (or the hive was opened read-only)
    Full,      // the disk or the user's quota is full
    Busy,      // another process held the file past the busy time-out
    Failed,    // any other failure: unreadable file, I/O error
};

// The database file of a root, from the environment (the file need not exist).
std::string RegistryFilePath(RegistryRoot root);

// The path a damaged current-user file was moved to, once per move, oldest first; false
// when no move is left untold. Any thread.
bool TakeSetAsideFile(std::string& path);

class RegistryConnection;

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(RegistryKey&&) noexcept = default;
    RegistryKey& operator=(RegistryKey&&) noexcept = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() = default;

    bool IsOpen() const { return m_connection != nullptr; }
    void Close();

    // Opens an existing key below this one; false when any part of the path is missing.
    bool OpenSubKey(std::string_view path, RegistryKey& result) const;
    // Opens the key below this one, creating it and any missing parents.
    bool CreateSubKey(std::string_view path, RegistryKey& result) const;
    // Name of the index-th subkey in enumeration order into a buffer of `size` bytes;
    // false past the last subkey or when the name does not fit.
    bool EnumKey(uint32_t index, char* name, size_t size) const;
    // All subkey names in enumeration order (replaces `names`); false on a database error.
    bool SubKeyNames(std::vector<std::string>& names) const;
    // Copies a string value and its NUL into `buffer`; false (buffer untouched) when the
    // value is missing or does not fit.
    bool QueryString(std::string_view valueName, char* buffer, size_t size) const;
    // Creates or replaces a string value.
    bool SetString(std::string_view valueName, std::string_view data) const;
    // Deletes the subkey at `path` with everything below it; false when it does not exist.
    bool DeleteTree(std::string_view path) const;
    // Copies the subkey at `path` (its values and all keys below it) into `destination`,
    // which may belong to another root; existing values of the same name are replaced.
    bool CopyTree(std::string_view path, const RegistryKey& destination) const;

private:
    friend class RegistryHive;
    std::shared_ptr<RegistryConnection> m_connection;
    int64_t m_id = 0;
};

class RegistryHive {
public:
    enum class Mode { OpenExisting, CreateIfMissing };

    // CreateIfMissing creates the current user's folder and file; the machine-wide root is
    // only ever opened, and only when it can be written. OpenExisting falls back to reading
    // a current-user file that cannot be written.
    RegistryHive(RegistryRoot root, Mode mode);
    ~RegistryHive();
    RegistryHive(const RegistryHive&) = delete;
    RegistryHive& operator=(const RegistryHive&) = delete;

    bool IsOpen() const { return m_connection != nullptr; }
    bool IsReadOnly() const { return m_readOnly; }
    // Why the hive is not open for writing, or why its latest failed statement failed;
    // None for a root whose file does not exist.
    RegistryError LastError() const;
    // The same operations as on a key, with paths relative to the root.
    bool OpenKey(std::string_view path, RegistryKey& result) const;
    bool CreateKey(std::string_view path, RegistryKey& result) const;
    bool DeleteTree(std::string_view path) const;

private:
    friend class RegistryTransaction;
    bool Root(RegistryKey& root) const;
    std::shared_ptr<RegistryConnection> m_connection;
    RegistryError m_openError = RegistryError::None;
    bool m_readOnly = false;
};

// A transaction on a hive that rolls back unless committed. A write transaction takes the
// write lock at once (waiting up to the busy time-out for another process); a read
// transaction gives every read inside it one consistent snapshot.
class RegistryTransaction {
public:
    enum class Kind { Read, Write };

    RegistryTransaction(const RegistryHive& hive, Kind kind);
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // False when the transaction could not begin (no hive, busy, nested).
    bool IsActive() const { return m_active; }
    // True when everything since the start is stored; otherwise all of it is rolled back.
    bool Commit();

private:
    std::shared_ptr<RegistryConnection> m_connection;
    bool m_active = false;
};

}  // namespace platform
