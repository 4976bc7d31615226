// The JSON catalogue reader: values and fields as the record set must see
// them, readable errors with positions, and survival of hostile files.
#include "service/json_catalogue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/error.h"
#include "platform/json.h"
#include "test_util.h"

namespace kevra::service {
namespace {

using testing::ReadRows;
using testing::ScratchDir;
using testing::TaskIds;

// The RuntimeError a parse raises, or a failure when none is raised.
RuntimeError ParseError(const std::string& text, const JsonLimits& limits = {}) {
    try {
        ParseJsonCatalogue(text, "c.json", limits);
    } catch (const RuntimeError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for: " << text.substr(0, 200);
    return RuntimeError(0, "");
}

TEST(JsonCatalogue, ValuesKeepTheirTypes) {
    auto cat = ParseJsonCatalogue(R"([
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Front Office", "IsLink": false,
       "TaskURL": null, "TaskParms": "", "Weight": 2.5, "Big": 3000000000, "Neg": -2147483648},
      {"TaskId": 2, "TaskParent": 1, "TaskDescription": "Caf\u00e9 \ud83d\ude00 \"q\"\n",
       "IsLink": true, "TaskURL": "https://x/", "Small": -2147483649}
    ])",
                                  "c.json");
    auto rows = ReadRows(cat.rows, {"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL",
                                    "TaskParms", "Weight", "Big", "Neg", "Small"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Variant(int32_t{1}));
    EXPECT_EQ(rows[0][3], Variant::Boolean(false));
    EXPECT_TRUE(rows[0][4].IsNull());
    EXPECT_EQ(rows[0][5], Variant(""));
    EXPECT_EQ(rows[0][6], Variant(2.5));
    EXPECT_EQ(rows[0][7], Variant(int64_t{3000000000}));
    EXPECT_EQ(rows[0][8], Variant(int32_t{INT32_MIN}));
    EXPECT_TRUE(rows[0][9].IsNull()) << "a field a row lacks reads as Null";
    EXPECT_EQ(rows[1][2], Variant("Caf\xC3\xA9 \xF0\x9F\x98\x80 \"q\"\n"));
    EXPECT_EQ(rows[1][3], Variant::Boolean(true));
    EXPECT_EQ(rows[1][9], Variant(int64_t{-2147483649LL}));
    EXPECT_TRUE(rows[1][5].IsNull()) << "TaskParms is always a field, Null when absent";
}

TEST(JsonCatalogue, NumbersWithFractionOrExponentAreDoubles) {
    auto rows =
        ReadRows(ParseJsonCatalogue(
                     R"([{"TaskId": 1.0, "A": 1e2, "B": -0, "C": 99999999999999999999}])", "c.json")
                     .rows,
                 {"TaskId", "A", "B", "C"});
    EXPECT_EQ(rows[0][0], Variant(1.0));
    EXPECT_EQ(rows[0][1], Variant(100.0));
    EXPECT_EQ(rows[0][2], Variant(int32_t{0}));
    EXPECT_EQ(rows[0][3], Variant(1e20)) << "a whole number beyond 64 bits is kept as a Double";
}

TEST(JsonCatalogue, RowsKeepFileOrderAndFieldsMatchWithoutCase) {
    auto cat = ParseJsonCatalogue(
        R"([{"TaskId": 7}, {"taskid": 3, "extra": "a"}, {"TASKID": 5, "EXTRA": "b"}, {}])",
        "c.json");
    auto rows = ReadRows(cat.rows, {"TaskId", "Extra"});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][0], Variant(int32_t{7}));
    EXPECT_EQ(rows[1][0], Variant(int32_t{3}));
    EXPECT_EQ(rows[2][1], Variant("b"));
    EXPECT_TRUE(rows[3][0].IsNull());
    EXPECT_EQ(cat.row_lines, (std::vector<uint32_t>{1, 1, 1, 1}));
}

