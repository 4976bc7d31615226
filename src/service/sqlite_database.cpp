// The SQLite catalogue store.
//
// A catalogue that is only read is opened with SQLITE_OPEN_READONLY through a
// "file:" URI with mode=ro and query_only set, so a load can neither create
// a missing file nor change an existing one. Whether the file exists is
// checked first, so that a missing catalogue is reported as such rather than
// as SQLite's generic "unable to open database file".
//
// The per-user default catalogue is private: when the tools create it, its
// directory is made 0700 and the file 0600 before SQLite touches it.
//
// A catalogue file may come from anywhere, and SQL in the file (views,
// generated columns, triggers) runs when the file is read. So every
// statement runs against a deadline, watched by a progress handler; a
// statement's result is held to the JSON reader's limits on values and
// text (SQLite itself refuses longer values on a read-only connection); and
// `task`, `task_grant` and `kevra_migration` must be ordinary tables, so
// that no query of ours runs SQL the file supplies.
//
// A write that was interrupted (an import killed mid-way) leaves a hot
// journal, which a read-only connection may not roll back: a load rolls it
// back through a read-write connection when it may write the file and its
// folder, as any SQLite program that opens the file for writing would, and
// otherwise says what happened and how to repair it. A WAL-mode catalogue in
// a folder the reader may not write is read without its shared-memory file
// when its write-ahead log holds nothing.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <system_error>

#include "platform/error.h"
#include "platform/json.h"
#include "service/database.h"
#include "service/json_catalogue.h"

namespace kevra::service {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> g_statement_timeout_ms{kDefaultStatementTimeout.count()};

// What one statement may return: the JSON reader's bounds, so that a
// database catalogue costs no more memory than a JSON one.
constexpr JsonLimits kReadLimits{};
static_assert(kReadLimits.max_string_bytes <= INT32_MAX, "sqlite3_limit takes an int");

// Virtual-machine steps between looks at the clock. SQLite counts only
// some steps, and one of them may be a function over a 16 MiB value, so
// the deadline can pass by this many slow steps: keep it small. A look costs
// tens of nanoseconds, a step rarely less.
constexpr int kStepsPerClockCheck = 100;

std::string ErrnoText(int error) { return std::generic_category().message(error); }

std::string SecondsText(int64_t ms) {
    const int64_t s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string MiBText(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// True when the file's header says it is in WAL mode (read and write
// format versions 2).
bool IsWalFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    unsigned char header[20] = {};
    const bool read_all = ::pread(fd, header, sizeof header, 0) == sizeof header;
    ::close(fd);
    return read_all && std::memcmp(header, "SQLite format 3", 16) == 0 && header[18] == 2 &&
           header[19] == 2;
}

// A file that does not exist or holds nothing.
bool IsEmptyOrMissing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 ? errno == ENOENT : st.st_size == 0;
}

// A path as the path part of a SQLite "file:" URI.
std::string UriPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    // "file://x" would read x as an authority; keep an absolute path's
    // slashes from being taken for one.
    if (out.rfind("//", 0) == 0) out = "/." + out.substr(1);
    return out;
}

// Creates each missing directory of `dir` owner-only.
void MakePrivateDirectories(const std::string& dir, const std::string& display) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i != dir.size() && dir[i] != '/') continue;
        std::string part = dir.substr(0, i);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            int error = errno;
            throw RuntimeError(error == EACCES ? err::kPermissionDenied : err::kPathAccess,
                               "Cannot create the folder " + json::Quote(part) +
                                   " for the catalogue " + json::Quote(display) + ": " +
                                   ErrnoText(error));
        }
    }
}

