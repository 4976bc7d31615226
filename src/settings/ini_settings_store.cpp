// File handling of the per-user settings store: locating the directory,
// reading a settings file, and replacing it safely.
//
// A save is read-modify-write under an exclusive flock on DIR/APP.ini.lock.
// The new text replaces DIR/APP.ini through ReplaceFileAt
// (platform/atomic_file.h): a temporary .APP.ini.tmp-XXXXXX in the same
// directory, fsynced, renamed over the file, and the directory fsynced so
// that the rename itself survives a crash. A temporary left behind by a
// writer that was killed is removed by the next save.
//
// Every file is reached through one descriptor of the directory, opened and
// checked once per call, so the directory that passed the check is the one
// read and written even if its path is made to lead elsewhere meanwhile.
#include "settings/ini_settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include "platform/unique_fd.h"
#include <thread>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "settings/ini_document.h"

namespace kevra {
namespace {

// Far above anything this store writes; guards against reading a huge file
// that someone put in the settings file's place. Saves keep to it too, or a
// save would leave a file that every later read refuses.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
// The first pause between tries for a held lock, doubled up to the last: a
// lock freed in a moment is taken at once, a long one costs few wake-ups.
constexpr std::chrono::milliseconds kFirstLockPause{1};
constexpr std::chrono::milliseconds kLongestLockPause{100};

using Fd = UniqueFd;

// A name as it appears in a message: quoted, with control characters shown
// as escapes so that the message stays on one readable line.
std::string ShowName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Reason(int error) { return std::system_category().message(error); }

// What the user can do about an OS error, for the errors a user can fix.
std::string Hint(int error, const std::string& where) {
    switch (error) {
        case EACCES:
        case EPERM:
            return " Check the owner and permissions of " + where + ".";
        case EROFS:
            return " The file system holding " + where + " is read-only.";
        case ENOSPC:
        case EDQUOT:
            return " Free some disk space and try again.";
        case EFBIG:
            return " The process is not allowed to write a file this large.";
        default:
            return "";
    }
}

[[noreturn]] void Fail(const std::string& what, int error, const std::string& where) {
    throw RuntimeError(err::kSettingsStore, what + ": " + Reason(error) + "." + Hint(error, where));
}

// For failures where the message is known before the call: errno is read
// before anything else can change it.
[[noreturn]] void FailErrno(const std::string& what, const std::string& where) {
    int e = errno;
    Fail(what, e, where);
}

[[noreturn]] void BadName(const char* kind, std::string_view name, const std::string& problem) {
    throw RuntimeError(err::kInvalidArgument, "Cannot use " + ShowName(name) + " as a settings " +
                                                  kind + " name: " + problem + ".");
}

std::string ApplicationNameProblem(std::string_view name) {
    if (name.empty()) return "it is empty";
    if (name.find('/') != std::string_view::npos) {
        return "it contains '/', which would place its file outside the settings directory";
    }
    if (name.find("..") != std::string_view::npos) return "it contains '..'";
    if (name.front() == '.') {
        return "it begins with '.', which is reserved for the store's temporary files";
    }
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return "it contains a control character";
    }
    return {};
}

void CheckNames(const std::string& application, const std::string& section,
                const std::string& key) {
    if (std::string p = ApplicationNameProblem(application); !p.empty()) {
        BadName("application", application, p);
    }
    if (std::string p = ini::SectionNameProblem(section); !p.empty()) {
        BadName("section", section, p);
    }
    if (std::string p = ini::KeyNameProblem(key); !p.empty()) BadName("key", key, p);
}

std::string Join(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::string ParentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The whole file `name` in `dir`, or `exists == false` when there is none.
// `path` is how messages name it.
std::string ReadFile(int dir, const std::string& name, const std::string& path, bool& exists) {
    exists = false;
    // O_NONBLOCK: a FIFO in the file's place must not hang the caller.
    // O_NOFOLLOW: through a link, whoever made it would choose what is read.
    Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0) {
        int e = errno;
        if (e == ENOENT) return {};
        if (e == ELOOP) {
            throw RuntimeError(err::kSettingsStore,
                               "The settings file " + ShowName(path) +
                                   " is a symbolic link, which the store does not follow. "
                                   "Replace the link with a copy of the file it points to.");
        }
        Fail("Cannot read the settings file " + ShowName(path), e, "that file and its directory");
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        int e = errno;
        Fail("Cannot read the settings file " + ShowName(path), e, "that file");
    }
    if (!S_ISREG(st.st_mode)) {
        throw RuntimeError(err::kSettingsStore, "The settings file " + ShowName(path) +
                                                    " is not a regular file. Move it away so "
                                                    "that the settings can be kept there.");
    }
    if (st.st_size > kMaxFileSize) {
        throw RuntimeError(err::kSettingsStore,
                           "The settings file " + ShowName(path) +
                               " is larger than 16 MiB, far more than settings take. Move it "
                               "away or remove it.");
    }
    std::string text;
    char buf[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        int e = errno;
        if (n < 0 && e == EINTR) continue;
        if (n < 0) Fail("Cannot read the settings file " + ShowName(path), e, "that file");
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(kMaxFileSize)) {
            throw RuntimeError(err::kSettingsStore, "The settings file " + ShowName(path) +
                                                        " grew beyond 16 MiB while being read.");
        }
    }
    exists = true;
    return text;
}