TEST(JsonCatalogue, FieldFirstNamedFarIntoTheFileIsReadLikeAnyOther) {
    // The new field comes after the reader's first 64 KiB window, on a file
    // read right up to its size and text limits: every row, grant and line
    // must come out once, as if the field had been named from the start.
    std::string text = "[\n";
    for (int i = 1; i <= 3000; ++i)
        text += R"({"TaskId": )" + std::to_string(i) + R"(, "TaskDescription": "Task )" +
                std::to_string(i) + R"(", "Grants": [{"UserNumber": )" + std::to_string(i) +
                "}]},\n";
    text += R"({"TaskId": 3001, "Late": "x", "Grants": []}])";
    JsonLimits tight;
    tight.max_file_bytes = text.size();
    tight.max_total_text_bytes = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            ++tight.max_total_text_bytes;
    }
    ScratchDir dir;
    const std::string path = dir.Write("late.json", text);

    const JsonCatalogue cat = ReadJsonCatalogue(path, tight);
    const auto rows = ReadRows(cat.rows, {"TaskId", "TaskDescription", "Late"});
    ASSERT_EQ(rows.size(), 3001u);
    EXPECT_EQ(rows[0][1], Variant("Task 1"));
    EXPECT_TRUE(rows[0][2].IsNull());
    EXPECT_EQ(rows[2999][0], Variant(int32_t{3000}));
    EXPECT_EQ(rows[3000][2], Variant("x"));
    ASSERT_EQ(cat.grants.size(), 3001u);
    EXPECT_EQ(*cat.grants[0], (std::vector<Grant>{{1, {}, {}}}));
    EXPECT_EQ(*cat.grants[2999], (std::vector<Grant>{{3000, {}, {}}}));
    EXPECT_TRUE(cat.grants[3000].has_value() && cat.grants[3000]->empty());
    ASSERT_EQ(cat.row_lines.size(), 3001u);
    EXPECT_EQ(cat.row_lines[0], 2u);
    EXPECT_EQ(cat.row_lines[3000], 3002u);

    EXPECT_EQ(ReadRows(ReadJsonCatalogueRows(path, tight), {"TaskId", "TaskDescription", "Late"}),
              rows);
    EXPECT_EQ(ReadRows(ParseJsonCatalogue(text, "late.json", tight).rows,
                       {"TaskId", "TaskDescription", "Late"}),
              rows);
    tight.max_total_text_bytes -= 1;
    EXPECT_THROW(ReadJsonCatalogueRows(path, tight), RuntimeError);
}

TEST(JsonCatalogue, ErrorsAfterAFieldFirstNamedLateKeepTheirRowAndPosition) {
    EXPECT_EQ(ParseError("[{\"TaskId\": 1},\n {\"TaskId\": 2, \"Late\": 1},\n"
                         " {\"TaskId\": 3, \"late\": 2, \"LATE\": 3}]")
                  .Description(),
              "The catalogue \"c.json\" is not a valid catalogue: line 3, column 27: row 3 has "
              "the field \"Late\" twice (field names ignore letter case)");
    EXPECT_EQ(
        ParseError("[{\"TaskId\": 1},\n {\"Late\": 1},\n {\"TaskId\": 3 \"A\": 1}]").Description(),
        "The catalogue \"c.json\" is not valid JSON: line 3, column 15: expected ',' or "
        "'}', found '\"'");
    // A field named again in a later row is no duplicate.
    EXPECT_EQ(TaskIds(ParseJsonCatalogue(
                          "[{\"TaskId\": 1}, {\"TaskId\": 2, \"A\": 1}, {\"a\": 2, \"TaskId\": 3}]",
                          "c.json")
                          .rows),
              (std::vector<int64_t>{1, 2, 3}));
}

TEST(JsonCatalogue, EmptyCatalogueAndByteOrderMark) {
    EXPECT_TRUE(TaskIds(ParseJsonCatalogue(" [ ] \n", "c.json").rows).empty());
    EXPECT_EQ(TaskIds(ParseJsonCatalogue("\xEF\xBB\xBF[{\"TaskId\": 4}]", "c.json").rows),
              std::vector<int64_t>{4});
}

