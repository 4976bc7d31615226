// The history files: locating them, reading them, changing them under the
// lock.
#include "search/file_history_store.h"

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/private_store.h"

namespace kevra::search {

namespace {

const StoreWords kWords{"history directory",
                        "favourites and history file",
                        "favourites and history",
                        "XDG_STATE_HOME",
                        {}};

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
    return PathIn(Directory(), FileName(user, app));
}

TaskHistory FileHistoryStore::Load(const HistoryKey& key) {
    const std::string directory = Directory();
    const std::string name = FileName(key.user, key.app);
    const std::string path = PathIn(directory, name);
    const UniqueFd dir = OpenFolderToRead(directory, path, kWords);
    if (dir.get() < 0) return {};
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
    const std::string path = PathIn(directory, name);
    const std::string saving = "Cannot save the favourites and history to " + QuotedName(path);
    const LockedFolder held = LockFolderToChange(directory, name, lock_wait_, saving, kWords);

    bool exists = false;
    const std::string old_text =
        ReadStoreFile(held.dir.get(), name, path, kMaxFileBytes, "16 MiB", kWords, exists);
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
