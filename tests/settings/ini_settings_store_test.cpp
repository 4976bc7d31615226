// The settings store on disk: defaults, permissions, clear failures that
// leave the old file in place, and what concurrent and killed writers do to
// the file. Tests that need permission bits to bite run in a child process
// that, under root, hands its directory to an ordinary user and becomes it.
#include "settings/ini_settings_store.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "settings/ini_document.h"

namespace kevra {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    TempDir() {
        const char* base = std::getenv("KEVRA_TEST_TMP");
        fs::path root = (base != nullptr && base[0] != '\0') ? base : "/tmp";
        fs::create_directories(root);
        path = (root / "settings-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp " + path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string path;
};

std::string ReadText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

// The store's temporaries are its only dot files.
std::vector<std::string> Temporaries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with(".")) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

struct Child {
    pid_t pid;
    int result_fd;
};

// Starts `body` in a child process; Finish returns its result, or the error
// it raised as "error NUMBER: DESCRIPTION". With `unprivileged_dir`, a root
// run first gives that directory to an ordinary user and becomes that user.
Child Start(const std::function<std::string()>& body, const std::string& unprivileged_dir = "") {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    if (pid_t pid = ::fork(); pid != 0) {
        ::close(fds[1]);
        return {pid, fds[0]};
    }
    std::string out;
    try {
        if (!unprivileged_dir.empty() && ::geteuid() == 0) {
            const uid_t nobody = 65534;
            ::chown(unprivileged_dir.c_str(), nobody, nobody);
            for (const auto& entry : fs::directory_iterator(unprivileged_dir)) {
                ::chown(entry.path().c_str(), nobody, nobody);
            }
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0 ||
                ::access(unprivileged_dir.c_str(), W_OK | X_OK) != 0) {
                out = "SKIP: cannot act as an ordinary user on the test directory";
            }
        }
        if (out.empty()) out = body();
    } catch (const RuntimeError& e) {
        out = "error " + std::to_string(e.Number()) + ": " + e.Description();
    }
    ssize_t written = ::write(fds[1], out.data(), out.size());
    ::_exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
}

std::string Finish(const Child& child) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(child.result_fd, buf, sizeof buf)) > 0;) out.append(buf, n);
    ::close(child.result_fd);
    ::waitpid(child.pid, nullptr, 0);
    return out;
}

std::string InChild(const std::function<std::string()>& body, const std::string& dir = "") {
    return Finish(Start(body, dir));
}

TEST(IniSettingsStore, AbsentFileSectionOrKeyGivesTheDefault) {
    TempDir t;
    IniSettingsStore store(t.path + "/not/yet");
    EXPECT_EQ(store.GetSetting("App", "S", "K", "dflt"), "dflt");
    EXPECT_FALSE(fs::exists(t.path + "/not"));  // reading creates nothing

    store.SaveSetting("App", "S", "K", "");
    EXPECT_EQ(store.GetSetting("App", "s", "k", "dflt"), "");  // stored empty is not absent
    EXPECT_EQ(store.GetSetting("App", "S", "Other", "d"), "d");
    EXPECT_EQ(store.GetSetting("App", "T", "K", "d"), "d");
    EXPECT_EQ(store.GetSetting("Other", "S", "K", "d"), "d");
}

TEST(IniSettingsStore, CreatesOwnerOnlyDirectoryAndFile) {
    TempDir t;
    mode_t old_umask = ::umask(0);  // the modes must not depend on the umask
    IniSettingsStore store(t.path + "/config/kevra");
    store.SaveSetting("App", "S", "K", "V");
    ::umask(old_umask);
    EXPECT_EQ(store.FilePath("App"), t.path + "/config/kevra/App.ini");
    EXPECT_EQ(ModeOf(t.path + "/config"), 0700u);
    EXPECT_EQ(ModeOf(t.path + "/config/kevra"), 0700u);
    EXPECT_EQ(ModeOf(t.path + "/config/kevra/App.ini"), 0600u);
    EXPECT_EQ(ModeOf(t.path + "/config/kevra/App.ini.lock"), 0600u);
    ::chmod((t.path + "/config/kevra/App.ini").c_str(), 0644);
    store.SaveSetting("App", "S", "K", "W");
    EXPECT_EQ(ModeOf(t.path + "/config/kevra/App.ini"), 0600u);
}

