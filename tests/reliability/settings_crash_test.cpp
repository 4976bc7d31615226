// Crash safety of the settings store with another writer at work: one
// process saves a counter and is killed at a random moment, over and over,
// while a second process keeps saving keys of its own into the same file.
// After every kill the file reads, the counter holds the value last saved or
// the one before it, and every key the other process had finished saving is
// there with its value. (tests/settings kills a lone writer and races two
// writers that are never killed; this is the two together.)
//
// KEVRA_KILL_ROUNDS sets the number of kills (default 1000).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "reliability_util.h"
#include "settings/ini_settings_store.h"

namespace kevra::reliability {
namespace {

constexpr const char* kApp = "KevraTaskList";

// Reads whole numbers that a child announces on a pipe, without blocking.
class Announcements {
  public:
    explicit Announcements(int fd) : fd_(fd) { ::fcntl(fd_, F_SETFL, O_NONBLOCK); }
    ~Announcements() { ::close(fd_); }
    // The last number announced so far (or `last` when none came).
    long Drain(long last) {
        long n;
        while (::read(fd_, &n, sizeof n) == static_cast<ssize_t>(sizeof n)) last = n;
        return last;
    }

  private:
    int fd_;
};

// Starts a child that runs `body(announce_fd, stop_fd)` and exits.
template <typename Body>
pid_t Spawn(int announce_fd, int stop_fd, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int status = 0;
        try {
            body(announce_fd, stop_fd);
        } catch (...) {
            status = 3;
        }
        ::_exit(status);
    }
    return pid;
}

TEST(SettingsCrashSafety, KilledWriterNeverCostsAnotherWritersKeys) {
    ScratchDir scratch;
    const std::string dir = scratch.File("config");
    IniSettingsStore store(dir);
    store.SaveSetting(kApp, "Selected Task", "Group", "X1");
    store.SaveSetting(kApp, "Counter", "Value", "0");

    const char* env = std::getenv("KEVRA_KILL_ROUNDS");
    const int rounds = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 1000;

    // The other writer: saves Other/K<n> = "value <n>" for n = 1, 2, ...,
    // announcing n once the save has returned, until its stop pipe closes.
    int other_pipe[2], stop_pipe[2];
    ASSERT_EQ(::pipe(other_pipe), 0);
    ASSERT_EQ(::pipe(stop_pipe), 0);
    const pid_t other = Spawn(other_pipe[1], stop_pipe[0], [&](int announce, int stop) {
        ::close(other_pipe[0]);
        ::close(stop_pipe[1]);
        ::fcntl(stop, F_SETFL, O_NONBLOCK);
        char c;
        for (long n = 1;; ++n) {
            if (::read(stop, &c, 1) == 0) return;  // closed: the test is over
            store.SaveSetting(kApp, "Other", "K" + std::to_string(n), "value " + std::to_string(n));
            if (::write(announce, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) return;
        }
    });
    ::close(other_pipe[1]);
    ::close(stop_pipe[0]);
    Announcements other_done(other_pipe[0]);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay_us(0, 4000);
    long counter = 0, other_keys = 0;
    int killed_mid_write = 0;
    for (int round = 0; round < rounds; ++round) {
        // The victim announces n before saving n, so after the kill the file
        // holds n (the save completed) or n - 1 (it did not).
        int victim_pipe[2];
        ASSERT_EQ(::pipe(victim_pipe), 0);
        const long base = counter;
        const pid_t victim = Spawn(victim_pipe[1], -1, [&](int announce, int) {
            ::close(victim_pipe[0]);
            ::close(other_pipe[0]);
            for (long n = base + 1;; ++n) {
                if (::write(announce, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) return;
                store.SaveSetting(kApp, "Counter", "Value", std::to_string(n));
            }
        });
        ::close(victim_pipe[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        ::kill(victim, SIGKILL);
        int status = 0;
        ::waitpid(victim, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the writer stopped by itself";
        const long announced = Announcements(victim_pipe[0]).Drain(base);
        other_keys = other_done.Drain(other_keys);

        const std::string value = store.GetSetting(kApp, "Counter", "Value", "missing");
        const long read = std::strtol(value.c_str(), nullptr, 10);
        ASSERT_TRUE(read == announced || (announced > base && read == announced - 1))
            << "round " << round << ": counter " << value << ", last announced " << announced;
        if (read != announced) ++killed_mid_write;
        counter = read;
        ASSERT_EQ(store.GetSetting(kApp, "Selected Task", "Group", "lost"), "X1")
            << "round " << round;
        // Every key whose save had returned is there (checking all of them
        // each round would be quadratic; the newest is the one at risk).
        if (other_keys > 0) {
            ASSERT_EQ(store.GetSetting(kApp, "Other", "K" + std::to_string(other_keys), "lost"),
                      "value " + std::to_string(other_keys))
                << "round " << round;
        }
    }

    ::close(stop_pipe[1]);
    int status = 0;
    ::waitpid(other, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other writer failed";
    other_keys = other_done.Drain(other_keys);
    ASSERT_GT(other_keys, 0) << "the other writer never got to save";
    for (long n = 1; n <= other_keys; ++n)
        ASSERT_EQ(store.GetSetting(kApp, "Other", "K" + std::to_string(n), "lost"),
                  "value " + std::to_string(n));
    std::printf(
        "settings kill test: %d kills survived (%d inside a save), the other writer "
        "saved %ld keys meanwhile, none lost\n",
        rounds, killed_mid_write, other_keys);
    RecordProperty("kills_survived", std::to_string(rounds));
}

}  // namespace
}  // namespace kevra::reliability
