// Building the catalogue index from the rows of a record set.
//
// The build reads every row once through one cursor of its own, finds each
// row's children by the parent values the rows carry (as the filter
// "TaskParent=" and an id finds them), and walks the forest in the order
// the list bar and the tree show it. The walk stops a list item's tree
// where the tree fill would stop: at a row whose description is Null, at a
// key the tree already holds, at an id the fill cannot list children for.
//
// Reading the rows is the search's business, not the control's: the reads
// pass no fault checkpoint (platform/faults.h), so a fault armed on the
// control's record-set calls is met by the control, where it was aimed.
#include "search/catalogue_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>

#include "navigation/task_text.h"
#include "platform/error.h"
#include "platform/faults.h"
#include "platform/recordset.h"
#include "search/index_internal.h"
#include "search/text_fold.h"

namespace kevra::search {

const char* KindName(EntryKind kind) {
    switch (kind) {
        case EntryKind::group:
            return "group";
        case EntryKind::item:
            return "item";
        case EntryKind::task:
            return "task";
        case EntryKind::link:
            return "link";
    }
    return "task";
}

namespace {

constexpr uint32_t kNone = CatalogueIndex::kNoEntry;

// Texts kept once each, in an arena of their own: the number of a text,
// given before. A slot holds the top half of the text's hash beside its
// number, so that a probe reads the arena only for a likely match; the
// arena holds only distinct texts, so it stays small and close at hand.
class Interner {
  public:
    explicit Interner(size_t expected = 0) {
        Reserve(expected);
        begin_.push_back(0);
    }

    // Room for `expected` texts without growing; only before the first.
    void Reserve(size_t expected) {
        size_t capacity = 64;
        while (capacity < 2 * expected) capacity *= 2;
        slots_.assign(capacity, 0);
    }

    void Prefetch(uint64_t hash) const { __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]); }

    uint32_t Intern(std::string_view text) { return Intern(text, HashBytes(text)); }
    uint32_t Intern(std::string_view text, uint64_t hash) {
        const auto tag = static_cast<uint32_t>(hash >> 32);
        const size_t mask = slots_.size() - 1;
        size_t at = hash & mask;
        for (; slots_[at] != 0; at = (at + 1) & mask) {
            const uint64_t slot = slots_[at];
            if (static_cast<uint32_t>(slot >> 32) != tag) continue;
            const auto n = static_cast<uint32_t>(slot) - 1;
            if (SameText(Text(n), text)) return n;
        }
        const auto n = static_cast<uint32_t>(hashes_.size());
        slots_[at] = (uint64_t{tag} << 32) | (n + 1);
        text_.append(text);
        if (text_.size() > std::numeric_limits<uint32_t>::max() / 2)
            throw RuntimeError(err::kOutOfMemory,
                               "Out of memory: the catalogue's captions are too large to search");
        begin_.push_back(static_cast<uint32_t>(text_.size()));
        hashes_.push_back(hash);
        if (2 * hashes_.size() > slots_.size()) Grow();
        return n;
    }

    std::string_view Text(uint32_t n) const {
        return std::string_view(text_).substr(begin_[n], begin_[n + 1] - begin_[n]);
    }
    size_t Count() const { return hashes_.size(); }

  private:
    void Grow() {
        std::vector<uint64_t> slots(slots_.size() * 2, 0);
        const size_t mask = slots.size() - 1;
        for (uint32_t n = 0; n < hashes_.size(); ++n) {
            size_t at = hashes_[n] & mask;
            while (slots[at] != 0) at = (at + 1) & mask;
            slots[at] = ((hashes_[n] >> 32) << 32) | (n + 1);
        }
        slots_.swap(slots);
    }

    std::vector<uint64_t> slots_;
    std::string text_;
    std::vector<uint32_t> begin_;
    std::vector<uint64_t> hashes_;
};

// What the walk needs of each row, read once.
struct Rows {
    enum Flag : uint8_t {
        kIdWhole = 1,      // TaskId is a whole number: a key the fill can list children for
        kGroup = 2,        // TaskParent is 0: a group of the list bar
        kLink = 4,         // IsLink equals True
        kNullCaption = 8,  // TaskDescription is Null
    };
    std::vector<int64_t> id;
    std::vector<uint8_t> flags;
    // The first row with the parent's id, or kNone (while reading, in the
    // array form of IdSlots, the parent's place there).
    std::vector<uint32_t> parent;
    std::vector<uint32_t> caption;      // trimmed, numbered; kNone for Null
    std::deque<std::string> converted;  // descriptions that were not text
    bool has_is_link = true;
    RecordsetRef cursor;  // keeps the rows the captions point into

