// The per-user settings store on disk: one INI file per application name.
//
// The file of application APP is DIR/APP.ini, where DIR is the directory the
// store was made for (by default $XDG_CONFIG_HOME/kevra, see
// DefaultDirectory). Reads take no lock: a save replaces the file by renaming
// a complete new one over it, so a reader sees the old text or the new, never
// a mixture. Saves of one application are serialised between processes by an
// flock on DIR/APP.ini.lock. That lock lives in its own file because the data
// file's inode changes with every save, so a lock held on it would not
// exclude a writer that opened the file after the rename. docs/settings.md
// describes the file for integrators.
//
// The store trusts its directory only while no other user can change what is
// in it: a directory that others can write to, or that belongs to another
// user, is refused, and names in it are opened without following symbolic
// links, so that nobody can point a save or a read at a file of their choice.
#pragma once

#include <chrono>
#include <string>

#include "kevra/platform/settings_store.h"

namespace kevra {

class IniSettingsStore : public SettingsStore {
  public:
    // How long a save waits for the lock that another writer holds. A save
    // holds it for milliseconds, a slow disk's sync for a second or two; a
    // lock held longer belongs to a process that is stopped or that keeps it
    // on purpose, and a host whose double-click waits for it would hang.
    static constexpr std::chrono::milliseconds kLockWait{5000};

    // A store that uses DefaultDirectory(), looked up again at every call so
    // that a missing HOME is reported as the error of that call.
    IniSettingsStore() = default;
    // A store in `directory`; an empty string means the default as above.
    // `lock_wait` bounds the wait for another writer's lock.
    explicit IniSettingsStore(std::string directory,
                              std::chrono::milliseconds lock_wait = kLockWait);

    // $XDG_CONFIG_HOME/kevra; XDG_CONFIG_HOME defaults to $HOME/.config and,
    // as the XDG rules say, is ignored unless it is an absolute path. Without
    // HOME the home directory of the user's account is taken. Raises a
    // RuntimeError (err::kSettingsStore) when no home directory can be found.
    static std::string DefaultDirectory();

    // DIR/APP.ini. Raises a RuntimeError (err::kInvalidArgument) when
    // `application` cannot name a file in DIR.
    std::string FilePath(const std::string& application) const;

    // A missing directory, file, section or key yields `default_value`. A file
    // that cannot be read (a symbolic link among them), or a directory that
    // others can write to, raises a RuntimeError (err::kSettingsStore) that
    // names the file or directory and the reason.
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& default_value) override;

    // Creates the directory (0700) and the file (0600) as needed and replaces
    // the file atomically and durably. On failure the old file is left as it
    // was and a RuntimeError (err::kSettingsStore) names the file and the
    // reason: among others a directory that others can write to, a lock that
    // another process holds for longer than the lock wait, and a file that
    // would grow beyond what GetSetting reads. Names that cannot be stored
    // raise err::kInvalidArgument before anything is touched.
    void SaveSetting(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) override;

  private:
    std::string Directory() const;

    std::string directory_;  // empty: DefaultDirectory() at each call
    std::chrono::milliseconds lock_wait_ = kLockWait;
};

}  // namespace kevra
