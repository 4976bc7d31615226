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

#include <cerrno>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/private_store.h"
#include "settings/ini_document.h"

namespace kevra {
namespace {

// Far above anything this store writes; guards against reading a huge file
// that someone put in the settings file's place. Saves keep to it too, or a
// save would leave a file that every later read refuses.
constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

const StoreWords kWords{"settings directory", "settings file", "settings", "XDG_CONFIG_HOME",
                        "a host stopped in the middle of a save, a backup tool"};

[[noreturn]] void BadName(const char* kind, std::string_view name, const std::string& problem) {
    throw RuntimeError(err::kInvalidArgument, "Cannot use " + QuotedName(name) + " as a settings " +
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

// The whole file `name` in `dir`, or `exists == false` when there is none.
// `path` is how messages name it.
std::string ReadFile(int dir, const std::string& name, const std::string& path, bool& exists) {
    return ReadStoreFile(dir, name, path, kMaxFileSize, "16 MiB", kWords, exists);
}

}  // namespace

IniSettingsStore::IniSettingsStore(std::string directory, std::chrono::milliseconds lock_wait)
    : directory_(std::move(directory)), lock_wait_(lock_wait) {}

std::string IniSettingsStore::DefaultDirectory() { return UserDirectory(".config", kWords); }

std::string IniSettingsStore::Directory() const {
    return directory_.empty() ? DefaultDirectory() : directory_;
}

std::string IniSettingsStore::FilePath(const std::string& application) const {
    if (std::string p = ApplicationNameProblem(application); !p.empty()) {
        BadName("application", application, p);
    }
    return PathIn(Directory(), application + ".ini");
}

std::string IniSettingsStore::GetSetting(const std::string& application, const std::string& section,
                                         const std::string& key, const std::string& default_value) {
    CheckNames(application, section, key);
    const std::string directory = Directory();
    const std::string path = PathIn(directory, application + ".ini");
    const UniqueFd dir = OpenFolderToRead(directory, path, kWords);
    if (dir.get() < 0) return default_value;
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
    const std::string path = PathIn(directory, file_name);
    const std::string saving = "Cannot save settings to " + QuotedName(path);
    const std::string dir_shown = QuotedName(directory);
    const LockedFolder held = LockFolderToChange(directory, file_name, lock_wait_, saving, kWords);
    const int dir = held.dir.get();

    RemoveAbandonedTemporariesAt(dir, file_name);

    bool exists = false;
    const std::string old_text = ReadFile(dir, file_name, path, exists);
    ini::IniDocument document(old_text);
    document.Set(section, key, value);
    const std::string new_text = document.Text();
    if (exists && new_text == old_text) return;  // nothing to write, spare the disk
    if (new_text.size() > kMaxFileSize) {
        throw RuntimeError(err::kSettingsStore,
                           saving + ": it would grow to " + std::to_string(new_text.size()) +
                               " bytes, beyond the 16 MiB that the store reads back. The file "
                               "is left as it was; store a shorter value.");
    }

    ReplaceAtOptions options;
    options.mode = 0600;  // private whatever the umask says
    const ReplaceOutcome outcome = ReplaceFileAt(dir, file_name, new_text, options);
    switch (outcome.step) {
        case ReplaceStep::kNone:
            return;
        case ReplaceStep::kCreateTemporary:
        case ReplaceStep::kTemporaryTakenAway:
            FailOs(saving + ": cannot create a temporary file in " + dir_shown,
                   outcome.error != 0 ? outcome.error : EEXIST, dir_shown);
        case ReplaceStep::kWrite:
            FailOs(saving + ": cannot write " + QuotedName(PathIn(directory, outcome.temporary)),
                   outcome.error, dir_shown);
        case ReplaceStep::kRename:
            FailOs(saving + ": cannot replace it", outcome.error, dir_shown);
        case ReplaceStep::kSyncFolder:
            break;
    }
    FailOs("The settings file " + QuotedName(path) +
               " was replaced, but its directory could not be synced, so the change may not "
               "survive a system crash",
           outcome.error, dir_shown);
}

}  // namespace kevra
