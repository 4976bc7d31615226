// Answering a query from the catalogue index, and reading entries back.
//
// A query is folded like the captions and cut into words. Results come in
// tiers, best first:
//   0  the caption is the query
//   1  the caption starts with the query
//   2  a word of the caption starts with the query
//   3  the caption contains the query
//   4  every word of the query starts a word somewhere in the entry's path
//   5  the same with one typo in each query word of five letters or more,
//      two from nine (a near miss)
// and within a tier: entries the user has started (boosts, highest score
// first), then links, then the rest, each in catalogue order. Every entry
// is placed in the best tier it matches.
//
// Tiers 0 to 3 look at one caption, so they are decided per distinct
// caption, for the captions that hold a word the query's words constrain
// (a word the query holds whole, or starts). Tiers 4 and 5 look at a path:
// an entry's path holds a word when the entry or one of its ancestors
// does, and the entries below an entry are the range up to its subtree's
// end, so the entries whose path holds a word are the subtrees of the
// entries whose caption does. Sets of entries are bit sets; the best of a
// tier are read off them in order, links first, until the limit is met.
#include <algorithm>
#include <optional>
#include <unordered_map>

#include "search/catalogue_index.h"
#include "search/index_internal.h"
#include "search/text_fold.h"

namespace kevra::search {

std::string_view CatalogueIndex::Caption(uint32_t entry) const {
    const uint32_t c = caption_[entry];
    return std::string_view(shown_text_)
        .substr(shown_begin_[c], shown_begin_[c + 1] - shown_begin_[c]);
}

std::vector<std::string> CatalogueIndex::Path(uint32_t entry) const {
    std::vector<std::string> path;
    for (uint32_t e = entry; e != kNoEntry; e = parent_[e]) path.emplace_back(Caption(e));
    std::reverse(path.begin(), path.end());
    return path;
}

std::vector<std::string> CatalogueIndex::PathKeys(uint32_t entry) const {
    std::vector<std::string> keys;
    for (uint32_t e = entry; e != kNoEntry; e = parent_[e])
        keys.push_back("X" + std::to_string(id_[e]));
    std::reverse(keys.begin(), keys.end());
    return keys;
}

uint32_t CatalogueIndex::Find(int64_t id) const {
    const auto at = std::find(id_.begin(), id_.end(), id);
    return at == id_.end() ? kNoEntry : static_cast<uint32_t>(at - id_.begin());
}

std::vector<uint32_t> CatalogueIndex::FindAll(const std::vector<int64_t>& ids) const {
    std::vector<uint32_t> entries(ids.size(), kNoEntry);
    std::unordered_map<int64_t, std::vector<size_t>> wanted;
    for (size_t i = 0; i < ids.size(); ++i) wanted[ids[i]].push_back(i);
    size_t left = wanted.size();
    for (uint32_t e = 0; e < id_.size() && left > 0; ++e) {
        const auto at = wanted.find(id_[e]);
        if (at == wanted.end()) continue;
        for (const size_t i : at->second) entries[i] = e;
        wanted.erase(at);
        --left;
    }
    return entries;
}

size_t CatalogueIndex::MemoryBytes() const {
    const auto bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
    return bytes(id_) + bytes(parent_) + bytes(end_) + bytes(caption_) + bytes(kind_) +
           bytes(link_bits_) + shown_text_.capacity() + bytes(shown_begin_) +
           folded_text_.capacity() + bytes(folded_begin_) + bytes(caption_entry_begin_) +
           bytes(caption_entries_) + word_text_.capacity() + bytes(word_begin_) +
           bytes(word_caption_begin_) + bytes(word_first_end_) + bytes(word_captions_) +
           sizeof(*this);
}

size_t CatalogueIndex::TextBytes() const {
    return shown_text_.capacity() + folded_text_.capacity() + word_text_.capacity();
}

namespace {

constexpr int kNoTier = 6;
constexpr int kPathTier = 4;
constexpr int kNearMissTier = 5;

// Typos forgiven in a query word: one from five letters, two from nine.
int TyposAllowed(std::string_view word) {
    const size_t letters = LetterCount(word);
    return letters >= 9 ? 2 : letters >= 5 ? 1 : 0;
}

// The fewest edits (a letter added, dropped, changed, or two neighbours
// swapped) that turn `query` into some start of `word`; anything above
// `limit` may be reported as limit + 1.
int PrefixDistance(std::string_view query, std::string_view word, int limit) {
    const size_t m = query.size();
    std::vector<int> rows(3 * (m + 1));
    int* before = rows.data();
    int* up = before + (m + 1);
    int* cur = up + (m + 1);
    for (size_t j = 0; j <= m; ++j) up[j] = static_cast<int>(j);
    int best = up[m];
    for (size_t i = 0; i < word.size() && best > 0; ++i) {
        cur[0] = static_cast<int>(i + 1);
        int lowest = cur[0];
        for (size_t j = 1; j <= m; ++j) {
            int v = std::min({up[j] + 1, cur[j - 1] + 1, up[j - 1] + (word[i] != query[j - 1])});
            if (i >= 1 && j >= 2 && word[i] == query[j - 2] && word[i - 1] == query[j - 1])
                v = std::min(v, before[j - 2] + 1);
            cur[j] = v;
            lowest = std::min(lowest, v);
        }
        best = std::min(best, cur[m]);
        if (lowest > limit) break;
        std::swap(before, up);
        std::swap(up, cur);
    }
    return std::min(best, limit + 1);
}

}  // namespace

class QueryRun {
  public:
    QueryRun(const CatalogueIndex& ix, std::string_view query, size_t limit)
        : ix_(ix), q_(FoldText(query)), limit_(limit), taken_(ix.EntryCount()) {
        ForEachWord(q_, [&](size_t b, size_t e) {
            Token t;
            t.text = std::string_view(q_).substr(b, e - b);
            t.starts_word = b > 0;
            t.ends_word = e < q_.size();
            t.typos = TyposAllowed(t.text);
            tokens_.push_back(t);
        });
    }

