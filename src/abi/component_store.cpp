// The per-user component registry on disk: writing and removing a class
// entry, and looking a ProgID up. POSIX file calls only.
#include "abi/component_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>
#include <vector>

#include "abi/abi_error.h"
#include "abi/guid.h"
#include "platform/ascii.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/json.h"

namespace kevra::abi {

namespace {

constexpr const char* kClassFile = "class.json";
constexpr const char* kTypeInfoFile = "typeinfo.json";
constexpr const char* kToolboxFile = "toolbox.bmp";
// One JSON string literal a line: the absolute paths of the directories that
// registering created, so that unregistering removes those and no others.
constexpr const char* kRecordFile = "registration.json";

[[noreturn]] void Fail(KEVRA_HRESULT result, const std::string& what, int error) {
    std::string message = what + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM || error == EROFS)
        message += " (make the directory writable, or point XDG_DATA_HOME at one that is)";
    throw AbiError(result, message);
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return "";
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Creates `path` and its missing parents (mode 0700, as the XDG rules ask of
// the directories they name) and appends the ones it created to `created`.
void MakeDirectories(const std::string& path, std::vector<std::string>& created) {
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) == 0) {
            created.push_back(prefix);
            continue;
        }
        if (errno != EEXIST)
            Fail(KEVRA_SELFREG_E_CLASS, "cannot create the directory " + prefix, errno);
        struct stat st;
        if (stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw AbiError(KEVRA_SELFREG_E_CLASS,
                           prefix +
                               " is in the way of the component registry: it is not a "
                               "directory (move it aside, or set XDG_DATA_HOME)");
    }
}

// Replaces `path` whole (platform/atomic_file.h): a temporary beside it,
// synced and renamed over it, the folder synced after; the temporary of a
// registration that was killed is removed by the next one. Registry files
// are created readable by all, as the hosts that look classes up may run
// under other accounts.
void WriteWhole(const std::string& path, std::string_view bytes) {
    try {
        ReplaceFile(path, bytes, ReplaceFileOptions{0644});
    } catch (const RuntimeError& e) {
        std::string message = e.Description();
        if (e.Number() == err::kPermissionDenied)
            message += " (make the directory writable, or point XDG_DATA_HOME at one that is)";
        throw AbiError(KEVRA_SELFREG_E_CLASS, message);
    }
}

// The whole file, or false when it does not exist. Other failures throw
// `result`.
bool ReadWhole(const std::string& path, std::string& out, KEVRA_HRESULT result) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        Fail(result, "cannot read " + path, errno);
    }
    out.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            Fail(result, "cannot read " + path, error);
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > (1u << 20)) {
            close(fd);
            throw AbiError(result, path + " is too large to be a registry file");
        }
    }
    close(fd);
    return true;
}

void RemoveFile(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        Fail(KEVRA_SELFREG_E_CLASS, "cannot remove " + path, errno);
}

// Removes an empty directory; one that is gone or holds something else is
// left as it is.
void RemoveEmptyDirectory(const std::string& path) {
    if (rmdir(path.c_str()) != 0 && errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST)
        Fail(KEVRA_SELFREG_E_CLASS, "cannot remove the directory " + path, errno);
}

std::vector<std::string> ReadRecord(const std::string& path) {
    std::vector<std::string> directories;
    std::string text;
    try {
        if (!ReadWhole(path, text, KEVRA_SELFREG_E_CLASS)) return directories;
    } catch (const AbiError&) {
        return directories;  // an unreadable record only costs the empty directories
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string directory, error;
        if (json::Unquote(std::string_view(text).substr(start, end - start), directory, error) &&
            !directory.empty() && directory[0] == '/')
            directories.push_back(directory);
        start = end + 1;
    }
    return directories;
}

std::string ClassJson(const ClassEntry& e) {
    using json::Quote;
    return "{\n  \"class\": " + Quote(e.class_name) + ",\n  \"clsid\": " + Quote(e.clsid) +
           ",\n  \"progId\": " + Quote(e.prog_id) + ",\n  \"version\": " + Quote(e.version) +
           ",\n  \"library\": " + Quote(e.library_path) +
           ",\n  \"threadingModel\": \"Apartment\",\n  \"control\": true" +
           ",\n  \"typeLibrary\": " + Quote(e.type_library_id) +
           ",\n  \"typeInfo\": " + Quote(kTypeInfoFile) +
           ",\n  \"toolboxBitmap\": " + Quote(kToolboxFile) + "\n}\n";
}