// mkdir -p, giving the directories it creates owner-only access. Directories
// that exist already keep the permissions their owner chose; the settings
// directory itself is then refused if others can write to it.
void MakeDirectories(const std::string& directory) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    for (size_t i = 1; i <= directory.size(); ++i) {
        if (i < directory.size() && directory[i] != '/') continue;
        std::string prefix = directory.substr(0, i);
        if (prefix.back() == '/') continue;
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            ::chmod(prefix.c_str(), 0700);  // in case the umask took bits away
        } else if (int e = errno; e != EEXIST) {
            Fail("Cannot create the settings directory " + ShowName(prefix), e,
                 ShowName(ParentOf(prefix)));
        }
    }
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw RuntimeError(err::kSettingsStore,
                           "The settings directory " + ShowName(directory) +
                               " cannot be used: a file that is not a directory stands in its "
                               "place. Move it away.");
    }
}

// The rule ssh applies to ~/.ssh: the directory belongs to the user (or to
// root) and no one else may write to it. Anyone who can add entries to it can
// put in a settings file of their own making, or a lock they never release;
// the sticky bit does not help, since it keeps others from removing entries,
// not from adding them.
void CheckDirectoryIsPrivate(int dir, const std::string& directory) {
    const std::string shown = ShowName(directory);
    struct stat st {};
    if (::fstat(dir, &st) != 0) FailErrno("Cannot use the settings directory " + shown, shown);
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        throw RuntimeError(err::kSettingsStore,
                           "The settings directory " + shown + " belongs to another user (uid " +
                               std::to_string(st.st_uid) +
                               "), who could change the settings in it. Use a directory of your "
                               "own (set XDG_CONFIG_HOME) or take it over with chown.");
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw RuntimeError(err::kSettingsStore,
                           "The settings directory " + shown +
                               " can be written by other users (mode " + mode +
                               "), who could change the settings in it. Make it private with "
                               "chmod 700 " +
                               shown + ".");
    }
}

// Takes the exclusive lock, waiting at most `wait` for another holder to
// release it; false when it is still held then.
bool LockWithin(int fd, std::chrono::milliseconds wait, const std::string& failing,
                const std::string& where) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    Clock::duration pause = kFirstLockPause;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        int e = errno;
        if (e == EINTR) continue;
        if (e != EWOULDBLOCK) Fail(failing, e, where);
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min(pause, deadline - now));
        pause = std::min<Clock::duration>(pause * 2, kLongestLockPause);
    }
}

std::string ShowDuration(std::chrono::milliseconds wait) {
    if (wait.count() % 1000 != 0) return std::to_string(wait.count()) + " ms";
    const long long seconds = wait.count() / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

IniSettingsStore::IniSettingsStore(std::string directory, std::chrono::milliseconds lock_wait)
    : directory_(std::move(directory)), lock_wait_(lock_wait) {}

std::string IniSettingsStore::DefaultDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return Join(xdg, "kevra");

    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] != '\0') {
        home = env;
    } else {
        passwd pw{};
        passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 &&
            found != nullptr && pw.pw_dir != nullptr && pw.pw_dir[0] != '\0') {
            home = pw.pw_dir;
        }
    }
    if (home.empty()) {
        throw RuntimeError(err::kSettingsStore,
                           "Cannot find the settings directory: neither XDG_CONFIG_HOME nor HOME "
                           "is set and the user account has no home directory. Set "
                           "XDG_CONFIG_HOME to an absolute path.");
    }
    return Join(Join(home, ".config"), "kevra");
}

std::string IniSettingsStore::Directory() const {
    return directory_.empty() ? DefaultDirectory() : directory_;
}

std::string IniSettingsStore::FilePath(const std::string& application) const {
    if (std::string p = ApplicationNameProblem(application); !p.empty()) {
        BadName("application", application, p);
    }
    return Join(Directory(), application + ".ini");
}

