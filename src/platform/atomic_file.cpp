// Replacing a file whole through a locked temporary beside it, and removing
// the temporaries of writers that were killed. Every writer of a whole
// file goes through ReplacementAt, the one sequence of steps: the settings
// store by ReplaceFileAt (it holds a lock of its own around its
// read-modify-write), a writer that names its file by path by
// FileReplacement, in pieces, or ReplaceFile, in one.
//
// Why a lock on the temporary itself, and not an age: a write may take as
// long as it takes (a large export onto a slow disk), so no age tells a
// live writer from a dead one, while the kernel drops an flock the moment
// its holder dies. The one gap, between creating the temporary and locking
// it, is closed from the writer's side: once it holds the lock it checks
// that its file still has a name, and starts again with a new one if a
// cleaner took it in that instant.
#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/json.h"
#include "platform/unique_fd.h"

namespace kevra {
namespace {

constexpr std::string_view kTempInfix = ".tmp-";
constexpr size_t kTempRandomLength = 6;
// A temporary's name must fit NAME_MAX (255) with the dot, the infix and
// the random part; a longer target name is cut for its temporaries.
constexpr size_t kMaxStemLength = 255 - 1 - kTempInfix.size() - kTempRandomLength;
constexpr std::string_view kRandomAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kCreateAttempts = 100;

using Fd = UniqueFd;

struct PathParts {
    std::string folder;  // "." for a bare name
    std::string name;
};

PathParts Split(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string TempPrefix(const std::string& name) {
    return "." + name.substr(0, kMaxStemLength) + std::string(kTempInfix);
}

bool IsTempName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kTempRandomLength || !name.starts_with(prefix)) return false;
    for (char c : name.substr(prefix.size()))
        if (kRandomAlphabet.find(c) == std::string_view::npos) return false;
    return true;
}

std::string RandomSuffix() {
    std::random_device device;
    std::uniform_int_distribution<size_t> pick(0, kRandomAlphabet.size() - 1);
    std::string out;
    for (size_t i = 0; i < kTempRandomLength; ++i) out += kRandomAlphabet[pick(device)];
    return out;
}

std::string Reason(int error) { return std::system_category().message(error); }

// What the user can do about an OS error, for the errors a user can fix.
std::string Hint(int error, const std::string& folder) {
    switch (error) {
        case EACCES:
        case EPERM:
            return " (check the permissions of " + json::Quote(folder) + " and the file)";
        case EROFS:
            return " (the file system is mounted read-only)";
        case ENOSPC:
        case EDQUOT:
            return " (free some disk space and try again)";
        case ENOENT:
            return " (the folder " + json::Quote(folder) + " does not exist)";
        default:
            return "";
    }
}

[[noreturn]] void Fail(const std::string& path, const std::string& what, int error,
                       const std::string& folder) {
    const int32_t number = error == EACCES || error == EPERM || error == EROFS
                               ? err::kPermissionDenied
                               : err::kPathAccess;
    throw RuntimeError(number, "Cannot write " + json::Quote(path) + ": " + what + Reason(error) +
                                   Hint(error, folder));
}

// For failures reported right after the call: errno is read before anything
// can change it.
[[noreturn]] void FailErrno(const std::string& path, const char* what, const std::string& folder) {
    const int error = errno;
    Fail(path, what, error, folder);
}

std::string KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// 0, or the errno of the write that failed.
int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

// Locks the new temporary. False when a cleaner removed it before the lock
// was ours; a file system without flock leaves it unlocked (and its
// temporaries are then never taken for abandoned, see below).
bool LockOwnTemporary(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return true;
    }
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

}  // namespace