TEST(JsonCatalogue, SyntaxErrorsNameLineAndColumn) {
    struct Case {
        std::string text, message;
    };
    const Case cases[] = {
        {"[\n {\"TaskId\": 1,\n  \"A\" 2}]",
         "The catalogue \"c.json\" is not valid JSON: line 3, column 7: expected ':' after the "
         "field name, found '2'"},
        {"[{\"TaskId\": 1 \"A\": 2}]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 15: expected ',' or '}', "
         "found '\"'"},
        {"",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 1: the file is empty; a "
         "catalogue is a list of rows: [{\"TaskId\": 1, ...}, ...]"},
        {"{\"TaskId\": 1}",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 1: expected '[' (a catalogue "
         "is a list of rows: [{\"TaskId\": 1, ...}, ...]), found '{'"},
        {"[{\"TaskId\": 1},]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 16: expected '{' to open a "
         "row (each row is an object of fields), found ']'"},
        {"[{\"TaskId\": 1}",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 15: "
         "expected ',' or ']', found the end of the file"},
        {"[] x",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 4: unexpected 'x' "
         "after the closing ']' of the catalogue"},
        {"[{\"A\": tru}]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 8: "
         "expected a value (text in double quotes, a number, true, false or "
         "null)"},
        {"[{\"A\": 012}]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 9: a "
         "number may not have a leading zero"},
        {"[{\"A\": \"x\\q\"}]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 11: unknown escape \\q in "
         "text (valid: \\\" \\\\ \\/ \\b \\f \\n \\r \\t \\uXXXX)"},
        {"[{\"A\": \"abc",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 12: the "
         "text starting at line 1, column 8 has no closing '\"'"},
        {"[{\"A\": \"\xC3\xA9\xC3\xA9\t\"}]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 11: a control character in "
         "text must be written as an escape such as \\n, \\t or \\u0001"},
        {"[{\"A\": \"\\ud800x\"}]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column "
         "15: a high surrogate must be followed by \\u and a low "
         "surrogate"},
    };
    for (const auto& c : cases) {
        RuntimeError e = ParseError(c.text);
        EXPECT_EQ(e.Number(), err::kBadCatalogue) << c.text;
        EXPECT_EQ(e.Description(), c.message) << c.text;
    }
}

TEST(JsonCatalogue, WrongShapesAreRejectedWithTheRow) {
    struct Case {
        std::string text, message;
    };
    const Case cases[] = {
        {"[{\"TaskId\": 1}, {\"TaskId\": {\"x\": 1}}]",
         "The catalogue \"c.json\" is not a valid catalogue: line 1, column 28: row 2, field "
         "\"TaskId\": an object is not a field value; a field holds text, a number, true, false "
         "or null"},
        {"[{\"TaskDescription\": [\"a\"]}]",
         "The catalogue \"c.json\" is not a valid catalogue: line 1, column 22: row 1, field "
         "\"TaskDescription\": a list is not a field value; a field holds text, a number, true, "
         "false or null"},
        {"[{\"TaskId\": 1, \"taskID\": 2}]",
         "The catalogue \"c.json\" is not a valid catalogue: line 1, column 16: row 1 has the "
         "field \"TaskId\" twice (field names ignore letter case)"},
        {"[[1]]",
         "The catalogue \"c.json\" is not valid JSON: line 1, column 2: expected '{' to "
         "open a row (each row is an object of fields), found '['"},
        {"[{\"A\": 1e999}]",
         "The catalogue \"c.json\" is not a valid catalogue: line 1, column "
         "8: the number 1e999 is out of range (a field holds at most about "
         "1.8e308)"},
    };
    for (const auto& c : cases) {
        RuntimeError e = ParseError(c.text);
        EXPECT_EQ(e.Number(), err::kBadCatalogue) << c.text;
        EXPECT_EQ(e.Description(), c.message) << c.text;
    }
}

TEST(JsonCatalogue, GrantsAreReadApartFromTheRows) {
    auto cat = ParseJsonCatalogue(R"([
      {"TaskId": 1, "AppId": 2, "Grants": [{"UserNumber": 12}, {"Brand": "Azure", "FacilityId": "LON"}]},
      {"TaskId": 2, "Grants": []},
      {"TaskId": 3, "Grants": null},
      {"TaskId": 4, "Grants": [{}, {"UserNumber": null, "brand": "B"}]}
    ])",
                                  "c.json");
    ASSERT_EQ(cat.grants.size(), 4u);
    EXPECT_EQ(*cat.grants[0], (std::vector<Grant>{{12, {}, {}}, {{}, "Azure", "LON"}}));
    EXPECT_TRUE(cat.grants[1].has_value() && cat.grants[1]->empty());
    EXPECT_FALSE(cat.grants[2].has_value());
    EXPECT_EQ(*cat.grants[3], (std::vector<Grant>{{}, {{}, "B", {}}}));
    EXPECT_EQ(ReadRows(cat.rows, {"AppId"})[0][0], Variant(int32_t{2}));
    RecordsetRef rs = Recordset::Open(cat.rows);
    EXPECT_THROW(rs->Fields("Grants"), RuntimeError) << "grants never reach the record set";

    EXPECT_EQ(ParseError(R"([{"Grants": [{"User": 1}]}])").Description(),
              "The catalogue \"c.json\" is not a valid catalogue: line 1, column 15: row 1: "
              "unknown grant member \"User\" (a grant has UserNumber, Brand and FacilityId)");
    EXPECT_EQ(ParseError(R"([{"Grants": [{"UserNumber": "12"}]}])").Description(),
              "The catalogue \"c.json\" is not a valid catalogue: line 1, column 29: row 1: the "
              "grant's UserNumber must be a whole number that fits 32 bits, or null");
    EXPECT_EQ(ParseError(R"([{"Grants": {"Brand": "B"}}])").Number(), err::kBadCatalogue);
}

