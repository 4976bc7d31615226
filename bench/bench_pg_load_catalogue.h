// A hotel group's catalogue, generated inside the database: 4 applications
// of 10,000 tasks each, granted to 5,000 users (20 per task), 500
// facilities (4 per task), 8 brands (every tenth task) and everyone (every
// hundredth task): 964,400 grant rows. The load test and the query-plan
// tests share it, so the plans checked are those of the measured data.
//
// The SQL reads the same in SQLite and PostgreSQL; the numbers come from a
// table of 0..9999 filled first, the one statement that differs.
#pragma once

#include <string>
#include <vector>

#include "service/catalogue_location.h"
#include "service/task_service.h"

namespace kevra::bench {

inline constexpr int kScaleApps = 4;
inline constexpr int kScaleTasksPerApp = 10'000;
inline constexpr int kScaleUsers = 5'000;
inline constexpr int kScaleFacilities = 500;
inline constexpr int kScaleBrands = 8;
inline constexpr int kScaleGrantRows = kScaleApps * kScaleTasksPerApp * (20 + 4) +
                                       kScaleApps * kScaleTasksPerApp / 10 +
                                       kScaleApps * kScaleTasksPerApp / 100;

// The statements that fill an empty catalogue (schema in place).
inline std::vector<std::string> ScaleCatalogueSql(service::StoreKind kind) {
    std::vector<std::string> sql = {"CREATE TABLE scale_n (i INTEGER NOT NULL)"};
    if (kind == service::StoreKind::kPostgres)
        sql.push_back("INSERT INTO scale_n SELECT generate_series(0, 9999)");
    else
        sql.push_back(
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 9999) "
            "INSERT INTO scale_n SELECT i FROM s");
    // Tasks 1..10000 of each application, a hundred to a folder.
    sql.push_back(
        "INSERT INTO task (app_id, id, parent, description, is_link, url, parms, sort_order) "
        "SELECT a.i, n.i + 1, CASE WHEN n.i < 100 THEN 0 ELSE n.i / 100 END, "
        "'Task ' || (n.i + 1), n.i >= 100, 'https://example.invalid/t/' || (n.i + 1), NULL, "
        "n.i + 1 FROM scale_n a, scale_n n WHERE a.i BETWEEN 1 AND 4");
    // 20 users per task, all different: 251 * 19 < 5000.
    sql.push_back(
        "INSERT INTO task_grant (app_id, task_id, user_number) "
        "SELECT a.i, n.i + 1, (n.i * 7 + k.i * 251 + a.i * 31) % 5000 + 1 "
        "FROM scale_n a, scale_n n, scale_n k WHERE a.i BETWEEN 1 AND 4 AND k.i < 20");
    sql.push_back(
        "INSERT INTO task_grant (app_id, task_id, facility_id) "
        "SELECT a.i, n.i + 1, 'F' || ((n.i * 13 + k.i * 127) % 500 + 1) "
        "FROM scale_n a, scale_n n, scale_n k WHERE a.i BETWEEN 1 AND 4 AND k.i < 4");
    sql.push_back(
        "INSERT INTO task_grant (app_id, task_id, brand) "
        "SELECT a.i, n.i + 1, 'B' || (n.i / 10 % 8) "
        "FROM scale_n a, scale_n n WHERE a.i BETWEEN 1 AND 4 AND n.i % 10 = 9");
    sql.push_back(
        "INSERT INTO task_grant (app_id, task_id) "
        "SELECT a.i, n.i + 1 FROM scale_n a, scale_n n "
        "WHERE a.i BETWEEN 1 AND 4 AND n.i % 100 = 99");
    sql.push_back("DROP TABLE scale_n");
    sql.push_back("ANALYZE");
    return sql;
}

// The view of the `n`th of the catalogue's users: a user of 1..5000 at one
// of the facilities and brands, in one of the applications.
inline service::TaskQuery ScaleUser(int n) {
    service::TaskQuery q;
    q.user_number = (n * 7919) % kScaleUsers + 1;
    q.facility_id = "F" + std::to_string((n * 37) % kScaleFacilities + 1);
    q.brand = "B" + std::to_string(n % kScaleBrands);
    q.app_id = n % kScaleApps + 1;
    return q;
}

}  // namespace kevra::bench
