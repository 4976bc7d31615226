// The load test's catalogue in a store, and what its users should see: the
// query-plan tests of both stores fill it and check the views RetrieveTasks
// gives against a plain reading of the grant rules.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench_pg_load_catalogue.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/task_service.h"
#include "test_util.h"

namespace kevra::service::testing {

// A statement of the fill writes up to 800,000 rows, longer than a load's
// statement may take on a busy machine or in a sanitizer build.
inline void FillScaleCatalogue(Database& db) {
    UpgradeSchema(db);
    SetSqliteStatementTimeout(std::chrono::minutes(10));
    SetPostgresStatementTimeout(std::chrono::minutes(10));
    InTransaction(db, [&] {
        for (const std::string& sql : bench::ScaleCatalogueSql(db.Kind())) db.ExecScript(sql);
    });
    SetSqliteStatementTimeout(kDefaultStatementTimeout);
    SetPostgresStatementTimeout(kDefaultStatementTimeout);
    int64_t grants = 0;
    db.Query("SELECT count(*) FROM task_grant", {}, [&](const Row& r) { grants = r[0].ToInt64(); });
    ASSERT_EQ(grants, bench::kScaleGrantRows);
}

// The ids a user sees, by the grant rules read literally: a grant matches
// when each of its user, brand and facility is NULL or the user's.
inline std::vector<int64_t> ExpectedView(Database& db, const TaskQuery& q) {
    std::vector<int64_t> ids;
    db.Query(
        "SELECT t.id FROM task t WHERE t.app_id = $1 AND EXISTS (SELECT 1 FROM task_grant g "
        "WHERE g.app_id = t.app_id AND g.task_id = t.id "
        "AND (g.user_number IS NULL OR g.user_number = $2) "
        "AND (g.brand IS NULL OR g.brand = $3) "
        "AND (g.facility_id IS NULL OR g.facility_id = $4)) ORDER BY t.sort_order, t.id",
        {Variant(q.app_id), Variant(q.user_number), Variant(q.brand), Variant(q.facility_id)},
        [&](const Row& r) { ids.push_back(r[0].ToInt64()); });
    return ids;
}

// Users with every kind of grant in their view, and one of a facility and
// brand nobody has, who sees only what is everyone's.
inline std::vector<TaskQuery> ScaleQueries() {
    std::vector<TaskQuery> queries = {bench::ScaleUser(1), bench::ScaleUser(2),
                                      bench::ScaleUser(4243)};
    TaskQuery stranger = bench::ScaleUser(3);
    stranger.user_number = bench::kScaleUsers + 1;
    stranger.facility_id = "nowhere";
    stranger.brand = "none";
    queries.push_back(stranger);
    return queries;
}

// RetrieveTasks on `machine_name` gives each user the view the rules say.
inline void ExpectViewsFollowTheRules(Database& db, const std::string& machine_name) {
    for (const TaskQuery& q : ScaleQueries()) {
        SCOPED_TRACE("user " + std::to_string(q.user_number) + " at " + q.facility_id + "/" +
                     q.brand + " in application " + std::to_string(q.app_id));
        const std::vector<int64_t> expected = ExpectedView(db, q);
        // Everyone's tasks, a hundred per application, at the least.
        EXPECT_GE(expected.size(), 100u);
        EXPECT_EQ(TaskIds(RetrieveTaskRows(machine_name, q)), expected);
    }
}

}  // namespace kevra::service::testing