    uint32_t Count() const { return static_cast<uint32_t>(id.size()); }
};

// A cell as a whole number, as a key and a "TaskParent=" filter read it:
// integers, and doubles with no fraction. With `booleans`, a Boolean counts
// as the number it compares as (True -1, False 0).
bool WholeNumber(const Field& cell, bool booleans, int64_t& out) {
    if (int32_t v; cell.ReadInt32(v)) {
        out = v;
        return true;
    }
    const Variant value = cell.Value();
    switch (value.type()) {
        case Variant::Type::Int64:
            out = value.Int64Value();
            return true;
        case Variant::Type::Boolean:
            out = value.BoolValue();
            return booleans;
        case Variant::Type::Double: {
            const double d = value.DoubleValue();
            // 2^63 is the first double past the int64 range.
            if (!std::isfinite(d) || d != std::floor(d) || d < -9.2233720368547758e18 ||
                d >= 9.2233720368547758e18)
                return false;
            out = static_cast<int64_t>(d);
            return true;
        }
        default:
            return false;
    }
}

std::string_view TrimSpaces(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return text.substr(b, e - b);
}

// The first pass over the rows: the task ids, which the parents are found
// among in the second.
Rows ReadIds(const Recordset& tasks) {
    Rows rows;
    const RecordsetRef cursor = tasks.Clone();
    const Field id = cursor->Fields("TaskId");
    const auto count = static_cast<size_t>(cursor->RecordCount());
    rows.id.reserve(count);
    rows.flags.reserve(count);
    for (; !cursor->Eof(); cursor->MoveNext()) {
        int64_t value = 0;
        rows.flags.push_back(WholeNumber(id, false, value) ? Rows::kIdWhole : 0);
        rows.id.push_back(value);
    }
    return rows;
}

// Task id to the first row carrying it: a plain array when the ids lie in a
// narrow range (the usual numbering), a hash table otherwise.
class IdSlots {
  public:
    explicit IdSlots(const Rows& rows) {
        int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
        size_t whole = 0;
        for (uint32_t r = 0; r < rows.Count(); ++r) {
            if (!(rows.flags[r] & Rows::kIdWhole)) continue;
            lo = std::min(lo, rows.id[r]);
            hi = std::max(hi, rows.id[r]);
            ++whole;
        }
        if (whole == 0) return;
        const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
        if (span <= 4 * static_cast<uint64_t>(whole) + 1024) {
            base_ = lo;
            dense_.assign(span + 1, kNone);
            for (uint32_t r = rows.Count(); r-- > 0;) {
                if (!(rows.flags[r] & Rows::kIdWhole)) continue;
                uint32_t& slot =
                    dense_[static_cast<uint64_t>(rows.id[r]) - static_cast<uint64_t>(lo)];
                if (slot != kNone) unique_ = false;
                slot = r;
            }
            return;
        }
        size_t capacity = 16;
        while (capacity < 2 * whole) capacity *= 2;
        mask_ = capacity - 1;
        keys_.resize(capacity);
        slots_.assign(capacity, kNone);
        for (uint32_t r = 0; r < rows.Count(); ++r) {
            if (!(rows.flags[r] & Rows::kIdWhole)) continue;
            size_t at = Mix64(static_cast<uint64_t>(rows.id[r])) & mask_;
            while (slots_[at] != kNone && keys_[at] != rows.id[r]) at = (at + 1) & mask_;
            if (slots_[at] == kNone) {
                keys_[at] = rows.id[r];
                slots_[at] = r;
            } else {
                unique_ = false;
            }
        }
    }

    // The first row with this id, or kNone.
    uint32_t Find(int64_t id) const {
        if (!dense_.empty()) {
            const uint64_t at = static_cast<uint64_t>(id) - static_cast<uint64_t>(base_);
            return at < dense_.size() ? dense_[at] : kNone;
        }
        if (slots_.empty()) return kNone;
        for (size_t at = Mix64(static_cast<uint64_t>(id)) & mask_; slots_[at] != kNone;
             at = (at + 1) & mask_)
            if (keys_[at] == id) return slots_[at];
        return kNone;
    }

    // Whether no whole id is on two rows: then every such row is its id's
    // first, a row has one parent row, and no walk meets a row twice.
    bool Unique() const { return unique_; }