TEST(IniSettingsStore, RejectsNamesThatCannotBeStoredBeforeTouchingAnything) {
    TempDir t;
    IniSettingsStore store(t.path + "/kevra");
    const std::vector<std::vector<std::string>> bad = {
        {"", "S", "K"},      {"../x", "S", "K"},  {"a/b", "S", "K"},   {".hidden", "S", "K"},
        {"a\nb", "S", "K"},  {"App", "", "K"},    {"App", "a]b", "K"}, {"App", "a=b", "K"},
        {"App", "S\n", "K"}, {"App", "S", "k=v"}, {"App", "S", "[k"},  {"App", "S", " k"},
    };
    for (const auto& n : bad) {
        try {
            store.SaveSetting(n[0], n[1], n[2], "v");
            ADD_FAILURE() << "accepted " << n[0] << " / " << n[1] << " / " << n[2];
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), err::kInvalidArgument);
            EXPECT_NE(e.Description().find(" name: it "), std::string::npos);
        }
        EXPECT_THROW(store.GetSetting(n[0], n[1], n[2], "d"), RuntimeError);
    }
    EXPECT_FALSE(fs::exists(t.path + "/kevra"));
}

TEST(IniSettingsStore, PermissionErrorsNameTheFileAndKeepIt) {
    TempDir t;
    IniSettingsStore store(t.path);
    store.SaveSetting("App", "S", "K", "old");
    const std::string file = t.path + "/App.ini", before = ReadText(file);
    std::string result = InChild(
        [&] {
            auto error_of = [](const std::function<void()>& call) {
                try {
                    call();
                    return std::string("no error");
                } catch (const RuntimeError& e) {
                    return std::to_string(e.Number()) + " " + e.Description();
                }
            };
            ::chmod(file.c_str(), 0);
            std::string read = error_of([&] { store.GetSetting("App", "S", "K", "d"); });
            ::chmod(file.c_str(), 0600);
            ::chmod(t.path.c_str(), 0500);
            return read + "\n" + error_of([&] { store.SaveSetting("App", "S", "K", "new"); });
        },
        t.path);
    if (result.starts_with("SKIP")) GTEST_SKIP() << result;
    EXPECT_EQ(result, "35700 Cannot read the settings file \"" + file +
                          "\": Permission denied. Check the owner and permissions of that file "
                          "and its directory.\n"
                          "35700 Cannot save settings to \"" +
                          file + "\": cannot create a temporary file in \"" + t.path +
                          "\": Permission denied. Check the owner and permissions of \"" + t.path +
                          "\".");
    EXPECT_EQ(ReadText(file), before);
}

TEST(IniSettingsStore, FailedWriteKeepsTheFileAndRemovesTheTemporary) {
    TempDir t;
    IniSettingsStore store(t.path);
    store.SaveSetting("App", "S", "K", "old");
    const std::string before = ReadText(t.path + "/App.ini");
    // A file size limit fails the write part way, as a full disk would.
    std::string result = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        store.SaveSetting("App", "S", "K", std::string(4096, 'x'));
        return std::string("saved");
    });
    EXPECT_TRUE(result.starts_with("error 35700: Cannot save settings to \"" + t.path +
                                   "/App.ini\": cannot write"))
        << result;
    EXPECT_NE(result.find("File too large"), std::string::npos) << result;
    EXPECT_EQ(ReadText(t.path + "/App.ini"), before);
    EXPECT_TRUE(Temporaries(t.path).empty());
}

TEST(IniSettingsStore, NextSaveRemovesOnlyItsOwnStaleTemporaries) {
    TempDir t;
    std::ofstream(t.path + "/.App.ini.tmp-Ab12Cd") << "left by a killed writer";
    std::ofstream(t.path + "/.App.ini.tmp-x.ini.tmp-Ab12Cd") << "application App.ini.tmp-x's";
    IniSettingsStore(t.path).SaveSetting("App", "S", "K", "V");
    EXPECT_EQ(Temporaries(t.path), std::vector<std::string>{".App.ini.tmp-x.ini.tmp-Ab12Cd"});
}

