// The settings store on disk: defaults, permissions, clear failures that
// leave the old file in place, and what concurrent and killed writers do to
// the file. Tests that need permission bits to bite run in a child process
// that, under root, hands its directory to an ordinary user and becomes it.
#include "settings/ini_settings_store.h"

#include <fcntl.h>
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
#include <optional>
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

constexpr uid_t kNobody = 65534;

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("KEVRA_TEST_TMP");
        std::string root = (base != nullptr && base[0] != '\0') ? base : "/tmp";
        fs::create_directories(root);
        std::string pattern = root + "/settings-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        for (const auto& entry : fs::recursive_directory_iterator(path, ec)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(path, ec);
    }
    std::string path;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

// The store's temporaries are its only dot files.
std::vector<std::string> Temporaries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with(".")) names.push_back(name);
    }
    return names;
}

std::string Described(const RuntimeError& e) {
    return "error " + std::to_string(e.Number()) + ": " + e.Description();
}

struct Child {
    pid_t pid;
    int result_fd;
};

// Starts `body` in a child process; Finish returns its result, or the error
// it raised as "error NUMBER: DESCRIPTION". With `unprivileged_dir` set, a
// root run first gives that directory to an ordinary user and becomes that
// user.
Child Start(const std::function<std::string()>& body, const std::string& unprivileged_dir = "") {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_t pid = ::fork();
    if (pid != 0) {
        ::close(fds[1]);
        return {pid, fds[0]};
    }
    ::close(fds[0]);
    std::string out;
    try {
        if (!unprivileged_dir.empty() && ::geteuid() == 0) {
            ::lchown(unprivileged_dir.c_str(), kNobody, kNobody);
            for (const auto& entry : fs::recursive_directory_iterator(unprivileged_dir)) {
                ::lchown(entry.path().c_str(), kNobody, kNobody);
            }
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                out = "SKIP: cannot become an ordinary user";
            } else if (::access(unprivileged_dir.c_str(), W_OK | X_OK) != 0) {
                out = "SKIP: the test directory is out of an ordinary user's reach";
            }
        }
        if (out.empty()) out = body();
    } catch (const RuntimeError& e) {
        out = Described(e);
    } catch (const std::exception& e) {
        out = std::string("exception: ") + e.what();
    }
    ssize_t ignored = ::write(fds[1], out.data(), out.size());
    (void)ignored;
    ::_exit(0);
}

std::string Finish(const Child& child) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(child.result_fd, buf, sizeof buf)) > 0;) out.append(buf, n);
    ::close(child.result_fd);
    ::waitpid(child.pid, nullptr, 0);
    return out;
}

std::string InChild(const std::function<std::string()>& body,
                    const std::string& unprivileged_dir = "") {
    return Finish(Start(body, unprivileged_dir));
}

TEST(IniSettingsStore, AbsentFileSectionOrKeyGivesTheDefault) {
    TempDir t;
    IniSettingsStore store(t.path + "/not/yet");
    EXPECT_EQ(store.GetSetting("App", "S", "K", "dflt"), "dflt");
    EXPECT_FALSE(fs::exists(t.path + "/not"));  // reading creates nothing

    store.SaveSetting("App", "S", "K", "");
    EXPECT_EQ(store.GetSetting("App", "S", "K", "dflt"), "");  // stored empty is not absent
    EXPECT_EQ(store.GetSetting("App", "S", "Other", "d"), "d");
    EXPECT_EQ(store.GetSetting("App", "T", "K", "d"), "d");
    EXPECT_EQ(store.GetSetting("Other", "S", "K", "d"), "d");
}

TEST(IniSettingsStore, RewritesOnlyTheValueAndRoundTripsAnyText) {
    TempDir t;
    IniSettingsStore store(t.path);
    const std::string file = store.FilePath("KevraTaskList");
    EXPECT_EQ(file, t.path + "/KevraTaskList.ini");
    WriteText(file, "; mine\n[Selected Task]\nGROUP = X1\njunk\n");

    store.SaveSetting("KevraTaskList", "selected task", "group", " X2 ");
    EXPECT_EQ(ReadText(file), "; mine\n[Selected Task]\nGROUP = \" X2 \"\njunk\n");

    for (const std::string value :
         {"X12", "a \"b\" \\ ; # c", "l1\nl2\r\tend", "Genève 東京", ""}) {
        store.SaveSetting("KevraTaskList", "Selected Task", "Task", value);
        EXPECT_EQ(store.GetSetting("KevraTaskList", "SELECTED TASK", "task", "-"), value);
    }
}