    // In the array form, Find in two steps: the id's place, which costs
    // nothing, and the row at that place, whose read a loop of nothing else
    // can overlap with the next ones.
    bool Dense() const { return !dense_.empty(); }
    uint32_t Place(int64_t id) const {
        const uint64_t at = static_cast<uint64_t>(id) - static_cast<uint64_t>(base_);
        return at < dense_.size() ? static_cast<uint32_t>(at) : kNone;
    }
    uint32_t AtPlace(uint32_t place) const { return place == kNone ? kNone : dense_[place]; }

  private:
    bool unique_ = true;
    int64_t base_ = 0;
    std::vector<uint32_t> dense_;
    size_t mask_ = 0;
    std::vector<int64_t> keys_;
    std::vector<uint32_t> slots_;
};

// The second pass: each row's parent row, caption and link flag. Captions
// are numbered in `captions` as they are read.
void ReadRest(const Recordset& tasks, const IdSlots& slots, Interner& captions, Rows& rows) {
    rows.cursor = tasks.Clone();
    Recordset* cursor = rows.cursor.get();
    const Field parent = cursor->Fields("TaskParent");
    const Field caption = cursor->Fields("TaskDescription");
    std::optional<Field> link;
    try {
        link = cursor->Fields("IsLink");
    } catch (const RuntimeError& e) {
        // Without the field every tree fill fails at its first task: the
        // groups and list items are all there is to find.
        if (e.Number() != err::kFieldNotFound) throw;
        rows.has_is_link = false;
    }
    const uint32_t count = rows.Count();
    rows.parent.resize(count);
    rows.caption.resize(count);
    // Catalogues repeat their captions: a few per hundred rows are new.
    captions.Reserve(count / 16);
    // A caption is numbered some rows after it is read: by then its hash
    // has long been known and its slot in the table asked for, so the
    // probes do not wait on memory one after the other.
    constexpr uint32_t kAhead = 16;
    struct Ahead {
        std::string_view text;
        uint64_t hash;
    };
    Ahead ahead[kAhead];
    const auto settle = [&](uint32_t row) {
        if (rows.caption[row] == kNone) return;
        const Ahead& a = ahead[row % kAhead];
        rows.caption[row] = captions.Intern(a.text, a.hash);
    };
    uint32_t r = 0;
    for (; r < count && !cursor->Eof(); cursor->MoveNext(), ++r) {
        uint8_t flags = rows.flags[r];
        uint32_t parent_row = kNone;
        if (int64_t value = 0; WholeNumber(parent, true, value)) {
            if (value == 0)
                flags |= Rows::kGroup;
            else  // kNone: a parent no row has, never shown
                parent_row = slots.Dense() ? slots.Place(value) : slots.Find(value);
        }
        rows.parent[r] = parent_row;
        if (link && link->EqualsTrue()) flags |= Rows::kLink;
        std::string_view text;
        if (const auto view = caption.TextView()) {
            text = TrimSpaces(*view);
        } else if (const Variant v = caption.Value(); v.IsNull()) {
            flags |= Rows::kNullCaption;
        } else {
            rows.converted.push_back(v.ToString());
            text = TrimSpaces(rows.converted.back());
        }
        rows.flags[r] = flags;
        if (r >= kAhead) settle(r - kAhead);
        rows.caption[r] = (flags & Rows::kNullCaption) ? kNone : 0;
        const uint64_t hash = HashBytes(text);
        captions.Prefetch(hash);
        ahead[r % kAhead] = {text, hash};
    }
    for (uint32_t row = r >= kAhead ? r - kAhead : 0; row < r; ++row) settle(row);
}

}  // namespace

// Builds a CatalogueIndex; a friend, so that the index keeps its arrays
// private.
class IndexBuilder {
  public:
    explicit IndexBuilder(const Recordset& tasks) : rows_(ReadIds(tasks)), slots_(rows_) {
        ReadRest(tasks, slots_, captions_, rows_);
    }

    std::unique_ptr<CatalogueIndex> Build() {
        ix_.reset(new CatalogueIndex());
        LinkChildren();
        Walk();
        MakeCaptions();
        MakeDictionary();
        MakeCaptionEntries();
        return std::move(ix_);
    }

  private:
    // The first row with row r's id: the row itself, unless ids repeat.
    uint32_t SlotOf(uint32_t r) const { return slots_.Unique() ? r : slots_.Find(rows_.id[r]); }