TEST(JsonCatalogue, FileErrorsNameTheFileAndTheProblem) {
    ScratchDir dir;
    try {
        ReadJsonCatalogue("no-such-dir/x.json");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kFileNotFound);
        EXPECT_EQ(e.Description(),
                  "Cannot open the catalogue \"no-such-dir/x.json\": No such file or directory");
    }
    try {
        ReadJsonCatalogue(dir.Path().string());
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kPathAccess);
        EXPECT_NE(e.Description().find(": Is a directory"), std::string::npos);
    }
    std::string p = dir.Write("bad.json", "[\n  {\"TaskId\": 1,}\n]");
    try {
        ReadJsonCatalogue(p);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_EQ(e.Description(), "The catalogue " + json::Quote(p) +
                                       " is not valid JSON: line 2, column 16: expected a field "
                                       "name in double quotes, found '}'");
    }
}

// What the streaming reader hands over, row by row.
struct StreamedRow {
    size_t number;
    uint32_t line;
    std::vector<std::string> fields;
    std::vector<Variant> values;
    std::optional<std::vector<Grant>> grants;
};

std::vector<StreamedRow> Stream(const std::string& text, const JsonLimits& limits = {}) {
    std::vector<StreamedRow> rows;
    ForEachJsonRowOfText(
        text, "c.json",
        [&](JsonRowView& row) {
            rows.push_back({row.number, row.line, row.fields, row.values, row.grants});
        },
        limits);
    return rows;
}

// The message of the error `f` raises ("" for none), with its number.
template <typename F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return std::to_string(e.Number()) + " " + e.Description();
    }
    return "";
}

