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
    std::string json =
        "[{\"TaskId\": 1, \"TaskParent\": 0, \"TaskDescription\": \"Root\", "
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

// Imports send their rows as one COPY: text that COPY's own format spells
// with a backslash (tab, newline, carriage return, backslash, the \N of
// NULL) arrives as written, and NULL stays NULL.
TEST(PostgresPooler, ImportedTextArrivesAsWrittenThroughCopy) {
    ThrowawayServer server("copy-server", 54346);
    KEVRA_REQUIRE_THROWAWAY(server);
    ThrowawayServer pooler("copy-pooler", "pooler", server, 54347);
    KEVRA_REQUIRE_THROWAWAY(pooler);
    // As JSON writes them.
    const std::vector<std::string> texts = {"tab\\there",        "two\\nlines", "cr\\rhere",
                                            "back\\\\slash",     "\\\\N",       "\\\\t not a tab",
                                            "Zimmer \\u00fcber", "trailing\\\\"};
    std::string json = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        json += std::string(i ? "," : "") + "{\"TaskId\": " + std::to_string(i + 1) +
                ", \"TaskParent\": 0, \"TaskDescription\": \"" + texts[i] +
                "\", \"IsLink\": true, \"TaskURL\": null, \"TaskParms\": \"p" + std::to_string(i) +
                "\", \"AppId\": 3}";
    json += "]";
    ImportJson("copy.json", pooler.Conninfo(), 3, {}, json);
    const std::vector<std::string> expected = {"tab\there",
                                               "two\nlines",
                                               "cr\rhere",
                                               "back\\slash",
                                               "\\N",
                                               "\\t not a tab",
                                               "Zimmer \xc3\xbc"
                                               "ber",
                                               "trailing\\"};
    const auto rows =
        testing::ReadRows(RetrieveTaskRows(server.Conninfo(), TaskQuery{0, "", "", 3}),
                          {"TaskDescription", "TaskURL", "TaskParms"});
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0].ToString(), expected[i]);
        EXPECT_TRUE(rows[i][1].IsNull()) << "NULL stays NULL, row " << i;
        EXPECT_EQ(rows[i][2].ToString(), "p" + std::to_string(i));
    }
}

}  // namespace
}  // namespace kevra::service
