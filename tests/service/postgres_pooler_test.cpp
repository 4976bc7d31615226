// Loads and imports through PgBouncer in transaction pooling mode, where a
// client's transactions run on whichever server connection is free: many
// loaders and importers at once, through a pool of two server connections,
// each seeing a whole catalogue, never another's statements. The test
// starts and stops the server and the pooler itself.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "service/catalogue_tools.h"
#include "service/task_service.h"
#include "test_util.h"
#include "throwaway_server.h"

namespace kevra::service {
namespace {

using testing::TaskIds;
using testing::ThrowawayServer;

// `tasks` tasks of application 1 under one folder, granted to everyone.
std::string Catalogue(int tasks) {
    std::string json = "[{\"TaskId\": 1, \"TaskParent\": 0, \"TaskDescription\": \"Root\", "
                       "\"IsLink\": false, \"AppId\": 1}";
    for (int id = 2; id <= tasks; ++id)
        json += ",\n{\"TaskId\": " + std::to_string(id) +
                ", \"TaskParent\": 1, \"TaskDescription\": \"Task " + std::to_string(id) +
                "\", \"IsLink\": true, \"TaskURL\": \"u\", \"AppId\": 1}";
    return json + "]";
}

TEST(PostgresPooler, LoadsAndImportsGoThroughTransactionPooling) {
    ThrowawayServer server("pooler-server", 54344);
    KEVRA_REQUIRE_THROWAWAY(server);
    ThrowawayServer pooler("pooler", "pooler", server, 54345);
    KEVRA_REQUIRE_THROWAWAY(pooler);
    const std::string via_pool = pooler.Conninfo();
    const TaskQuery query{0, "", "", 1};

    ImportJson("first.json", via_pool, 1, {}, Catalogue(30));
    EXPECT_EQ(TaskIds(RetrieveTaskRows(server.Conninfo(), query)).size(), 30u)
        << "the import through the pool reached the server";

    // Loaders and an importer at once, more than the pool's connections:
    // each import replaces the application whole (10 or 20 tasks), so a
    // load sees one of the catalogues, never a mixture or an error.
    std::atomic<int> failures{0}, loads{0};
    std::vector<std::string> errors(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            try {
                for (int i = 0; i < 6; ++i) {
                    if (t == 0) {
                        ImportJson("again.json", via_pool, 1, {}, Catalogue(i % 2 ? 10 : 20));
                        continue;
                    }
                    const size_t seen = TaskIds(RetrieveTaskRows(via_pool, query)).size();
                    if (seen != 10 && seen != 20 && seen != 30)
                        throw std::runtime_error("a load saw " + std::to_string(seen) + " tasks");
                    ++loads;
                }
            } catch (const RuntimeError& e) {
                errors[static_cast<size_t>(t)] = e.Description();
                ++failures;
            } catch (const std::exception& e) {
                errors[static_cast<size_t>(t)] = e.what();
                ++failures;
            }
        });
    for (std::thread& t : threads) t.join();
    for (const std::string& e : errors) EXPECT_EQ(e, "");
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(loads.load(), 42);
    const size_t last = TaskIds(RetrieveTaskRows(via_pool, query)).size();
    EXPECT_EQ(last, 10u) << "the importer's last catalogue";
    EXPECT_EQ(TaskIds(RetrieveTaskRows(server.Conninfo(), query)).size(), last);
}

}  // namespace
}  // namespace kevra::service