TEST(IniSettingsStore, ConcurrentWritersLoseNothing) {
    TempDir t;
    IniSettingsStore store(t.path);
    constexpr int kWriters = 2, kKeys = 150;
    auto key = [](int w, int i) { return "w" + std::to_string(w) + "-" + std::to_string(i); };
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    std::vector<Child> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(Start([&, w] {
            char c;
            if (::read(go[0], &c, 1) != 1) return std::string("no start");
            for (int i = 0; i < kKeys; ++i) {
                store.SaveSetting("App", i % 2 ? "Odd" : "Even", key(w, i), "v " + key(w, i));
            }
            return std::string("done");
        }));
    }
    ASSERT_EQ(::write(go[1], "gg", kWriters), kWriters);  // both start at once
    ::close(go[0]);
    ::close(go[1]);
    for (const Child& writer : writers) EXPECT_EQ(Finish(writer), "done");
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kKeys; ++i) {
            EXPECT_EQ(store.GetSetting("App", i % 2 ? "Odd" : "Even", key(w, i), "lost"),
                      "v " + key(w, i));
        }
    }
    EXPECT_TRUE(Temporaries(t.path).empty());
}

// A writer killed at any moment leaves the old file or the new one, byte for
// byte; the next save still works (the lock dies with its holder) and clears
// the temporary that the killed writer left.
TEST(IniSettingsStore, WriterKilledAtRandomMomentsLeavesOldOrNewFile) {
    TempDir t;
    IniSettingsStore store(t.path);
    const std::string file = t.path + "/App.ini";
    for (const char* section : {"A", "B", "C"}) {
        for (int i = 0; i < 30; ++i) {
            store.SaveSetting("App", section, "key" + std::to_string(i),
                              std::string(section) + " value; " + std::to_string(i));
        }
    }
    store.SaveSetting("App", "B", "Counter", "0");

    const char* env = std::getenv("KEVRA_KILL_ROUNDS");
    const int rounds = env != nullptr ? std::atoi(env) : 200;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay_us(0, 5000);
    long base = 0;
    int changed = 0, mid_write = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string old_text = ReadText(file);
        int announce[2];
        ASSERT_EQ(::pipe(announce), 0);
        pid_t pid = ::fork();
        if (pid == 0) {  // announces each value before it starts saving it
            for (long n = 1; n < 100000; ++n) {
                if (::write(announce[1], &n, sizeof n) != sizeof n) ::_exit(1);
                try {
                    store.SaveSetting("App", "B", "Counter", std::to_string(base + n));
                } catch (...) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        ::close(announce[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own in round " << round;
        long last = 0;
        for (long n; ::read(announce[0], &n, sizeof n) == sizeof n;) last = n;
        ::close(announce[0]);

        mid_write += !Temporaries(t.path).empty();
        const long value = std::stol(store.GetSetting("App", "B", "Counter", "-1"));
        ASSERT_TRUE(value == base + last || (last > 0 && value == base + last - 1))
            << "round " << round << ": read " << value << ", last announced " << base + last;
        ini::IniDocument expected(old_text);
        expected.Set("B", "Counter", std::to_string(value));
        ASSERT_EQ(ReadText(file), expected.Text()) << "round " << round;
        changed += value != base;
        base = value;
    }
    store.SaveSetting("App", "B", "Counter", "final");
    EXPECT_TRUE(Temporaries(t.path).empty());
    std::printf("%d rounds: %d killed inside a write, %d changed the value\n", rounds, mid_write,
                changed);
}

// A save must never leave a file that the store then refuses to read: past
// the reader's limit every later load would fail.
TEST(IniSettingsStore, SaveThatWouldOutgrowTheReaderIsRefused) {
    TempDir t;
    IniSettingsStore store(t.path);
    const std::string file = t.path + "/App.ini";
    store.SaveSetting("App", "S", "Other", "kept");
    ini::IniDocument probe(ReadText(file));
    probe.Set("S", "Big", "");
    const size_t limit = 16 * 1024 * 1024, room = limit - probe.Text().size();

    store.SaveSetting("App", "S", "Big", std::string(room, 'x'));  // exactly at the limit
    ASSERT_EQ(fs::file_size(file), limit);
    EXPECT_EQ(store.GetSetting("App", "S", "Big", "").size(), room);

    const std::string before = ReadText(file);
    try {
        store.SaveSetting("App", "S", "Big", std::string(room + 1, 'y'));
        ADD_FAILURE() << "a save beyond the limit was accepted";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kSettingsStore);
        EXPECT_EQ(e.Description(), "Cannot save settings to \"" + file + "\": it would grow to " +
                                       std::to_string(limit + 1) +
                                       " bytes, beyond the 16 MiB that the store reads back. The "
                                       "file is left as it was; store a shorter value.");
    }
    EXPECT_TRUE(ReadText(file) == before) << "the old file was changed";
    EXPECT_TRUE(Temporaries(t.path).empty());
    EXPECT_EQ(store.GetSetting("App", "S", "Other", ""), "kept");
}

// Holds the lock of t.path's App.ini in a child process until Release.
class LockHolder {
  public:
    explicit LockHolder(const std::string& lock_path) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            int fd = ::open(lock_path.c_str(), O_RDWR);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
            if (::write(ready[1], "L", 1) != 1) ::_exit(1);
            char c;
            while (::read(release[0], &c, 1) > 0) {
            }
            ::_exit(0);  // the lock ends with the process
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_fd_ = release[1];
        char c = 0;
        locked_ = ::read(ready[0], &c, 1) == 1 && c == 'L';
        ::close(ready[0]);
    }
    ~LockHolder() { Release(); }
    bool Locked() const { return locked_; }
    void Release() {
        if (release_fd_ < 0) return;
        ::close(release_fd_);
        release_fd_ = -1;
        ::waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool locked_ = false;
};

// A process that holds the lock and never lets go (stopped in the middle of
// a save, a backup tool) costs a save a bounded wait, not a hung host; a
// holder that lets go within the wait costs nothing but the wait.
TEST(IniSettingsStore, LockHeldByAnotherProcessBoundsTheWait) {
    using Clock = std::chrono::steady_clock;
    TempDir t;
    const std::string file = t.path + "/App.ini", lock = file + ".lock";
    IniSettingsStore(t.path).SaveSetting("App", "S", "K", "old");
    const std::string before = ReadText(file);

    LockHolder holder(lock);
    ASSERT_TRUE(holder.Locked());
    IniSettingsStore impatient(t.path, std::chrono::milliseconds(300));
    const Clock::time_point start = Clock::now();
    try {
        impatient.SaveSetting("App", "S", "K", "new");
        ADD_FAILURE() << "saved while another process held the lock";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kSettingsStore);
        EXPECT_EQ(e.Description(),
                  "Cannot save settings to \"" + file +
                      "\": another program holds its lock file \"" + lock +
                      "\" and did not release it within 300 ms. Close the program that holds it "
                      "(a host stopped in the middle of a save, a backup tool) and try again.");
    }
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(ReadText(file), before);
    EXPECT_TRUE(Temporaries(t.path).empty());

    // Let go part way through a save's wait: the save then goes ahead.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        holder.Release();
    });
    IniSettingsStore patient(t.path, std::chrono::seconds(10));
    const Clock::time_point second = Clock::now();
    EXPECT_NO_THROW(patient.SaveSetting("App", "S", "K", "new"));
    release.join();
    EXPECT_LT(Clock::now() - second, std::chrono::seconds(5));
    EXPECT_EQ(patient.GetSetting("App", "S", "K", ""), "new");
}

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
        return "no error";
    } catch (const RuntimeError& e) {
        return std::to_string(e.Number()) + " " + e.Description();
    }
}

