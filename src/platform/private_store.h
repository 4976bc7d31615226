// What the per-user stores share (the settings store, the favourites and
// history store): a folder only the user can change, files in it read
// without following links, an exclusive lock whose wait is bounded, and
// messages that name the file and say what to do. POSIX calls; the core
// never uses this, the stores' own libraries do.
//
// A store trusts its folder only while no other user can change what is in
// it: a folder that others can write to, or that belongs to another user,
// is refused, since anyone who can add entries to it can put in a file of
// their own making or a lock they never release (the sticky bit keeps
// others from removing entries, not from adding them).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace kevra {

// How a store names itself in its messages. Its failures are all
// RuntimeErrors numbered err::kSettingsStore.
struct StoreWords {
    std::string_view folder;    // "settings directory"
    std::string_view file;      // "settings file"
    std::string_view contents;  // "the settings"
    std::string_view variable;  // "XDG_CONFIG_HOME": where the user picks the folder
    // Who may hold the lock too long, for the advice when it is ("a backup
    // tool"); empty to name no one.
    std::string_view lock_holders;
};

// `name` in `directory`.
std::string PathIn(const std::string& directory, const std::string& name);

// VARIABLE/kevra when the environment variable `words.variable` holds an
// absolute path (the XDG rule: a relative one is ignored), otherwise
// HOME/`home_relative`/kevra, the home directory taken from the user's
// account when HOME is unset. Raises when there is no home directory.
std::string UserDirectory(std::string_view home_relative, const StoreWords& words);

// A name as it appears in a message: quoted, with control characters shown
// as escapes so that the message stays on one readable line.
std::string QuotedName(std::string_view name);

// The system's text for an OS error, a full stop, and what the user can do
// about it when that is clear (permissions of `where`, a read-only file
// system, a full disk).
std::string OsErrorText(int error, const std::string& where);

// Raises a RuntimeError (err::kSettingsStore): `what`, ": " and
// OsErrorText(error, where).
[[noreturn]] void FailOs(const std::string& what, int error, const std::string& where);

// Creates `directory` and its missing parents with owner-only access
// (folders that exist keep the permissions their owner chose). Raises when
// one cannot be created or a file stands in the folder's place.
void MakePrivateDirectories(const std::string& directory, const StoreWords& words);

// Raises unless the folder open as `dir` belongs to the user (or to root)
// and no one else may write to it.
void CheckDirectoryIsPrivate(int dir, const std::string& directory, const StoreWords& words);

// The whole file `name` in the folder open as `dir`, or `exists` false when
// there is none. Refuses a symbolic link, anything but a regular file, and a
// file larger than `max_bytes` (named `max_text` in the message, "16 MiB").
// `path` is how messages name the file.
std::string ReadStoreFile(int dir, const std::string& name, const std::string& path,
                          size_t max_bytes, std::string_view max_text, const StoreWords& words,
                          bool& exists);

// Takes an exclusive flock on `fd`, waiting at most `wait` for another
// holder to release it. True when taken; false when still held then
// (`error` 0) or when the lock call failed (`error` the errno).
bool LockWithin(int fd, std::chrono::milliseconds wait, int& error);

// "5 seconds", "1 second", "300 ms".
std::string DurationText(std::chrono::milliseconds wait);

// The sequences a store runs these in, so that every store reads and
// changes its files alike.

// The folder held open to read the file `path` in it, and checked private;
// no descriptor (-1) when the folder does not exist, as nothing was stored
// yet. Only looked up and checked, never listed: search permission
// suffices.
UniqueFd OpenFolderToRead(const std::string& directory, const std::string& path,
                          const StoreWords& words);

// The folder, created as needed, held open and checked private, and the
// exclusive lock of its file `name` taken, on NAME.lock beside it: the data
// file's inode changes with every save, so a lock held on it would not
// exclude a writer that opened it after the rename. Waits at most `wait`
// for another holder. Every message begins with `saving` ("Cannot save
// settings to PATH"). The lock is released when `lock` closes.
struct LockedFolder {
    UniqueFd dir;
    UniqueFd lock;
};
LockedFolder LockFolderToChange(const std::string& directory, const std::string& name,
                                std::chrono::milliseconds wait, const std::string& saving,
                                const StoreWords& words);

}  // namespace kevra
