// RetrieveTasks on a SQLite catalogue of a hotel group's size (a million
// grant rows): the statements it runs reach task_grant through an index,
// never by reading the whole table, and the views are still the ones the
// grant rules give.
#include <gtest/gtest.h>

#include "scale_views.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"

namespace kevra::service {
namespace {

using testing::ScratchDir;

// SQLite names a table by its alias in a plan ("SCAN g"); the statements
// call task_grant g.
bool ReadsAllOfTaskGrant(const std::string& detail) {
    if (detail.rfind("SCAN ", 0) != 0) return false;
    const std::string table = detail.substr(5, detail.find(' ', 5) - 5);
    return table == "g" || table == "task_grant";
}

TEST(SqlitePlan, TaskSelectionSearchesGrantsByIndexAtScale) {
    ScratchDir dir;
    const std::string path = dir.File("scale.db");
    std::unique_ptr<Database> db = OpenDatabase(ResolveMachineName(path), OpenMode::kCreate);
    ASSERT_NO_FATAL_FAILURE(testing::FillScaleCatalogue(*db));

    for (const TaskQuery& q : testing::ScaleQueries()) {
        for (const TaskStatement& s : TaskSelectionStatements(StoreKind::kSqlite, q)) {
            std::string plan;
            bool full_scan = false;
            db->Query("EXPLAIN QUERY PLAN " + s.sql, s.params, [&](const Row& r) {
                const std::string detail = r[3].ToString();
                plan += detail + "\n";
                full_scan = full_scan || ReadsAllOfTaskGrant(detail);
            });
            SCOPED_TRACE(s.sql);
            EXPECT_FALSE(full_scan) << plan;
            if (s.sql.find("task_grant") != std::string::npos) {
                EXPECT_NE(plan.find("task_grant_by_who"), std::string::npos) << plan;
            }
        }
    }
    testing::ExpectViewsFollowTheRules(*db, path);
}

// The check itself: a plan that reads the whole table is caught, however
// SQLite words the scan.
TEST(SqlitePlan, FullScanOfGrantsIsRecognised) {
    EXPECT_TRUE(ReadsAllOfTaskGrant("SCAN g"));
    EXPECT_TRUE(ReadsAllOfTaskGrant("SCAN task_grant"));
    EXPECT_TRUE(ReadsAllOfTaskGrant("SCAN g USING COVERING INDEX task_grant_by_who"));
    EXPECT_FALSE(ReadsAllOfTaskGrant(
        "SEARCH g USING COVERING INDEX task_grant_by_who (app_id=? AND user_number=?)"));
    EXPECT_FALSE(ReadsAllOfTaskGrant("SCAN t USING INDEX task_by_order"));
}

}  // namespace
}  // namespace kevra::service