class SqliteDatabase : public Database {
  public:
    SqliteDatabase(const CatalogueLocation& loc, OpenMode mode)
        : name_(loc.display), path_(loc.target), is_default_(loc.is_default) {
        const std::string& path = loc.target;
        if (path.empty())
            throw RuntimeError(err::kFileNotFound,
                               "Cannot open the catalogue: no file name follows \"sqlite:\"");
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            int error = errno;
            if (error == ENOENT && mode == OpenMode::kCreate) {
                if (loc.is_default) CreatePrivateFile(path);
                size_t slash = path.rfind('/');
                std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
                if (::access(folder.c_str(), F_OK) != 0)
                    throw RuntimeError(err::kPathAccess, "Cannot create the catalogue " +
                                                             json::Quote(name_) + ": the folder " +
                                                             json::Quote(folder) +
                                                             " does not exist");
            } else {
                std::string text =
                    "Cannot open the catalogue " + json::Quote(name_) + ": " + ErrnoText(error);
                if (error == ENOENT && loc.is_default)
                    text += " (the default catalogue is made with: kevra-catalog init --sample)";
                else if (error == ENOENT)
                    text += " (a new catalogue is made with: kevra-catalog init " + path + ")";
                throw RuntimeError(error == ENOENT || error == ENOTDIR ? err::kFileNotFound
                                   : error == EACCES                   ? err::kPermissionDenied
                                                                       : err::kPathAccess,
                                   text);
            }
        } else if (S_ISDIR(st.st_mode)) {
            throw RuntimeError(err::kPathAccess, "Cannot open the catalogue " + json::Quote(name_) +
                                                     ": it is a folder, not a database file");
        } else if (!S_ISREG(st.st_mode)) {
            throw RuntimeError(err::kPathAccess, "Cannot open the catalogue " + json::Quote(name_) +
                                                     ": it is not a regular file");
        } else if (mode == OpenMode::kReadOnly && ::access(path.c_str(), R_OK) != 0) {
            int error = errno;
            throw RuntimeError(
                error == EACCES ? err::kPermissionDenied : err::kPathAccess,
                "Cannot open the catalogue " + json::Quote(name_) + ": " + ErrnoText(error));
        }

