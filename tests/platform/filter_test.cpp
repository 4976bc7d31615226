// The filter language: operators over mixed cell types, LIKE, precedence,
// malformed expressions and their positions, and the equality index checked
// against a scan and an independent oracle on random tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "platform/error.h"
#include "platform/json.h"
#include "platform/recordset.h"

namespace kevra {
namespace {

constexpr int64_t kTwo53 = int64_t{1} << 53;

// Id, a numeric-ish column N of every cell type, a text-ish column T.
TableRef Mixed() {
    TableBuilder b({"Id", "N", "T", "Task Name"});
    auto row = [&](int32_t id, Variant n, Variant t) { b.AddRow({id, n, t, "x"}); };
    row(1, 5, "Apple");
    row(2, 5.0, "apple pie");
    row(3, int64_t{5}, "Banana");
    row(4, 5.5, "O'Neil");
    row(5, -1, "42");
    row(6, Variant::Boolean(true), "cherry");
    row(7, Variant::Boolean(false), "");
    row(8, Variant::Null(), Variant::Null());
    row(9, Variant(), Variant());
    row(10, "5", 42);
    row(11, kTwo53 + 1,
        "\xC3\xA9"
        "clair");
    row(12, static_cast<double>(kTwo53), "Zebra");
    row(13, 0, "a_b*c");
    return b.Build();
}

std::vector<int32_t> Match(const TableRef& table, const std::string& filter) {
    auto rs = Recordset::Open(table);
    rs->Filter(filter);
    std::vector<int32_t> ids;
    for (; !rs->Eof(); rs->MoveNext()) ids.push_back(rs->Fields("Id").Value().ToInt32());
    EXPECT_EQ(rs->RecordCount(), static_cast<int32_t>(ids.size())) << filter;
    return ids;
}

using Ids = std::vector<int32_t>;

class FilterTest : public ::testing::Test {
  protected:
    Ids M(const std::string& f) { return Match(table_, f); }
    TableRef table_ = Mixed();
};

TEST_F(FilterTest, NumbersMatchEveryNumericTypeExactly) {
    EXPECT_EQ(M("N=5"), (Ids{1, 2, 3}));
    for (const char* same : {"N = 5.0", "N=+5", "N=5e0", "N=.5e1", "n\t=\t5"})
        EXPECT_EQ(M(same), (Ids{1, 2, 3})) << same;
    EXPECT_EQ(M("N=5.5"), (Ids{4}));
    EXPECT_EQ(M("N=-1"), (Ids{5, 6})) << "Boolean True is -1";
    EXPECT_EQ(M("N=1"), (Ids{}));
    EXPECT_EQ(M("N=0"), (Ids{7, 13}));
    EXPECT_EQ(M("N=9007199254740992"), (Ids{12})) << "2^53 + 1 is not 2^53";
    EXPECT_EQ(M("N=9007199254740993"), (Ids{11}));
    EXPECT_EQ(M("N>9007199254740992"), (Ids{11}));
    EXPECT_EQ(M("N=99999999999999999999"), (Ids{}));
    EXPECT_EQ(M("N<99999999999999999999"), (Ids{1, 2, 3, 4, 5, 6, 7, 11, 12, 13}));
}

TEST_F(FilterTest, LiteralsBeyondADoubleCompareAsInfinityOrZero) {
    const Ids numbers = {1, 2, 3, 4, 5, 6, 7, 11, 12, 13};
    EXPECT_EQ(M("N<1e400"), numbers);
    EXPECT_EQ(M("N>-1e99999999999999999999"), numbers);
    EXPECT_EQ(M("N>1e-400"), (Ids{1, 2, 3, 4, 11, 12}));
    EXPECT_EQ(M("N=-1e-400"), (Ids{7, 13})) << "a negative zero equals zero";
    EXPECT_EQ(M("N=0.000001e-330"), (Ids{7, 13}));
    EXPECT_EQ(M("N<-0.000001e330"), (Ids{}));
}

TEST_F(FilterTest, OrderingOperators) {
    EXPECT_EQ(M("N<>5"), (Ids{4, 5, 6, 7, 11, 12, 13}));
    EXPECT_EQ(M("N<0"), (Ids{5, 6}));
    EXPECT_EQ(M("N>5"), (Ids{4, 11, 12}));
    EXPECT_EQ(M("N<=5"), (Ids{1, 2, 3, 5, 6, 7, 13}));
    EXPECT_EQ(M("N>=5.5"), (Ids{4, 11, 12}));
    EXPECT_EQ(M("T<'b'"), (Ids{1, 2, 5, 7, 13}));
    EXPECT_EQ(M("T>='Z'"), (Ids{11, 12})) << "bytes compare unsigned, letters folded";
}

TEST_F(FilterTest, NumbersAndTextNeverMatchEachOther) {
    EXPECT_EQ(M("N='5'"), (Ids{10}));
    EXPECT_EQ(M("T=42"), (Ids{10}));
    EXPECT_EQ(M("T='42'"), (Ids{5}));
    EXPECT_EQ(M("N LIKE '5'"), (Ids{10}));
}

TEST_F(FilterTest, NullAndEmptyMatchNoComparison) {
    EXPECT_EQ(M("T<>'x'"), (Ids{1, 2, 3, 4, 5, 6, 7, 11, 12, 13}));
    EXPECT_EQ(M("T LIKE '*'"), (Ids{1, 2, 3, 4, 5, 6, 7, 11, 12, 13}));
    EXPECT_EQ(M("T=''"), (Ids{7}));
    EXPECT_EQ(M("T LIKE ''"), (Ids{7}));
}

TEST_F(FilterTest, TextIgnoresAsciiCaseAndUndoublesQuotes) {
    EXPECT_EQ(M("T='APPLE'"), (Ids{1}));
    EXPECT_EQ(M("T='o''neil'"), (Ids{4}));
    EXPECT_EQ(M("[Task Name]='X' AND Id<3"), (Ids{1, 2}));
}

TEST_F(FilterTest, LikeWildcards) {
    EXPECT_EQ(M("T LIKE 'a*'"), (Ids{1, 2, 13}));
    EXPECT_EQ(M("T like '%PIE'"), (Ids{2}));
    EXPECT_EQ(M("T LIKE 'appl_'"), (Ids{1}));
    EXPECT_EQ(M("T LIKE '?clair'"), (Ids{11})) << "one wildcard covers a two-byte character";
    EXPECT_EQ(M("T LIKE '*a*a*a*'"), (Ids{3}));
    EXPECT_EQ(M("T LIKE 'a_b*c'"), (Ids{13}));
    EXPECT_EQ(M("T LIKE '*e'"), (Ids{1, 2}));
}

// A wildcard takes a whole character of four bytes, but text that is not
// UTF-8 (a cut character, an overlong form) counts byte by byte, as its
// description shows it: one replacement character a byte.
TEST(FilterLikeTest, WildcardsCountBrokenTextByTheByte) {
    TableBuilder b({"Id", "T"});
    b.AddRow({1, "\xF0\x9F\x98\x80"});  // U+1F600
    b.AddRow({2,
              "\xE2\x82"
              "a"});            // a three-byte character cut after two
    b.AddRow({3, "x\xC3"});     // cut at the end
    b.AddRow({4, "\xC0\x80"});  // an overlong NUL
    TableRef table = b.Build();
    EXPECT_EQ(Match(table, "T LIKE '_'"), (Ids{1}));
    EXPECT_EQ(Match(table, "T LIKE '__'"), (Ids{3, 4}));
    EXPECT_EQ(Match(table, "T LIKE '___'"), (Ids{2}));
    EXPECT_EQ(Match(table, "T LIKE '*_a'"), (Ids{2}));
    EXPECT_EQ(Match(table, "T LIKE 'x?'"), (Ids{3}));
}

TEST_F(FilterTest, AndBindsTighterThanOr) {
    EXPECT_EQ(M("Id=1 OR Id=2 AND Id=3"), (Ids{1}));
    EXPECT_EQ(M("(Id=1 OR Id=2) AND Id=2"), (Ids{2}));
    EXPECT_EQ(M("Id=1 or id=2 AnD T LIKE '*pie'"), (Ids{1, 2}));
    EXPECT_EQ(M("((Id<5) AND (N=5 OR T='O''Neil')) OR Id=13"), (Ids{1, 2, 3, 4, 13}));
    EXPECT_EQ(M("N=5 AND T LIKE 'b*'"), (Ids{3}));
    EXPECT_EQ(M("T LIKE 'b*' AND N=5"), (Ids{3}));
}

struct Malformed {
    const char* filter;
    const char* fragment;
    int position;
};

TEST_F(FilterTest, MalformedFiltersSayWhatAndWhere) {
    auto rs = Recordset::Open(table_);
    try {
        TableBuilder b({"TaskParent"});
        Recordset::Open(b.Build())->Filter("TaskParent=");
        FAIL() << "accepted";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadFilter);
        EXPECT_EQ(e.Description(),
                  "Filter \"TaskParent=\" is malformed: a number or a quoted string is expected "
                  "after '=' at position 12");
    }
    const Malformed cases[] = {
        {"N", "an operator", 2},
        {"N==5", "after '='", 3},
        {"N=5 AND", "a condition", 8},
        {"N=5 Id=6", "AND, OR or the end", 5},
        {"(N=5", "')' is expected to close the '(' at position 1", 5},
        {"N=5)", "no matching '('", 4},
        {"T='abc", "no closing quote", 3},
        {"T LIKE 5", "LIKE needs a quoted pattern", 8},
        {"N=5x", "put a blank", 4},
        {"N=1.2.3", "put a blank", 6},
        {"N=1e", "exponent", 3},
        {"N=-", "a number is expected", 3},
        {"N=true", "-1 for True", 3},
        {"T=\"a\"", "single quotes", 3},
        {"N!=5", "'<>'", 2},
        {"[N=5", "closing ']'", 1},
        {"5=N", "a field name is expected", 1},
        {"AND=5", "[AND]", 1},
        {"()", "no condition", 1},
        {"N=5 AND (T='a' OR)", "a field name is expected, not ')'", 18},
        {"N=5 ; Id=1", "';' is not allowed", 5},
    };
    for (const auto& c : cases) {
        try {
            rs->Filter(c.filter);
            ADD_FAILURE() << c.filter << " accepted";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), err::kBadFilter) << c.filter;
            const std::string& d = e.Description();
            EXPECT_NE(d.find(c.fragment), std::string::npos) << d;
            EXPECT_NE(d.find(" at position " + std::to_string(c.position)), std::string::npos) << d;
            EXPECT_EQ(d.rfind("Filter \"" + std::string(c.filter) + "\" is malformed: ", 0), 0u)
                << d;
        }
    }
}

