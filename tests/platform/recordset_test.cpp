// Cursor behaviour of the task record set: walking, clones, closed and
// end-of-file errors, failed filter puts, fault checkpoints and the table
// builder's checks.
#include "platform/recordset.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <thread>

#include "platform/error.h"
#include "platform/faults.h"

namespace kevra {
namespace {

const std::vector<std::string> kFields = {"TaskId", "TaskParent", "TaskDescription",
                                          "IsLink", "TaskURL",    "TaskParms"};

TableRef Catalogue() {
    TableBuilder b(kFields);
    auto row = [&](int32_t id, int32_t parent, const char* text, Variant link) {
        b.AddRow({id, parent, text, link, Variant::Null(), Variant::Null()});
    };
    row(7, 0, "Reports", Variant::Null());
    row(3, 0, "Admin", Variant::Boolean(false));
    row(10, 7, "Daily", Variant::Boolean(true));
    row(11, 7, "Monthly", 1);
    row(12, 7, "Weekly", -1);
    row(20, 3, "Users", Variant::Null());
    row(30, 10, "Sales", Variant::Boolean(true));
    return b.Build();
}

std::vector<int32_t> Ids(Recordset& rs) {
    std::vector<int32_t> ids;
    while (!rs.Eof()) {
        ids.push_back(rs.Fields("TaskId").Value().ToInt32());
        rs.MoveNext();
    }
    return ids;
}

template <typename F>
int32_t ErrorOf(F&& f, std::string* description = nullptr) {
    try {
        f();
    } catch (const RuntimeError& e) {
        if (description) *description = e.Description();
        return e.Number();
    }
    return 0;
}

class RecordsetTest : public ::testing::Test {
  protected:
    void TearDown() override { faults::Reset(); }
    RecordsetRef rs_ = Recordset::Open(Catalogue());
};

TEST_F(RecordsetTest, OpensOnFirstRowInTableOrder) {
    EXPECT_EQ(rs_->State(), 1);
    EXPECT_EQ(rs_->RecordCount(), 7);
    EXPECT_EQ(rs_->Filter(), "");
    EXPECT_EQ(Ids(*rs_), (std::vector<int32_t>{7, 3, 10, 11, 12, 20, 30}));
}

TEST_F(RecordsetTest, FieldValuesKeepTheirTypes) {
    rs_->Filter("TaskId=10");
    EXPECT_EQ(rs_->Fields("TaskId").Value(), Variant(int32_t{10}));
    EXPECT_EQ(rs_->Fields("taskdescription").Value(), Variant("Daily"));
    EXPECT_EQ(rs_->Fields("IsLink").Value(), Variant::Boolean(true));
    EXPECT_TRUE(rs_->Fields("TaskURL").Value().IsNull());
    EXPECT_EQ(rs_->Fields("isLINK").Name(), "IsLink");
}

TEST_F(RecordsetTest, WalkingChildrenThroughClonesLeavesTheOriginalAlone) {
    rs_->Filter("TaskParent=0");
    std::vector<int32_t> top, children;
    while (!rs_->Eof()) {
        int32_t id = rs_->Fields("TaskId").Value().ToInt32();
        top.push_back(id);
        auto clone = rs_->Clone();
        EXPECT_EQ(clone->RecordCount(), 7) << "a clone starts unfiltered";
        clone->Filter("TaskParent=" + std::to_string(id));
        for (int32_t c : Ids(*clone)) children.push_back(c);
        EXPECT_EQ(rs_->Fields("TaskId").Value().ToInt32(), id) << "the clone moved the original";
        rs_->MoveNext();
    }
    EXPECT_EQ(top, (std::vector<int32_t>{7, 3}));
    EXPECT_EQ(children, (std::vector<int32_t>{10, 11, 12, 20}));
    EXPECT_EQ(rs_->Filter(), "TaskParent=0");
    EXPECT_EQ(rs_->RecordCount(), 2);
}

TEST_F(RecordsetTest, ClonesShareRowsButNotStateOrLifetime) {
    auto clone = rs_->Clone();
    EXPECT_EQ(clone->Rows(), rs_->Rows());
    clone->MoveNext();
    EXPECT_EQ(rs_->Fields("TaskId").Value().ToInt32(), 7);
    rs_->Close();
    EXPECT_EQ(clone->State(), 1);
    EXPECT_EQ(clone->Fields("TaskId").Value().ToInt32(), 3);
    rs_.reset();
    clone->Filter("TaskParent=7");
    EXPECT_EQ(Ids(*clone), (std::vector<int32_t>{10, 11, 12}));
}

TEST_F(RecordsetTest, EmptyAndBlankFiltersShowEveryRow) {
    rs_->Filter("TaskId=30");
    rs_->Filter("   ");
    EXPECT_EQ(rs_->RecordCount(), 7);
    rs_->Filter("");
    EXPECT_EQ(Ids(*rs_).size(), 7u);
}

TEST_F(RecordsetTest, EndOfFileErrors) {
    rs_->Filter("TaskParent=12345");
    EXPECT_TRUE(rs_->Eof());
    EXPECT_EQ(rs_->RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { rs_->MoveNext(); }), err::kNoCurrentRow);
    std::string d;
    EXPECT_EQ(ErrorOf([&] { rs_->Fields("TaskId").Value(); }, &d), err::kNoCurrentRow);
    EXPECT_NE(d.find("TaskId"), std::string::npos) << d;
    EXPECT_NE(d.find("end-of-file"), std::string::npos) << d;