TEST(IniSettingsStore, CreatesOwnerOnlyDirectoryAndFile) {
    TempDir t;
    mode_t old_umask = ::umask(0);  // the modes must not depend on the umask
    IniSettingsStore store(t.path + "/config/kevra");
    store.SaveSetting("App", "S", "K", "V");
    ::umask(old_umask);
    EXPECT_EQ(ModeOf(t.path + "/config"), 0700u);
    EXPECT_EQ(ModeOf(t.path + "/config/kevra"), 0700u);
    EXPECT_EQ(ModeOf(t.path + "/config/kevra/App.ini"), 0600u);
    EXPECT_EQ(ModeOf(t.path + "/config/kevra/App.ini.lock"), 0600u);

    ::chmod((t.path + "/config/kevra/App.ini").c_str(), 0644);
    store.SaveSetting("App", "S", "K", "W");
    EXPECT_EQ(ModeOf(t.path + "/config/kevra/App.ini"), 0600u);
    EXPECT_TRUE(Temporaries(t.path + "/config/kevra").empty());
}

TEST(IniSettingsStore, RejectsNamesThatCannotBeStoredBeforeTouchingAnything) {
    TempDir t;
    IniSettingsStore store(t.path + "/kevra");
    const std::vector<std::vector<std::string>> bad = {
        {"", "S", "K"},      {"../x", "S", "K"},   {"a/b", "S", "K"},  {".hidden", "S", "K"},
        {"a..b", "S", "K"},  {"a\nb", "S", "K"},   {"App", "", "K"},   {"App", "a]b", "K"},
        {"App", "a=b", "K"}, {"App", "a\nb", "K"}, {"App", "S", ""},   {"App", "S", "k=v"},
        {"App", "S", "[k"},  {"App", "S", "k]"},   {"App", "S", " k"},
    };
    for (const auto& names : bad) {
        for (bool save : {true, false}) {
            try {
                if (save) {
                    store.SaveSetting(names[0], names[1], names[2], "v");
                } else {
                    store.GetSetting(names[0], names[1], names[2], "d");
                }
                ADD_FAILURE() << "accepted " << names[0] << " / " << names[1] << " / " << names[2];
            } catch (const RuntimeError& e) {
                EXPECT_EQ(e.Number(), err::kInvalidArgument);
                EXPECT_NE(e.Description().find(" name: it "), std::string::npos) << Described(e);
            }
        }
    }
    EXPECT_FALSE(fs::exists(t.path + "/kevra"));
}

TEST(IniSettingsStore, UnreadableFileIsAClearError) {
    TempDir t;
    IniSettingsStore store(t.path);
    store.SaveSetting("App", "S", "K", "V");
    const std::string file = t.path + "/App.ini";
    std::string result = InChild(
        [&] {
            ::chmod(file.c_str(), 0);
            return store.GetSetting("App", "S", "K", "d");
        },
        t.path);
    if (result.starts_with("SKIP")) GTEST_SKIP() << result;
    EXPECT_EQ(result, "error 35700: Cannot read the settings file \"" + file +
                          "\": Permission denied. Check the owner and permissions of that file "
                          "and its directory.");

    // Something other than a file in its place must not hang the reader.
    TempDir u;
    ASSERT_EQ(::mkfifo((u.path + "/App.ini").c_str(), 0600), 0);
    try {
        IniSettingsStore(u.path).GetSetting("App", "S", "K", "d");
        ADD_FAILURE() << "read a FIFO";
    } catch (const RuntimeError& e) {
        EXPECT_NE(e.Description().find("is not a regular file"), std::string::npos);
    }
}

