// The per-user stores' folder, file and lock handling.
#include "platform/private_store.h"

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
#include <thread>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/unique_fd.h"

namespace kevra {
namespace {

// The first pause between tries for a held lock, doubled up to the last: a
// lock freed in a moment is taken at once, a long one costs few wake-ups.
constexpr std::chrono::milliseconds kFirstLockPause{1};
constexpr std::chrono::milliseconds kLongestLockPause{100};

std::string ParentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string PathIn(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::string UserDirectory(std::string_view home_relative, const StoreWords& words) {
    const std::string variable(words.variable);
    const char* xdg = std::getenv(variable.c_str());
    if (xdg != nullptr && xdg[0] == '/') {
        std::string dir = xdg;
        return dir + (dir.back() == '/' ? "kevra" : "/kevra");
    }
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
                           "Cannot find the " + std::string(words.folder) + ": neither " +
                               variable +
                               " nor HOME is set and the user account has no home "
                               "directory. Set " +
                               variable + " to an absolute path.");
    }
    if (home.back() != '/') home += '/';
    return home + std::string(home_relative) + "/kevra";
}

std::string QuotedName(std::string_view name) {
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

std::string OsErrorText(int error, const std::string& where) {
    std::string text = std::system_category().message(error) + ".";
    switch (error) {
        case EACCES:
        case EPERM:
            return text + " Check the owner and permissions of " + where + ".";
        case EROFS:
            return text + " The file system holding " + where + " is read-only.";
        case ENOSPC:
        case EDQUOT:
            return text + " Free some disk space and try again.";
        case EFBIG:
            return text + " The process is not allowed to write a file this large.";
        default:
            return text;
    }
}

void FailOs(const std::string& what, int error, const std::string& where) {
    throw RuntimeError(err::kSettingsStore, what + ": " + OsErrorText(error, where));
}

void MakePrivateDirectories(const std::string& directory, const StoreWords& words) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    for (size_t i = 1; i <= directory.size(); ++i) {
        if (i < directory.size() && directory[i] != '/') continue;
        std::string prefix = directory.substr(0, i);
        if (prefix.back() == '/') continue;
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            ::chmod(prefix.c_str(), 0700);  // in case the umask took bits away
        } else if (int e = errno; e != EEXIST) {
            FailOs("Cannot create the " + std::string(words.folder) + " " + QuotedName(prefix), e,
                   QuotedName(ParentOf(prefix)));
        }
    }
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw RuntimeError(err::kSettingsStore,
                           "The " + std::string(words.folder) + " " + QuotedName(directory) +
                               " cannot be used: a file that is not a directory stands in its "
                               "place. Move it away.");
    }
}

void CheckDirectoryIsPrivate(int dir, const std::string& directory, const StoreWords& words) {
    const std::string shown = QuotedName(directory);
    struct stat st {};
    if (::fstat(dir, &st) != 0) {
        const int e = errno;
        FailOs("Cannot use the " + std::string(words.folder) + " " + shown, e, shown);
    }
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        throw RuntimeError(err::kSettingsStore,
                           "The " + std::string(words.folder) + " " + shown +
                               " belongs to another user (uid " + std::to_string(st.st_uid) +
                               "), who could change the " + std::string(words.contents) +
                               " in it. Use a directory of your own (set " +
                               std::string(words.variable) + ") or take it over with chown.");
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw RuntimeError(err::kSettingsStore,
                           "The " + std::string(words.folder) + " " + shown +
                               " can be written by other users (mode " + mode +
                               "), who could change the " + std::string(words.contents) +
                               " in it. Make it private with chmod 700 " + shown + ".");
    }
}