    auto empty = Recordset::Open(TableBuilder(kFields).Build());
    EXPECT_TRUE(empty->Eof());
    empty->Filter("TaskParent=0");
    EXPECT_TRUE(empty->Eof());
}

TEST_F(RecordsetTest, UnknownFieldNamesTheField) {
    std::string d;
    EXPECT_EQ(ErrorOf([&] { rs_->Fields("TaskUrl2"); }, &d), err::kFieldNotFound);
    EXPECT_NE(d.find("\"TaskUrl2\""), std::string::npos) << d;
    EXPECT_NE(d.find("TaskParms"), std::string::npos) << "lists the fields there are: " << d;
}

TEST_F(RecordsetTest, ClosedRecordsetRejectsEveryOperationButState) {
    Field held = rs_->Fields("TaskId");
    rs_->Close();
    EXPECT_EQ(rs_->State(), 0);
    std::string d;
    EXPECT_EQ(ErrorOf([&] { rs_->Eof(); }, &d), err::kObjectClosed);
    EXPECT_NE(d.find("closed"), std::string::npos) << d;
    EXPECT_EQ(ErrorOf([&] { rs_->MoveNext(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->Filter("TaskId=1"); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->Filter(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->Fields("TaskId"); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { held.Value(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->RecordCount(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->Clone(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->Rows(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs_->Close(); }), err::kObjectClosed);
    EXPECT_EQ(held.Name(), "TaskId");
}

TEST_F(RecordsetTest, InPlaceReadersRaiseAsValueDoes) {
    rs_->Filter("TaskId=30");
    const Field link = rs_->Fields("IsLink");
    const Field id = rs_->Fields("TaskId");
    rs_->MoveNext();
    int32_t value = 0;
    EXPECT_EQ(ErrorOf([&] { link.EqualsTrue(); }), err::kNoCurrentRow);
    EXPECT_EQ(ErrorOf([&] { id.ReadInt32(value); }), err::kNoCurrentRow);
    rs_->Close();
    EXPECT_EQ(ErrorOf([&] { link.EqualsTrue(); }), err::kObjectClosed);
    EXPECT_EQ(ErrorOf([&] { id.ReadInt32(value); }), err::kObjectClosed);
}

// Short filter texts are kept in the cursor, long ones apart; either reads
// back exactly, and a failed put keeps the text before it.
TEST_F(RecordsetTest, FilterTextReadsBackWhateverItsLength) {
    for (size_t pad : {0, 20, 28, 29, 30, 200}) {
        const std::string text = "TaskDescription = '" + std::string(pad, 'x') + "'";
        rs_->Filter(text);
        EXPECT_EQ(rs_->Filter(), text);
        EXPECT_EQ(rs_->RecordCount(), 0);
        EXPECT_NE(ErrorOf([&] { rs_->Filter("TaskId = = 1"); }), 0);
        EXPECT_EQ(rs_->Filter(), text);
        rs_->Filter("TaskParent=7");
        EXPECT_EQ(rs_->Filter(), "TaskParent=7");
        EXPECT_EQ(Ids(*rs_), (std::vector<int32_t>{10, 11, 12}));
    }
}

// Cursors are made in blocks that released cursors leave behind: a new
// cursor must show nothing of the one before it, whatever state that one
// was left in.
TEST_F(RecordsetTest, NewCursorsStartFreshWhateverTheReleasedOnesLeft) {
    for (int round = 0; round < 200; ++round) {
        {
            RecordsetRef used = rs_->Clone();
            switch (round % 4) {
                case 0:  // a scanned filter, which keeps rows of its own
                    used->Filter("TaskId > 10 AND TaskParent <> 3");
                    break;
                case 1:  // a long filter text, at its end
                    used->Filter("TaskDescription <> '" + std::string(60, 'q') + "'");
                    while (!used->Eof()) used->MoveNext();
                    break;
                case 2:
                    used->Filter("TaskParent=7");
                    used->Close();
                    break;
                default:
                    used->Filter("TaskId=12");
            }
        }
        RecordsetRef fresh = rs_->Clone();
        ASSERT_EQ(fresh->State(), 1) << round;
        ASSERT_EQ(fresh->Filter(), "") << round;
        ASSERT_EQ(fresh->RecordCount(), 7) << round;
        ASSERT_EQ(Ids(*fresh), (std::vector<int32_t>{7, 3, 10, 11, 12, 20, 30})) << round;
    }
}

TEST_F(RecordsetTest, FailedPutKeepsFilterRowsAndPosition) {
    rs_->Filter("TaskParent=7");
    rs_->MoveNext();
    auto expect_unchanged = [&] {
        EXPECT_EQ(rs_->Filter(), "TaskParent=7");
        EXPECT_EQ(rs_->RecordCount(), 3);
        EXPECT_EQ(rs_->Fields("TaskId").Value().ToInt32(), 11);
    };
    EXPECT_EQ(ErrorOf([&] { rs_->Filter("TaskParent="); }), err::kBadFilter);
    expect_unchanged();
    EXPECT_EQ(ErrorOf([&] { rs_->Filter("Parent=7"); }), err::kFieldNotFound);
    expect_unchanged();
    faults::Arm("Filter", 1, 3001, "injected");
    EXPECT_EQ(ErrorOf([&] { rs_->Filter("TaskParent=0"); }), 3001);
    expect_unchanged();
}

TEST_F(RecordsetTest, CheckpointsFireOnTheNthCallOnce) {
    for (const char* op : {"Clone", "Filter", "MoveNext", "Fields"}) {
        SCOPED_TRACE(op);
        auto rs = Recordset::Open(rs_->Rows());
        faults::Arm(op, 3, 462, std::string("fault on ") + op);
        auto call = [&] {
            std::string name = op;
            if (name == "Clone") rs->Clone();
            if (name == "Filter") rs->Filter("");
            if (name == "MoveNext") rs->MoveNext();
            if (name == "Fields") rs->Fields("TaskId");
        };
        call();
        call();
        std::string d;
        EXPECT_EQ(ErrorOf(call, &d), 462);
        EXPECT_EQ(d, std::string("fault on ") + op);
        EXPECT_EQ(ErrorOf(call), 0) << "fires once";
    }
}

TEST_F(RecordsetTest, ReadOnlyOperationsPassNoCheckpoint) {
    for (const char* op : {"Clone", "Filter", "MoveNext", "Fields"}) faults::Arm(op, 1, 5, op);
    rs_->State();
    rs_->RecordCount();
    rs_->Filter();
    rs_->Rows();
    rs_->Eof();
    // Every fault is still armed for its first call.
    EXPECT_EQ(ErrorOf([&] { rs_->Clone(); }), 5);
    EXPECT_EQ(ErrorOf([&] { rs_->Filter("TaskId=3"); }), 5);
    EXPECT_EQ(ErrorOf([&] { rs_->MoveNext(); }), 5);
    EXPECT_EQ(ErrorOf([&] { rs_->Fields("TaskId"); }), 5);
}

// The cells and text grow in blocks that move as they grow; a row the
// builder rejects half-way is cut off again. Enough rows and text for many
// growths of every column and of the text, read back in full.
TEST(TableBuilderTest, LargeTablesReadBackAfterGrowingAndARejectedRow) {
    const std::vector<std::string> names{"Id", "Text", "Wide", "Flag", "Maybe", "Real"};
    TableBuilder b(names);
    auto row_of = [](int32_t r) {
        return std::vector<Variant>{
            Variant(r),
            Variant(std::string(static_cast<size_t>(r % 300), static_cast<char>('a' + r % 26))),
            Variant(int64_t{r} << 33),
            Variant::Boolean(r % 2 == 0),
            r % 3 == 0 ? Variant::Null() : Variant("m" + std::to_string(r)),
            Variant(r / 4.0)};
    };
    const int32_t kRows = 30'000;
    for (int32_t r = 0; r < kRows; ++r) {
        b.AddRow(row_of(r));
        if (r == kRows / 2) {
            std::vector<Variant> bad = row_of(kRows + 1);
            bad[5] = Variant(ObjectRef(Recordset::Open(TableBuilder({"X"}).Build())));
            EXPECT_THROW(b.AddRow(bad), RuntimeError);
        }
    }
    auto rs = Recordset::Open(b.Build());
    ASSERT_EQ(rs->RecordCount(), kRows);
    for (int32_t r = 0; !rs->Eof(); rs->MoveNext(), ++r) {
        const std::vector<Variant> want = row_of(r);
        for (size_t c = 0; c < names.size(); ++c)
            ASSERT_EQ(rs->Fields(names[c]).Value(), want[c]) << "row " << r << ", " << names[c];
    }
}

// Columns are stored in the narrowest form their cells allow; every form
// must give back each value with its type.
TEST(TableBuilderTest, ValuesReadBackExactlyInEveryStorageForm) {
    const int64_t big = int64_t{1} << 40;
    const std::vector<std::vector<Variant>> pools = {
        {INT32_MIN, INT32_MAX, -1, 0},                                 // one type, 4 bytes
        {-1, "text", Variant::Null(), INT32_MIN, ""},                  // mixed, 4 bytes
        {int64_t{-5}, int64_t{7}, big, -big},                          // 8 bytes
        {Variant::Boolean(true), Variant::Boolean(false), Variant()},  // mixed, 4 bytes
        {-0.0, 2.5, "x", std::nan(""), -1.0},                          // doubles: 8 bytes
        {"a", "", "\xC3\xA9", std::string(300, 'z')},                  // one type, 4 bytes
    };
    std::vector<std::string> names;
    for (size_t c = 0; c < pools.size(); ++c) names.push_back("C" + std::to_string(c));
    TableBuilder b(names);
    std::vector<std::vector<Variant>> rows;
    for (size_t r = 0; r < 50; ++r) {
        std::vector<Variant> row;
        for (const auto& pool : pools) row.push_back(pool[(r * 7 + row.size()) % pool.size()]);
        rows.push_back(row);
        b.AddRow(row);
    }
    auto rs = Recordset::Open(b.Build());
    for (const auto& row : rows) {
        for (size_t c = 0; c < pools.size(); ++c) {
            Variant v = rs->Fields(names[c]).Value();
            if (row[c].type() == Variant::Type::Double && std::isnan(row[c].DoubleValue()))
                EXPECT_TRUE(v.type() == Variant::Type::Double && std::isnan(v.DoubleValue()));
            else
                EXPECT_EQ(v, row[c]) << names[c] << ": " << row[c].Describe();
            // The readers that skip the Variant agree with it.
            const Field field = rs->Fields(names[c]);
            EXPECT_EQ(field.EqualsTrue(), v.EqualsTrue()) << names[c] << ": " << v.Describe();
            int32_t read = 12345;
            EXPECT_EQ(field.ReadInt32(read), v.type() == Variant::Type::Int32) << v.Describe();
            if (v.type() == Variant::Type::Int32) {
                EXPECT_EQ(read, v.Int32Value());
            }
        }
        rs->MoveNext();
    }
    EXPECT_TRUE(rs->Eof());
    // Narrow integers must compare as the signed values they are.
    for (int c : {0, 1, 3}) {
        int32_t negative = 0, minus_one = 0;
        for (const auto& row : rows) {
            const Variant& v = row[c];
            if (v.IsNumeric() && v.ToDouble() < 0) ++negative;
            if (v.IsNumeric() && v.ToDouble() == -1) ++minus_one;
        }
        rs->Filter(names[c] + " < 0");
        EXPECT_EQ(rs->RecordCount(), negative) << names[c];
        rs->Filter(names[c] + " = -1");
        EXPECT_EQ(rs->RecordCount(), minus_one) << names[c];
        EXPECT_GT(minus_one, 0);
    }
}

TEST(TableBuilderTest, RejectsBadRowsWithoutDamagingTheTable) {
    TableBuilder b({"A", "B"});
    b.AddRow({1, "x"});
    std::string d;
    EXPECT_EQ(ErrorOf([&] { b.AddRow({2}); }, &d), err::kInvalidArgument);
    EXPECT_NE(d.find("needs 2 values"), std::string::npos) << d;
    auto object = std::static_pointer_cast<Object>(Recordset::Open(TableBuilder({"X"}).Build()));
    EXPECT_EQ(ErrorOf([&] { b.AddRow({3, Variant(object)}); }, &d), err::kTypeMismatch);
    EXPECT_NE(d.find("\"B\""), std::string::npos) << d;
    b.AddRow({4, "y"});
    EXPECT_EQ(b.RowCount(), 2u);
    auto rs = Recordset::Open(b.Build());
    EXPECT_EQ(b.RowCount(), 0u);
    EXPECT_EQ(b.FieldIndex("b"), 1) << "the builder keeps its fields for the next table";
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("A").Value(), Variant(int32_t{4}));
    EXPECT_EQ(rs->Fields("B").Value(), Variant("y"));
}

// Every field must be found under any letter case among many fields of
// every length, and a name one byte off must not be.
TEST(TableBuilderTest, EveryFieldFoundUnderAnyCaseAmongManyFields) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        // Lengths 1 to 21, so that the word-wise compare meets every tail.
        std::string name(1 + i % 21, 'a');
        for (size_t k = 0; k < name.size(); ++k)
            name[k] = static_cast<char>('a' + (i * 7 + static_cast<int>(k) * 3) % 26);
        name += std::to_string(i);
        names.push_back(name);
    }
    TableBuilder b(names);
    b.AddRow(std::vector<Variant>(names.size(), Variant(int32_t{1})));
    RecordsetRef rs = Recordset::Open(b.Build());
    for (const std::string& name : names) {
        std::string upper = name, mixed = name;
        for (size_t k = 0; k < name.size(); ++k) {
            upper[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[k])));
            if (k % 2) mixed[k] = upper[k];
        }
        for (const std::string& spelling : {name, upper, mixed})
            ASSERT_EQ(rs->Fields(spelling).Name(), name) << spelling;
        for (size_t k = 0; k < name.size(); ++k) {
            std::string off = name;
            off[k] = '#';
            ASSERT_EQ(ErrorOf([&] { rs->Fields(off); }), err::kFieldNotFound) << off;
        }
    }
    EXPECT_EQ(ErrorOf([&] { rs->Fields(""); }), err::kFieldNotFound);
}

TEST(TableBuilderTest, RejectsDuplicateAndEmptyFieldNames) {
    std::string d;
    EXPECT_EQ(ErrorOf([] { TableBuilder({"TaskId", "taskid"}); }, &d), err::kInvalidArgument);
    EXPECT_NE(d.find("twice"), std::string::npos) << d;
    EXPECT_EQ(ErrorOf([] { TableBuilder({"A", ""}); }), err::kInvalidArgument);
    EXPECT_EQ(ErrorOf([] { Recordset::Open(nullptr); }), err::kObjectNotSet);
}

TEST(TableBuilderTest, IndexBuiltConcurrentlyGivesEveryCursorTheSameRows) {
    TableBuilder b({"Id", "Parent"});
    for (int32_t i = 0; i < 20000; ++i) b.AddRow({i, i % 97});
    TableRef table = b.Build();
    std::vector<int32_t> counts(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            auto rs = Recordset::Open(table);
            rs->Filter("Parent=" + std::to_string(t));
            counts[t] = rs->RecordCount();
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(counts[t], 20000 / 97 + (t < 20000 % 97 ? 1 : 0));
}

}  // namespace
}  // namespace kevra