// The tools read a catalogue through the streaming reader and a load
// through the whole-file one: both must see the same rows and give the same
// errors, word for word, or a file that loads could fail to import.
TEST(JsonCatalogueStream, HandsOverWhatTheWholeReaderReads) {
    const std::string text = R"([
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "A", "Grants": [{"UserNumber": 3}]},
      {"TaskId": 2.5, "taskparent": 1, "Extra": "x", "Grants": null},

      {"AppId": 7, "TaskId": 3, "Grants": [], "IsLink": true}
    ])";
    const JsonCatalogue whole = ParseJsonCatalogue(text, "c.json");
    const std::vector<StreamedRow> streamed = Stream(text);
    ASSERT_EQ(streamed.size(), whole.grants.size());
    const std::vector<std::string> names = {"TaskId",  "TaskParent", "TaskDescription", "IsLink",
                                            "TaskURL", "TaskParms",  "Extra",           "AppId"};
    const auto expected = ReadRows(whole.rows, names);
    for (size_t i = 0; i < streamed.size(); ++i) {
        const StreamedRow& row = streamed[i];
        EXPECT_EQ(row.number, i + 1);
        EXPECT_EQ(row.line, whole.row_lines[i]);
        EXPECT_EQ(row.grants, whole.grants[i]) << "row " << i + 1;
        ASSERT_EQ(row.values.size(), row.fields.size());
        for (size_t f = 0; f < names.size(); ++f) {
            const size_t at = FindField(row.fields, names[f]);
            EXPECT_EQ(at == kNoField ? Variant::Null() : row.values[at], expected[i][f])
                << "row " << i + 1 << ", " << names[f];
        }
    }
    // Fields are known as the rows name them: the first row has the six.
    EXPECT_EQ(streamed[0].fields.size(), kTaskFieldCount);
    EXPECT_EQ(streamed[1].fields.back(), "Extra");
    EXPECT_EQ(FindField(streamed[2].fields, "APPID"), 7u);

    JsonLimits small;
    small.max_rows = 2;
    small.max_cells = 13;
    small.max_total_text_bytes = 4;
    const std::pair<std::string, JsonLimits> broken[] = {
        {"[{\"TaskId\": 1}, {\"TaskId\": 2}, {\"TaskId\": 3,}]", {}},
        {"[{\"TaskId\": 1}, {\"TaskId\": {}}]", {}},
        {"[{\"TaskId\": 1}, {\"TaskId\": 2, \"taskid\": 3}]", {}},
        {"[{\"TaskId\": 1}, {\"Grants\": [{\"Brand\": 5}]}]", {}},
        {"[{\"TaskId\": 1}] [", {}},
        {"[{},{},{}]", small},
        {"[{\"A\": \"ab\"},{\"B\": \"c\"}]", small},
        {"[{},{\"a\": 1, \"b\": 2}]", small},
    };
    for (const auto& [b, limits] : broken) {
        const std::string want = MessageOf([&] { ParseJsonCatalogue(b, "c.json", limits); });
        EXPECT_NE(want, "") << b;
        EXPECT_EQ(MessageOf([&] { Stream(b, limits); }), want) << b;
    }
    ScratchDir dir;
    EXPECT_EQ(MessageOf([&] { ForEachJsonRow(dir.File("none.json"), [](JsonRowView&) {}); }),
              MessageOf([&] { ReadJsonCatalogue(dir.File("none.json")); }));
    size_t rows = 0;
    ForEachJsonRow(dir.Write("c.json", text), [&](JsonRowView&) { ++rows; });
    EXPECT_EQ(rows, 3u);
}

TEST(JsonCatalogue, TextAcrossChunkBoundariesReadsWhole) {
    // Multi-byte characters and escapes placed on every offset around the
    // 64 KiB boundary of the reader's window.
    ScratchDir dir;
    for (size_t pad = 65520; pad < 65540; ++pad) {
        std::string desc(pad, 'a');
        desc += "\xE2\x82\xAC\\u00e9\xF0\x9F\x8F\xA8";
        std::string text = "[{\"TaskDescription\": \"" + desc + "\", \"TaskId\": 9}]";
        auto rows = ReadRows(ReadJsonCatalogue(dir.Write("c.json", text)).rows,
                             {"TaskDescription", "TaskId"});
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0].StringValue(),
                  std::string(pad, 'a') + "\xE2\x82\xAC\xC3\xA9\xF0\x9F\x8F\xA8");
        EXPECT_EQ(rows[0][1], Variant(int32_t{9}));
    }
}

