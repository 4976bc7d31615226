// What every database store must do, written once and run against SQLite
// (kevra_service_tests) and PostgreSQL (kevra_service_pg_tests).
//
// A StoreFactory hands each test a MachineName for a new, empty catalogue
// of its kind; the contract tests fill it through the same SQL the tools
// use and load it through RetrieveTaskRows, as the control does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>

#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/database.h"

namespace kevra::service::testing {

class StoreFactory {
  public:
    virtual ~StoreFactory() = default;
    virtual std::string Kind() const = 0;
    // A MachineName for a catalogue no other test uses; nothing exists there
    // yet (or an empty database, for servers).
    virtual std::string NewCatalogue() = 0;
    // Why the store cannot be tested here, or "" when it can.
    virtual std::string Unavailable() { return ""; }
};

// Names the store in test output instead of its address.
inline void PrintTo(StoreFactory* store, std::ostream* os) { *os << store->Kind(); }

// Fills a catalogue directly, task by task and grant by grant.
class CatalogueWriter {
  public:
    explicit CatalogueWriter(const std::string& machine_name)
        : db_(OpenDatabase(ResolveMachineName(machine_name), OpenMode::kCreate)) {
        UpgradeSchema(*db_);
    }
    CatalogueWriter& Task(int32_t app, int32_t id, Variant parent, Variant desc, int32_t order,
                          Variant link = Variant::Null(), Variant url = Variant::Null(),
                          Variant parms = Variant::Null()) {
        db_->Execute(
            "INSERT INTO task (app_id, id, parent, description, is_link, url, parms, sort_order) "
            "VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
            {Variant(app), Variant(id), parent, desc, link, url, parms, Variant(order)});
        return *this;
    }
    CatalogueWriter& Grant(int32_t app, int32_t id, Variant user = Variant::Null(),
                           Variant brand = Variant::Null(), Variant facility = Variant::Null()) {
        db_->Execute(
            "INSERT INTO task_grant (app_id, task_id, user_number, brand, facility_id) VALUES "
            "($1, $2, $3, $4, $5)",
            {Variant(app), Variant(id), user, brand, facility});
        return *this;
    }
    Database& Db() { return *db_; }

  private:
    std::unique_ptr<Database> db_;
};

// Skips when the store cannot be had, except under CI=true, where the
// contract must run and so fails.
class StoreContract : public ::testing::TestWithParam<StoreFactory*> {
  protected:
    void SetUp() override {
        std::string why = Store().Unavailable();
        if (why.empty()) return;
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << "CI=true: " << why;
        GTEST_SKIP() << Store().Kind() << " is not available: " << why;
    }
    StoreFactory& Store() { return *GetParam(); }
};

// Defined once by each test program: the store its contract tests run on.
StoreFactory* ContractStore();

}  // namespace kevra::service::testing