size_t RemoveAbandonedTemporariesAt(int dir, const std::string& name) {
    if (name.empty()) return 0;
    const std::string prefix = TempPrefix(name);
    // A descriptor of its own: the listing moves the descriptor's position,
    // and `dir` may be one that cannot be listed (O_PATH).
    const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return 0;  // the write itself reports what is wrong
    DIR* stream = ::fdopendir(listing);
    if (stream == nullptr) {
        ::close(listing);
        return 0;
    }
    std::vector<std::string> candidates;
    while (const dirent* entry = ::readdir(stream)) {
        if (IsTempName(entry->d_name, prefix)) candidates.emplace_back(entry->d_name);
    }
    ::closedir(stream);

    size_t removed = 0;
    for (const std::string& candidate : candidates) {
        Fd fd(::openat(dir, candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) continue;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        // Held by a live writer, or a file system where nobody can lock:
        // either way not provably abandoned.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        // The name must still be the file that was locked.
        struct stat now {};
        if (::fstatat(dir, candidate.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            now.st_dev != st.st_dev || now.st_ino != st.st_ino)
            continue;
        if (::unlinkat(dir, candidate.c_str(), 0) == 0) ++removed;
    }
    return removed;
}

size_t RemoveAbandonedTemporaries(const std::string& path) {
    const PathParts parts = Split(path);
    if (parts.name.empty()) return 0;
    Fd dir(::open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return 0;
    return RemoveAbandonedTemporariesAt(dir.get(), parts.name);
}

ReplacementAt::ReplacementAt(int dir, std::string name, const ReplaceAtOptions& options)
    : dir_(dir), name_(std::move(name)) {
    const std::string prefix = TempPrefix(name_);
    int raw_fd = -1;
    for (int attempt = 0; raw_fd < 0; ++attempt) {
        std::string candidate = prefix + RandomSuffix();
        raw_fd =
            ::openat(dir_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     static_cast<mode_t>(options.create_mode & 0777));
        if (raw_fd < 0) {
            if (errno == EEXIST && attempt < kCreateAttempts) continue;
            Failed(ReplaceStep::kCreateTemporary, errno);
            return;
        }
        outcome_.temporary = candidate;
        temporary_exists_ = true;
        if (!LockOwnTemporary(raw_fd)) {
            ::close(raw_fd);
            raw_fd = -1;
            temporary_exists_ = false;  // already removed by the cleaner
            if (attempt >= kCreateAttempts) {
                Failed(ReplaceStep::kTemporaryTakenAway, 0);
                return;
            }
        }
    }
    out_ = Fd(raw_fd);
    // The flock belongs to the open file, so a second descriptor keeps it
    // until after the rename while the first is closed and its result seen
    // before: close can be where a delayed write error shows up.
    lock_ = Fd(::dup(out_.get()));
    if (lock_.get() < 0) {
        Failed(ReplaceStep::kWrite, errno);
        return;
    }

    if (options.owner || options.group) {
        const uid_t owner = options.owner.value_or(static_cast<uid_t>(-1));
        const gid_t group = options.group.value_or(static_cast<gid_t>(-1));
        if (::fchown(out_.get(), owner, group) != 0 && options.group) {
            (void)!::fchown(out_.get(), static_cast<uid_t>(-1), group);
        }
    }
    if (options.mode && ::fchmod(out_.get(), static_cast<mode_t>(*options.mode & 07777)) != 0)
        Failed(ReplaceStep::kWrite, errno);
}

ReplacementAt::~ReplacementAt() {
    if (temporary_exists_) ::unlinkat(dir_, outcome_.temporary.c_str(), 0);
}

const ReplaceOutcome& ReplacementAt::Failed(ReplaceStep step, int error) {
    outcome_.step = step;
    outcome_.error = error;
    // Before the rename the temporary goes at once: a caller that reports
    // the failure and carries on (or is killed) leaves nothing behind.
    out_ = Fd();
    if (temporary_exists_) ::unlinkat(dir_, outcome_.temporary.c_str(), 0);
    temporary_exists_ = false;
    lock_ = Fd();
    return outcome_;
}

const ReplaceOutcome& ReplacementAt::Write(std::string_view piece) {
    if (!outcome_.ok() || committed_) return outcome_;
    if (int error = WriteAll(out_.get(), piece); error != 0)
        return Failed(ReplaceStep::kWrite, error);
    return outcome_;
}

const ReplaceOutcome& ReplacementAt::Commit() {
    if (!outcome_.ok() || committed_) return outcome_;
    committed_ = true;
    if (::fsync(out_.get()) != 0) return Failed(ReplaceStep::kWrite, errno);
    if (::close(out_.Take()) != 0) return Failed(ReplaceStep::kWrite, errno);
    if (::renameat(dir_, outcome_.temporary.c_str(), dir_, name_.c_str()) != 0)
        return Failed(ReplaceStep::kRename, errno);
    temporary_exists_ = false;

    // Without this the rename may be lost in a crash, bringing the old file
    // back. Some file systems cannot sync a folder; nothing is lost there.
    Fd folder(::openat(dir_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return Failed(ReplaceStep::kSyncFolder, errno);
    if (::fsync(folder.get()) != 0 && errno != EINVAL && errno != ENOTSUP)
        return Failed(ReplaceStep::kSyncFolder, errno);
    lock_ = Fd();
    return outcome_;
}

ReplaceOutcome ReplaceFileAt(int dir, const std::string& name, std::string_view content,
                             const ReplaceAtOptions& options) {
    ReplacementAt replacement(dir, name, options);
    replacement.Write(content);
    return replacement.Commit();
}

FileReplacement::FileReplacement(std::string path, const ReplaceFileOptions& options)
    : path_(std::move(path)) {
    const PathParts parts = Split(path_);
    folder_ = parts.folder;
    if (parts.name.empty() || parts.name == "." || parts.name == "..")
        throw RuntimeError(err::kPathAccess, "Cannot write " + json::Quote(path_) +
                                                 ": it names a folder, not a file; add a file "
                                                 "name");

    struct stat old {};
    bool existed = false;
    if (::lstat(path_.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode))
            throw RuntimeError(err::kPathAccess,
                               "Cannot write " + json::Quote(path_) + ": it is " +
                                   KindOf(old.st_mode) +
                                   ", not a regular file, and is left as it is; name a regular "
                                   "file, or move it away first");
        existed = true;
    } else if (errno != ENOENT) {
        FailErrno(path_, "", folder_);
    }

    RemoveAbandonedTemporaries(path_);

#ifdef O_PATH
    dir_ = Fd(::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#else
    dir_ = Fd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#endif
    if (dir_.get() < 0) FailErrno(path_, "cannot create a temporary file beside it: ", folder_);

    // An existing file's contents may be private: its temporary is the
    // owner's alone until it has the file's own mode. A new file is created
    // with the mode it keeps, so that the umask and default ACLs apply.
    ReplaceAtOptions at;
    if (existed) {
        at.create_mode = 0600;
        at.mode = old.st_mode & 07777;
        // Ownership is kept where we may keep it (a file written by root for
        // a user stays the user's); elsewhere the writer owns the new file,
        // as it would after any replace.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            at.owner = old.st_uid;
            at.group = old.st_gid;
        }
    } else {
        at.create_mode = options.new_file_mode & 0777;
    }
    replacement_.emplace(dir_.get(), parts.name, at);
    ThrowIfFailed(replacement_->outcome());
}

FileReplacement::~FileReplacement() = default;

void FileReplacement::Write(std::string_view piece) { ThrowIfFailed(replacement_->Write(piece)); }

void FileReplacement::Commit() { ThrowIfFailed(replacement_->Commit()); }

void FileReplacement::ThrowIfFailed(const ReplaceOutcome& outcome) const {
    switch (outcome.step) {
        case ReplaceStep::kNone:
            return;
        case ReplaceStep::kCreateTemporary:
            Fail(path_, "cannot create a temporary file beside it: ", outcome.error, folder_);
        case ReplaceStep::kTemporaryTakenAway:
            throw RuntimeError(err::kPathAccess,
                               "Cannot write " + json::Quote(path_) +
                                   ": its temporary files keep being removed by another program");
        case ReplaceStep::kWrite:
            Fail(path_, "", outcome.error, folder_);
        case ReplaceStep::kRename:
            Fail(path_, "cannot rename its temporary file over it: ", outcome.error, folder_);
        case ReplaceStep::kSyncFolder:
            break;
    }
    throw RuntimeError(err::kPathAccess,
                       json::Quote(path_) +
                           " was written, but its folder could not be synced, so the change "
                           "may not survive a system crash: " +
                           Reason(outcome.error));
}

void ReplaceFile(const std::string& path, std::string_view content,
                 const ReplaceFileOptions& options) {
    FileReplacement replacement(path, options);
    replacement.Write(content);
    replacement.Commit();
}

}  // namespace kevra
