// The settings store on disk: defaults, permissions, clear failures that
// leave the old file in place, and what concurrent and killed writers do to
// the file. Tests that need permission bits to bite run in a child process
// that, under root, hands its directory to an ordinary user and becomes it.
#include "settings/ini_settings_store.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
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
