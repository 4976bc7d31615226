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

Catalogue GenerateCatalogue(const CatalogueSpec& spec) {
    if (spec.rows > static_cast<uint32_t>(INT32_MAX))
        BadSpec("rows is " + std::to_string(spec.rows) + "; a catalogue holds at most " +
                std::to_string(INT32_MAX) + " tasks");
    if (spec.fanout.empty()) BadSpec("fanout is empty; give the number of top-level tasks");
    for (size_t i = 0; i < spec.fanout.size(); ++i)
        if (spec.fanout[i] == 0)
            BadSpec("fanout[" + std::to_string(i) + "] is 0; every level needs at least 1");
    if (!(spec.link_share >= 0.0 && spec.link_share <= 1.0))
        BadSpec("link_share is " + std::to_string(spec.link_share) + "; use a value from 0 to 1");

    const uint32_t total = spec.rows;
    Random random(spec.seed);

    // The shape, level by level: node n has parent node_parent[n] (or
    // UINT32_MAX) and level node_level[n]; nodes of a level are contiguous.
    std::vector<uint32_t> node_parent;
    std::vector<uint32_t> node_level;
    node_parent.reserve(total);
    node_level.reserve(total);
    uint32_t level_first = 0, level_end = 0;  // nodes of the level above
    for (uint32_t level = 1; node_parent.size() < total; ++level) {
        const uint32_t remaining = total - static_cast<uint32_t>(node_parent.size());
        const bool last = spec.depth != 0 && level >= spec.depth;
        const uint32_t fan = spec.fanout[std::min<size_t>(level - 1, spec.fanout.size() - 1)];
        if (level == 1) {
            const uint32_t n = last ? remaining : std::min(fan, remaining);
            for (uint32_t i = 0; i < n; ++i) {
                node_parent.push_back(UINT32_MAX);
                node_level.push_back(1);
            }
        } else {
            const uint32_t parents = level_end - level_first;
            for (uint32_t p = 0; p < parents && node_parent.size() < total; ++p) {
                uint32_t n = last ? remaining / parents + (p < remaining % parents ? 1 : 0) : fan;
                n = std::min(n, total - static_cast<uint32_t>(node_parent.size()));
                for (uint32_t i = 0; i < n; ++i) {
                    node_parent.push_back(level_first + p);
                    node_level.push_back(level);
                }
            }
        }
        level_first = level_end;
        level_end = static_cast<uint32_t>(node_parent.size());
    }

    // Row order: which node each row holds.
    std::vector<uint32_t> node_of_row;
    node_of_row.reserve(total);
    if (spec.order == RowOrder::kDepthFirst) {
        // Children of each node, from the level-ordered list.
        std::vector<uint32_t> first(total + 1, 0), kids(total);
        for (uint32_t n = 0; n < total; ++n)
            if (node_parent[n] != UINT32_MAX) ++first[node_parent[n] + 1];
        for (uint32_t n = 0; n < total; ++n) first[n + 1] += first[n];
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        for (uint32_t n = 0; n < total; ++n)
            if (node_parent[n] != UINT32_MAX) kids[fill[node_parent[n]]++] = n;
        std::vector<uint32_t> pending;
        for (uint32_t n = total; n-- > 0;)
            if (node_parent[n] == UINT32_MAX) pending.push_back(n);
        while (!pending.empty()) {
            const uint32_t n = pending.back();
            pending.pop_back();
            node_of_row.push_back(n);
            for (uint32_t i = first[n + 1]; i-- > first[n];) pending.push_back(kids[i]);
        }
    } else {
        for (uint32_t n = 0; n < total; ++n) node_of_row.push_back(n);
        if (spec.order == RowOrder::kShuffled) Shuffle(node_of_row, random);
    }
    std::vector<uint32_t> row_of_node(total);
    for (uint32_t r = 0; r < total; ++r) row_of_node[node_of_row[r]] = r;

    // Task ids: 1..rows in a shuffled order, so that an id says nothing
    // about a row's position.
    std::vector<int32_t> ids(total);
    for (uint32_t i = 0; i < total; ++i) ids[i] = static_cast<int32_t>(i + 1);
    Shuffle(ids, random);

    Catalogue cat;
    cat.task_id = ids;
    cat.parent_id.resize(total);
    cat.level.resize(total);
    cat.description.resize(total);
    std::vector<uint32_t> parent_row(total, UINT32_MAX);
    for (uint32_t r = 0; r < total; ++r) {
        const uint32_t n = node_of_row[r];
        cat.level[r] = static_cast<uint8_t>(std::min<uint32_t>(node_level[n], 255));
        if (node_parent[n] != UINT32_MAX) {
            parent_row[r] = row_of_node[node_parent[n]];
            cat.parent_id[r] = ids[parent_row[r]];
        }
    }

    // Children in row order.
    cat.child_begin.assign(total + 1, 0);
    cat.child_rows.resize(total);
    for (uint32_t r = 0; r < total; ++r)
        if (parent_row[r] != UINT32_MAX) ++cat.child_begin[parent_row[r] + 1];
    for (uint32_t r = 0; r < total; ++r) cat.child_begin[r + 1] += cat.child_begin[r];
    {
        std::vector<uint32_t> fill(cat.child_begin.begin(), cat.child_begin.end() - 1);
        for (uint32_t r = 0; r < total; ++r) {
            if (parent_row[r] != UINT32_MAX)
                cat.child_rows[fill[parent_row[r]]++] = r;
            else
                cat.top_rows.push_back(r);
        }
        cat.child_rows.resize(cat.child_begin[total]);
    }

    TableBuilder builder(std::vector<std::string>(std::begin(kTaskFields), std::end(kTaskFields)));
    std::vector<Variant> values(6);
    for (uint32_t r = 0; r < total; ++r) {
        cat.description[r] = Description(random);
        const bool link = node_level[node_of_row[r]] >= 3 && random.Unit() < spec.link_share;
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
