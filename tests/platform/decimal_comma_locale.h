// A C locale whose decimal separator is a comma, for the tests that prove
// numbers convert to and from text the same way under every locale. A
// desktop host takes its locale from the environment; a German desktop is
// the common case that writes 2.5 as "2,5". When no such locale is
// installed, de_DE.UTF-8 is made with localedef (from the Debian package
// `locales`) into a folder of the test's own, which LOCPATH then names.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

extern char** environ;

namespace kevra::locale_test {

// Whether the current LC_NUMERIC writes a decimal comma.
inline bool DecimalPointIsComma() {
    const std::lconv* conventions = std::localeconv();
    return conventions != nullptr && conventions->decimal_point != nullptr &&
           std::string(conventions->decimal_point) == ",";
}

namespace detail {

// Sets LC_ALL to `name`; true when that worked and writes a decimal comma.
inline bool TryLocale(const char* name) {
    return std::setlocale(LC_ALL, name) != nullptr && DecimalPointIsComma();
}

inline std::filesystem::path LocaleFolder() {
    if (const char* tmp = std::getenv("KEVRA_TEST_TMP"); tmp != nullptr && *tmp != '\0')
        return std::filesystem::path(tmp) / "locales";
    return std::filesystem::temp_directory_path() /
           ("kevra-test-locales-" + std::to_string(getuid()));
}

// Makes de_DE.UTF-8 in `folder` unless an earlier test made it there: runs
// localedef into a scratch folder and moves the result into place in one
// rename, so that test processes running side by side
// never see half a locale.
inline bool MakeGermanLocale(const std::filesystem::path& folder, std::string& why) {
    std::error_code ec;
    if (std::filesystem::exists(folder / "de_DE.UTF-8" / "LC_NUMERIC", ec)) return true;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        why = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    std::string scratch_template = (folder / "making-XXXXXX").string();
    if (mkdtemp(scratch_template.data()) == nullptr) {
        why = "cannot create a scratch folder in " + folder.string();
        return false;
    }
    const std::filesystem::path scratch = scratch_template;
    const std::string made = (scratch / "de_DE.UTF-8").string();
    const char* argv[] = {"localedef", "-i", "de_DE", "-f", "UTF-8", made.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int status = -1;
    const int spawned =
        posix_spawnp(&pid, "localedef", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) waitpid(pid, &status, 0);
    // localedef exits with 1 after mere warnings; the locale it wrote is whole.
    if (std::filesystem::exists(std::filesystem::path(made) / "LC_NUMERIC", ec))
        std::filesystem::rename(made, folder / "de_DE.UTF-8", ec);  // taken: another made it
    std::filesystem::remove_all(scratch, ec);
    if (!std::filesystem::exists(folder / "de_DE.UTF-8" / "LC_NUMERIC", ec)) {
        why = spawned != 0 ? "localedef cannot be run"
                           : "localedef could not make de_DE.UTF-8 (exit status " +
                                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
        return false;
    }
    return true;
}

}  // namespace detail

// While it lives, LC_ALL is a locale with a decimal comma; the locale and
// LOCPATH as they were come back when it goes. When none can be had,
// ok() is false and why() says what to install.
class ScopedDecimalCommaLocale {
  public:
    ScopedDecimalCommaLocale() {
        if (const char* current = std::setlocale(LC_ALL, nullptr)) previous_ = current;
        if (const char* locpath = std::getenv("LOCPATH")) previous_locpath_ = locpath;
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                 "nl_NL.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8"}) {
            if (detail::TryLocale(name)) {
                name_ = name;
                return;
            }
        }
        const std::filesystem::path folder = detail::LocaleFolder();
        std::string made_why;
        if (detail::MakeGermanLocale(folder, made_why)) {
            setenv("LOCPATH", folder.c_str(), 1);
            if (detail::TryLocale("de_DE.UTF-8")) {
                name_ = "de_DE.UTF-8";
                locpath_ = folder.string();
                return;
            }
            made_why = "the de_DE.UTF-8 made in " + folder.string() + " cannot be set";
        }
        Restore();
        why_ =
            "no locale with a decimal comma is installed and none could be made: " + made_why +
            ". Install the Debian package 'locales' (tools/install-deps.sh does) to run this test";
    }
    ~ScopedDecimalCommaLocale() { Restore(); }
    ScopedDecimalCommaLocale(const ScopedDecimalCommaLocale&) = delete;
    ScopedDecimalCommaLocale& operator=(const ScopedDecimalCommaLocale&) = delete;

    bool ok() const { return !name_.empty(); }
    const std::string& why() const { return why_; }
    // The locale's name, and the LOCPATH it needs ("" for an installed one).
    const std::string& name() const { return name_; }
    const std::string& locpath() const { return locpath_; }

  private:
    void Restore() {
        if (previous_locpath_)
            setenv("LOCPATH", previous_locpath_->c_str(), 1);
        else
            unsetenv("LOCPATH");
        std::setlocale(LC_ALL, previous_.c_str());
    }

    std::string previous_ = "C";
    std::optional<std::string> previous_locpath_;
    std::string name_, locpath_, why_;
};

}  // namespace kevra::locale_test
