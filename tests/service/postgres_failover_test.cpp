// A catalogue on a primary and its streaming standby, as a site lists them
// in one address (host=primary,standby): loads go on from the standby when
// the primary is gone, within the connect timeout even when a server of the
// list never answers; imports need the primary and say so on a standby. The
// test starts and stops its servers itself.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/error.h"
#include "platform/json.h"
#include "service/catalogue_location.h"
#include "service/catalogue_tools.h"
#include "service/database.h"
#include "service/task_service.h"
#include "test_util.h"
#include "throwaway_server.h"

namespace kevra::service {
namespace {

using testing::ScratchDir;
using testing::TaskIds;
using testing::ThrowawayServer;

constexpr int kPrimaryPort = 54342, kStandbyPort = 54343;

const char* const kCatalogue = R"([
  {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Front Office", "IsLink": false, "AppId": 1},
  {"TaskId": 2, "TaskParent": 1, "TaskDescription": "Check-in", "IsLink": true, "TaskURL": "u", "AppId": 1}
])";

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Address(const std::string& hosts, const std::string& ports,
                    const std::string& extra = "") {
    return "host=" + hosts + " port=" + ports + " user=kevra dbname=kevra connect_timeout=2 " +
           extra;
}

bool InRecovery(const std::string& address) {
    bool standby = false;
    OpenDatabase(ResolveMachineName(address), OpenMode::kReadOnly)
        ->Query("SELECT pg_is_in_recovery()", {},
                [&](const Row& r) { standby = r[0].BoolValue(); });
    return standby;
}

// A Unix socket that takes connections (the kernel does) and never says a
// word: a server that hangs.
class SilentSocket {
  public:
    explicit SilentSocket(const ScratchDir& dir, int port) : path_(dir.Path().string()) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string file = path_ + "/.s.PGSQL." + std::to_string(port);
        if (file.size() >= sizeof addr.sun_path) std::abort();
        std::copy(file.begin(), file.end(), addr.sun_path);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 16) != 0)
            std::abort();
    }
    ~SilentSocket() { ::close(fd_); }
    const std::string& Folder() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

TEST(PostgresFailover, LoadsGoOnFromTheStandbyAndImportsNeedThePrimary) {
    ThrowawayServer primary("failover-primary", kPrimaryPort);
    KEVRA_REQUIRE_THROWAWAY(primary);
    ImportJson("failover.json", primary.Conninfo(), 1, {}, std::string(kCatalogue));
    ThrowawayServer standby("failover-standby", "standby", primary, kStandbyPort);
    KEVRA_REQUIRE_THROWAWAY(standby);
    const std::string ports = std::to_string(kPrimaryPort) + "," + std::to_string(kStandbyPort);
    const std::string both = Address(primary.Host() + "," + standby.Host(), ports);
    const TaskQuery query{0, "", "", 1};
    const std::vector<int64_t> view{1, 2};

    // The base backup holds the catalogue; the standby serves loads.
    EXPECT_EQ(TaskIds(RetrieveTaskRows(standby.Conninfo(), query)), view);
    EXPECT_TRUE(InRecovery(standby.Conninfo()));

    // Imports: refused by the standby in words that say why, and taken to
    // the primary by target_session_attrs whatever the order of the list.
    try {
        ImportJson("failover.json", standby.Conninfo(), 1, {}, std::string(kCatalogue));
        ADD_FAILURE() << "a standby took an import";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kPermissionDenied) << e.Description();
        EXPECT_NE(e.Description().find("the server is read-only (a standby"), std::string::npos)
            << e.Description();
        EXPECT_NE(e.Description().find("target_session_attrs=read-write"), std::string::npos)
            << e.Description();
    }
    const std::string standby_first =
        Address(standby.Host() + "," + primary.Host(),
                std::to_string(kStandbyPort) + "," + std::to_string(kPrimaryPort));
    EXPECT_NO_THROW(ImportJson("failover.json", standby_first + "target_session_attrs=read-write",
                               1, {}, std::string(kCatalogue)));
    EXPECT_TRUE(InRecovery(Address(primary.Host() + "," + standby.Host(), ports,
                                   "target_session_attrs=prefer-standby")))
        << "prefer-standby takes the standby listed second";

    EXPECT_EQ(TaskIds(RetrieveTaskRows(both, query)), view);
    primary.Halt();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TaskIds(RetrieveTaskRows(both, query)), view);
    EXPECT_LT(SecondsSince(start), 2.0) << "a stopped server's socket refuses at once";

    // A first server that answers nothing costs one connect timeout, then
    // the next one serves the load.
    ScratchDir dir;
    SilentSocket silent(dir, kPrimaryPort);
    const auto hang_start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        TaskIds(RetrieveTaskRows(Address(silent.Folder() + "," + standby.Host(), ports), query)),
        view);
    EXPECT_GE(SecondsSince(hang_start), 1.0);
    EXPECT_LT(SecondsSince(hang_start), 4.5);

    // With no server left, the message names each one and what happened.
    standby.Halt();
    try {
        RetrieveTaskRows(Address(silent.Folder() + "," + standby.Host(), ports), query);
        ADD_FAILURE() << "a load without a server";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kServerUnavailable) << e.Description();
        EXPECT_NE(e.Description().find("no server of the list could be used"), std::string::npos)
            << e.Description();
        EXPECT_NE(e.Description().find(json::Quote(silent.Folder()) + " port " +
                                       std::to_string(kPrimaryPort) + ": no answer within 2"),
                  std::string::npos)
            << e.Description();
        EXPECT_NE(e.Description().find(json::Quote(standby.Host())), std::string::npos)
            << e.Description();
    }
}

// The host list is checked before any server is tried.
TEST(PostgresFailover, MismatchedHostListsAreRefusedInWords) {
    const std::pair<const char*, const char*> cases[] = {
        {"host=/tmp/a,/tmp/b port=1,2,3 dbname=kevra", "port lists 3 numbers for 2 servers"},
        {"host=a,b hostaddr=127.0.0.1 dbname=kevra", "host lists 2 servers and hostaddr 1"},
    };
    for (const auto& [address, words] : cases) {
        try {
            OpenDatabase(ResolveMachineName(address), OpenMode::kReadOnly);
            ADD_FAILURE() << address;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), err::kInvalidArgument) << e.Description();
            EXPECT_NE(e.Description().find(words), std::string::npos) << e.Description();
        }
    }
}

}  // namespace
}  // namespace kevra::service
