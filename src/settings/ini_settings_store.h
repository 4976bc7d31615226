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
#pragma once

#include <string>

#include "platform/settings_store.h"

namespace kevra {

class IniSettingsStore : public SettingsStore {
  public:
    // A store that uses DefaultDirectory(), looked up again at every call so
    // that a missing HOME is reported as the error of that call.
    IniSettingsStore() = default;
    // A store in `directory`; an empty string means the default as above.
    explicit IniSettingsStore(std::string directory);

    // $XDG_CONFIG_HOME/kevra; XDG_CONFIG_HOME defaults to $HOME/.config and,
    // as the XDG rules say, is ignored unless it is an absolute path. Without
    // HOME the home directory of the user's account is taken. Raises a
    // RuntimeError (err::kSettingsStore) when no home directory can be found.
    static std::string DefaultDirectory();

    // DIR/APP.ini. Raises a RuntimeError (err::kInvalidArgument) when
    // `application` cannot name a file in DIR.
    std::string FilePath(const std::string& application) const;

    // A missing directory, file, section or key yields `default_value`. A file
    // that cannot be read raises a RuntimeError (err::kSettingsStore) that
    // names the file and the reason.
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& default_value) override;

    // Creates the directory (0700) and the file (0600) as needed and replaces
    // the file atomically and durably. On failure the old file is left as it
    // was and a RuntimeError (err::kSettingsStore) names the file and the
    // reason; names that cannot be stored raise err::kInvalidArgument before
    // anything is touched.
    void SaveSetting(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) override;

  private:
    std::string Directory() const;

    std::string directory_;  // empty: DefaultDirectory() at each call
};

}  // namespace kevra
