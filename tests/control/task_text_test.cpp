// Task keys and captions read straight from the rows must read exactly as
// the general rule does: the key is "X" joined with the value as text, the
// caption the value as text trimmed of spaces; a Null caption raises 94.
#include "navigation/task_text.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace kevra {
namespace {

using navigation::CaptionText;
using navigation::CaptionView;
using navigation::JoinText;
using navigation::KeyText;

TEST(TaskText, KeysAndCaptionsReadAsTheGeneralRuleOfEveryValueType) {
    TableBuilder b({"TaskId", "TaskDescription"});
    const std::vector<std::pair<Variant, Variant>> rows = {
        {Variant(int32_t{42}), Variant("  Rooms & Rates  ")},
        {Variant(int32_t{-2147483647 - 1}), Variant("\tTab stays\t")},
        {Variant(int64_t{9000000000}), Variant(int32_t{7})},
        {Variant(2.5), Variant(-0.5)},
        {Variant::Boolean(true), Variant::Boolean(false)},
        {Variant::Null(), Variant("   ")},
        {Variant(), Variant()},
        {Variant(" 9 "), Variant("")},
    };
    for (const auto& [id, text] : rows) b.AddRow({id, text});
    auto rs = Recordset::Open(b.Build());
    const std::vector<std::string> captions = {
        "Rooms & Rates", "\tTab stays\t", "7", "-0.5", "False", "", "", ""};
    std::string scratch;
    for (size_t i = 0; !rs->Eof(); rs->MoveNext(), ++i) {
        EXPECT_EQ(KeyText(*rs, "TaskId"), "X" + JoinText(*rs, "TaskId")) << i;
        EXPECT_EQ(CaptionView(*rs, "taskdescription", scratch), captions[i]) << i;
        EXPECT_EQ(CaptionText(*rs, "TaskDescription"), captions[i]) << i;
    }
    rs->Filter("TaskId=42");
    EXPECT_EQ(KeyText(*rs, "TaskId"), "X42");
    // Views into the rows outlive the cursor that read them while the rows do.
    auto clone = rs->Clone();
    const std::string_view view = CaptionView(*clone, "TaskDescription", scratch);
    clone.reset();
    EXPECT_EQ(view, "Rooms & Rates");
}

TEST(TaskText, NullCaptionsAndMissingRowsRaiseWithTheirNumbers) {
    TableBuilder b({"TaskId", "TaskDescription"});
    b.AddRow({Variant(int32_t{5}), Variant::Null()});
    auto rs = Recordset::Open(b.Build());
    std::string scratch;
    try {
        CaptionView(*rs, "TaskDescription", scratch);
        FAIL() << "a Null caption was accepted";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kInvalidUseOfNull);
        EXPECT_NE(e.Description().find("task X5"), std::string::npos) << e.Description();
    }
    rs->MoveNext();
    for (auto read : {+[](Recordset& r) { KeyText(r, "TaskId"); },
                      +[](Recordset& r) { r.Fields("TaskDescription").TextView(); }}) {
        try {
            read(*rs);
            FAIL() << "read past the last row";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), err::kNoCurrentRow);
        }
    }
    try {
        KeyText(*rs, "Nope");
        FAIL() << "an unknown field was read";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kFieldNotFound);
    }
}

}  // namespace
}  // namespace kevra