std::string IniSettingsStore::GetSetting(const std::string& application, const std::string& section,
                                         const std::string& key, const std::string& default_value) {
    CheckNames(application, section, key);
    const std::string directory = Directory();
    const std::string path = Join(directory, application + ".ini");
    // Only looked up and checked, never listed: search permission suffices.
#ifdef O_PATH
    Fd dir(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#else
    Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#endif
    if (dir.get() < 0) {
        int e = errno;
        if (e == ENOENT) return default_value;
        Fail("Cannot read the settings file " + ShowName(path), e, "that file and its directory");
    }
    CheckDirectoryIsPrivate(dir.get(), directory);
    bool exists = false;
    std::string text = ReadFile(dir.get(), application + ".ini", path, exists);
    if (!exists) return default_value;
    return ini::IniDocument(text).Get(section, key).value_or(default_value);
}

void IniSettingsStore::SaveSetting(const std::string& application, const std::string& section,
                                   const std::string& key, const std::string& value) {
    CheckNames(application, section, key);
    const std::string directory = Directory();
    const std::string file_name = application + ".ini";
    const std::string path = Join(directory, file_name);
    const std::string saving = "Cannot save settings to " + ShowName(path);
    const std::string dir_shown = ShowName(directory);

    MakeDirectories(directory);
    Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        int e = errno;
        Fail(saving + ": cannot open its directory " + dir_shown, e, dir_shown);
    }
    CheckDirectoryIsPrivate(dir.get(), directory);

    const std::string lock_name = file_name + ".lock";
    const std::string lock_path = Join(directory, lock_name);
    // O_NOFOLLOW: with O_CREAT, a link here would make the store create the
    // file it points to, wherever that is.
    Fd lock(::openat(dir.get(), lock_name.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        int e = errno;
        if (e == ELOOP) {
            throw RuntimeError(err::kSettingsStore,
                               saving + ": its lock file " + ShowName(lock_path) +
                                   " is a symbolic link, which the store does not follow. "
                                   "Remove the link.");
        }
        Fail(saving + ": cannot open its lock file " + ShowName(lock_path), e, dir_shown);
    }
    struct stat lock_stat {};
    if (::fstat(lock.get(), &lock_stat) != 0) {
        FailErrno(saving + ": cannot open its lock file " + ShowName(lock_path), dir_shown);
    }
    if (!S_ISREG(lock_stat.st_mode)) {
        throw RuntimeError(err::kSettingsStore, saving + ": its lock file " + ShowName(lock_path) +
                                                    " is not a regular file. Move it away.");
    }
    if (!LockWithin(lock.get(), lock_wait_, saving + ": cannot lock " + ShowName(lock_path),
                    dir_shown)) {
        throw RuntimeError(err::kSettingsStore,
                           saving + ": another program holds its lock file " + ShowName(lock_path) +
                               " and did not release it within " + ShowDuration(lock_wait_) +
                               ". Close the program that holds it (a host stopped in the middle "
                               "of a save, a backup tool) and try again.");
    }

    RemoveAbandonedTemporariesAt(dir.get(), file_name);

    bool exists = false;
    const std::string old_text = ReadFile(dir.get(), file_name, path, exists);
    ini::IniDocument document(old_text);
    document.Set(section, key, value);
    const std::string new_text = document.Text();
    if (exists && new_text == old_text) return;  // nothing to write, spare the disk
    if (new_text.size() > static_cast<size_t>(kMaxFileSize)) {
        throw RuntimeError(err::kSettingsStore,
                           saving + ": it would grow to " + std::to_string(new_text.size()) +
                               " bytes, beyond the 16 MiB that the store reads back. The file "
                               "is left as it was; store a shorter value.");
    }

    ReplaceAtOptions options;
    options.mode = 0600;  // private whatever the umask says
    const ReplaceOutcome outcome = ReplaceFileAt(dir.get(), file_name, new_text, options);
    switch (outcome.step) {
        case ReplaceStep::kNone:
            return;
        case ReplaceStep::kCreateTemporary:
        case ReplaceStep::kTemporaryTakenAway:
            Fail(saving + ": cannot create a temporary file in " + dir_shown,
                 outcome.error != 0 ? outcome.error : EEXIST, dir_shown);
        case ReplaceStep::kWrite:
            Fail(saving + ": cannot write " + ShowName(Join(directory, outcome.temporary)),
                 outcome.error, dir_shown);
        case ReplaceStep::kRename:
            Fail(saving + ": cannot replace it", outcome.error, dir_shown);
        case ReplaceStep::kSyncFolder:
            break;
    }
    Fail("The settings file " + ShowName(path) +
             " was replaced, but its directory could not be synced, so the change may not "
             "survive a system crash",
         outcome.error, dir_shown);
}

}  // namespace kevra
