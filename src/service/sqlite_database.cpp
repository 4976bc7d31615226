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
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <system_error>

#include "platform/error.h"
#include "platform/json.h"
#include "service/database.h"

namespace kevra::service {

namespace {

std::string ErrnoText(int error) { return std::generic_category().message(error); }

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
    SqliteDatabase(const CatalogueLocation& loc, OpenMode mode) : name_(loc.display) {
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

        std::string uri = "file:" + UriPath(path);
        int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
        if (mode == OpenMode::kReadOnly) {
            uri += "?mode=ro";
            flags |= SQLITE_OPEN_READONLY;
        } else {
            flags |= SQLITE_OPEN_READWRITE | (mode == OpenMode::kCreate ? SQLITE_OPEN_CREATE : 0);
        }
        try {
            int rc = sqlite3_open_v2(uri.c_str(), &db_, flags, nullptr);
            if (rc != SQLITE_OK) Fail(rc, "The catalogue ");
            sqlite3_extended_result_codes(db_, 1);
            // Another program may be importing: wait for it rather than fail.
            sqlite3_busy_timeout(db_, 5000);
            if (mode == OpenMode::kReadOnly)
                ExecScript("PRAGMA query_only = 1");
            else
                ExecScript("PRAGMA foreign_keys = ON");
            // SQLite reads the header lazily; make a file that is no database
            // fail here, with its own message.
            Execute("SELECT count(*) FROM sqlite_master");
        } catch (...) {
            Close();
            throw;
        }
    }

    ~SqliteDatabase() override { Close(); }

    const std::string& Name() const override { return name_; }
    StoreKind Kind() const override { return StoreKind::kSqlite; }

    void ExecScript(const std::string& sql) override {
        char* message = nullptr;
        int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
        std::string text = message ? message : "";
        sqlite3_free(message);
        if (rc != SQLITE_OK) Fail(rc, "The catalogue ", text);
    }

    void Query(const std::string& sql, const Row& params,
               const std::function<void(const Row&)>& on_row) override {
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
        for (;;) {
            int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) return;
            if (rc != SQLITE_ROW) Fail(rc, "The catalogue ");
            for (int c = 0; c < columns; ++c) row[static_cast<size_t>(c)] = Column(stmt, c);
            on_row(row);
        }
    }

    bool HasTable(const std::string& name) override {
        bool found = false;
        Query("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = $1", {Variant(name)},
              [&](const Row&) { found = true; });
        return found;
    }

  private:
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
        if (rc != SQLITE_OK) Fail(rc, "The catalogue ");
    }

    Variant Column(sqlite3_stmt* stmt, int c) {
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
                int n = sqlite3_column_bytes(stmt, c);
                return Variant(std::string(p ? p : "", static_cast<size_t>(n)));
            }
            default:
                return Variant::Null();
        }
    }

    [[noreturn]] void Fail(int rc, const std::string& prefix, std::string message = {}) {
        if (message.empty()) message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        const int primary = rc & 0xFF;
        const std::string who = prefix + json::Quote(name_);
        switch (primary) {
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
                throw RuntimeError(err::kDatabase, who + " failed: " + message);
        }
    }

    std::string name_;
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

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
