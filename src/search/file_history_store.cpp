// The history files: locating them, reading them, changing them under the
// lock.
#include "search/file_history_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/private_store.h"
#include "platform/unique_fd.h"

namespace kevra::search {

namespace {

const StoreWords kWords{"history directory", "favourites and history file",
                        "favourites and history", "XDG_STATE_HOME"};

using Fd = UniqueFd;

std::string Join(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::string FileName(int32_t user, int32_t app) {
    return "history-user" + std::to_string(user) + "-app" + std::to_string(app) + ".txt";
}

}  // namespace

FileHistoryStore::FileHistoryStore(std::string directory, std::chrono::milliseconds lock_wait)
    : directory_(std::move(directory)), lock_wait_(lock_wait) {}

std::string FileHistoryStore::DefaultDirectory() { return UserDirectory(".local/state", kWords); }

std::string FileHistoryStore::Directory() const {
    return directory_.empty() ? DefaultDirectory() : directory_;
}

std::string FileHistoryStore::FilePath(int32_t user, int32_t app) const {
    return Join(Directory(), FileName(user, app));
}

TaskHistory FileHistoryStore::Load(const HistoryKey& key) {
    const std::string directory = Directory();
    const std::string name = FileName(key.user, key.app);
    const std::string path = Join(directory, name);
    // Only looked up and checked, never listed: search permission suffices.
#ifdef O_PATH
    Fd dir(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#else
    Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#endif
    if (dir.get() < 0) {
        const int e = errno;
        if (e == ENOENT) return {};
        FailOs("Cannot read the favourites and history file " + QuotedName(path), e,
               "that file and its directory");
    }
    CheckDirectoryIsPrivate(dir.get(), directory, kWords);
    bool exists = false;
    const std::string text =
        ReadStoreFile(dir.get(), name, path, kMaxFileBytes, "16 MiB", kWords, exists);
    if (!exists) return {};
    HistoryFile file = ReadHistoryFile(text, path);
    const TaskHistory* history = file.Find(key.catalogue);
    return history ? *history : TaskHistory();
}

TaskHistory FileHistoryStore::Update(const HistoryKey& key,
                                     const std::function<void(TaskHistory&)>& change) {
    const std::string directory = Directory();
    const std::string name = FileName(key.user, key.app);
    const std::string path = Join(directory, name);
    const std::string saving = "Cannot save the favourites and history to " + QuotedName(path);
    const std::string dir_shown = QuotedName(directory);

    MakePrivateDirectories(directory, kWords);
    Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        const int e = errno;
        FailOs(saving + ": cannot open its directory " + dir_shown, e, dir_shown);
    }
    CheckDirectoryIsPrivate(dir.get(), directory, kWords);

    // The data file's inode changes with every save, so the lock lives in
    // a file of its own. O_NOFOLLOW: with O_CREAT, a link here would make
    // the store create the file it points to, wherever that is.
    const std::string lock_name = name + ".lock";
    const std::string lock_path = Join(directory, lock_name);
    Fd lock(::openat(dir.get(), lock_name.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        const int e = errno;
        if (e == ELOOP)
            throw RuntimeError(err::kSettingsStore,
                               saving + ": its lock file " + QuotedName(lock_path) +
                                   " is a symbolic link, which the store does not "
                                   "follow. Remove the link.");
        FailOs(saving + ": cannot open its lock file " + QuotedName(lock_path), e, dir_shown);
    }
    struct stat lock_stat {};
    if (::fstat(lock.get(), &lock_stat) != 0) {
        const int e = errno;
        FailOs(saving + ": cannot open its lock file " + QuotedName(lock_path), e, dir_shown);
    }
    if (!S_ISREG(lock_stat.st_mode))
        throw RuntimeError(err::kSettingsStore, saving + ": its lock file " +
                                                    QuotedName(lock_path) +
                                                    " is not a regular file. Move it away.");
    if (int error = 0; !LockWithin(lock.get(), lock_wait_, error)) {
        if (error != 0) FailOs(saving + ": cannot lock " + QuotedName(lock_path), error, dir_shown);
        throw RuntimeError(err::kSettingsStore,
                           saving + ": another program holds its lock file " +
                               QuotedName(lock_path) + " and did not release it within " +
                               DurationText(lock_wait_) +
                               ". Close the program that holds it and try again.");
    }

    bool exists = false;
    const std::string old_text =
        ReadStoreFile(dir.get(), name, path, kMaxFileBytes, "16 MiB", kWords, exists);
    HistoryFile file = ReadHistoryFile(old_text, path);
    TaskHistory& history = file.Get(key.catalogue);
    change(history);
    TaskHistory result = history;
    const std::string new_text = WriteHistoryFile(file);
    // Nothing to write, spare the disk (and make no file for nothing).
    if (exists ? new_text == old_text : new_text == WriteHistoryFile({})) return result;
    if (new_text.size() > kMaxFileBytes)
        throw RuntimeError(err::kSettingsStore,
                           saving +
                               ": it would grow beyond the 16 MiB that the store reads back. "
                               "The file is left as it was; move it away to start afresh.");
    ReplaceFile(path, new_text, ReplaceFileOptions{0600});
    return result;
}

}  // namespace kevra::search
