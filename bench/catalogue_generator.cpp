// Synthetic task catalogues. The shape is built level by level as a list of
// nodes (each with its parent and level), then laid out in the wanted row
// order, given shuffled task ids and filled with text.
#include "bench/catalogue_generator.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <ostream>

#include "platform/error.h"
#include "platform/json.h"

namespace kevra::testdata {

namespace {

// SplitMix64: small, fast, and the same sequence everywhere.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) {
        return static_cast<uint32_t>((static_cast<unsigned __int128>(Next()) * n) >> 64);
    }
    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

  private:
    uint64_t state_;
};

template <typename T>
void Shuffle(std::vector<T>& v, Random& random) {
    for (size_t i = v.size(); i > 1; --i)
        std::swap(v[i - 1], v[random.Below(static_cast<uint32_t>(i))]);
}

constexpr const char* kWords[] = {
    "Rooms",        "Rates",    "Guests",  "Night",        "Audit",       "Folio",
    "Reservations", "Cashier",  "Reports", "Housekeeping", "Maintenance", "Sales",
    "Marketing",    "Banquets", "Payroll", "Stock",        "Orders",      "Arrivals",
    "Departures",   "Group",    "Blocks",  "Billing",      "Setup",       "Users",
    "Daily",        "Monthly",  "Review",  "Print",        "Close",       "Open",
};
constexpr const char* kTaskFields[] = {"TaskId", "TaskParent", "TaskDescription",
                                       "IsLink", "TaskURL",    "TaskParms"};

constexpr uint32_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

std::string Description(Random& random) {
    std::string text;
    const uint32_t words = 1 + random.Below(3);
    for (uint32_t w = 0; w < words; ++w) {
        if (w) text += ' ';
        text += kWords[random.Below(kWordCount)];
    }
    // A few captions carry what the control cleans up: an ampersand between
    // words, blanks around the text.
    const uint32_t dice = random.Below(100);
    if (dice < 5) {
        text += " & ";
        text += kWords[random.Below(kWordCount)];
    } else if (dice < 10) {
        text = "  " + text + " ";
    }
    return text;
}

[[noreturn]] void BadSpec(const std::string& what) {
    throw RuntimeError(err::kInvalidArgument, "Cannot generate the catalogue: " + what);
}

void CheckSpec(const CatalogueSpec& spec) {
    if (spec.rows > static_cast<uint32_t>(INT32_MAX))
        BadSpec("rows is " + std::to_string(spec.rows) + "; a catalogue holds at most " +
                std::to_string(INT32_MAX) + " tasks");
    if (spec.fanout.empty()) BadSpec("fanout is empty; give the number of top-level tasks");
    for (size_t i = 0; i < spec.fanout.size(); ++i)
        if (spec.fanout[i] == 0)
            BadSpec("fanout[" + std::to_string(i) + "] is 0; every level needs at least 1");
    if (!(spec.link_share >= 0.0 && spec.link_share <= 1.0))
        BadSpec("link_share is " + std::to_string(spec.link_share) + "; use a value from 0 to 1");
}

constexpr uint32_t kNoParent = UINT32_MAX;

// The shape before it is laid out in rows: node n has parent node parent[n]
// (or kNoParent) and level level[n]; the nodes of a level are contiguous.
struct Shape {
    std::vector<uint32_t> parent;
    std::vector<uint32_t> level;

    uint32_t Size() const { return static_cast<uint32_t>(parent.size()); }
    void Add(uint32_t parent_node, uint32_t node_level, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            parent.push_back(parent_node);
            level.push_back(node_level);
        }
    }
};

// Adds the nodes of `level` below the nodes [parent_first, parent_end) of
// the level above.
void AddLevel(const CatalogueSpec& spec, uint32_t level, uint32_t parent_first, uint32_t parent_end,
              Shape& shape) {
    const uint32_t total = spec.rows;
    const uint32_t remaining = total - shape.Size();
    const bool last = spec.depth != 0 && level >= spec.depth;
    const uint32_t fan = spec.fanout[std::min<size_t>(level - 1, spec.fanout.size() - 1)];
    if (level == 1) {
        shape.Add(kNoParent, 1, last ? remaining : std::min(fan, remaining));
        return;
    }
    const uint32_t parents = parent_end - parent_first;
    for (uint32_t p = 0; p < parents && shape.Size() < total; ++p) {
        uint32_t n = last ? remaining / parents + (p < remaining % parents ? 1 : 0) : fan;
        n = std::min(n, total - shape.Size());
        shape.Add(parent_first + p, level, n);
    }
}