// Whoever can plant a link in the directory must not choose what a save
// creates or what a read returns.
TEST(IniSettingsStore, SymbolicLinksInTheDirectoryAreNotFollowed) {
    TempDir t;
    const std::string dir = t.path + "/kevra", outside = t.path + "/outside";
    fs::create_directory(dir);
    fs::create_directory(outside);
    IniSettingsStore store(dir);
    const std::string file = dir + "/App.ini", lock = file + ".lock";

    fs::create_symlink(outside + "/created-through-the-lock", lock);
    EXPECT_EQ(ErrorOf([&] { store.SaveSetting("App", "S", "K", "V"); }),
              "35700 Cannot save settings to \"" + file + "\": its lock file \"" + lock +
                  "\" is a symbolic link, which the store does not follow. Remove the link.");
    EXPECT_FALSE(fs::exists(outside + "/created-through-the-lock"));
    EXPECT_FALSE(fs::exists(file));

    fs::remove(lock);
    std::ofstream(outside + "/other.ini") << "[S]\nK=from elsewhere\n";
    fs::create_symlink(outside + "/other.ini", file);
    const std::string refused = "35700 The settings file \"" + file +
                                "\" is a symbolic link, which the store does not follow. Replace "
                                "the link with a copy of the file it points to.";
    EXPECT_EQ(ErrorOf([&] { store.GetSetting("App", "S", "K", "d"); }), refused);
    EXPECT_EQ(ErrorOf([&] { store.SaveSetting("App", "S", "K", "V"); }), refused);
    EXPECT_EQ(ReadText(outside + "/other.ini"), "[S]\nK=from elsewhere\n");
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_TRUE(Temporaries(dir).empty());
}

