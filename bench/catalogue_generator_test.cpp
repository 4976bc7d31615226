// The catalogue generator: the shape it promises, reproducibility, the rows
// agreeing with the structure it reports, and the JSON it writes reading
// back through the task service's own reader.
#include "bench/catalogue_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "platform/error.h"
#include "service/json_catalogue.h"

namespace kevra::testdata {
namespace {

const std::vector<std::string> kFields = {"TaskId", "TaskParent", "TaskDescription",
                                          "IsLink", "TaskURL",    "TaskParms"};

std::vector<std::vector<Variant>> AllRows(const TableRef& table) {
    std::vector<std::vector<Variant>> rows;
    RecordsetRef rs = Recordset::Open(table);
    for (; !rs->Eof(); rs->MoveNext()) {
        std::vector<Variant> row;
        for (const auto& f : kFields) row.push_back(rs->Fields(f).Value());
        rows.push_back(std::move(row));
    }
    return rows;
}

TEST(CatalogueGenerator, SameSeedSameRowsOtherSeedOtherRows) {
    CatalogueSpec spec;
    spec.rows = 500;
    const auto a = AllRows(GenerateCatalogue(spec).table);
    const auto b = AllRows(GenerateCatalogue(spec).table);
    EXPECT_EQ(a, b);
    spec.seed = 2;
    EXPECT_NE(a, AllRows(GenerateCatalogue(spec).table));
}

TEST(CatalogueGenerator, RowsMatchTheReportedStructure) {
    for (RowOrder order : {RowOrder::kDepthFirst, RowOrder::kLevel, RowOrder::kShuffled}) {
        CatalogueSpec spec;
        spec.rows = 2000;
        spec.fanout = {7, 5, 3};
        spec.order = order;
        const Catalogue cat = GenerateCatalogue(spec);
        ASSERT_EQ(cat.Rows(), 2000u);
        const auto rows = AllRows(cat.table);
        ASSERT_EQ(rows.size(), 2000u);

        std::map<int32_t, uint32_t> row_of_id;
        for (uint32_t r = 0; r < cat.Rows(); ++r) {
            EXPECT_EQ(rows[r][0], Variant(cat.task_id[r]));
            EXPECT_EQ(rows[r][1], Variant(cat.parent_id[r]));
            EXPECT_EQ(rows[r][2], Variant(cat.description[r]));
            EXPECT_NE(cat.task_id[r], 0);
            EXPECT_TRUE(row_of_id.emplace(cat.task_id[r], r).second) << "duplicate id";
        }
        // Every parent exists one level up, and the child lists say the same.
        uint32_t listed = 0;
        for (uint32_t r = 0; r < cat.Rows(); ++r) {
            if (cat.parent_id[r] == 0) {
                EXPECT_EQ(cat.level[r], 1);
                continue;
            }
            const uint32_t p = row_of_id.at(cat.parent_id[r]);
            EXPECT_EQ(cat.level[r], cat.level[p] + 1);
            const auto first = cat.child_rows.begin() + cat.child_begin[p];
            const auto last = cat.child_rows.begin() + cat.child_begin[p + 1];
            EXPECT_NE(std::find(first, last, r), last);
            EXPECT_TRUE(std::is_sorted(first, last)) << "children out of row order";
        }
        for (uint32_t r = 0; r < cat.Rows(); ++r) listed += cat.ChildCount(r);
        EXPECT_EQ(listed + cat.top_rows.size(), cat.Rows());
        EXPECT_EQ(cat.top_rows.size(), 7u);
    }
}

TEST(CatalogueGenerator, DepthFirstOrderKeepsEverySubtreeTogether) {
    CatalogueSpec spec;
    spec.rows = 1500;
    spec.fanout = {3, 4, 5};
    const Catalogue cat = GenerateCatalogue(spec);
    for (uint32_t r = 0; r < cat.Rows(); ++r) {
        // The subtree of r is the rows right after it.
        const uint32_t size = cat.SubtreeSize(r);
        for (uint32_t i = cat.child_begin[r]; i < cat.child_begin[r + 1]; ++i) {
            EXPECT_GT(cat.child_rows[i], r);
            EXPECT_LE(cat.child_rows[i], r + size);
        }
    }
}

TEST(CatalogueGenerator, FanOutPerLevelAndTheDeepestLevelTakesTheRest) {
    CatalogueSpec spec;
    spec.rows = 1000;
    spec.fanout = {4, 6};
    spec.depth = 3;
    const Catalogue cat = GenerateCatalogue(spec);
    std::map<int, std::vector<uint32_t>> children_by_level;
    for (uint32_t r = 0; r < cat.Rows(); ++r) {
        EXPECT_LE(cat.level[r], 3);
        children_by_level[cat.level[r]].push_back(cat.ChildCount(r));
    }
    EXPECT_EQ(children_by_level[1].size(), 4u);
    for (uint32_t n : children_by_level[1]) EXPECT_EQ(n, 6u);
    // 1000 - 4 - 24 = 972 tasks over 24 list items: 40 or 41 each.
    ASSERT_EQ(children_by_level[2].size(), 24u);
    const auto [low, high] =
        std::minmax_element(children_by_level[2].begin(), children_by_level[2].end());
    EXPECT_EQ(*low, 40u);
    EXPECT_EQ(*high, 41u);
}

TEST(CatalogueGenerator, RowsRunOutBeforeTheShapeDoes) {
    CatalogueSpec spec;
    spec.rows = 25;
    spec.fanout = {10, 10};
    const Catalogue cat = GenerateCatalogue(spec);
    EXPECT_EQ(cat.Rows(), 25u);
    EXPECT_EQ(cat.top_rows.size(), 10u);
    // The first list-bar groups are filled first, in order.
    EXPECT_EQ(cat.ChildCount(cat.top_rows[0]), 10u);
    EXPECT_EQ(cat.ChildCount(cat.top_rows[1]), 5u);
    EXPECT_EQ(cat.ChildCount(cat.top_rows[2]), 0u);
}

TEST(CatalogueGenerator, OnlyTreeTasksAreLinksAndLinksCarryAUrl) {
    CatalogueSpec spec;
    spec.rows = 20000;
    spec.link_share = 0.3;
    const Catalogue cat = GenerateCatalogue(spec);
    const auto rows = AllRows(cat.table);
    uint32_t tree_tasks = 0, links = 0;
    for (uint32_t r = 0; r < cat.Rows(); ++r) {
        const bool link = rows[r][3].EqualsTrue();
        if (cat.level[r] < 3) {
            EXPECT_FALSE(link);
            continue;
        }
        ++tree_tasks;
        links += link;
        EXPECT_EQ(rows[r][4].IsNull(), !link);
        if (link) {
            EXPECT_FALSE(rows[r][4].ToString().empty());
        }
    }
    EXPECT_NEAR(static_cast<double>(links) / tree_tasks, 0.3, 0.02);
}

TEST(CatalogueGenerator, JsonReadsBackThroughTheCatalogueReader) {
    CatalogueSpec spec;
    spec.rows = 300;
    spec.order = RowOrder::kShuffled;
    const Catalogue cat = GenerateCatalogue(spec);
    std::ostringstream json;
    WriteJsonCatalogue(cat.table, json);
    const service::JsonCatalogue read = service::ParseJsonCatalogue(json.str(), "generated.json");
    EXPECT_EQ(AllRows(read.rows), AllRows(cat.table));
    EXPECT_EQ(AllRows(CopyTaskRows(cat.table)), AllRows(cat.table));
}

TEST(CatalogueGenerator, ASpecThatCannotBeBuiltIsRefusedByName) {
    CatalogueSpec zero_fan;
    zero_fan.fanout = {5, 0};
    CatalogueSpec bad_share;
    bad_share.link_share = 1.5;
    CatalogueSpec no_fan;
    no_fan.fanout = {};
    for (const auto& [spec, named] :
         {std::pair{zero_fan, "fanout[1]"}, std::pair{bad_share, "link_share"},
          std::pair{no_fan, "fanout"}}) {
        try {
            GenerateCatalogue(spec);
            ADD_FAILURE() << "accepted a spec with a bad " << named;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), err::kInvalidArgument);
            EXPECT_NE(e.Description().find(named), std::string::npos) << e.Description();
        }
    }
}

TEST(CatalogueGenerator, AChainAsDeepAsTheRows) {
    CatalogueSpec spec;
    spec.rows = 5000;
    spec.fanout = {1};
    const Catalogue cat = GenerateCatalogue(spec);
    EXPECT_EQ(cat.SubtreeSize(cat.top_rows[0]), 4999u);
    EXPECT_EQ(cat.level.back(), 255);  // capped
}

}  // namespace
}  // namespace kevra::testdata