TEST(JsonCatalogueHostile, DeepNestingFailsAtOnce) {
    // A million levels would exhaust the stack of a reader that went down
    // into them; this one refuses the first level a catalogue cannot have.
    std::string text(1'000'000, '[');
    RuntimeError e = ParseError(text);
    EXPECT_EQ(e.Description(),
              "The catalogue \"c.json\" is not valid JSON: line 1, column 2: "
              "expected '{' to open a row (each row is an object of fields), "
              "found '['");
    std::string in_row = "[{\"A\": " + std::string(1'000'000, '{');
    EXPECT_NE(ParseError(in_row).Description().find("an object is not a field value"),
              std::string::npos);
    const std::string in_value =
        "[{\"TaskId\": 1, \"TaskDescription\": " + std::string(1'000'000, '[') +
        std::string(1'000'000, ']') + "}]";
    EXPECT_NE(ParseError(in_value).Description().find(
                  "row 1, field \"TaskDescription\": a list is not a field value"),
              std::string::npos);
}

TEST(JsonCatalogueHostile, InvalidUtf8IsRejectedWherever) {
    const std::string bad[] = {
        "[{\"A\": \"ok \xFF\"}]",           // never valid
        "[{\"A\": \"\xC0\xAF\"}]",          // overlong
        "[{\"A\": \"\xED\xA0\x80\"}]",      // encoded surrogate
        "[{\"A\": \"\xE2\x82\"}]",          // truncated
        "[{\"A\": \"\xF4\x90\x80\x80\"}]",  // beyond U+10FFFF
    };
    for (const auto& text : bad) {
        RuntimeError e = ParseError(text);
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_NE(e.Description().find("is not valid UTF-8"), std::string::npos) << e.what();
        // A host shows the description as it is: it names the bytes, never
        // repeats them.
        EXPECT_EQ(json::ValidUtf8(e.Description()), e.Description()) << json::Quote(e.what());
    }
    EXPECT_EQ(ParseError("[{\"A\": \"ok \xFF\"}]").Description(),
              "The catalogue \"c.json\" is not valid JSON: line 1, column 12: the text is not "
              "valid UTF-8 (the byte 0xFF cannot start a character); save the file as UTF-8");
    EXPECT_NE(ParseError("[\xFF]").Description().find("found the byte 0xFF"), std::string::npos);
}

TEST(JsonCatalogueHostile, EachLimitFailsWithItsOwnReason) {
    JsonLimits small;
    small.max_rows = 3;
    small.max_fields = 8;
    small.max_cells = 40;
    small.max_string_bytes = 10;
    small.max_total_text_bytes = 30;
    small.max_grants_per_row = 2;
    const std::string base = "The catalogue \"c.json\" is too large for this reader: ";
    const std::string tail = " (see docs/catalogues.md, \"Limits\")";
    EXPECT_EQ(ParseError("[{},{},{},{}]", small).Description(),
              base + "it has more than 3 rows" + tail);
    EXPECT_EQ(ParseError("[{\"A\": \"12345678901\"}]", small).Description(),
              base + "the text starting at line 1, column 8 is longer than 10 bytes" + tail);
    EXPECT_EQ(
        ParseError("[{\"A\":\"1234567890\",\"B\":\"1234567890\",\"C\":\"1234567890\"}]", small)
            .Description(),
        base + "its text adds up to more than 30 bytes" + tail);
    EXPECT_EQ(ParseError("[{\"a\":1,\"b\":2,\"c\":3}]", small).Description(),
              base +
                  "it has more than 8 different field names (the field \"c\" at line 1 is one "
                  "too many)" +
                  tail);
    small.max_fields = 64;
    EXPECT_EQ(
        ParseError("[{},{},{\"a\":1,\"b\":2,\"c\":3,\"d\":4,\"e\":5,\"f\":6,\"g\":7,\"h\":8}]",
                   small)
            .Description(),
        base + "its rows times its fields come to more than 40 values" + tail);
    EXPECT_EQ(ParseError("[{\"Grants\": [{},{},{}]}]", small).Description(),
              base + "row 1 has more than 2 grants" + tail);
    // Within the limits, the same reader loads.
    EXPECT_EQ(TaskIds(ParseJsonCatalogue("[{\"TaskId\":1},{\"TaskId\":2},{\"TaskId\":3}]", "c.json",
                                         small)
                          .rows),
              (std::vector<int64_t>{1, 2, 3}));
}