// `Field=integer` skips the general parser; written with parentheses it
// goes through the parser. Both must select the same rows or raise the same
// error, on every near miss of the plain form.
TEST_F(FilterTest, PlainEqualityAgreesWithTheParser) {
    TableBuilder b({"Id", "N", "And", "Or", "Like"});
    for (int32_t i = 1; i <= 9; ++i) b.AddRow({i, i % 3 - 1, i, i, i});
    b.AddRow({10, int64_t{999999999999999999}, 1, 1, 1});
    b.AddRow({11, Variant::Null(), 1, 1, 1});
    b.AddRow({12, "0", 1, 1, 1});
    TableRef table = b.Build();
    auto outcome = [&](const std::string& filter) {
        try {
            return ::testing::PrintToString(Match(table, filter));
        } catch (const RuntimeError& e) {
            return "error " + std::to_string(e.Number());
        }
    };
    for (const char* f : {"N=0",
                          "N=-1",
                          "N=1",
                          "N=-0",
                          "N=007",
                          "n=0",
                          "ID=3",
                          "Id=3",
                          "N=999999999999999999",
                          "N=9999999999999999999",
                          "N=0000000000000000001",
                          "N=2147483648",
                          "N=-9223372036854775808",
                          "N=",
                          "N=-",
                          "N=1x",
                          "N=--1",
                          "N=+1",
                          "N=1.0",
                          "N= 1",
                          "N =1",
                          "Nope=1",
                          "And=1",
                          "Or=1",
                          "LIKE=1",
                          "_=1",
                          "1=1",
                          "[N]=1",
                          "N=1 ",
                          "N=0x1",
                          "=1",
                          "N==1"}) {
        const std::string plain = outcome(f);
        const std::string parsed = outcome(std::string("(") + f + ")");
        EXPECT_EQ(plain, parsed) << f;
    }
    EXPECT_EQ(Match(table, "N=0"), (Ids{1, 4, 7}));
    EXPECT_EQ(Match(table, "N=999999999999999999"), (Ids{10}));
    EXPECT_EQ(Match(table, "N=-1"), (Ids{3, 6, 9}));
    // An index of integers only: text and fractions find nothing, equal
    // doubles find their integer.
    EXPECT_EQ(Match(table, "Id='3'"), Ids{});
    EXPECT_EQ(Match(table, "Id=3.5"), Ids{});
    EXPECT_EQ(Match(table, "Id=3.0"), (Ids{3}));
}