        const std::string uri = "file:" + UriPath(path);
        if (mode == OpenMode::kReadOnly) {
            OpenForReading(uri);
        } else {
            const int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_READWRITE |
                              (mode == OpenMode::kCreate ? SQLITE_OPEN_CREATE : 0);
            std::string message;
            const int rc = Connect(uri, flags, false, message);
            if (rc != SQLITE_OK) Fail(rc, "The catalogue ", message);
        }
        try {
            RefuseWhatIsNoTable();
        } catch (...) {
            Close();
            throw;
        }
    }

    ~SqliteDatabase() override { Close(); }

    const std::string& Name() const override { return name_; }
    StoreKind Kind() const override { return StoreKind::kSqlite; }

    void ExecScript(const std::string& sql) override {
        StartClock();
        char* message = nullptr;
        int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
        std::string text = message ? message : "";
        sqlite3_free(message);
        if (rc != SQLITE_OK) Fail(rc, "The catalogue ", text);
    }

    void Query(const std::string& sql, const Row& params,
               const std::function<void(const Row&)>& on_row) override {
        StartClock();
        sqlite3_stmt* stmt = Prepare(sql);
        struct Reset {
            sqlite3_stmt* s;
            ~Reset() {
                sqlite3_reset(s);
                sqlite3_clear_bindings(s);
            }
        } reset{stmt};
        for (size_t i = 0; i < params.size(); ++i) Bind(stmt, static_cast<int>(i + 1), params[i]);
        const int columns = sqlite3_column_count(stmt);
        Row row(static_cast<size_t>(columns));
        // What the rows handed out so far hold, against the read limits.
        size_t values = 0, text = 0;
        for (;;) {
            int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) return;
            if (rc != SQLITE_ROW) Fail(rc, "The catalogue ");
            values += static_cast<size_t>(columns);
            if (values > kReadLimits.max_cells)
                TooLarge("a query of it returns more than " +
                         std::to_string(kReadLimits.max_cells) + " values");
            for (int c = 0; c < columns; ++c) row[static_cast<size_t>(c)] = Column(stmt, c, text);
            on_row(row);
        }
    }

    // One statement prepared for the batch and stepped for each row: the
    // default's INSERT per row costs a statement lookup and a row copy more.
    void InsertRows(const std::string& table, const std::vector<std::string>& columns,
                    const std::vector<Variant>& values) override {
        const size_t n = columns.size();
        if (n == 0) return;
        std::string sql = "INSERT INTO " + table + " (";
        for (size_t c = 0; c < n; ++c) sql += (c ? ", " : "") + columns[c];
        sql += ") VALUES (?";
        for (size_t c = 1; c < n; ++c) sql += ", ?";
        sql += ")";
        sqlite3_stmt* stmt = Prepare(sql);
        for (size_t at = 0; at + n <= values.size(); at += n) {
            StartClock();
            for (size_t c = 0; c < n; ++c) Bind(stmt, static_cast<int>(c + 1), values[at + c]);
            const int rc = sqlite3_step(stmt);
            sqlite3_reset(stmt);
            if (rc != SQLITE_DONE) Fail(rc, "The catalogue ");
        }
        sqlite3_clear_bindings(stmt);
    }

    bool HasTable(const std::string& name) override {
        bool found = false;
        Query("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = $1", {Variant(name)},
              [&](const Row&) { found = true; });
        return found;
    }

  private:
    // Opens `uri`, sets the connection up and reads the schema, which is
    // where SQLite first looks at the file. On failure the connection is
    // closed again and SQLite's extended code returned, its words in
    // `message`.
    int Connect(const std::string& uri, int flags, bool read_only, std::string& message) {
        int rc = sqlite3_open_v2(uri.c_str(), &db_, flags, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(db_, 1);
            // Another program may be importing: wait for it rather than fail.
            sqlite3_busy_timeout(db_, 5000);
            sqlite3_progress_handler(db_, kStepsPerClockCheck, &SqliteDatabase::OnProgress, this);
            if (read_only)
                sqlite3_limit(db_, SQLITE_LIMIT_LENGTH,
                              static_cast<int>(kReadLimits.max_string_bytes));
            StartClock();
            rc =
                sqlite3_exec(db_,
                             read_only ? "PRAGMA query_only = 1; SELECT count(*) FROM sqlite_master"
                                       : "PRAGMA foreign_keys = ON; SELECT count(*) FROM "
                                         "sqlite_master",
                             nullptr, nullptr, nullptr);
        }
        if (rc == SQLITE_OK) return rc;
        if (db_) {
            rc = sqlite3_extended_errcode(db_);
            message = sqlite3_errmsg(db_);
        } else {
            message = sqlite3_errstr(rc);
        }
        Close();
        return rc;
    }

    void OpenForReading(const std::string& uri) {
        const int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_READONLY;
        std::string message;
        int rc = Connect(uri + "?mode=ro", flags, true, message);
        if (rc == SQLITE_READONLY_ROLLBACK && MayWriteFileAndFolder()) {
            RollBackJournal(uri);
            rc = Connect(uri + "?mode=ro", flags, true, message);
        } else if (rc != SQLITE_READONLY_ROLLBACK &&
                   ((rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_CANTOPEN) &&
                   IsWalFile(path_) && ::access(FolderOf(path_).c_str(), W_OK) != 0) {
            // SQLite could not make the -shm file a WAL reader needs. With
            // an empty log everything is in the file itself, which can then
            // be read as it stands; a log with changes needs a writer.
            if (!IsEmptyOrMissing(path_ + "-wal"))
                throw RuntimeError(
                    err::kDatabase,
                    "The catalogue " + json::Quote(name_) +
                        " cannot be read in its read-only folder: it is in WAL mode, and the "
                        "changes in its write-ahead log " +
                        json::Quote(path_ + "-wal") + " need the file " +
                        json::Quote(path_ + "-shm") +
                        ", which cannot be created there. As a user who may write the folder, "
                        "run: " +
                        InitCommand() + " (it moves the changes into the catalogue file)");
            rc = Connect(uri + "?mode=ro&immutable=1", flags, true, message);
        }
        if (rc != SQLITE_OK) Fail(rc, "The catalogue ", message);
    }

    bool MayWriteFileAndFolder() const {
        return ::access(path_.c_str(), W_OK) == 0 && ::access(FolderOf(path_).c_str(), W_OK) == 0;
    }

    // A read-only connection may not roll back what an interrupted write
    // left; reading the schema through a read-write one does.
    void RollBackJournal(const std::string& uri) {
        sqlite3* db = nullptr;
        int rc =
            sqlite3_open_v2(uri.c_str(), &db,
                            SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, 5000);
            rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        }
        std::string message = rc == SQLITE_OK ? "" : db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        if (rc != SQLITE_OK && db) rc = sqlite3_extended_errcode(db);
        sqlite3_close_v2(db);
        if (rc != SQLITE_OK)
            Fail(rc, "The catalogue ", "rolling back an interrupted write failed: " + message);
    }

    // The names the catalogue's SQL reads must be ordinary tables: a view
    // or a virtual table would run SQL of the file's choosing, an endless
    // recursive query for one.
    void RefuseWhatIsNoTable() {
        Query(
            "SELECT name, type, sql FROM sqlite_master WHERE lower(name) IN ('task', "
            "'task_grant', 'kevra_migration') AND (type <> 'table' OR upper(substr(ltrim(sql), "
            "1, 14)) = 'CREATE VIRTUAL') AND type NOT IN ('index', 'trigger')",
            {}, [&](const Row& row) {
                const std::string what =
                    row[1].ToString() == "table" ? "a virtual table" : "a " + row[1].ToString();
                throw RuntimeError(err::kBadCatalogue,
                                   "The catalogue " + json::Quote(name_) +
                                       " is not a task catalogue as kevra-catalog writes it: " +
                                       json::Quote(row[0].ToString()) + " is " + what +
                                       ", not a table. Import the tasks into a new catalogue "
                                       "(kevra-catalog init, then kevra-catalog import)");
            });
    }

    // The command that repairs or upgrades this catalogue, as a user types
    // it: a path the tool would not take for SQLite gets "sqlite:".
    std::string InitCommand() const {
        if (is_default_) return "kevra-catalog init \"\"";
        std::string target = path_;
        const CatalogueLocation as_typed = ResolveMachineName(target);
        if (as_typed.kind != StoreKind::kSqlite || as_typed.target != path_)
            target = "sqlite:" + path_;
        const bool plain = target.find_first_not_of(
                               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                               "/._:+,=@-") == std::string::npos;
        return "kevra-catalog init " + (plain ? target : json::Quote(target));
    }

    void StartClock() {
        timeout_ms_ = g_statement_timeout_ms.load();
        deadline_ = Clock::now() + std::chrono::milliseconds(timeout_ms_);
        timed_out_ = false;
    }

    static int OnProgress(void* self) {
        auto* db = static_cast<SqliteDatabase*>(self);
        if (Clock::now() < db->deadline_) return 0;
        db->timed_out_ = true;
        return 1;  // SQLite ends the statement with SQLITE_INTERRUPT
    }

    [[noreturn]] void TooLarge(const std::string& what) const {
        throw RuntimeError(err::kBadCatalogue, "The catalogue " + json::Quote(name_) +
                                                   " is too large to load: " + what +
                                                   " (see docs/catalogues.md, \"Limits\")");
    }
    [[noreturn]] void TooLong() const {
        TooLarge("it holds a value longer than " + MiBText(kReadLimits.max_string_bytes));
    }

    void Close() {
        for (auto& [_, stmt] : statements_) sqlite3_finalize(stmt);
        statements_.clear();
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    void CreatePrivateFile(const std::string& path) {
        size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0)
            MakePrivateDirectories(path.substr(0, slash), name_);
        int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            int error = errno;
            throw RuntimeError(
                error == EACCES ? err::kPermissionDenied : err::kPathAccess,
                "Cannot create the catalogue " + json::Quote(name_) + ": " + ErrnoText(error));
        }
        if (fd >= 0) ::close(fd);
    }

    sqlite3_stmt* Prepare(const std::string& sql) {
        auto it = statements_.find(sql);
        if (it != statements_.end()) return it->second;
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "The catalogue ");
        statements_.emplace(sql, stmt);
        return stmt;
    }

    void Bind(sqlite3_stmt* stmt, int index, const Variant& v) {
        int rc = SQLITE_OK;
        switch (v.type()) {
            case Variant::Type::Empty:
            case Variant::Type::Null:
                rc = sqlite3_bind_null(stmt, index);
                break;
            case Variant::Type::Boolean:
                rc = sqlite3_bind_int(stmt, index, v.BoolValue() ? 1 : 0);
                break;
            case Variant::Type::Int32:
                rc = sqlite3_bind_int(stmt, index, v.Int32Value());
                break;
            case Variant::Type::Int64:
                rc = sqlite3_bind_int64(stmt, index, v.Int64Value());
                break;
            case Variant::Type::Double:
                rc = sqlite3_bind_double(stmt, index, v.DoubleValue());
                break;
            case Variant::Type::String:
                rc = sqlite3_bind_text64(stmt, index, v.StringValue().data(),
                                         v.StringValue().size(), SQLITE_TRANSIENT, SQLITE_UTF8);
                break;
            case Variant::Type::Object:
                throw RuntimeError(err::kTypeMismatch,
                                   "Type mismatch: an object cannot be stored in a catalogue");
        }
        if ((rc & 0xFF) == SQLITE_TOOBIG)
            throw RuntimeError(err::kInvalidArgument,
                               "A value of " + std::to_string(v.StringValue().size()) +
                                   " bytes is longer than any value of the catalogue " +
                                   json::Quote(name_) + " can be (" +
                                   MiBText(kReadLimits.max_string_bytes) + ")");
        if (rc != SQLITE_OK) Fail(rc, "The catalogue ");
    }

    // `text` counts the bytes of text the statement has returned.
    Variant Column(sqlite3_stmt* stmt, int c, size_t& text) {
        switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER: {
                sqlite3_int64 v = sqlite3_column_int64(stmt, c);
                const char* decl = sqlite3_column_decltype(stmt, c);
                if (decl && sqlite3_stricmp(decl, "BOOLEAN") == 0) return Variant::Boolean(v != 0);
                if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
                return Variant(static_cast<int64_t>(v));
            }
            case SQLITE_FLOAT:
                return Variant(sqlite3_column_double(stmt, c));
            case SQLITE_TEXT:
            case SQLITE_BLOB: {
                const char* p = static_cast<const char*>(sqlite3_column_blob(stmt, c));
                const auto n = static_cast<size_t>(sqlite3_column_bytes(stmt, c));
                // A read-write connection has SQLite's own, far larger limit.
                if (n > kReadLimits.max_string_bytes) TooLong();
                text += n;
                if (text > kReadLimits.max_total_text_bytes)
                    TooLarge("a query of it returns more than " +
                             MiBText(kReadLimits.max_total_text_bytes) + " of text");
                return Variant(std::string(p ? p : "", n));
            }
            default:
                return Variant::Null();
        }
    }

    [[noreturn]] void Fail(int rc, const std::string& prefix, std::string message = {}) {
        if (message.empty()) message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        const int primary = rc & 0xFF;
        const std::string who = prefix + json::Quote(name_);
        if (rc == SQLITE_READONLY_ROLLBACK)
            throw RuntimeError(err::kDatabase,
                               who +
                                   " was left half written by an import or other write that "
                                   "did not finish (its journal " +
                                   json::Quote(path_ + "-journal") +
                                   " is still there), and only a user who may write the file and "
                                   "its folder can roll that back. As one, run: " +
                                   InitCommand());
        switch (primary) {
            case SQLITE_INTERRUPT:
                if (!timed_out_) break;
                throw RuntimeError(err::kDatabase,
                                   who + " was given up after " + SecondsText(timeout_ms_) +
                                       " on one query, far longer than a task catalogue needs: "
                                       "the file is damaged, on storage that does not answer, or "
                                       "holds more than a task catalogue");
            case SQLITE_TOOBIG:
                TooLong();
            case SQLITE_READONLY:
                throw RuntimeError(err::kPermissionDenied,
                                   who + " cannot be written: " + message +
                                       " (check the file's and its folder's permissions)");
            case SQLITE_PERM:
            case SQLITE_AUTH:
                throw RuntimeError(err::kPermissionDenied, who + " may not be read: " + message);
            case SQLITE_CANTOPEN:
                throw RuntimeError(err::kPathAccess, who + " cannot be opened: " + message);
            case SQLITE_NOTADB:
            case SQLITE_CORRUPT:
                throw RuntimeError(err::kBadCatalogue,
                                   who + " is not a usable SQLite database: " + message);
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                throw RuntimeError(err::kDatabase, who + " is locked by another program (" +
                                                       message + "); try again when it is done");
            case SQLITE_FULL:
                throw RuntimeError(err::kDatabase, who + " cannot grow: " + message);
            default:
                break;
        }
        throw RuntimeError(err::kDatabase, who + " failed: " + message);
    }

    std::string name_;
    std::string path_;
    bool is_default_;
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
    // The running statement's deadline, and whether it was met.
    Clock::time_point deadline_{};
    int64_t timeout_ms_ = 0;
    bool timed_out_ = false;
};

}  // namespace

void SetSqliteStatementTimeout(std::chrono::milliseconds timeout) {
    g_statement_timeout_ms = std::max<int64_t>(1, timeout.count());
}

std::unique_ptr<Database> OpenSqlite(const CatalogueLocation& loc, OpenMode mode) {
    return std::make_unique<SqliteDatabase>(loc, mode);
}

std::unique_ptr<Database> OpenDatabase(const CatalogueLocation& loc, OpenMode mode) {
    switch (loc.kind) {
        case StoreKind::kSqlite:
            return OpenSqlite(loc, mode);
        case StoreKind::kPostgres:
            return OpenPostgres(loc, mode);
        case StoreKind::kJson:
            break;
    }
    throw RuntimeError(err::kInvalidArgument, "The catalogue " + json::Quote(loc.display) +
                                                  " is a JSON file, not a database");
}

}  // namespace kevra::service