    // The rows whose parent value is each row's id, in row order: children
    // of row r (the first row with its id) are child_rows_[child_begin_[r]
    // .. child_begin_[r + 1]).
    void LinkChildren() {
        const uint32_t n = rows_.Count();
        if (slots_.Dense())
            for (uint32_t& p : rows_.parent) p = slots_.AtPlace(p);
        // Counts, summed into each parent's end; then each child placed at
        // its parent's end, last child first, which leaves the begins.
        child_begin_.assign(static_cast<size_t>(n) + 1, 0);
        for (uint32_t r = 0; r < n; ++r) {
            if (rows_.flags[r] & Rows::kGroup) groups_.push_back(r);
            if (rows_.parent[r] != kNone) ++child_begin_[rows_.parent[r]];
        }
        for (uint32_t r = 0; r < n; ++r) child_begin_[r + 1] += child_begin_[r];
        child_rows_.resize(child_begin_[n]);
        for (uint32_t r = n; r-- > 0;)
            if (rows_.parent[r] != kNone) child_rows_[--child_begin_[rows_.parent[r]]] = r;
        std::vector<uint32_t>().swap(rows_.parent);
    }

    // The children of the node whose id is row r's.
    std::pair<uint32_t, uint32_t> ChildrenOf(uint32_t r) const {
        const uint32_t slot = SlotOf(r);
        if (slot == kNone) return {0, 0};
        return {child_begin_[slot], child_begin_[slot + 1]};
    }

    uint32_t AddEntry(uint32_t row, EntryKind kind, uint32_t parent, uint32_t caption) {
        const auto entry = static_cast<uint32_t>(ix_->id_.size());
        ix_->id_.push_back(rows_.id[row]);
        ix_->parent_.push_back(parent);
        ix_->end_.push_back(entry + 1);
        ix_->caption_.push_back(caption);
        ix_->kind_.push_back(static_cast<uint8_t>(kind));
        if (!slots_.Unique()) visited_[row] = true;
        return entry;
    }

    // Whether the walk met the row before; only repeated ids let it.
    bool Visited(uint32_t row) const { return !slots_.Unique() && visited_[row]; }

    // A list-bar caption: trimmed, then the ampersand rule.
    uint32_t ListBarCaption(uint32_t row) {
        const std::string_view text = captions_.Text(rows_.caption[row]);
        if (text.find('&') == std::string_view::npos) return rows_.caption[row];
        return captions_.Intern(navigation::ReplaceAmpersands(std::string(text)));
    }

    void Walk() {
        const uint32_t n = rows_.Count();
        ix_->id_.reserve(n);
        ix_->parent_.reserve(n);
        ix_->end_.reserve(n);
        ix_->caption_.reserve(n);
        ix_->kind_.reserve(n);
        if (!slots_.Unique()) {
            visited_.assign(n, false);
            tree_of_.assign(n, 0);
        }
        uint32_t tree = 0;
        for (const uint32_t g : groups_) {
            // A group whose rows the list bar cannot build fails the load;
            // after a successful one there is none, but a record set handed
            // over directly may hold one.
            if (!(rows_.flags[g] & Rows::kIdWhole) || (rows_.flags[g] & Rows::kNullCaption) ||
                Visited(g))
                continue;
            const uint32_t group = AddEntry(g, EntryKind::group, kNone, ListBarCaption(g));
            const auto [first, last] = ChildrenOf(g);
            for (uint32_t c = first; c < last; ++c) {
                const uint32_t i = child_rows_[c];
                if (!(rows_.flags[i] & Rows::kIdWhole) || (rows_.flags[i] & Rows::kNullCaption) ||
                    Visited(i))
                    continue;
                const uint32_t item = AddEntry(i, EntryKind::item, group, ListBarCaption(i));
                ++tree;
                if (slots_.Unique()) {
                    WalkTree(i, item, tree);
                } else {
                    // The tree holds the group's key and the item's; an item
                    // with its group's key cannot join it.
                    tree_of_[SlotOf(g)] = tree;
                    if (tree_of_[SlotOf(i)] != tree) {
                        tree_of_[SlotOf(i)] = tree;
                        WalkTree(i, item, tree);
                    }
                }
                ix_->end_[item] = static_cast<uint32_t>(ix_->id_.size());
            }
            ix_->end_[group] = static_cast<uint32_t>(ix_->id_.size());
        }
    }