    std::vector<uint32_t> Run(const std::vector<CatalogueIndex::Boost>& boosts) {
        if (q_.empty() || limit_ == 0) return {};
        for (const auto& b : boosts) {
            if (b.entry >= ix_.EntryCount()) continue;
            const int tier = EntryTier(b.entry);
            if (tier != kNoTier) boosted_.push_back({b.entry, b.score, tier});
        }
        std::sort(boosted_.begin(), boosted_.end(), [&](const Boosted& a, const Boosted& b) {
            if (a.score != b.score) return a.score > b.score;
            if (IsLink(a.entry) != IsLink(b.entry)) return IsLink(a.entry);
            return a.entry < b.entry;
        });

        CaptionTiers();
        for (int tier = 0; tier < 4; ++tier) {
            if (tier == 2) MoreStartingCaptions();
            if (tier == 3) MoreContainingCaptions();
            if (TakeTier(tier, EntriesOf(by_tier_[tier]))) return std::move(out_);
        }
        if (tokens_.empty()) return std::move(out_);
        if (TakeTier(kPathTier, PathMatches(false))) return std::move(out_);
        const bool forgiving =
            std::any_of(tokens_.begin(), tokens_.end(), [](const Token& t) { return t.typos > 0; });
        if (forgiving) TakeTier(kNearMissTier, PathMatches(true));
        return std::move(out_);
    }

  private:
    struct Token {
        std::string_view text;
        bool starts_word = false;  // the query has a separator before it
        bool ends_word = false;    // ... and after it
        int typos = 0;
    };
    struct Boosted {
        uint32_t entry;
        double score;
        int tier;
    };
    using Range = std::pair<uint32_t, uint32_t>;  // words [first, second)