// A primary key of 32-bit integers is kept in its own compact table; keys
// at the ends of the range and values beyond it must not alias.
TEST_F(FilterTest, PrimaryKeysOfThirtyTwoBitsFindExactlyTheirRow) {
    TableBuilder b({"Id", "Row"});
    const int32_t ids[] = {std::numeric_limits<int32_t>::min(), -1, 0, 7,
                           std::numeric_limits<int32_t>::max()};
    for (int32_t i = 0; i < 5; ++i) b.AddRow({ids[i], i});
    b.AddRow({Variant::Null(), 5});
    for (int32_t i = 6; i < 3000; ++i) b.AddRow({i * 1000 + 13, i});
    TableRef table = b.Build();
    auto row_of = [&](const std::string& filter) {
        auto rs = Recordset::Open(table);
        rs->Filter(filter);
        std::vector<int32_t> rows;
        for (; !rs->Eof(); rs->MoveNext()) rows.push_back(rs->Fields("Row").Value().ToInt32());
        return rows;
    };
    EXPECT_EQ(row_of("Id=-2147483648"), (Ids{0}));
    EXPECT_EQ(row_of("Id=2147483647"), (Ids{4}));
    EXPECT_EQ(row_of("Id=-1"), (Ids{1}));
    EXPECT_EQ(row_of("Id=0"), (Ids{2}));
    EXPECT_EQ(row_of("Id=7.0"), (Ids{3}));
    EXPECT_EQ(row_of("Id=2999013"), (Ids{2999}));
    for (const char* none : {"Id=4294967303", "Id=-4294967297", "Id=2147483648", "Id=7.5", "Id='7'",
                             "Id=8", "Id=-2147483649"})
        EXPECT_EQ(row_of(none), Ids{}) << none;
}