    // The tasks below one list item, depth first, until the fill would stop.
    void WalkTree(uint32_t item_row, uint32_t item, uint32_t tree) {
        std::vector<Frame>& stack = stack_;
        stack.clear();
        const auto [first, last] = ChildrenOf(item_row);
        stack.push_back({item, first, last});
        const auto close_all = [&] {
            for (const Frame& f : stack)
                ix_->end_[f.entry] = static_cast<uint32_t>(ix_->id_.size());
            stack.clear();
        };
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.last) {
                ix_->end_[top.entry] = static_cast<uint32_t>(ix_->id_.size());
                stack.pop_back();
                continue;
            }
            const uint32_t r = child_rows_[top.next++];
            const uint8_t flags = rows_.flags[r];
            // The fill forms the caption, reads IsLink, adds the node, then
            // lists its children: each can end it.
            if ((flags & Rows::kNullCaption) || !rows_.has_is_link || !(flags & Rows::kIdWhole)) {
                close_all();
                return;
            }
            // With ids that repeat, a key can come twice in one tree (the
            // fill fails there) and a row can sit under two list items (it is
            // found under the first).
            if (!slots_.Unique()) {
                const uint32_t slot = SlotOf(r);
                if (tree_of_[slot] == tree) {
                    close_all();
                    return;
                }
                tree_of_[slot] = tree;
                if (visited_[r]) continue;
            }
            const uint32_t entry =
                AddEntry(r, (flags & Rows::kLink) ? EntryKind::link : EntryKind::task, top.entry,
                         rows_.caption[r]);
            const auto [cf, cl] = ChildrenOf(r);
            stack.push_back({entry, cf, cl});
        }
    }

    // The captions entries carry, numbered anew in the order the entries
    // first carry them (rows the walk did not reach leave theirs out), as
    // shown and folded.
    void MakeCaptions() {
        CatalogueIndex& ix = *ix_;
        std::vector<uint32_t> renumbered(captions_.Count(), kNone);
        std::vector<uint32_t> used;
        for (uint32_t& c : ix.caption_) {
            if (renumbered[c] == kNone) {
                renumbered[c] = static_cast<uint32_t>(used.size());
                used.push_back(c);
            }
            c = renumbered[c];
        }
        size_t shown = 0;
        for (const uint32_t c : used) shown += captions_.Text(c).size();
        ix.shown_text_.reserve(shown);
        ix.shown_begin_.reserve(used.size() + 1);
        ix.folded_text_.reserve(shown);
        ix.folded_begin_.reserve(used.size() + 1);
        for (const uint32_t c : used) {
            const std::string_view text = captions_.Text(c);
            ix.shown_begin_.push_back(static_cast<uint32_t>(ix.shown_text_.size()));
            ix.shown_text_.append(text);
            ix.folded_begin_.push_back(static_cast<uint32_t>(ix.folded_text_.size()));
            FoldText(text, ix.folded_text_);
            // Folding spells some letters out (ß ss): the folded text may
            // grow past the shown.
            if (ix.folded_text_.size() > std::numeric_limits<uint32_t>::max() / 2)
                throw RuntimeError(
                    err::kOutOfMemory,
                    "Out of memory: the catalogue's captions are too large to search");
        }
        ix.shown_begin_.push_back(static_cast<uint32_t>(ix.shown_text_.size()));
        ix.folded_begin_.push_back(static_cast<uint32_t>(ix.folded_text_.size()));
        ix.folded_text_.shrink_to_fit();
        captions_ = Interner();
    }

    void MakeDictionary() {
        CatalogueIndex& ix = *ix_;
        const size_t captions = ix.shown_begin_.size() - 1;
        Interner words(captions / 2 + 16);
        // (word, caption, opens the caption), a caption's words once each.
        struct Occurrence {
            uint32_t word, caption;
            bool first;
        };
        std::vector<Occurrence> occurrences;
        occurrences.reserve(captions * 2);
        std::vector<uint32_t> seen;
        const std::string_view folded = ix.folded_text_;
        for (uint32_t c = 0; c < captions; ++c) {
            const std::string_view text =
                folded.substr(ix.folded_begin_[c], ix.folded_begin_[c + 1] - ix.folded_begin_[c]);
            seen.clear();
            ForEachWord(text, [&](size_t b, size_t e) {
                const uint32_t w = words.Intern(text.substr(b, e - b));
                if (std::find(seen.begin(), seen.end(), w) != seen.end()) return;
                occurrences.push_back({w, c, seen.empty()});
                seen.push_back(w);
            });
        }
        std::vector<uint32_t> order(words.Count());
        for (uint32_t w = 0; w < order.size(); ++w) order[w] = w;
        std::sort(order.begin(), order.end(),
                  [&](uint32_t a, uint32_t b) { return words.Text(a) < words.Text(b); });
        std::vector<uint32_t> rank(order.size());
        size_t bytes = 0;
        for (uint32_t k = 0; k < order.size(); ++k) {
            rank[order[k]] = k;
            bytes += words.Text(order[k]).size();
        }
        ix.word_text_.reserve(bytes);
        ix.word_begin_.reserve(order.size() + 1);
        for (const uint32_t w : order) {
            ix.word_begin_.push_back(static_cast<uint32_t>(ix.word_text_.size()));
            ix.word_text_.append(words.Text(w));
        }
        ix.word_begin_.push_back(static_cast<uint32_t>(ix.word_text_.size()));

        // Counting sort by word: first the captions each word opens, then
        // the others, each part in caption order.
        const size_t w_count = order.size();
        std::vector<uint32_t> firsts(w_count, 0), all(w_count + 1, 0);
        for (const Occurrence& o : occurrences) {
            ++all[rank[o.word] + 1];
            if (o.first) ++firsts[rank[o.word]];
        }
        for (size_t w = 0; w < w_count; ++w) all[w + 1] += all[w];
        ix.word_caption_begin_ = all;
        ix.word_first_end_.resize(w_count);
        std::vector<uint32_t> next_first(w_count), next_other(w_count);
        for (size_t w = 0; w < w_count; ++w) {
            next_first[w] = all[w];
            next_other[w] = all[w] + firsts[w];
            ix.word_first_end_[w] = all[w] + firsts[w];
        }
        ix.word_captions_.resize(occurrences.size());
        for (const Occurrence& o : occurrences) {
            const uint32_t w = rank[o.word];
            ix.word_captions_[o.first ? next_first[w]++ : next_other[w]++] = o.caption;
        }
    }

    void MakeCaptionEntries() {
        CatalogueIndex& ix = *ix_;
        const size_t captions = ix.shown_begin_.size() - 1;
        const auto entries = static_cast<uint32_t>(ix.id_.size());
        ix.caption_entry_begin_.assign(captions + 1, 0);
        for (uint32_t e = 0; e < entries; ++e) ++ix.caption_entry_begin_[ix.caption_[e] + 1];
        for (size_t c = 0; c < captions; ++c)
            ix.caption_entry_begin_[c + 1] += ix.caption_entry_begin_[c];
        ix.caption_entries_.resize(entries);
        std::vector<uint32_t> fill(ix.caption_entry_begin_.begin(),
                                   ix.caption_entry_begin_.end() - 1);
        for (uint32_t e = 0; e < entries; ++e) ix.caption_entries_[fill[ix.caption_[e]]++] = e;

        ix.link_bits_.assign((entries + 63) / 64, 0);
        for (uint32_t e = 0; e < entries; ++e)
            if (ix.kind_[e] == static_cast<uint8_t>(EntryKind::link))
                ix.link_bits_[e / 64] |= uint64_t{1} << (e % 64);
        // Reserved for every row; rows the walk did not reach are no entries.
        ix.id_.shrink_to_fit();
        ix.parent_.shrink_to_fit();
        ix.end_.shrink_to_fit();
        ix.caption_.shrink_to_fit();
        ix.kind_.shrink_to_fit();
    }

    Interner captions_;  // before rows_, which is read into it
    Rows rows_;
    IdSlots slots_;
    std::unique_ptr<CatalogueIndex> ix_;
    std::vector<uint32_t> groups_;
    std::vector<uint32_t> child_begin_;
    std::vector<uint32_t> child_rows_;
    std::vector<bool> visited_;
    std::vector<uint32_t> tree_of_;  // by id slot: the last tree that holds the key

    // WalkTree's stack, kept from one list item to the next.
    struct Frame {
        uint32_t entry, next, last;
    };
    std::vector<Frame> stack_;
};

CatalogueIndex::CatalogueIndex() = default;
CatalogueIndex::~CatalogueIndex() = default;

std::unique_ptr<CatalogueIndex> CatalogueIndex::Build(const Recordset& tasks) {
    const faults::Suspended not_the_controls_calls;
    return IndexBuilder(tasks).Build();
}

}  // namespace kevra::search