    std::string_view Folded(uint32_t caption) const {
        return std::string_view(ix_.folded_text_)
            .substr(ix_.folded_begin_[caption],
                    ix_.folded_begin_[caption + 1] - ix_.folded_begin_[caption]);
    }
    std::string_view Word(uint32_t w) const {
        return std::string_view(ix_.word_text_)
            .substr(ix_.word_begin_[w], ix_.word_begin_[w + 1] - ix_.word_begin_[w]);
    }
    uint32_t Words() const { return static_cast<uint32_t>(ix_.word_begin_.size() - 1); }
    uint32_t Captions() const { return static_cast<uint32_t>(ix_.folded_begin_.size() - 1); }
    bool IsLink(uint32_t e) const { return (ix_.link_bits_[e / 64] >> (e % 64)) & 1; }
    bool Full() const { return out_.size() >= limit_; }

    // The words that start with `prefix`.
    Range PrefixRange(std::string_view prefix) const {
        uint32_t lo = 0, hi = Words();
        while (lo < hi) {
            const uint32_t mid = lo + (hi - lo) / 2;
            if (Word(mid) < prefix)
                lo = mid + 1;
            else
                hi = mid;
        }
        return {lo, PrefixEnd(lo, prefix)};
    }
    // The first word from `from` on that does not start with `prefix`.
    uint32_t PrefixEnd(uint32_t from, std::string_view prefix) const {
        uint32_t lo = from, hi = Words();
        while (lo < hi) {
            const uint32_t mid = lo + (hi - lo) / 2;
            if (Word(mid).starts_with(prefix))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    Range ExactRange(std::string_view word) const {
        const Range r = PrefixRange(word);
        return r.first < r.second && Word(r.first) == word ? Range{r.first, r.first + 1}
                                                           : Range{r.first, r.first};
    }
    uint32_t Occurrences(Range r) const {
        return ix_.word_caption_begin_[r.second] - ix_.word_caption_begin_[r.first];
    }

    // The best of tiers 0 to 3 the caption is in, or kNoTier.
    int CaptionTier(uint32_t caption) const {
        const std::string_view text = Folded(caption);
        if (text.size() < q_.size()) return kNoTier;
        if (text.size() == q_.size()) return text == q_ ? 0 : kNoTier;
        if (text.starts_with(q_)) return 1;
        size_t at = text.find(q_, 1);
        if (at == std::string_view::npos) return kNoTier;
        for (; at != std::string_view::npos; at = text.find(q_, at + 1))
            if (!IsWordByte(static_cast<unsigned char>(text[at - 1]))) return 2;
        return 3;
    }

    void Consider(uint32_t caption) {
        if (caption_seen_.Test(caption)) return;
        caption_seen_.Set(caption);
        const int tier = CaptionTier(caption);
        if (tier < 4) by_tier_[tier].push_back(caption);
    }
    void ConsiderWords(Range r) {
        for (uint32_t i = ix_.word_caption_begin_[r.first]; i < ix_.word_caption_begin_[r.second];
             ++i)
            Consider(ix_.word_captions_[i]);
    }
    // Only the captions the words open, or only those they do not.
    void ConsiderWords(Range r, bool opening) {
        for (uint32_t w = r.first; w < r.second; ++w) {
            const uint32_t first = opening ? ix_.word_caption_begin_[w] : ix_.word_first_end_[w];
            const uint32_t last = opening ? ix_.word_first_end_[w] : ix_.word_caption_begin_[w + 1];
            for (uint32_t i = first; i < last; ++i) Consider(ix_.word_captions_[i]);
        }
    }

    // Sorts the captions that can be in tiers 0 to 3 into them. A caption
    // that contains the query holds, for each query word after a separator,
    // a word that starts with it (the whole word, when a separator follows
    // as well): the rarest of those constraints picks the captions to look
    // at. A query of one bare word, the usual first keystrokes, constrains
    // only the captions' words that contain it, and then the captions are
    // looked at as the tiers need them: those the word starts (tiers 0 and
    // 1 are among them), then those with a later word it starts (tier 2),
    // then those with a word that holds it elsewhere (tier 3).
    void CaptionTiers() {
        caption_seen_ = Bits(Captions());
        if (tokens_.empty()) {
            for (uint32_t c = 0; c < Captions(); ++c) Consider(c);
            return;
        }
        std::optional<Range> rarest;
        for (const Token& t : tokens_) {
            if (!t.starts_word) continue;
            const Range r = t.ends_word ? ExactRange(t.text) : PrefixRange(t.text);
            if (!rarest || Occurrences(r) < Occurrences(*rarest)) rarest = r;
        }
        if (rarest) {
            ConsiderWords(*rarest);
            return;
        }
        bare_word_ = true;
        ConsiderWords(PrefixRange(tokens_.front().text), true);
    }

    void MoreStartingCaptions() {
        if (bare_word_ && !Full()) ConsiderWords(PrefixRange(tokens_.front().text), false);
    }

    void MoreContainingCaptions() {
        if (!bare_word_ || Full()) return;
        const std::string_view word = tokens_.front().text;
        for (uint32_t w = 0; w < Words(); ++w) {
            const std::string_view candidate = Word(w);
            if (candidate.size() > word.size() && candidate.find(word, 1) != std::string_view::npos)
                ConsiderWords({w, w + 1});
        }
    }

    void MarkEntries(uint32_t caption, Bits& entries) const {
        for (uint32_t i = ix_.caption_entry_begin_[caption];
             i < ix_.caption_entry_begin_[caption + 1]; ++i)
            entries.Set(ix_.caption_entries_[i]);
    }
    Bits EntriesOf(const std::vector<uint32_t>& captions) const {
        Bits entries(ix_.EntryCount());
        for (const uint32_t c : captions) MarkEntries(c, entries);
        return entries;
    }

    // The words that forgive `t.typos` typos in `t`: every word some start
    // of which is that close to it. The dictionary is sorted, so a word
    // shares the rows of the edit table for the letters it has in common
    // with the word before it; and once a start of a word is too far off
    // (or close enough), so is (or matches) every word that starts the same.
    std::vector<Range> NearWords(const Token& t) const {
        std::vector<Range> found;
        const std::string_view q = t.text;
        const int k = t.typos;
        const size_t m = q.size();
        const size_t rows = m + static_cast<size_t>(k) + 2;
        std::vector<int> table(rows * (m + 1));
        std::vector<int> lowest(rows);
        const auto row = [&](size_t i) { return &table[i * (m + 1)]; };
        for (size_t j = 0; j <= m; ++j) row(0)[j] = static_cast<int>(j);
        lowest[0] = 0;
        size_t valid = 1;  // rows [0, valid) belong to the starts of `previous`
        std::string_view previous;
        for (uint32_t w = 0; w < Words();) {
            const std::string_view word = Word(w);
            const size_t shared = std::min({previous.size(), word.size(), valid - 1});
            size_t i = 0;
            while (i < shared && previous[i] == word[i]) ++i;
            for (;;) {
                if (row(i)[m] <= k) {
                    const uint32_t end = PrefixEnd(w, word.substr(0, i));
                    found.push_back({w, end});
                    w = end;
                    break;
                }
                if (lowest[i] > k) {
                    w = PrefixEnd(w, word.substr(0, i));
                    break;
                }
                if (i == word.size() || i + 1 >= rows) {
                    ++w;
                    break;
                }
                const int* up = row(i);
                const int* before = i >= 1 ? row(i - 1) : nullptr;
                int* cur = row(i + 1);
                const char a = word[i];
                cur[0] = static_cast<int>(i + 1);
                int low = cur[0];
                for (size_t j = 1; j <= m; ++j) {
                    int v = std::min({up[j] + 1, cur[j - 1] + 1, up[j - 1] + (a != q[j - 1])});
                    if (before && j >= 2 && a == q[j - 2] && word[i - 1] == q[j - 1])
                        v = std::min(v, before[j - 2] + 1);
                    cur[j] = v;
                    low = std::min(low, v);
                }
                lowest[i + 1] = low;
                ++i;
            }
            valid = i + 1;
            previous = word;
        }
        return found;
    }

    // The entries whose path holds, for every query word, a word that
    // starts with it (or, `forgiving`, comes that close to it).
    Bits PathMatches(bool forgiving) const {
        const uint32_t n = ix_.EntryCount();
        Bits all;
        bool first = true;
        for (const Token& t : tokens_) {
            std::vector<Range> words;
            if (forgiving && t.typos > 0)
                words = NearWords(t);
            else
                words.push_back(PrefixRange(t.text));
            Bits captions(Captions());
            Bits own(n);
            for (const Range& r : words)
                for (uint32_t i = ix_.word_caption_begin_[r.first];
                     i < ix_.word_caption_begin_[r.second]; ++i) {
                    const uint32_t c = ix_.word_captions_[i];
                    if (captions.Test(c)) continue;
                    captions.Set(c);
                    MarkEntries(c, own);
                }
            Bits below(n);
            for (size_t e = own.Next(0, n); e < n; e = own.Next(ix_.end_[e], n))
                below.SetRange(e, ix_.end_[e]);
            if (first)
                all = std::move(below);
            else
                all.And(below);
            first = false;
        }
        return all;
    }

    // Whether the entry's path matches every query word, for one entry.
    bool PathHolds(uint32_t entry, bool forgiving) const {
        for (const Token& t : tokens_) {
            bool held = false;
            for (uint32_t e = entry; e != CatalogueIndex::kNoEntry && !held; e = ix_.parent_[e]) {
                const std::string_view text = Folded(ix_.caption_[e]);
                ForEachWord(text, [&](size_t b, size_t end) {
                    const std::string_view word = text.substr(b, end - b);
                    if (held) return;
                    held = forgiving && t.typos > 0
                               ? PrefixDistance(t.text, word, t.typos) <= t.typos
                               : word.starts_with(t.text);
                });
            }
            if (!held) return false;
        }
        return true;
    }

    int EntryTier(uint32_t entry) const {
        const int tier = CaptionTier(ix_.caption_[entry]);
        if (tier < 4 || tokens_.empty()) return tier;
        if (PathHolds(entry, false)) return kPathTier;
        if (PathHolds(entry, true)) return kNearMissTier;
        return kNoTier;
    }

    void Take(uint32_t entry) {
        taken_.Set(entry);
        out_.push_back(entry);
    }

    // Takes the tier's boosted entries, then its links, then its other
    // entries; true when the limit is met.
    bool TakeTier(int tier, const Bits& members) {
        for (const Boosted& b : boosted_) {
            if (Full()) return true;
            if (b.tier == tier && !taken_.Test(b.entry)) Take(b.entry);
        }
        const auto& m = members.Words();
        const auto& links = ix_.link_bits_;
        auto& taken = taken_.Words();
        for (const bool link_pass : {true, false}) {
            for (size_t w = 0; w < m.size(); ++w) {
                uint64_t bits = m[w] & (link_pass ? links[w] : ~links[w]);
                while (bits != 0) {
                    if (Full()) return true;
                    const uint32_t e =
                        static_cast<uint32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
                    bits &= bits - 1;
                    if (!((taken[w] >> (e % 64)) & 1)) Take(e);
                }
            }
        }
        return Full();
    }

    const CatalogueIndex& ix_;
    const std::string q_;
    const size_t limit_;
    std::vector<Token> tokens_;
    std::vector<Boosted> boosted_;
    std::vector<uint32_t> by_tier_[4];
    Bits caption_seen_;
    bool bare_word_ = false;
    Bits taken_;
    std::vector<uint32_t> out_;
};

std::vector<uint32_t> CatalogueIndex::Search(std::string_view query, size_t limit,
                                             const std::vector<Boost>& boosts) const {
    return QueryRun(*this, query, limit).Run(boosts);
}

}  // namespace kevra::search