TEST(IniSettingsStore, ReadOnlyDirectoryFailsClearlyAndKeepsTheFile) {
    TempDir t;
    IniSettingsStore store(t.path);
    store.SaveSetting("App", "S", "K", "old");
    const std::string before = ReadText(t.path + "/App.ini");
    std::string result = InChild(
        [&] {
            ::chmod(t.path.c_str(), 0500);
            store.SaveSetting("App", "S", "K", "new");
            return std::string("saved");
        },
        t.path);
    if (result.starts_with("SKIP")) GTEST_SKIP() << result;
    EXPECT_EQ(result, "error 35700: Cannot save settings to \"" + t.path +
                          "/App.ini\": cannot create a temporary file in \"" + t.path +
                          "\": Permission denied. Check the owner and permissions of \"" + t.path +
                          "\".");
    EXPECT_EQ(ReadText(t.path + "/App.ini"), before);
    EXPECT_TRUE(Temporaries(t.path).empty());
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
    WriteText(t.path + "/.App.ini.tmp-Ab12Cd", "left by a killed writer");
    WriteText(t.path + "/.App.ini.tmp-x.ini.tmp-Ab12Cd", "another application's");
    IniSettingsStore(t.path).SaveSetting("App", "S", "K", "V");
    EXPECT_EQ(Temporaries(t.path), std::vector<std::string>{".App.ini.tmp-x.ini.tmp-Ab12Cd"});
}

TEST(IniSettingsStore, ConcurrentWritersLoseNothing) {
    TempDir t;
    IniSettingsStore store(t.path);
    constexpr int kWriters = 2, kKeys = 150;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    std::vector<Child> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(Start([&, w] {
            char c;
            if (::read(go[0], &c, 1) != 1) return std::string("no start");
            for (int i = 0; i < kKeys; ++i) {
                std::string key = "w" + std::to_string(w) + "-" + std::to_string(i);
                store.SaveSetting("App", i % 2 ? "Odd" : "Even", key, "v " + key);
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
            std::string key = "w" + std::to_string(w) + "-" + std::to_string(i);
            EXPECT_EQ(store.GetSetting("App", i % 2 ? "Odd" : "Even", key, "lost"), "v " + key);
        }
    }
    EXPECT_TRUE(Temporaries(t.path).empty());
}

// A writer killed at any moment leaves the old file or the new one, byte for
// byte, and the next save still works (the lock dies with its holder).
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
    std::uniform_int_distribution<int> delay_us(0, 3000);
    long base = 0;
    int new_value_rounds = 0, mid_write_rounds = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string old_text = ReadText(file);
        int announce[2];
        ASSERT_EQ(::pipe(announce), 0);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(announce[0]);
            for (long n = 1; n < 100000; ++n) {
                if (::write(announce[1], &n, sizeof n) != sizeof n) break;
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

        if (!Temporaries(t.path).empty()) ++mid_write_rounds;
        const std::string text = ReadText(file);
        const long value = std::stol(store.GetSetting("App", "B", "Counter", "-1"));
        ASSERT_TRUE(value == base + last || (last > 0 && value == base + last - 1))
            << "round " << round << ": read " << value << ", last announced " << base + last;
        ini::IniDocument expected(old_text);
        expected.Set("B", "Counter", std::to_string(value));
        ASSERT_EQ(text, expected.Text()) << "round " << round;
        if (value != base) ++new_value_rounds;
        base = value;
    }
    store.SaveSetting("App", "B", "Counter", "final");
    EXPECT_TRUE(Temporaries(t.path).empty());
    EXPECT_EQ(store.GetSetting("App", "C", "key29", ""), "C value; 29");
    std::printf("%d rounds: %d killed inside a write, %d changed the value\n", rounds,
                mid_write_rounds, new_value_rounds);
}

TEST(IniSettingsStore, DefaultDirectoryFollowsTheXdgRules) {
    auto saved = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    auto restore = [](const char* name, const std::optional<std::string>& v) {
        v ? ::setenv(name, v->c_str(), 1) : ::unsetenv(name);
    };
    auto xdg = saved("XDG_CONFIG_HOME"), home = saved("HOME");
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg/", 1);
    EXPECT_EQ(IniSettingsStore::DefaultDirectory(), "/cfg/kevra");
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // not absolute: ignored
    EXPECT_EQ(IniSettingsStore::DefaultDirectory(), "/home/someone/.config/kevra");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(IniSettingsStore::DefaultDirectory(), "/home/someone/.config/kevra");
    restore("XDG_CONFIG_HOME", xdg);
    restore("HOME", home);
}

}  // namespace
}  // namespace kevra