Shape BuildShape(const CatalogueSpec& spec) {
    Shape shape;
    shape.parent.reserve(spec.rows);
    shape.level.reserve(spec.rows);
    uint32_t level_first = 0, level_end = 0;  // nodes of the level above
    for (uint32_t level = 1; shape.Size() < spec.rows; ++level) {
        AddLevel(spec, level, level_first, level_end, shape);
        level_first = level_end;
        level_end = shape.Size();
    }
    return shape;
}

// The nodes in depth-first order: each followed by its subtree, siblings in
// node order.
std::vector<uint32_t> DepthFirstNodes(const Shape& shape) {
    const uint32_t total = shape.Size();
    // Children of each node, from the level-ordered list.
    std::vector<uint32_t> first(total + 1, 0), kids(total);
    for (uint32_t n = 0; n < total; ++n)
        if (shape.parent[n] != kNoParent) ++first[shape.parent[n] + 1];
    for (uint32_t n = 0; n < total; ++n) first[n + 1] += first[n];
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (uint32_t n = 0; n < total; ++n)
        if (shape.parent[n] != kNoParent) kids[fill[shape.parent[n]]++] = n;
    std::vector<uint32_t> order;
    order.reserve(total);
    std::vector<uint32_t> pending;
    for (uint32_t n = total; n-- > 0;)
        if (shape.parent[n] == kNoParent) pending.push_back(n);
    while (!pending.empty()) {
        const uint32_t n = pending.back();
        pending.pop_back();
        order.push_back(n);
        for (uint32_t i = first[n + 1]; i-- > first[n];) pending.push_back(kids[i]);
    }
    return order;
}

// Which node each row holds.
std::vector<uint32_t> NodeOfRow(const Shape& shape, RowOrder order, Random& random) {
    if (order == RowOrder::kDepthFirst) return DepthFirstNodes(shape);
    std::vector<uint32_t> node_of_row;
    node_of_row.reserve(shape.Size());
    for (uint32_t n = 0; n < shape.Size(); ++n) node_of_row.push_back(n);
    if (order == RowOrder::kShuffled) Shuffle(node_of_row, random);
    return node_of_row;
}

// Task ids 1..count in a shuffled order, so that an id says nothing about a
// row's position.
std::vector<int32_t> ShuffledIds(uint32_t count, Random& random) {
    std::vector<int32_t> ids(count);
    for (uint32_t i = 0; i < count; ++i) ids[i] = static_cast<int32_t>(i + 1);
    Shuffle(ids, random);
    return ids;
}

// Fills each row's level and parent id (the ids already given); returns the
// row of each row's parent, kNoParent for a top-level row.
std::vector<uint32_t> PlaceRows(const Shape& shape, const std::vector<uint32_t>& node_of_row,
                                Catalogue& cat) {
    const uint32_t total = shape.Size();
    std::vector<uint32_t> row_of_node(total);
    for (uint32_t r = 0; r < total; ++r) row_of_node[node_of_row[r]] = r;
    cat.parent_id.resize(total);
    cat.level.resize(total);
    std::vector<uint32_t> parent_row(total, kNoParent);
    for (uint32_t r = 0; r < total; ++r) {
        const uint32_t n = node_of_row[r];
        cat.level[r] = static_cast<uint8_t>(std::min<uint32_t>(shape.level[n], 255));
        if (shape.parent[n] != kNoParent) {
            parent_row[r] = row_of_node[shape.parent[n]];
            cat.parent_id[r] = cat.task_id[parent_row[r]];
        }
    }
    return parent_row;
}

// The children of each row and the top-level rows, in row order.
void IndexChildren(const std::vector<uint32_t>& parent_row, Catalogue& cat) {
    const uint32_t total = static_cast<uint32_t>(parent_row.size());
    cat.child_begin.assign(total + 1, 0);
    cat.child_rows.resize(total);
    for (uint32_t r = 0; r < total; ++r)
        if (parent_row[r] != kNoParent) ++cat.child_begin[parent_row[r] + 1];
    for (uint32_t r = 0; r < total; ++r) cat.child_begin[r + 1] += cat.child_begin[r];
    std::vector<uint32_t> fill(cat.child_begin.begin(), cat.child_begin.end() - 1);
    for (uint32_t r = 0; r < total; ++r) {
        if (parent_row[r] != kNoParent)
            cat.child_rows[fill[parent_row[r]]++] = r;
        else
            cat.top_rows.push_back(r);
    }
    cat.child_rows.resize(cat.child_begin[total]);
}

