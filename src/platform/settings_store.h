// The per-user settings store as the control sees it: string values
// addressed by application name, section and key.
//
// The file-backed implementation lives in src/settings/ (IniSettingsStore);
// tests and hosts may supply their own.
#pragma once

#include <string>

namespace kevra {

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // The stored value, or `default_value` when the key is absent. Raises a
    // RuntimeError when the store cannot be read.
    virtual std::string GetSetting(const std::string& application, const std::string& section,
                                   const std::string& key, const std::string& default_value) = 0;
    // Stores `value` exactly as given. Raises a RuntimeError when the store
    // cannot be written; the stored values are then unchanged.
    virtual void SaveSetting(const std::string& application, const std::string& section,
                             const std::string& key, const std::string& value) = 0;
};

}  // namespace kevra
