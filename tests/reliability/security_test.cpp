// Security properties that no single module owns:
//  - the per-user settings file and the default catalogue are created
//    owner-only, whatever the umask of the host process;
//  - a task's URL and parameters reach the host's StartTask handler byte for
//    byte as the catalogue holds them (trimmed of spaces only), and nothing
//    of ours hands anything to a shell: a scan of src/ and apps/ fails the
//    moment a call that starts a shell or a program appears.
// That host values reach the databases only as bound parameters is shown by
// the SQL injection tests of the catalogue stores (tests/service).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/json.h"
#include "reliability_util.h"
#include "service/catalogue_location.h"
#include "service/database.h"
#include "service/task_service.h"
#include "settings/ini_settings_store.h"

namespace kevra::reliability {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

// Sets an environment variable and the process umask for one test.
class Environment {
  public:
    Environment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
        old_mask_ = ::umask(0);  // the most permissive a host could run with
    }
    ~Environment() {
        old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_);
        ::umask(old_mask_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
    mode_t old_mask_;
};

const char* const kLinkCatalogue = R"([
  {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Group"},
  {"TaskId": 2, "TaskParent": 1, "TaskDescription": "Item"},
  {"TaskId": 3, "TaskParent": 2, "TaskDescription": "Launch", "IsLink": true,
   "TaskURL": "app://x", "TaskParms": "p"}
])";

TEST(OwnerOnly, SettingsDirectoryAndFileWrittenByTheControl) {
    ScratchDir scratch;
    service::RegisterTaskService();
    const std::string catalogue = scratch.Write("tasks.json", kLinkCatalogue);
    Environment env("XDG_CONFIG_HOME", scratch.File("config"));
    IniSettingsStore store;  // the default location, as a host uses it
    Harness h(store);
    h.RunAll({"set MachineName " + json::Quote(catalogue), "load", "paint", "click-item X2",
              "select-node X3", "dblclick"});
    ASSERT_EQ(h.Lines("setting-write").size(), 3u) << "the launch did not save the selection";

    const fs::path dir = scratch.File("config") + "/kevra";
    EXPECT_EQ(ModeOf(dir), 0700u);
    ASSERT_TRUE(fs::exists(dir / "KevraTaskList.ini"));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path().filename();
}

TEST(OwnerOnly, DefaultCatalogueAndItsDirectory) {
    ScratchDir scratch;
    Environment env("XDG_DATA_HOME", scratch.File("data"));
    const service::CatalogueLocation loc = service::ResolveMachineName("");
    ASSERT_TRUE(loc.is_default);
    ASSERT_EQ(fs::path(loc.target), fs::path(scratch.File("data")) / "kevra" / "tasks.db");
    service::OpenDatabase(loc, service::OpenMode::kCreate).reset();

    EXPECT_EQ(ModeOf(scratch.File("data")), 0700u);
    EXPECT_EQ(ModeOf(scratch.File("data") + "/kevra"), 0700u);
    ASSERT_TRUE(fs::exists(loc.target));
    for (const auto& entry : fs::directory_iterator(scratch.File("data") + "/kevra"))
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path().filename();
}

TEST(OwnerOnly, LoadingNeverCreatesTheDefaultCatalogue) {
    ScratchDir scratch;
    service::RegisterTaskService();
    Environment env("XDG_DATA_HOME", scratch.File("data"));
    IniSettingsStore store(scratch.File("config"));
    Harness h(store);
    h.RunAll({"set MachineName \"\"", "load"});
    const auto boxes = h.Lines("msgbox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("tasks.db"), std::string::npos) << boxes[0];
    EXPECT_FALSE(fs::exists(scratch.File("data") + "/kevra/tasks.db"));
}

// ---------------------------------------------------------------------------

TEST(StartTask, UrlAndParametersArriveUnchanged) {
    ScratchDir scratch;
    service::RegisterTaskService();
    const std::string trap = scratch.File("pwned");
    // What a shell would act on, and what a careless quoting would mangle:
    // metacharacters, quotes, backslashes, tabs, line breaks, characters
    // beyond ASCII. Blanks around the values are the only thing removed.
    const std::string url = "https://example.test/a b?x=1&y='2';touch " + trap + " $(touch " +
                            trap + ") `touch " + trap +
                            "` | > < \\ \"q\" \t\n caf\xc3\xa9 \xe2\x9c\x93";
    const std::string parms = "\"; touch " + trap + "; echo '\t' %PATH% ${HOME} \\\\server\\x\r";
    auto raw = [](const std::string& s) {  // a JSON literal that keeps every byte
        std::string out = "\"";
        for (unsigned char c : s) {
            if (c == '"' || c == '\\')
                out += '\\', out += static_cast<char>(c);
            else if (c == '\t')
                out += "\\t";
            else if (c == '\n')
                out += "\\n";
            else if (c == '\r')
                out += "\\r";
            else
                out += static_cast<char>(c);
        }
        return out + "\"";
    };
    const std::string catalogue =
        scratch.Write("tasks.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "G"},
                          {"TaskId": 2, "TaskParent": 1, "TaskDescription": "I"},
                          {"TaskId": 3, "TaskParent": 2, "TaskDescription": "T", "IsLink": true,
                           "TaskURL": )" +
                                        raw("   " + url + "  ") + R"(, "TaskParms": )" +
                                        raw("  " + parms) + "}]");

    IniSettingsStore store(scratch.File("config"));
    Harness h(store);
    std::vector<std::tuple<int32_t, std::string, std::string>> events;
    h.Control().OnStartTask([&](int32_t id, const std::string& u, const std::string& p) {
        events.emplace_back(id, u, p);
    });
    h.RunAll({"set MachineName " + json::Quote(catalogue), "load", "click-item X2",
              "select-node X3", "dblclick"});
    ASSERT_TRUE(h.Lines("msgbox").empty()) << h.Lines("msgbox")[0];
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<0>(events[0]), 3);
    EXPECT_EQ(std::get<1>(events[0]), url);
    EXPECT_EQ(std::get<2>(events[0]), parms);
    EXPECT_FALSE(fs::exists(trap)) << "something ran a shell on the task's URL or parameters";
}