TEST(JsonCatalogueHostile, MultiGigabyteFileIsRefusedBeforeReading) {
    ScratchDir dir;
    std::string p = dir.File("huge.json");
    int fd = ::open(p.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);  // sparse: costs no disk
    ::close(fd);
    const auto start = std::chrono::steady_clock::now();
    try {
        // The reader LoadData uses.
        ReadJsonCatalogueRows(p);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_NE(e.Description().find("is too large for this reader: it is larger than 1 GiB"),
                  std::string::npos)
            << e.Description();
    }
    // Reading three gigabytes first would take far longer (and as much
    // memory, if kept); the bound leaves room for a loaded sanitizer run.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0)
        << "the reader read the file before refusing it";
}

TEST(JsonCatalogueHostile, StreamsWithoutKnowingTheSizeFirst) {
    // A byte limit also holds for input whose size is not known up front.
    JsonLimits small;
    small.max_file_bytes = 100'000;
    std::string text = "[" + std::string(200'000, ' ') + "]";
    EXPECT_NE(ParseError(text, small).Description().find("it is larger than 100000 bytes"),
              std::string::npos);
}

// Text is copied in runs of plain bytes; these cases put the ends of a run
// where a byte-by-byte reader would notice them: past the 64 KiB window,
// at an escape or a multi-byte character, at a control character, at the
// length limit.
TEST(JsonCatalogueText, LongTextAcrossTheReadWindowKeepsEveryByte) {
    std::string expected, written;
    for (int i = 0; i < 13000; ++i) {
        const std::string plain = "room " + std::to_string(i) + " ";
        expected += plain;
        written += plain;
        if (i % 7 == 0) {
            expected += "\"\xC3\xA9\n";
            written += "\\\"\xC3\xA9\\n";
        }
    }
    ASSERT_GT(written.size(), size_t{2} * 64 * 1024);
    ScratchDir dir;
    const std::string path = dir.File("long.json");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string text = "[{\"TaskId\": 1, \"TaskDescription\": \"" + written +
                                 "\"}, {\"TaskId\": 2, \"TaskDescription\": \"end\"}]";
        ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
        std::fclose(f);
    }
    const auto rows = ReadRows(ReadJsonCatalogueRows(path), {"TaskId", "TaskDescription"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], Variant(expected));
    EXPECT_EQ(rows[1][1], Variant("end"));
}