void CheckClassId(const std::string& clsid) {
    KEVRA_GUID guid;
    if (!ParseGuid(clsid, guid))
        throw AbiError(KEVRA_CO_E_CLASSSTRING, "\"" + clsid + "\" is not a class id");
}

// ASCII case only: a byte of another script that the locale would lower
// must not make two different names the same.
bool SameText(std::string_view a, std::string_view b) { return SameIgnoringAsciiCase(a, b); }

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string ComponentsDirectory() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
        base = data;
    } else {
        const std::string home = HomeDirectory();
        if (home.empty())
            throw AbiError(KEVRA_SELFREG_E_CLASS,
                           "cannot find the component registry: neither XDG_DATA_HOME nor HOME "
                           "is set and the account has no home directory (set XDG_DATA_HOME)");
        base = home + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/kevra/components";
}

void WriteClassEntry(const ClassEntry& entry) {
    CheckClassId(entry.clsid);
    const std::string base = ComponentsDirectory();
    const std::string directory = base + "/classes/" + entry.clsid;
    const std::string progids = base + "/progids";
    const std::string record = directory + "/" + kRecordFile;

    std::vector<std::string> created;
    std::vector<std::string> new_files;
    try {
        MakeDirectories(directory, created);
        MakeDirectories(progids, created);

        // Directories an earlier registration created are still ours.
        std::vector<std::string> ours = ReadRecord(record);
        for (const auto& d : created)
            if (std::find(ours.begin(), ours.end(), d) == ours.end()) ours.push_back(d);
        std::string record_text;
        for (const auto& d : ours) record_text += json::Quote(d) + "\n";

        const std::string bmp(entry.toolbox_bmp.begin(), entry.toolbox_bmp.end());
        const std::pair<std::string, std::string> files[] = {
            {record, record_text},
            {directory + "/" + kClassFile, ClassJson(entry)},
            {directory + "/" + kTypeInfoFile, entry.type_info_json + "\n"},
            {directory + "/" + kToolboxFile, bmp},
            // Last: a lookup by ProgID finds only a complete entry.
            {progids + "/" + entry.prog_id, entry.clsid + "\n"},
        };
        for (const auto& [path, bytes] : files) {
            const bool existed = Exists(path);
            WriteWhole(path, bytes);
            if (!existed) new_files.push_back(path);
        }
    } catch (...) {
        for (const auto& f : new_files) unlink(f.c_str());
        for (auto d = created.rbegin(); d != created.rend(); ++d) rmdir(d->c_str());
        throw;
    }
}

void RemoveClassEntry(const std::string& clsid, const std::string& prog_id) {
    CheckClassId(clsid);
    const std::string base = ComponentsDirectory();
    const std::string directory = base + "/classes/" + clsid;
    const std::string progid_file = base + "/progids/" + prog_id;

    std::vector<std::string> ours = ReadRecord(directory + "/" + kRecordFile);
    for (const char* name : {kClassFile, kTypeInfoFile, kToolboxFile})
        RemoveFile(directory + "/" + name);

    // The ProgID may have been registered since by another class (a newer
    // library); then it is not ours to remove.
    std::string text;
    if (ReadWhole(progid_file, text, KEVRA_SELFREG_E_CLASS) && SameText(Trimmed(text), clsid))
        RemoveFile(progid_file);

    // The record goes last, so that a failure above can be retried.
    RemoveFile(directory + "/" + kRecordFile);
    RemoveEmptyDirectory(directory);
    std::sort(ours.begin(), ours.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const auto& d : ours) RemoveEmptyDirectory(d);
}

std::string ClassIdOfProgId(const std::string& prog_id) {
    if (prog_id.empty() || prog_id == "." || prog_id == ".." ||
        prog_id.find('/') != std::string::npos || prog_id.size() > 255)
        throw AbiError(KEVRA_E_INVALIDARG, "\"" + prog_id + "\" is not a ProgID (a name such as " +
                                               "KevraTaskList.ctlKevraTaskList, without slashes)");
    const std::string base = ComponentsDirectory();
    const std::string path = base + "/progids/" + prog_id;
    std::string text;
    if (!ReadWhole(path, text, KEVRA_REGDB_E_READREGDB))
        throw AbiError(KEVRA_REGDB_E_CLASSNOTREG,
                       "no component is registered under the ProgID \"" + prog_id + "\" in " +
                           base + " (register its library with DllRegisterServer first)");
    const std::string clsid = Trimmed(text);
    KEVRA_GUID guid;
    if (!ParseGuid(clsid, guid))
        throw AbiError(KEVRA_REGDB_E_READREGDB,
                       path + " does not hold a class id (register the component again)");
    return clsid;
}

}  // namespace kevra::abi
