// Synthetic task catalogues of any size and shape, for the benchmarks and for
// tests that need more rows than anyone would write by hand.
//
// A catalogue is described by its row count, the fan-out of each level, a
// depth limit and the share of link tasks; a seed makes it reproducible: the
// same spec gives the same rows, byte for byte, on every machine (the random
// numbers come from our own generator, not from the standard library's
// distributions, whose results differ between implementations).
//
// Besides the record-set rows, a generated catalogue keeps its structure in
// plain arrays (ids, parents, levels, each row's children), so that a
// benchmark can build a reference of the same shape without going through
// the record set.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "platform/recordset.h"

namespace kevra::testdata {

enum class RowOrder {
    kDepthFirst,  // each task followed by its subtree, as a catalogue written top-down
    kLevel,       // all top-level tasks, then all of level 2, and so on
    kShuffled,    // no order at all
};

struct CatalogueSpec {
    uint32_t rows = 1000;
    // Children per task at each level, from the top: fanout[0] is the number
    // of top-level tasks (list-bar groups), fanout[1] the list items of each
    // group, fanout[2] the tasks under each list item, and so on. The last
    // entry serves every deeper level. Every entry must be at least 1.
    std::vector<uint32_t> fanout = {10, 10, 10};
    // The number of levels at most; 0 for as many as the rows need. When the
    // levels run out, the deepest level takes every remaining row, spread
    // evenly over the tasks of the level above it.
    uint32_t depth = 0;
    // The share of tasks at level 3 and deeper (the tree's tasks) that are
    // links with a URL. Groups and list items are never links.
    double link_share = 0.5;
    uint64_t seed = 1;
    RowOrder order = RowOrder::kDepthFirst;
};

struct Catalogue {
    TableRef table;  // fields TaskId, TaskParent, TaskDescription, IsLink, TaskURL, TaskParms

    // Per row, in row order.
    std::vector<int32_t> task_id;
    std::vector<int32_t> parent_id;        // 0 for a top-level task
    std::vector<uint8_t> level;            // 1 for a top-level task; deeper than 255 reads 255
    std::vector<std::string> description;  // as stored, untrimmed

    // The children of each row, in row order: rows child_rows[child_begin[r]
    // .. child_begin[r + 1]) are the children of row r.
    std::vector<uint32_t> child_begin;
    std::vector<uint32_t> child_rows;
    std::vector<uint32_t> top_rows;  // the top-level rows, in row order

    // Bytes of text in the rows: every description, URL and parameter string.
    uint64_t text_bytes = 0;

    uint32_t Rows() const { return static_cast<uint32_t>(task_id.size()); }
    uint32_t ChildCount(uint32_t row) const { return child_begin[row + 1] - child_begin[row]; }
    // The number of tasks below `row`, at any depth.
    uint32_t SubtreeSize(uint32_t row) const;
};

// Builds the catalogue `spec` describes. Raises kevra::RuntimeError
// (err::kInvalidArgument) for a spec it cannot build, naming the setting:
// no rows wanted beyond int32, a fan-out of 0, a link share outside 0..1.
Catalogue GenerateCatalogue(const CatalogueSpec& spec);

// A new table with the same six task fields and rows as `rows`: what a
// second load of the same catalogue gets, with no index built yet.
TableRef CopyTaskRows(const TableRef& rows);

// The task key of an id: "X" followed by the id in decimal.
std::string TaskKey(int32_t task_id);

// Writes the six task fields of every row of `rows` as a JSON catalogue (an
// array of row objects, one per line), in row order. Null fields are written
// as null, Booleans as true/false.
void WriteJsonCatalogue(const TableRef& rows, std::ostream& out);
// The same, to a file; raises err::kPathAccess naming the file when it
// cannot be written.
void WriteJsonCatalogueFile(const TableRef& rows, const std::string& path);

}  // namespace kevra::testdata