// Repeated integer keys in a narrow range are screened by a bitmap of the
// values present; values beside, below and above them must still be told
// apart, and a range too wide for the bitmap must work as before.
TEST_F(FilterTest, RepeatedIntegerKeysFindTheirRowsWithAndWithoutTheBitmap) {
    for (const int64_t stride : {int64_t{1}, int64_t{1} << 40}) {
        TableBuilder b({"Parent", "Row"});
        for (int32_t i = 0; i < 400; ++i) b.AddRow({(i % 50 - 20) * stride * 2, i});
        b.AddRow({Variant::Null(), 400});
        TableRef table = b.Build();
        auto count = [&](int64_t value) {
            auto rs = Recordset::Open(table);
            rs->Filter("Parent=" + std::to_string(value));
            return rs->RecordCount();
        };
        EXPECT_EQ(count(-40 * stride), 8) << stride;
        EXPECT_EQ(count(0), 8) << stride;
        EXPECT_EQ(count(58 * stride), 8) << stride;
        for (const int64_t absent :
             {-42 * stride, -39 * stride, stride, 60 * stride,
              std::numeric_limits<int64_t>::min() + 1, std::numeric_limits<int64_t>::max()})
            EXPECT_EQ(count(absent), 0) << stride << " " << absent;
    }
}

