// The sequence every per-user store runs before it reads or changes a file:
// the folder made private and checked, the lock taken for as long as the
// caller holds it (moves included) and refused in every form a hostile or
// stopped program can leave it in.
#include "platform/private_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>

#include "platform/error.h"
#include "scratch_dir.h"

namespace kevra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const StoreWords kQuiet{"test directory", "test file", "the tests", "KEVRA_TEST_DIR", {}};
const StoreWords kNamed{"test directory", "test file", "the tests", "KEVRA_TEST_DIR",
                        "a backup tool"};

// The description of the RuntimeError `action` raises, or "" for none.
template <class F>
std::string Failure(F&& action) {
    try {
        action();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kSettingsStore) << e.Description();
        return e.Description();
    }
    return "";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PrivateStoreLock, IsHeldForAsLongAsItsHolderLivesMovesIncluded) {
    const testing::ScratchDir scratch("kevra-ps");
    const std::string dir = scratch.File("store");
    const auto take = [&] { return LockFolderToChange(dir, "a.txt", 1ms, "Cannot save", kQuiet); };
    const std::string held_message = "Cannot save: another program holds its lock file \"" + dir +
                                     "/a.txt.lock\" and did not release it within 1 ms. "
                                     "Close the program that holds it and try again.";
    {
        LockedFolder first = take();
        EXPECT_GE(first.dir.get(), 0);
        EXPECT_EQ(Failure(take), held_message);
        LockedFolder moved = std::move(first);
        EXPECT_EQ(first.lock.get(), -1);
        { LockedFolder gone = std::move(first); }  // holds nothing, closes nothing
        EXPECT_EQ(Failure(take), held_message);
    }
    EXPECT_EQ(Failure(take), "") << "released with its last holder";
}

TEST(PrivateStoreLock, EachFileOfAFolderHasItsOwn) {
    const testing::ScratchDir scratch("kevra-ps");
    const std::string dir = scratch.Path();
    const LockedFolder a = LockFolderToChange(dir, "a.txt", 0ms, "Cannot save", kQuiet);
    EXPECT_EQ(Failure([&] { LockFolderToChange(dir, "b.txt", 0ms, "Cannot save", kQuiet); }), "");
}

TEST(PrivateStoreLock, NamesWhoMayHoldItWhenTheStoreKnows) {
    const testing::ScratchDir scratch("kevra-ps");
    const std::string dir = scratch.Path();
    const LockedFolder held = LockFolderToChange(dir, "a.txt", 0ms, "Cannot save", kNamed);
    EXPECT_TRUE(
        Contains(Failure([&] { LockFolderToChange(dir, "a.txt", 20ms, "Cannot save", kNamed); }),
                 "within 20 ms. Close the program that holds it (a backup tool) and try again."));
}

TEST(PrivateStoreLock, RefusesALockFileThatIsALinkOrNoFile) {
    const testing::ScratchDir scratch("kevra-ps");
    const std::string dir = scratch.Path();
    const auto take = [&] { LockFolderToChange(dir, "a.txt", 0ms, "Cannot save", kQuiet); };

    // With O_CREAT, a followed link would create its target.
    fs::create_symlink(scratch.File("elsewhere"), scratch.File("a.txt.lock"));
    EXPECT_EQ(Failure(take), "Cannot save: its lock file \"" + dir +
                                 "/a.txt.lock\" is a symbolic link, which the store does not "
                                 "follow. Remove the link.");
    EXPECT_FALSE(fs::exists(scratch.File("elsewhere")));

    // A FIFO must neither block the open nor pass for a lock.
    fs::remove(scratch.File("a.txt.lock"));
    ASSERT_EQ(::mkfifo(scratch.File("a.txt.lock").c_str(), 0600), 0);
    EXPECT_EQ(Failure(take), "Cannot save: its lock file \"" + dir +
                                 "/a.txt.lock\" is not a regular file. Move it away.");
}

TEST(PrivateStoreFolder, MadePrivateForAChangeAndNeverTrustedWhenShared) {
    const testing::ScratchDir scratch("kevra-ps");
    const std::string dir = scratch.File("one/two");
    { const LockedFolder held = LockFolderToChange(dir, "a.txt", 0ms, "Cannot save", kQuiet); }
    for (const std::string& made : {scratch.File("one"), dir}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
    }
    struct stat lock {};
    ASSERT_EQ(::stat((dir + "/a.txt.lock").c_str(), &lock), 0);
    EXPECT_EQ(lock.st_mode & 077, 0u);

    ASSERT_EQ(::chmod(dir.c_str(), 0770), 0);
    const std::string shared = "can be written by other users (mode 0770)";
    EXPECT_TRUE(Contains(
        Failure([&] { LockFolderToChange(dir, "a.txt", 0ms, "Cannot save", kQuiet); }), shared));
    EXPECT_TRUE(Contains(Failure([&] { OpenFolderToRead(dir, dir + "/a.txt", kQuiet); }), shared));
}

TEST(PrivateStoreFolder, AMissingFolderReadsAsNothingStored) {
    const testing::ScratchDir scratch("kevra-ps");
    const std::string dir = scratch.File("never-made");
    EXPECT_EQ(OpenFolderToRead(dir, dir + "/a.txt", kQuiet).get(), -1);
    EXPECT_FALSE(fs::exists(dir)) << "a read makes no folder";
    EXPECT_GE(OpenFolderToRead(scratch.Path(), scratch.File("a.txt"), kQuiet).get(), 0);
}

TEST(PrivateStoreFolder, PathsJoinWithOneSlash) {
    EXPECT_EQ(PathIn("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(PathIn("/a/b/", "c"), "/a/b/c");
    EXPECT_EQ(PathIn("", "c"), "c");
}

TEST(UniqueFdMoves, CloseTheDescriptorOnceAndOnlyByItsLastOwner) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int read_end = fds[0];
    ::close(fds[1]);
    {
        UniqueFd first(read_end);
        UniqueFd second(std::move(first));
        EXPECT_EQ(first.get(), -1);
        EXPECT_NE(::fcntl(read_end, F_GETFD), -1) << "a move closed it";
        UniqueFd third;
        third = std::move(second);
        EXPECT_EQ(second.get(), -1);
        UniqueFd& same = third;
        third = std::move(same);  // a self-move keeps it
        EXPECT_EQ(third.get(), read_end);
        EXPECT_NE(::fcntl(read_end, F_GETFD), -1);
    }
    EXPECT_EQ(::fcntl(read_end, F_GETFD), -1) << "the last owner left it open";
}

}  // namespace
}  // namespace kevra
