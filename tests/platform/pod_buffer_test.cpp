// The realloc-grown buffer under the table's columns and text, and the
// columns' compaction in place: values survive every growth, shrink and
// change of width, and a request beyond memory fails without harm.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/filter.h"
#include "platform/pod_buffer.h"

namespace kevra {
namespace {

TEST(PodBuffer, ValuesSurviveGrowthShrinkAndMoves) {
    PodBuffer<uint64_t> buffer;
    for (uint64_t i = 0; i < 100'000; ++i) buffer.push_back(i * 0x9E3779B97F4A7C15ULL);
    const uint64_t tail[] = {1, 2, 3};
    buffer.append(tail, 3);
    ASSERT_EQ(buffer.size(), 100'003u);
    for (uint64_t i = 0; i < 100'000; ++i) ASSERT_EQ(buffer[i], i * 0x9E3779B97F4A7C15ULL) << i;
    EXPECT_EQ(buffer[100'002], 3u);

    buffer.resize(10);  // a truncation keeps the first values
    buffer.resize(20);  // and values past it come back as zero
    EXPECT_EQ(buffer[9], 9 * 0x9E3779B97F4A7C15ULL);
    for (size_t i = 10; i < 20; ++i) EXPECT_EQ(buffer[i], 0u) << i;
    buffer.shrink_to_fit();
    EXPECT_EQ(buffer.capacity(), 20u);
    EXPECT_EQ(buffer[9], 9 * 0x9E3779B97F4A7C15ULL);

    PodBuffer<uint64_t> moved(std::move(buffer));
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(moved.size(), 20u);
    buffer = std::move(moved);
    EXPECT_EQ(buffer[1], 0x9E3779B97F4A7C15ULL);
    buffer.release();
    EXPECT_EQ(buffer.capacity(), 0u);
    buffer.push_back(7);  // usable again
    EXPECT_EQ(buffer[0], 7u);
}

TEST(PodBuffer, RequestsBeyondMemoryFailAndKeepTheValues) {
    PodBuffer<char> text;
    text.append("abc", 3);
    // A length that wraps around when added or multiplied must not turn
    // into a small allocation.
    EXPECT_THROW(text.append("x", std::numeric_limits<size_t>::max()), std::bad_alloc);
    PodBuffer<uint64_t> wide;
    wide.push_back(1);
    EXPECT_THROW(wide.resize(std::numeric_limits<size_t>::max() / 4), std::bad_alloc);
    EXPECT_EQ(std::string(text.data(), text.size()), "abc");
    EXPECT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0], 1u);
}

TEST(PodBuffer, RecastHandsTheMemoryOverWithTheValuesWrittenInPlace) {
    PodBuffer<uint64_t> wide;
    for (uint32_t i = 0; i < 5000; ++i) wide.push_back(i);
    auto* narrow_view = reinterpret_cast<uint32_t*>(wide.data());
    for (uint32_t i = 0; i < 5000; ++i) narrow_view[i] = 5000 - i;
    PodBuffer<uint32_t> narrow = std::move(wide).Recast<uint32_t>(5000);
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(wide.capacity(), 0u);
    ASSERT_EQ(narrow.size(), 5000u);
    EXPECT_EQ(narrow.capacity(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) ASSERT_EQ(narrow[i], 5000 - i) << i;
}

// Columns are narrowed in place: every value must read back as stored,
// integers sign-extended and text offsets zero-extended, whatever the
// column's size at the narrowing, and a column that cannot narrow keeps
// its wide values.
TEST(PodBuffer, ColumnsReadBackEveryValueAfterCompaction) {
    for (const uint32_t rows : {1u, 7u, 4096u, 70'001u}) {
        filter::Column narrow("narrow");
        filter::Column wide("wide");
        filter::Column mixed("mixed");
        filter::TextArena arena;
        auto narrow_value = [](uint32_t i) -> int64_t {
            const int64_t least = std::numeric_limits<int32_t>::min();
            const int64_t most = std::numeric_limits<int32_t>::max();
            return i % 3 == 0 ? least + i : most - i;
        };
        for (uint32_t i = 0; i < rows; ++i) {
            filter::AppendCell(narrow, arena, Variant(narrow_value(i)));
            filter::AppendCell(wide, arena,
                               Variant(i == rows / 2 ? int64_t{1} << 40 : -int64_t{i}));
            filter::AppendCell(mixed, arena,
                               i % 2 ? Variant("text " + std::to_string(i)) : Variant::Null());
        }
        narrow.Compact();
        wide.Compact();
        mixed.Compact();
        for (uint32_t i = 0; i < rows; ++i) {
            ASSERT_EQ(filter::CellValue(narrow, arena, i).ToInt64(), narrow_value(i)) << rows;
            ASSERT_EQ(filter::CellValue(wide, arena, i).ToInt64(),
                      i == rows / 2 ? int64_t{1} << 40 : -int64_t{i})
                << rows;
            const Variant cell = filter::CellValue(mixed, arena, i);
            if (i % 2)
                ASSERT_EQ(cell.ToString(), "text " + std::to_string(i)) << rows;
            else
                ASSERT_TRUE(cell.IsNull()) << rows;
        }
        EXPECT_LT(narrow.MemoryBytes(), wide.MemoryBytes()) << rows;
    }
}

}  // namespace
}  // namespace kevra
