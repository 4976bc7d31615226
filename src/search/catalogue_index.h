// The search over a loaded task catalogue: every entry the list bar and the
// tree can show (groups, list items, the tasks below the items), in the
// tree's depth-first order, with the words of their captions, and the
// ranked answer to a query. docs/search.md says what matches and in which
// order, for users and integrators.
//
// An index is built once from the rows of a record set and never changes;
// the control's next load makes a new one. Entries are numbered in
// catalogue order: each group, then its first list item and every task
// below that item depth first, then the next list item, and so on. Only
// entries the user can reach are entries: a row whose chain of parents
// does not lead to a group through a list item is none, nor is a row the
// tree fill would stop at (a Null description, a key the tree already
// holds) or anything the fill would add after it. A task id that the rows
// repeat is one entry, where the catalogue first shows it.
//
// Captions are compared in their search form (search/text_fold.h) as the
// user sees them: trimmed, with the list bar's ampersand rule for groups and
// list items. Identical captions are kept once, and their words once in a
// sorted dictionary, so that a query looks at distinct words and captions
// rather than at every entry, and at entries only through bit sets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kevra {
class Recordset;
}

namespace kevra::search {

enum class EntryKind : uint8_t {
    group,  // a list-bar group (a row with TaskParent 0)
    item,   // a list item (a child of a group)
    task,   // a tree node below a list item that cannot be started
    link,   // a tree node below a list item whose IsLink is True
};

// "group", "item", "task", "link".
const char* KindName(EntryKind kind);

class CatalogueIndex {
  public:
    static constexpr uint32_t kNoEntry = UINT32_MAX;

    // The index of every row `tasks` shares with its clones, whatever the
    // filter and position of `tasks`, which stay as they are. Raises what
    // the record set raises (a closed record set, a missing field).
    static std::unique_ptr<CatalogueIndex> Build(const Recordset& tasks);

    ~CatalogueIndex();
    CatalogueIndex(const CatalogueIndex&) = delete;
    CatalogueIndex& operator=(const CatalogueIndex&) = delete;

    uint32_t EntryCount() const { return static_cast<uint32_t>(id_.size()); }
    int64_t Id(uint32_t entry) const { return id_[entry]; }
    EntryKind Kind(uint32_t entry) const { return static_cast<EntryKind>(kind_[entry]); }
    // The parent entry, or kNoEntry for a group.
    uint32_t Parent(uint32_t entry) const { return parent_[entry]; }
    // The caption as the list bar or the tree shows it.
    std::string_view Caption(uint32_t entry) const;
    // The captions from the group down to the entry.
    std::vector<std::string> Path(uint32_t entry) const;
    // The keys ("X" and the id) from the group down to the entry: what the
    // list bar and the tree know the entries by.
    std::vector<std::string> PathKeys(uint32_t entry) const;

    // The entry of a task id (the first, in catalogue order, should the
    // rows repeat the id), or kNoEntry.
    uint32_t Find(int64_t id) const;
    // The entries of many ids at once, in one pass over the entries:
    // entries[i] for ids[i], kNoEntry for an id that is not there.
    std::vector<uint32_t> FindAll(const std::vector<int64_t>& ids) const;

    // An entry the user has started before, with how strongly it is to be
    // preferred (higher first): placed first within the tier it matches in.
    struct Boost {
        uint32_t entry;
        double score;
    };

    // The entries that match `query`, best first, at most `limit`. Empty
    // for a query that folds to nothing.
    std::vector<uint32_t> Search(std::string_view query, size_t limit,
                                 const std::vector<Boost>& boosts = {}) const;

    // Bytes the index holds, and of those the bytes of caption text (the
    // captions as shown and in their search form, and the dictionary).
    size_t MemoryBytes() const;
    size_t TextBytes() const;
    size_t CaptionCount() const { return caption_entry_begin_.size() - 1; }
    size_t WordCount() const { return word_begin_.size() - 1; }

  private:
    CatalogueIndex();
    friend class IndexBuilder;
    friend class QueryRun;

    // Entries, in catalogue order.
    std::vector<int64_t> id_;
    std::vector<uint32_t> parent_;
    std::vector<uint32_t> end_;      // one past the last entry of the subtree
    std::vector<uint32_t> caption_;  // caption number
    std::vector<uint8_t> kind_;
    std::vector<uint64_t> link_bits_;  // bit e: entry e is a link

    // Distinct captions: as shown and folded, each text from begin[c] to
    // begin[c + 1], and the entries that carry each, in entry order.
    std::string shown_text_;
    std::vector<uint32_t> shown_begin_;
    std::string folded_text_;
    std::vector<uint32_t> folded_begin_;
    std::vector<uint32_t> caption_entry_begin_;
    std::vector<uint32_t> caption_entries_;

    // The dictionary: every distinct word of the folded captions, sorted
    // bytewise, and for each the captions it occurs in: first those it
    // opens (up to word_first_end_), then the others.
    std::string word_text_;
    std::vector<uint32_t> word_begin_;
    std::vector<uint32_t> word_caption_begin_;
    std::vector<uint32_t> word_first_end_;
    std::vector<uint32_t> word_captions_;
};

}  // namespace kevra::search