// Integer keys in a narrow range are found through a bitmap and the count
// of keys below each word of it: keys on both sides of a word's edge, in
// gaps, at the ends of the range and beyond it must each find exactly their
// rows, in table order, whatever numeric type the cells have.
TEST_F(FilterTest, NarrowIntegerKeysFindTheirRowsInTableOrderAcrossWordEdges) {
    for (const bool unique : {true, false}) {
        TableBuilder b({"Id", "Row"});
        std::map<int64_t, Ids> expected;
        int32_t row = 0;
        auto add = [&](const Variant& id, int64_t as_integer) {
            b.AddRow({id, row});
            expected[as_integer].push_back(row++);
        };
        // Keys from -70 to 200 with gaps, the ones around 63/64 and 127/128
        // included, added out of order; repeated when not unique.
        for (int pass = 0; pass < (unique ? 1 : 3); ++pass) {
            for (int64_t k = 200; k >= -70; k -= (k % 5 == 0 ? 3 : 1)) {
                if (k == 64 || k == 100) continue;
                if (k == -1)
                    add(Variant::Boolean(true), -1);
                else if (k % 7 == 0)
                    add(Variant(static_cast<double>(k)), k);
                else if (k % 11 == 0)
                    add(Variant(k), k);
                else
                    add(Variant(static_cast<int32_t>(k)), k);
            }
            b.AddRow({Variant::Null(), row++});
        }
        TableRef table = b.Build();
        auto rows_of = [&](const std::string& filter) {
            auto rs = Recordset::Open(table);
            rs->Filter(filter);
            Ids rows;
            for (; !rs->Eof(); rs->MoveNext()) rows.push_back(rs->Fields("Row").Value().ToInt32());
            return rows;
        };
        for (int64_t k = -75; k <= 205; ++k) {
            auto it = expected.find(k);
            EXPECT_EQ(rows_of("Id=" + std::to_string(k)), it == expected.end() ? Ids{} : it->second)
                << k << (unique ? " unique" : " repeated");
        }
        for (const char* none : {"Id=63.5", "Id='63'", "Id=-9223372036854775807", "Id=4294967359"})
            EXPECT_EQ(rows_of(none), Ids{}) << none;
    }
}

// A filter is echoed in its error; bytes that are not UTF-8 must not make
// the description unreadable (hosts pass it on as text).
TEST_F(FilterTest, DescriptionsOfFiltersWithBrokenTextAreValidUtf8) {
    auto rs = Recordset::Open(table_);
    const std::string replacement = "\xEF\xBF\xBD";
    struct Case {
        std::string filter;
        std::string expected_echo;
        int number;
    };
    const Case cases[] = {
        {"N=5\xC3", "N=5" + replacement, err::kBadFilter},
        {"N=5\xC3\xA9", "N=5\xC3\xA9", err::kBadFilter},  // a whole character after a number
        {"T='\xFF", "T='" + replacement, err::kBadFilter},
        {"N\xE2\x82=1", "N" + replacement + replacement, err::kFieldNotFound},
    };
    for (const auto& c : cases) {
        try {
            rs->Filter(c.filter);
            ADD_FAILURE() << c.filter << " accepted";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), c.number) << c.filter;
            const std::string& d = e.Description();
            EXPECT_EQ(json::ValidUtf8(d), d) << json::Quote(d);
            EXPECT_NE(d.find("Filter \"" + c.expected_echo), std::string::npos) << json::Quote(d);
        }
    }
}

TEST_F(FilterTest, UnknownFieldIsReportedAfterSyntax) {
    auto rs = Recordset::Open(table_);
    try {
        rs->Filter("Id=1 OR Nope=1");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kFieldNotFound);
        EXPECT_NE(e.Description().find("\"Nope\""), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find("Id, N, T, Task Name"), std::string::npos);
    }
    try {
        rs->Filter("Nope=");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadFilter);
    }
}

