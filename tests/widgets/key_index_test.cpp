// The tree's key index on its own, against a plain set of the keys: every
// key inserted is held and found at its position from its insert on, no
// other key is, through the growth of the hash table, the range of numbers
// widening over keys that waited outside it, and Clear.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "widgets/key_index_p.h"

namespace kevra {
namespace {

// The owner of the keys, as the tree's node collection is.
class Keys {
  public:
    Keys() : index_(&Keys::KeyAt, this) {}

    // Inserts `key` unless the index says it is held; returns whether it did.
    bool Add(const std::string& key) {
        const KeyIndex::Entry entry = index_.Prepare(key);
        if (index_.Holds(key, entry)) return false;
        index_.ReserveFor(entry);
        keys_.push_back(key);
        index_.Insert(entry);
        return true;
    }
    uint32_t Find(const std::string& key) const { return index_.Find(key); }
    void Clear() {
        index_.Clear();
        keys_.clear();
    }
    size_t Size() const { return keys_.size(); }

  private:
    static std::string_view KeyAt(const void* owner, uint32_t position) {
        return static_cast<const Keys*>(owner)->keys_.at(position - 1);
    }
    std::vector<std::string> keys_;
    KeyIndex index_;
};

// Keys of every shape the index tells apart: numbered with the tree's
// prefix (in and far beyond the range), the same numbers spelled with a
// leading zero or another prefix, bare numbers, words.
std::string RandomKey(std::mt19937& random) {
    const uint32_t n = random() % 3000;
    switch (random() % 6) {
        case 0:
        case 1:
            return "X" + std::to_string(n);
        case 2:
            return "X" + std::to_string(n * 4001 % 999'999'999);  // mostly beyond the range
        case 3:
            return "X0" + std::to_string(n % 50);
        case 4:
            return "Y" + std::to_string(n % 200);
        default:
            return (n % 2 ? "task " : "") + std::to_string(n % 500);
    }
}

TEST(KeyIndex, AgreesWithASetOfTheKeysThroughGrowthAndClear) {
    std::mt19937 random(7);
    Keys keys;
    for (int round = 0; round < 3; ++round) {
        std::unordered_map<std::string, uint32_t> oracle;
        for (int i = 0; i < 6000; ++i) {
            const std::string key = RandomKey(random);
            const bool fresh = oracle.find(key) == oracle.end();
            ASSERT_EQ(keys.Add(key), fresh) << key << " in round " << round;
            if (fresh) oracle[key] = static_cast<uint32_t>(keys.Size());
            // A key is found from its own insert on, whatever the index did
            // with it; a key spelled nearly the same is not.
            ASSERT_EQ(keys.Find(key), oracle[key]) << key;
            ASSERT_EQ(keys.Find(key + "0"), oracle.count(key + "0") ? oracle[key + "0"] : 0u);
        }
        for (const auto& [key, position] : oracle) ASSERT_EQ(keys.Find(key), position) << key;
        keys.Clear();
        for (const auto& [key, position] : oracle) ASSERT_EQ(keys.Find(key), 0u) << key;
    }
}

// A numbered key beyond the range of numbers is hashed until the range
// reaches it; from then on it must be found, and refused, by its number.
TEST(KeyIndex, NumberedKeyBeyondTheRangeIsFoundBeforeAndAfterTheRangeReachesIt) {
    Keys keys;
    ASSERT_TRUE(keys.Add("X5000"));
    for (int i = 1; i <= 1100; ++i) {
        ASSERT_TRUE(keys.Add("X" + std::to_string(i)));
        ASSERT_EQ(keys.Find("X5000"), 1u);
    }
    ASSERT_TRUE(keys.Add("X4097"));  // widens the range past 5000
    EXPECT_EQ(keys.Find("X5000"), 1u);
    EXPECT_EQ(keys.Find("X4097"), 1102u);
    EXPECT_FALSE(keys.Add("X5000"));
    EXPECT_EQ(keys.Find("X4999"), 0u);
    EXPECT_TRUE(keys.Add("X4999"));
    EXPECT_EQ(keys.Find("X4999"), 1103u);
}

// The prefix of numbered keys is that of the first one after a Clear: keys
// of the old prefix are then hashed, and must still be found.
TEST(KeyIndex, PrefixOfNumberedKeysStartsAgainAfterClear) {
    Keys keys;
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(keys.Add("X" + std::to_string(i)));
    keys.Clear();
    ASSERT_TRUE(keys.Add("Y1"));
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(keys.Add("X" + std::to_string(i)));
    EXPECT_EQ(keys.Find("Y1"), 1u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(keys.Find("X" + std::to_string(i)), i + 2u);
    EXPECT_FALSE(keys.Add("X42"));
    EXPECT_FALSE(keys.Add("Y1"));
}

// Nodes without a key are never found, and any number of them may exist.
TEST(KeyIndex, EmptyKeysAreNeverHeld) {
    Keys keys;
    EXPECT_TRUE(keys.Add(""));
    EXPECT_TRUE(keys.Add(""));
    EXPECT_TRUE(keys.Add("X1"));
    EXPECT_EQ(keys.Find(""), 0u);
    EXPECT_EQ(keys.Find("X1"), 3u);
}

}  // namespace
}  // namespace kevra