// Gives every row its text and link, and builds the table.
void FillTable(double link_share, const Shape& shape, const std::vector<uint32_t>& node_of_row,
               Random& random, Catalogue& cat) {
    const uint32_t total = shape.Size();
    cat.description.resize(total);
    TableBuilder builder(std::vector<std::string>(std::begin(kTaskFields), std::end(kTaskFields)));
    std::vector<Variant> values(6);
    for (uint32_t r = 0; r < total; ++r) {
        cat.description[r] = Description(random);
        const bool link = shape.level[node_of_row[r]] >= 3 && random.Unit() < link_share;
        values[0] = Variant(cat.task_id[r]);
        values[1] = Variant(cat.parent_id[r]);
        values[2] = Variant(cat.description[r]);
        values[3] = Variant::Boolean(link);
        cat.text_bytes += cat.description[r].size();
        if (link) {
            std::string url = "https://tasks.invalid/run/" + std::to_string(cat.task_id[r]);
            std::string parms = "mode=" + std::string(random.Below(2) ? "edit" : "view") +
                                "&unit=" + std::to_string(random.Below(1000));
            cat.text_bytes += url.size() + parms.size();
            values[4] = Variant(std::move(url));
            values[5] = Variant(std::move(parms));
        } else {
            values[4] = Variant::Null();
            values[5] = Variant::Null();
        }
        builder.AddRow(values);
    }
    cat.table = builder.Build();
}

}  // namespace

uint32_t Catalogue::SubtreeSize(uint32_t row) const {
    uint32_t count = 0;
    std::vector<uint32_t> pending{row};
    while (!pending.empty()) {
        const uint32_t r = pending.back();
        pending.pop_back();
        for (uint32_t i = child_begin[r]; i < child_begin[r + 1]; ++i) {
            pending.push_back(child_rows[i]);
            ++count;
        }
    }
    return count;
}

// The random numbers are drawn in a fixed sequence (row order, then ids,
// then the rows' text): a change of that sequence changes every catalogue a
// seed stands for.
Catalogue GenerateCatalogue(const CatalogueSpec& spec) {
    CheckSpec(spec);
    Random random(spec.seed);
    const Shape shape = BuildShape(spec);
    const std::vector<uint32_t> node_of_row = NodeOfRow(shape, spec.order, random);
    Catalogue cat;
    cat.task_id = ShuffledIds(spec.rows, random);
    IndexChildren(PlaceRows(shape, node_of_row, cat), cat);
    FillTable(spec.link_share, shape, node_of_row, random, cat);
    return cat;
}

TableRef CopyTaskRows(const TableRef& rows) {
    std::vector<std::string> names(std::begin(kTaskFields), std::end(kTaskFields));
    TableBuilder builder(names);
    RecordsetRef rs = Recordset::Open(rows);
    std::vector<Field> fields;
    for (const char* name : kTaskFields) fields.push_back(rs->Fields(name));
    std::vector<Variant> values(fields.size());
    for (; !rs->Eof(); rs->MoveNext()) {
        for (size_t f = 0; f < fields.size(); ++f) values[f] = fields[f].Value();
        builder.AddRow(values);
    }
    return builder.Build();
}

std::string TaskKey(int32_t task_id) {
    // Appended rather than "X" + ...: GCC 12 warns wrongly (-Wrestrict) on that.
    std::string key = "X";
    key += std::to_string(task_id);
    return key;
}

void WriteJsonCatalogue(const TableRef& rows, std::ostream& out) {
    const auto& kFields = kTaskFields;
    RecordsetRef rs = Recordset::Open(rows);
    std::vector<Field> fields;
    for (const char* name : kFields) fields.push_back(rs->Fields(name));
    std::string line;
    out << "[";
    bool first_row = true;
    for (; !rs->Eof(); rs->MoveNext()) {
        line = first_row ? "\n{" : ",\n{";
        first_row = false;
        for (size_t f = 0; f < fields.size(); ++f) {
            if (f) line += ", ";
            line += json::Quote(kFields[f]);
            line += ": ";
            const Variant v = fields[f].Value();
            switch (v.type()) {
                case Variant::Type::Empty:
                case Variant::Type::Null:
                    line += "null";
                    break;
                case Variant::Type::Boolean:
                    line += v.EqualsTrue() ? "true" : "false";
                    break;
                case Variant::Type::Int32:
                case Variant::Type::Int64:
                    line += v.ToString();
                    break;
                case Variant::Type::Double:
                    line += json::Number(v.DoubleValue());
                    break;
                case Variant::Type::String:
                    line += json::Quote(v.StringValue());
                    break;
                case Variant::Type::Object:
                    throw RuntimeError(err::kTypeMismatch,
                                       "Type mismatch: a catalogue row holds an object in " +
                                           std::string(kFields[f]));
            }
        }
        line += "}";
        out << line;
    }
    out << "\n]\n";
}

void WriteJsonCatalogueFile(const TableRef& rows, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) WriteJsonCatalogue(rows, out);
    out.flush();
    if (!out)
        throw RuntimeError(err::kPathAccess, "Cannot write the catalogue file " +
                                                 json::Quote(path) +
                                                 "; check that its folder exists and is writable");
}

}  // namespace kevra::testdata
