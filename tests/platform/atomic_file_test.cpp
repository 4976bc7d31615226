// Replacing files whole: what stands at the path and is no regular file is
// left alone, modes are kept or follow the umask, a failed write leaves the
// old file and no temporary, and only abandoned temporaries of the same
// target are cleaned up. Also the command-line number form every tool uses.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "atomic_file_size_limit.h"
#include "platform/decimal_argument.h"
#include "platform/error.h"

namespace kevra {
namespace {

namespace fs = std::filesystem;
using testing::FileSizeLimit;

class Scratch {
  public:
    Scratch() {
        const char* base = std::getenv("KEVRA_TEST_TMP");
        fs::path root = base && *base ? base : fs::temp_directory_path();
        fs::create_directories(root);
        std::string pattern = (root / "kevra-af-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(File(name), std::ios::binary) << text;
        return File(name);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    fs::path path_;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// The message of the RuntimeError that ReplaceFile throws, or "" when it
// succeeds.
std::string ReplaceError(const std::string& path, const std::string& text) {
    try {
        ReplaceFile(path, text);
    } catch (const RuntimeError& e) {
        return e.Description();
    }
    return "";
}

TEST(ReplaceFile, LeavesWhatIsNotARegularFileAsItIs) {
    Scratch dir;
    const std::string data = dir.Write("data.json", "precious");

    const std::string fifo = dir.File("pipe.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_NE(ReplaceError(fifo, "x").find("it is a named pipe (FIFO), not a regular file"),
              std::string::npos);
    EXPECT_TRUE(fs::is_fifo(fifo));

    const std::string link = dir.File("link.json");
    fs::create_symlink(data, link);
    EXPECT_NE(ReplaceError(link, "x").find("it is a symbolic link"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(data), "precious");

    // A link to nothing is in the way as much as one to a file.
    const std::string dangling = dir.File("dangling.json");
    fs::create_symlink(dir.File("nowhere.json"), dangling);
    EXPECT_NE(ReplaceError(dangling, "x"), "");
    EXPECT_FALSE(fs::exists(dir.File("nowhere.json")));

    fs::create_directory(dir.File("folder.json"));
    EXPECT_NE(ReplaceError(dir.File("folder.json"), "x").find("it is a folder"), std::string::npos);
    EXPECT_NE(ReplaceError(dir.File(""), "x").find("it names a folder"), std::string::npos);

    // A device: root makes its own null device here, so that a fault in
    // this test can never replace the system's.
    std::string device = "/dev/null";
    if (::geteuid() == 0) {
        device = dir.File("null");
        ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    }
    try {
        ReplaceFile(device, "x");
        FAIL() << "a device was written";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kPathAccess);
        EXPECT_NE(e.Description().find("it is a character device, not a regular file"),
                  std::string::npos)
            << e.Description();
    }
    EXPECT_TRUE(fs::is_character_file(device));

    std::vector<std::string> expected{"dangling.json", "data.json", "folder.json", "link.json",
                                      "pipe.json"};
    if (::geteuid() == 0) expected.insert(expected.begin() + 4, "null");
    EXPECT_EQ(dir.Names(), expected) << "no temporary left behind";
}

TEST(ReplaceFile, KeepsTheModeOfAFileAndGivesANewOneTheUmasksMode) {
    Scratch dir;
    const std::string kept = dir.Write("private.json", "old");
    ASSERT_EQ(::chmod(kept.c_str(), 0600), 0);
    ReplaceFile(kept, "new");
    EXPECT_EQ(Read(kept), "new");
    EXPECT_EQ(ModeOf(kept), 0600u);

    const std::string shared = dir.Write("shared.json", "old");
    ASSERT_EQ(::chmod(shared.c_str(), 0664), 0);
    ReplaceFile(shared, "new");
    EXPECT_EQ(ModeOf(shared), 0664u);

    const mode_t saved = ::umask(027);
    ReplaceFile(dir.File("fresh.json"), "[]\n");
    ReplaceFile(dir.File("registry.json"), "{}", ReplaceFileOptions{0644});
    ::umask(saved);
    EXPECT_EQ(ModeOf(dir.File("fresh.json")), 0640u);
    EXPECT_EQ(ModeOf(dir.File("registry.json")), 0640u);
    EXPECT_EQ(Read(dir.File("fresh.json")), "[]\n");
}

TEST(ReplaceFile, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    Scratch dir;
    const std::string file = dir.Write("c.json", "old contents");
    std::string error;
    {
        FileSizeLimit limit(4);
        error = ReplaceError(file, std::string(1000, 'x'));
    }

    EXPECT_EQ(error, "Cannot write \"" + file + "\": File too large");
    EXPECT_EQ(Read(file), "old contents");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"c.json"});

    try {
        ReplaceFile(dir.File("missing/c.json"), "x");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Description(),
                  "Cannot write \"" + dir.File("missing/c.json") +
                      "\": cannot create a temporary file beside it: No such file or directory "
                      "(the folder \"" +
                      dir.File("missing") + "\" does not exist)");
    }
}

TEST(ReplaceFile, RemovesOnlyTheAbandonedTemporariesOfItsTarget) {
    Scratch dir;
    const std::string target = dir.Write("c.json", "old");
    dir.Write(".c.json.tmp-Ab12Cd", "left by a killed export");
    dir.Write(".c.json.tmp-Zz99zz", "another");
    // A live writer holds the lock on its temporary.
    const std::string live = dir.Write(".c.json.tmp-L1ve00", "being written");
    const int fd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    // Names that are not this target's temporaries.
    for (const char* name : {".c.json.tmp-Ab12C", ".c.json.tmp-Ab12Cde", ".c.json.tmp-Ab_2Cd",
                             "c.json.tmp-Ab12Cd", ".d.json.tmp-Ab12Cd", ".c.json.tmp-x.json"})
        dir.Write(name, "not ours");
    fs::create_symlink(target, dir.File(".c.json.tmp-Link00"));

    ReplaceFile(target, "new");
    ::close(fd);
    EXPECT_EQ(Read(target), "new");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{
                               ".c.json.tmp-Ab12C", ".c.json.tmp-Ab12Cde", ".c.json.tmp-Ab_2Cd",
                               ".c.json.tmp-L1ve00", ".c.json.tmp-Link00", ".c.json.tmp-x.json",
                               ".d.json.tmp-Ab12Cd", "c.json", "c.json.tmp-Ab12Cd"}));
    // Once its writer is gone, the live one is abandoned too.
    EXPECT_EQ(RemoveAbandonedTemporaries(target), 1u);
    EXPECT_FALSE(fs::exists(live));
}