// Random tables: `F = literal` answered by the index must equal the same
// comparison forced through a scan, and both must equal an oracle written
// over the Variants the table was built from.
TEST(FilterPropertyTest, IndexAgreesWithScanAndOracle) {
    std::mt19937 rng(20240611);
    const char* words[] = {"alpha", "ALPHA", "Beta", "beta ", "", "5", "o'k"};
    auto random_cell = [&](bool unique_pool, int32_t id) -> Variant {
        if (unique_pool) return rng() % 8 == 0 ? Variant::Null() : Variant(id * 3);
        switch (rng() % 9) {
            case 0:
                return Variant::Null();
            case 1:
                return Variant();
            case 2:
                return Variant(static_cast<int32_t>(rng() % 7) - 3);
            case 3:
                return Variant(static_cast<int64_t>(rng() % 7) - 3);
            case 4:
                return Variant((static_cast<int>(rng() % 13) - 6) / 2.0);
            case 5:
                return Variant::Boolean(rng() % 2);
            default:
                return Variant(words[rng() % std::size(words)]);
        }
    };
    auto random_literal = [&](std::string& text, Variant& value) {
        switch (rng() % 4) {
            case 0: {
                int v = static_cast<int>(rng() % 9) - 4;
                text = std::to_string(v);
                value = Variant(static_cast<double>(v));
                break;
            }
            case 1: {
                double v = (static_cast<int>(rng() % 13) - 6) / 2.0;
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.1f", v);
                text = buf;
                value = Variant(v);
                break;
            }
            case 2: {
                int v = static_cast<int>(rng() % 40) * 3;
                text = std::to_string(v);
                value = Variant(static_cast<double>(v));
                break;
            }
            default: {
                std::string w = words[rng() % std::size(words)];
                for (char& c : w)
                    if (rng() % 2)
                        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                value = Variant(w);
                std::string quoted;
                for (char c : w) quoted += c == '\'' ? std::string("''") : std::string(1, c);
                text = "'" + quoted + "'";
            }
        }
    };
    auto fold = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    auto oracle_equal = [&](const Variant& cell, const Variant& lit) {
        if (cell.IsNull() || cell.IsEmpty()) return false;
        if (lit.type() == Variant::Type::String)
            return cell.type() == Variant::Type::String &&
                   fold(cell.StringValue()) == fold(lit.StringValue());
        return cell.IsNumeric() && cell.ToDouble() == lit.ToDouble();
    };

    for (int round = 0; round < 150; ++round) {
        int rows = static_cast<int>(rng() % 300);
        TableBuilder b({"Id", "U", "F"});
        std::vector<std::vector<Variant>> cells;
        for (int32_t id = 0; id < rows; ++id) {
            cells.push_back({id, random_cell(true, id), random_cell(false, id)});
            b.AddRow(cells.back());
        }
        TableRef table = b.Build();
        for (int probe = 0; probe < 25; ++probe) {
            std::string lit_text;
            Variant lit;
            random_literal(lit_text, lit);
            for (int column : {1, 2}) {
                std::string field = column == 1 ? "U" : "F";
                std::string eq = field + " = " + lit_text;
                Ids expected;
                for (int32_t id = 0; id < rows; ++id)
                    if (oracle_equal(cells[id][column], lit)) expected.push_back(id);
                ASSERT_EQ(Match(table, eq), expected) << eq;
                ASSERT_EQ(Match(table, "(" + eq + " OR " + eq + ")"), expected) << eq;
                // An indexed conjunct narrows the candidates; the rest still applies.
                int32_t k = rows ? static_cast<int32_t>(rng() % rows) : 0;
                Ids above;
                for (int32_t id : expected)
                    if (id >= k) above.push_back(id);
                std::string rest = "Id >= " + std::to_string(k);
                ASSERT_EQ(Match(table, eq + " AND " + rest), above) << eq;
                ASSERT_EQ(Match(table, rest + " AND " + eq), above) << eq;
            }
        }
    }
}

}  // namespace
}  // namespace kevra