// ---------------------------------------------------------------------------

// C and C++ source with comments removed and the contents of string and
// character literals blanked, so that a call is found only where it is code.
// The literals themselves are collected for the checks on their text.
std::string CodeOnly(const std::string& source, std::vector<std::string>* literals) {
    std::string out;
    size_t i = 0;
    const size_t n = source.size();
    while (i < n) {
        if (source.compare(i, 2, "//") == 0) {
            while (i < n && source[i] != '\n') ++i;
        } else if (source.compare(i, 2, "/*") == 0) {
            const size_t end = source.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
            out += ' ';
        } else if (source[i] == 'R' && i + 1 < n && source[i + 1] == '"' &&
                   (i == 0 || !(std::isalnum(static_cast<unsigned char>(source[i - 1])) ||
                                source[i - 1] == '_'))) {
            const size_t open = source.find('(', i + 2);
            if (open == std::string::npos) break;
            const std::string close = ")" + source.substr(i + 2, open - i - 2) + "\"";
            const size_t end = source.find(close, open + 1);
            const size_t stop = end == std::string::npos ? n : end;
            if (literals) literals->push_back(source.substr(open + 1, stop - open - 1));
            i = end == std::string::npos ? n : end + close.size();
            out += "\"\"";
        } else if (source[i] == '"' || source[i] == '\'') {
            const char quote = source[i++];
            std::string text;
            while (i < n && source[i] != quote && source[i] != '\n') {
                if (source[i] == '\\' && i + 1 < n) text += source[i++];
                text += source[i++];
            }
            ++i;
            if (literals && quote == '"') literals->push_back(text);
            out += quote;
            out += quote;
        } else {
            out += source[i++];
        }
    }
    return out;
}

// Calls that run a shell or start a program, and texts that name a shell.
std::vector<std::string> ShellUses(const std::string& source) {
    static const std::set<std::string, std::less<>> kCalls = {
        "system",  "popen",  "execl",   "execlp",      "execle",       "execv",  "execvp",
        "execvpe", "execve", "fexecve", "posix_spawn", "posix_spawnp", "wordexp"};
    static const char* const kShellTexts[] = {"/bin/sh", "/bin/bash", "sh -c", "cmd.exe"};
    auto word_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    std::vector<std::string> found;
    std::vector<std::string> literals;
    const std::string code = CodeOnly(source, &literals);
    for (size_t i = 0; i < code.size();) {
        if (!word_char(code[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < code.size() && word_char(code[i])) ++i;
        const std::string_view word(code.data() + start, i - start);
        if (!kCalls.count(word)) continue;
        size_t next = i;
        while (next < code.size() && std::isspace(static_cast<unsigned char>(code[next]))) ++next;
        size_t before = start;
        while (before > 0 && std::isspace(static_cast<unsigned char>(code[before - 1]))) --before;
        const bool member = before > 0 && (code[before - 1] == '.' || code[before - 1] == '>');
        if (next < code.size() && code[next] == '(' && !member)
            found.push_back(std::string(word) + "(");
    }
    for (const auto& text : literals)
        for (const char* shell : kShellTexts)
            if (text.find(shell) != std::string::npos) found.push_back("\"" + text + "\"");
    return found;
}

TEST(NoShell, TheScannerFindsCallsAndIgnoresCommentsAndNames) {
    EXPECT_EQ(ShellUses("int f() { return std::system(cmd.c_str()); }"),
              std::vector<std::string>{"system("});
    EXPECT_EQ(ShellUses("FILE* p = popen (x, \"r\");"), std::vector<std::string>{"popen("});
    EXPECT_EQ(ShellUses("::execvp(argv[0], argv);"), std::vector<std::string>{"execvp("});
    EXPECT_EQ(ShellUses("const char* s = \"/bin/sh\";"), std::vector<std::string>{"\"/bin/sh\""});
    EXPECT_EQ(ShellUses("auto q = R\"(sh -c 'x')\";"), std::vector<std::string>{"\"sh -c 'x'\""});
    EXPECT_TRUE(ShellUses("// system(\"rm\") in a comment\n/* popen( */ int x;").empty());
    EXPECT_TRUE(ShellUses("std::system_category(); my_system(1); obj.system(2); "
                          "p->execute(); app.exec(); \"not system(\";")
                    .empty());
}

TEST(NoShell, NothingOfOursStartsAShellOrAProgram) {
    const fs::path repo = KEVRA_REPO_DIR;
    size_t scanned = 0;
    for (const char* top : {"src", "apps"}) {
        if (!fs::exists(repo / top)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(repo / top)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() ||
                (ext != ".cpp" && ext != ".h" && ext != ".cc" && ext != ".hpp" && ext != ".c"))
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            ++scanned;
            for (const auto& use : ShellUses(text.str()))
                ADD_FAILURE() << fs::relative(entry.path(), repo).string() << " uses " << use
                              << ": the control and its tools hand tasks to the host and never "
                                 "to a shell or another program";
        }
    }
    EXPECT_GT(scanned, 20u) << "the scan found almost no sources under " << repo;
}

}  // namespace
}  // namespace kevra::reliability