TEST(ReplaceFile, ATargetWithALongNameGetsTemporariesThatFit) {
    Scratch dir;
    const std::string target = dir.File(std::string(250, 'n') + ".json");
    ReplaceFile(target, "one");
    ReplaceFile(target, "two");
    EXPECT_EQ(Read(target), "two");
}

TEST(FileReplacement, TheTargetChangesOnlyAtTheCommit) {
    Scratch dir;
    const std::string target = dir.Write("c.json", "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    {
        FileReplacement replacement(target);
        replacement.Write("[\n");
        replacement.Write("");
        replacement.Write("1\n]\n");
        // Readers see the old file while the new one is filled beside it.
        EXPECT_EQ(Read(target), "old");
        const std::vector<std::string> names = dir.Names();
        ASSERT_EQ(names.size(), 2u);
        EXPECT_TRUE(names[0].starts_with(".c.json.tmp-")) << names[0];
        // Its writer holds it locked, so that no cleaner takes it meanwhile.
        EXPECT_EQ(RemoveAbandonedTemporaries(target), 0u);
        replacement.Commit();
        EXPECT_EQ(Read(target), "[\n1\n]\n");
    }
    EXPECT_EQ(ModeOf(target), 0640u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"c.json"});

    // Abandoned half-way (the export's reading failed): as if never begun.
    {
        FileReplacement replacement(target);
        replacement.Write("[\n2,");
    }
    EXPECT_EQ(Read(target), "[\n1\n]\n");
    {
        FileReplacement replacement(dir.File("new.json"));
        replacement.Write("[]");
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"c.json"});
}