std::string ReadStoreFile(int dir, const std::string& name, const std::string& path,
                          size_t max_bytes, std::string_view max_text, const StoreWords& words,
                          bool& exists) {
    exists = false;
    const std::string file = "The " + std::string(words.file) + " " + QuotedName(path);
    const std::string reading =
        "Cannot read the " + std::string(words.file) + " " + QuotedName(path);
    // O_NONBLOCK: a FIFO in the file's place must not hang the caller.
    // O_NOFOLLOW: through a link, whoever made it would choose what is read.
    UniqueFd fd(::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0) {
        int e = errno;
        if (e == ENOENT) return {};
        if (e == ELOOP) {
            throw RuntimeError(err::kSettingsStore,
                               file +
                                   " is a symbolic link, which the store does not "
                                   "follow. Replace the link with a copy of the file "
                                   "it points to.");
        }
        FailOs(reading, e, "that file and its directory");
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        const int e = errno;
        FailOs(reading, e, "that file");
    }
    if (!S_ISREG(st.st_mode)) {
        throw RuntimeError(err::kSettingsStore,
                           file + " is not a regular file. Move it away so that the " +
                               std::string(words.contents) + " can be kept there.");
    }
    if (static_cast<uintmax_t>(st.st_size) > max_bytes) {
        throw RuntimeError(err::kSettingsStore,
                           file + " is larger than " + std::string(max_text) + ", far more than " +
                               std::string(words.contents) + " take. Move it away or remove it.");
    }
    std::string text;
    char buf[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        int e = errno;
        if (n < 0 && e == EINTR) continue;
        if (n < 0) FailOs(reading, e, "that file");
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > max_bytes) {
            throw RuntimeError(err::kSettingsStore, file + " grew beyond " + std::string(max_text) +
                                                        " while being read.");
        }
    }
    exists = true;
    return text;
}

bool LockWithin(int fd, std::chrono::milliseconds wait, int& error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    Clock::duration pause = kFirstLockPause;
    error = 0;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        int e = errno;
        if (e == EINTR) continue;
        if (e != EWOULDBLOCK) {
            error = e;
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min(pause, deadline - now));
        pause = std::min<Clock::duration>(pause * 2, kLongestLockPause);
    }
}

std::string DurationText(std::chrono::milliseconds wait) {
    if (wait.count() % 1000 != 0) return std::to_string(wait.count()) + " ms";
    const long long seconds = wait.count() / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

UniqueFd OpenFolderToRead(const std::string& directory, const std::string& path,
                          const StoreWords& words) {
#ifdef O_PATH
    UniqueFd dir(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#else
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#endif
    if (dir.get() < 0) {
        const int e = errno;
        if (e == ENOENT) return dir;
        FailOs("Cannot read the " + std::string(words.file) + " " + QuotedName(path), e,
               "that file and its directory");
    }
    CheckDirectoryIsPrivate(dir.get(), directory, words);
    return dir;
}

LockedFolder LockFolderToChange(const std::string& directory, const std::string& name,
                                std::chrono::milliseconds wait, const std::string& saving,
                                const StoreWords& words) {
    const std::string dir_shown = QuotedName(directory);
    LockedFolder held;
    MakePrivateDirectories(directory, words);
    held.dir = UniqueFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (held.dir.get() < 0) {
        const int e = errno;
        FailOs(saving + ": cannot open its directory " + dir_shown, e, dir_shown);
    }
    CheckDirectoryIsPrivate(held.dir.get(), directory, words);

    const std::string lock_name = name + ".lock";
    const std::string lock_shown = QuotedName(PathIn(directory, lock_name));
    // O_NOFOLLOW: with O_CREAT, a link here would make the store create the
    // file it points to, wherever that is.
    held.lock = UniqueFd(::openat(held.dir.get(), lock_name.c_str(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (held.lock.get() < 0) {
        const int e = errno;
        if (e == ELOOP) {
            throw RuntimeError(err::kSettingsStore,
                               saving + ": its lock file " + lock_shown +
                                   " is a symbolic link, which the store does not follow. "
                                   "Remove the link.");
        }
        FailOs(saving + ": cannot open its lock file " + lock_shown, e, dir_shown);
    }
    struct stat lock_stat {};
    if (::fstat(held.lock.get(), &lock_stat) != 0) {
        const int e = errno;
        FailOs(saving + ": cannot open its lock file " + lock_shown, e, dir_shown);
    }
    if (!S_ISREG(lock_stat.st_mode)) {
        throw RuntimeError(err::kSettingsStore, saving + ": its lock file " + lock_shown +
                                                    " is not a regular file. Move it away.");
    }
    if (int error = 0; !LockWithin(held.lock.get(), wait, error)) {
        if (error != 0) FailOs(saving + ": cannot lock " + lock_shown, error, dir_shown);
        const std::string holders =
            words.lock_holders.empty() ? "" : " (" + std::string(words.lock_holders) + ")";
        throw RuntimeError(err::kSettingsStore,
                           saving + ": another program holds its lock file " + lock_shown +
                               " and did not release it within " + DurationText(wait) +
                               ". Close the program that holds it" + holders + " and try again.");
    }
    return held;
}

}  // namespace kevra