// As ssh treats ~/.ssh: a directory that others can write to (the sticky bit
// does not help) or that belongs to someone else is refused before anything
// is read or written. The directory a link leads to is what counts.
TEST(IniSettingsStore, DirectoryOthersCanChangeIsRefused) {
    TempDir t;
    const std::string dir = t.path + "/kevra";
    fs::create_directory(dir);
    IniSettingsStore store(dir);
    const std::string file = dir + "/App.ini";
    auto shared = [&](const char* mode) {
        return "35700 The settings directory \"" + dir + "\" can be written by other users (mode " +
               mode + "), who could change the settings in it. Make it private with chmod 700 \"" +
               dir + "\".";
    };
    for (mode_t mode : {0770, 0707, 0720, 01777}) {
        ::chmod(dir.c_str(), mode);
        char shown[8];
        std::snprintf(shown, sizeof shown, "%04o", static_cast<unsigned>(mode));
        EXPECT_EQ(ErrorOf([&] { store.SaveSetting("App", "S", "K", "V"); }), shared(shown));
        EXPECT_TRUE(fs::is_empty(dir)) << shown;
    }

    ::chmod(dir.c_str(), 0755);  // others may look, not write
    store.SaveSetting("App", "S", "K", "V");
    ::chmod(dir.c_str(), 0775);
    EXPECT_EQ(ErrorOf([&] { store.GetSetting("App", "S", "K", "d"); }), shared("0775"));
    EXPECT_EQ(ErrorOf([&] { store.SaveSetting("App", "S", "K", "W"); }), shared("0775"));
    ::chmod(dir.c_str(), 0700);
    EXPECT_EQ(store.GetSetting("App", "S", "K", "d"), "V");

    const std::string link = t.path + "/link";
    fs::create_symlink(dir, link);
    ::chmod(dir.c_str(), 0777);
    EXPECT_NE(ErrorOf([&] {
                  IniSettingsStore(link).SaveSetting("App", "S", "K", "W");
              }).find("can be written by other users (mode 0777)"),
              std::string::npos);
    ::chmod(dir.c_str(), 0700);
    EXPECT_EQ(IniSettingsStore(link).GetSetting("App", "S", "K", "d"), "V");

    if (::geteuid() == 0) {  // only root can give a directory away
        ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
        EXPECT_EQ(ErrorOf([&] { store.GetSetting("App", "S", "K", "d"); }),
                  "35700 The settings directory \"" + dir +
                      "\" belongs to another user (uid 65534), who could change the settings in "
                      "it. Use a directory of your own (set XDG_CONFIG_HOME) or take it over with "
                      "chown.");
    }
    EXPECT_EQ(ReadText(file), "[S]\nK=V\n");
}

TEST(IniSettingsStore, DefaultDirectoryFollowsTheXdgRules) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string saved_xdg = xdg ? xdg : "", saved_home = home ? home : "";
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg/", 1);
    EXPECT_EQ(IniSettingsStore::DefaultDirectory(), "/cfg/kevra");
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // not absolute: ignored
    EXPECT_EQ(IniSettingsStore::DefaultDirectory(), "/home/someone/.config/kevra");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(IniSettingsStore::DefaultDirectory(), "/home/someone/.config/kevra");
    xdg ? ::setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    home ? ::setenv("HOME", saved_home.c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
}  // namespace kevra