TEST(FileReplacement, AWriteThatFailsHalfWayTakesItsTemporaryAtOnce) {
    Scratch dir;
    const std::string target = dir.Write("c.json", "old contents");
    std::string error;
    {
        FileReplacement replacement(target);
        FileSizeLimit limit(100);
        replacement.Write(std::string(60, 'x'));
        try {
            replacement.Write(std::string(60, 'y'));
        } catch (const RuntimeError& e) {
            error = e.Description();
        }
        // Gone before the writer is: a caller that reports and goes on
        // leaves nothing behind.
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"c.json"});
        // The commit of a failed replacement fails the same way.
        try {
            replacement.Commit();
            ADD_FAILURE() << "a failed replacement committed";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Description(), error);
        }
    }
    EXPECT_EQ(error, "Cannot write \"" + target + "\": File too large");
    EXPECT_EQ(Read(target), "old contents");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"c.json"});

    // The checks of what stands at the path come first, before any temporary.
    const std::string folder = dir.File("sub");
    fs::create_directory(folder);
    try {
        FileReplacement replacement(folder);
        ADD_FAILURE() << "a folder was taken for a file";
    } catch (const RuntimeError& e) {
        EXPECT_NE(e.Description().find("it is a folder, not a regular file"), std::string::npos)
            << e.Description();
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"c.json", "sub"}));
}

TEST(ReplacementAt, SaysWhichStepFailedAndKeepsSayingIt) {
    Scratch dir;
    const std::string target = dir.Write("s.ini", "old");
    const int folder = ::open(dir.File("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    {
        ReplacementAt replacement(folder, "s.ini");
        ASSERT_TRUE(replacement.outcome().ok());
        const std::string temporary = replacement.outcome().temporary;
        EXPECT_TRUE(fs::exists(dir.File(temporary)));
        {
            FileSizeLimit limit(4);
            const ReplaceOutcome& failed = replacement.Write("too long");
            EXPECT_EQ(failed.step, ReplaceStep::kWrite);
            EXPECT_EQ(failed.error, EFBIG);
        }
        EXPECT_FALSE(fs::exists(dir.File(temporary)));
        EXPECT_EQ(replacement.Write("x").step, ReplaceStep::kWrite);
        EXPECT_EQ(replacement.Commit().step, ReplaceStep::kWrite);
        EXPECT_EQ(replacement.outcome().temporary, temporary);  // for the caller's message
    }
    EXPECT_EQ(Read(target), "old");
    {
        ReplacementAt replacement(folder, "s.ini");
        EXPECT_TRUE(replacement.Write("new").ok());
        EXPECT_TRUE(replacement.Commit().ok());
    }
    ::close(folder);
    EXPECT_EQ(Read(target), "new");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"s.ini"});
}

TEST(DecimalArgument, TakesPlainDigitsOnly) {
    EXPECT_EQ(ParseDecimal("0", 0, 10), 0);
    EXPECT_EQ(ParseDecimal("007", 0, 10), 7);
    EXPECT_EQ(ParseDecimal("2147483647", 0, INT32_MAX), INT32_MAX);
    EXPECT_EQ(ParseDecimal("-2147483648", INT32_MIN, INT32_MAX), INT32_MIN);
    for (const char* text : {"1.5", "2.5", "0.6", "1e0", "+3", "3 ", " 3", "", "-", "0x10", "1,0",
                             "٣", "2147483648", "99999999999999999999", "-1", "-0"})
        EXPECT_EQ(ParseDecimal(text, 0, INT32_MAX), std::nullopt) << '"' << text << '"';
    EXPECT_EQ(ParseDecimal("-2147483649", INT32_MIN, INT32_MAX), std::nullopt);
    EXPECT_EQ(ParseDecimal("-", INT32_MIN, INT32_MAX), std::nullopt);
    EXPECT_EQ(DecimalArgumentError("--app", "1.5", 0, INT32_MAX),
              "--app takes a whole number from 0 to 2147483647 in plain digits, not \"1.5\"");
}

}  // namespace
}  // namespace kevra