TEST(JsonCatalogueText, PositionsAfterLongTextCountEveryCharacter) {
    // 70,000 plain characters, then a raw control character: its column
    // is the text's start (8) plus the characters before it.
    const std::string run(70'000, 'a');
    EXPECT_EQ(ParseError("[{\"A\": \"" + run + "\x01\"}]").Description(),
              "The catalogue \"c.json\" is not valid JSON: line 1, column 70009: a control "
              "character in text must be written as an escape such as \\n, \\t or \\u0001");
    // A multi-byte character is one column; the line goes on after the text.
    EXPECT_EQ(ParseError("[{\"A\": \"" + run + "\xC3\xA9" + run + "\" x}]").Description(),
              "The catalogue \"c.json\" is not valid JSON: line 1, column 140012: expected ',' "
              "or '}', found 'x'");
}

TEST(JsonCatalogueText, TheLengthLimitHoldsToTheByte) {
    JsonLimits limits;
    limits.max_string_bytes = 70'000;
    const std::string at_limit(70'000, 'b');
    auto rows = ReadRows(
        ParseJsonCatalogue("[{\"A\": \"" + at_limit + "\"}]", "c.json", limits).rows, {"A"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], Variant(at_limit));
    const std::string base = "The catalogue \"c.json\" is too large for this reader: ";
    const std::string tail = " (see docs/catalogues.md, \"Limits\")";
    EXPECT_EQ(ParseError("[{\"A\": \"" + at_limit + "b\"}]", limits).Description(),
              base + "the text starting at line 1, column 8 is longer than 70000 bytes" + tail);
    // An escape is the byte it stands for: one more is one too many.
    EXPECT_EQ(ParseError("[{\"A\": \"" + at_limit + "\\n\"}]", limits).Description(),
              base + "the text starting at line 1, column 8 is longer than 70000 bytes" + tail);
}

// Whole numbers and the words true, false and null are read straight from
// the window when they end inside it; the same values must come back where
// they meet its end, at every offset around it.
TEST(JsonCatalogueText, NumbersAndWordsAtTheWindowsEdgeReadAlike) {
    const std::string row =
        R"({"TaskId": 123456789, "TaskParent": -987654321, "IsLink": true, "TaskURL": null, )"
        R"("TaskParms": false, "N": 1234567890, "Z": -0, "B": 2147483648, "D": 12.5})";
    for (size_t pad = 65'440; pad < 65'540; ++pad) {
        const std::string text = "[" + std::string(pad, ' ') + row + "]";
        const auto rows = ReadRows(
            ParseJsonCatalogue(text, "c.json").rows,
            {"TaskId", "TaskParent", "IsLink", "TaskURL", "TaskParms", "N", "Z", "B", "D"});
        ASSERT_EQ(rows.size(), 1u);
        const std::vector<Variant> expected{Variant(int32_t{123456789}),
                                            Variant(int32_t{-987654321}),
                                            Variant::Boolean(true),
                                            Variant::Null(),
                                            Variant::Boolean(false),
                                            Variant(int32_t{1234567890}),
                                            Variant(int32_t{0}),
                                            Variant(int64_t{2147483648}),
                                            Variant(12.5)};
        for (size_t f = 0; f < expected.size(); ++f) {
            EXPECT_EQ(rows[0][f], expected[f]) << "field " << f << " at padding " << pad;
            EXPECT_EQ(rows[0][f].type(), expected[f].type()) << "field " << f << " at " << pad;
        }
    }
}

TEST(JsonCatalogueText, ShortNumbersAndWordsFailAsBefore) {
    const std::string json = "The catalogue \"c.json\" is not valid JSON: line 1, column ";
    EXPECT_EQ(ParseError("[{\"A\": 01}]").Description(),
              json + "9: a number may not have a leading zero");
    EXPECT_EQ(ParseError("[{\"A\": -01}]").Description(),
              json + "10: a number may not have a leading zero");
    EXPECT_EQ(ParseError("[{\"A\": truex}]").Description(),
              json + "8: expected a value (text in double quotes, a number, true, false or null)");
    EXPECT_EQ(ParseError("[{\"A\": nullnull}]").Description(),
              json + "8: expected a value (text in double quotes, a number, true, false or null)");
    EXPECT_EQ(ParseError("[{\"A\": 12x}]").Description(),
              json + "10: expected ',' or '}', found 'x'");
    EXPECT_EQ(ParseError("[{\"A\": true x}]").Description(),
              json + "13: expected ',' or '}', found 'x'");
}

// A field named as in the row before is found by its place in that order;
// rows that change the order or the spelling, or name a field twice where
// the order would expect it, read as any other.
TEST(JsonCatalogueText, FieldsInAnyOrderAndSpellingFindTheirColumn) {
    const auto rows = ReadRows(ParseJsonCatalogue(R"([
        {"TaskId": 1, "TaskParent": 0, "TaskDescription": "a", "Extra": 5},
        {"TaskId": 2, "TaskParent": 1, "TaskDescription": "b", "Extra": 6},
        {"Extra": 7, "taskid": 3, "TASKPARENT": 2, "TaskDescription": "c"},
        {"TaskDescription": "d", "TaskId": 4}
    ])",
                                                  "c.json")
                                   .rows,
                               {"TaskId", "TaskParent", "TaskDescription", "Extra"});
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<std::vector<Variant>> expected{
        {Variant(1), Variant(0), Variant("a"), Variant(5)},
        {Variant(2), Variant(1), Variant("b"), Variant(6)},
        {Variant(3), Variant(2), Variant("c"), Variant(7)},
        {Variant(4), Variant::Null(), Variant("d"), Variant::Null()}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(ParseError(R"([{"B": 1, "A": 2, "B": 3}])").Description(),
              "The catalogue \"c.json\" is not a valid catalogue: line 1, column 19: row 1 has "
              "the field \"B\" twice (field names ignore letter case)");
}

}  // namespace
}  // namespace kevra::service
