// The task record set: a Table of rows in compact column form, and Recordset
// cursors over it.
//
// A cursor's visible rows are a RowRange: all rows, a span straight into a
// shared equality index (no copy, so a `TaskParent = n` put costs a hash
// probe), or a list of its own for filters that had to scan. The index of a
// field is built the first time any cursor over the table filters on it, and
// serves every clone afterwards.
#include "platform/recordset.h"

#include <limits>
#include <mutex>

#include "platform/error.h"
#include "platform/faults.h"
#include "platform/filter.h"
#include "platform/names.h"

namespace kevra {

namespace {


constexpr uint32_t kMaxRows = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());

}  // namespace

class Table {
  public:
    explicit Table(std::vector<std::string> names) {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i].empty())
                throw RuntimeError(err::kInvalidArgument,
                                   "Field " + std::to_string(i + 1) +
                                       " of the record set has no name; give every field a name");
            for (size_t j = 0; j < i; ++j)
                if (SameName(names[i], columns[j].name))
                    throw RuntimeError(err::kInvalidArgument,
                                       "The record set names the field \"" + names[i] +
                                           "\" twice (fields " + std::to_string(j + 1) + " and " +
                                           std::to_string(i + 1) +
                                           "); field names must differ, ignoring letter case");
            if (!field_list.empty()) field_list += ", ";
            field_list += names[i];
            columns.emplace_back(std::move(names[i]));
        }
        indexes = std::make_unique<IndexSlot[]>(columns.size());
    }

    int FieldIndex(std::string_view name) const {
        for (size_t i = 0; i < columns.size(); ++i)
            if (SameName(columns[i].name, name)) return static_cast<int>(i);
        return -1;
    }

    static int Resolve(const void* table, std::string_view name) {
        return static_cast<const Table*>(table)->FieldIndex(name);
    }

    // Built once per field, on first use, whichever cursor or thread asks.
    const filter::EqualityIndex& IndexOf(int column) const {
        IndexSlot& slot = indexes[column];
        std::call_once(slot.once,
                       [&] { slot.index = filter::EqualityIndex::Build(columns[column], arena); });
        return *slot.index;
    }

    filter::Cells Cells() const { return filter::Cells{&columns, &arena}; }

    std::vector<filter::Column> columns;
    filter::TextArena arena;
    uint32_t rows = 0;
    std::string field_list;  // "TaskId, TaskParent, ..." for error messages

  private:
    struct IndexSlot {
        std::once_flag once;
        std::unique_ptr<filter::EqualityIndex> index;
    };
    mutable std::unique_ptr<IndexSlot[]> indexes;
};

// ---------------------------------------------------------------------------
// TableBuilder

TableBuilder::TableBuilder(std::vector<std::string> field_names)
    : table_(std::make_unique<Table>(std::move(field_names))) {}
TableBuilder::~TableBuilder() = default;
TableBuilder::TableBuilder(TableBuilder&&) noexcept = default;
TableBuilder& TableBuilder::operator=(TableBuilder&&) noexcept = default;

size_t TableBuilder::FieldCount() const { return table_->columns.size(); }

int TableBuilder::FieldIndex(std::string_view name) const { return table_->FieldIndex(name); }

size_t TableBuilder::RowCount() const { return table_->rows; }

void TableBuilder::AddRow(const std::vector<Variant>& values) {
    Table& t = *table_;
    if (values.size() != t.columns.size())
        throw RuntimeError(err::kInvalidArgument,
                           "A row of the record set needs " + std::to_string(t.columns.size()) +
                               " values (" + t.field_list + ") but " +
                               std::to_string(values.size()) + " were given");
    if (t.rows == kMaxRows)
        throw RuntimeError(err::kOverflow, "A record set holds at most " +
                                               std::to_string(kMaxRows) +
                                               " rows; split the catalogue");
    // Check every value before storing any, so that a rejected row leaves
    // no partial cells behind.
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i].type() == Variant::Type::Object)
            throw RuntimeError(err::kTypeMismatch,
                               "Type mismatch: field \"" + t.columns[i].name +
                                   "\" cannot hold an object; a record set holds only numbers, "
                                   "Booleans, text, Null and Empty");
    try {
        for (size_t i = 0; i < values.size(); ++i)
            filter::AppendCell(t.columns[i], t.arena, values[i]);
    } catch (...) {
        for (auto& c : t.columns) c.Truncate(t.rows);
        throw;
    }
    ++t.rows;
}

TableRef TableBuilder::Build() {
    std::vector<std::string> names;
    for (auto& c : table_->columns) {
        c.Compact();
        names.push_back(c.name);
    }
    table_->arena.ShrinkToFit();
    TableRef built(std::move(table_));
    table_ = std::make_unique<Table>(std::move(names));
    return built;
}

// ---------------------------------------------------------------------------
// Recordset

struct Recordset::Impl {
    TableRef table;
    bool open = true;
    std::string filter_text;
    filter::RowRange visible;
    std::vector<uint32_t> owned;  // the rows of a scanned filter; visible.ids points here
    uint32_t position = 0;

    void RequireOpen(std::string_view operation) const {
        if (!open)
            throw RuntimeError(err::kObjectClosed,
                               "Operation is not allowed when the record set is closed: " +
                                   std::string(operation) +
                                   " was called after Close; use an open record set or a clone "
                                   "of one");
    }

    uint32_t CurrentRow(std::string_view operation) const {
        RequireOpen(operation);
        if (position >= visible.count)
            throw RuntimeError(err::kNoCurrentRow,
                               std::string(operation) +
                                   " needs a current row, but the record set is at end-of-file; "
                                   "check Eof() first");
        return visible.At(position);
    }
};

// Every tree node costs a clone, so a cursor, its state and the shared
// pointer's count are one allocation.
struct Recordset::Block {
    Impl impl;
    Recordset cursor{&impl};
};

Recordset::~Recordset() = default;

RecordsetRef Recordset::Open(TableRef table) {
    if (!table)
        throw RuntimeError(err::kObjectNotSet,
                           "Object variable not set: a record set needs a table to open");
    auto block = std::make_shared<Block>();
    block->impl.visible = filter::RowRange{nullptr, 0, table->rows};
    block->impl.table = std::move(table);
    return RecordsetRef(block, &block->cursor);
}

RecordsetRef Recordset::Clone() const {
    faults::Check("Clone");
    impl_->RequireOpen("Clone");
    return Open(impl_->table);
}

void Recordset::Filter(std::string_view expression) {
    faults::Check("Filter");
    impl_->RequireOpen("Filter");
    const Table& t = *impl_->table;
    // Everything is worked out in locals and committed at the end, so that
    // a put that fails leaves the previous filter and position in place.
    filter::RowRange range{nullptr, 0, t.rows};
    std::vector<uint32_t> owned;
    bool scanned = false;
    filter::Number number;
    filter::Expression parsed;
    // `TaskParent=42`, put once per node of every tree walk, goes straight to
    // the index; every other form, and every error, through the parser.
    if (int column = filter::ParsePlainEquality(expression, &Table::Resolve, &t, number);
        column >= 0) {
        range = t.IndexOf(column).Find(number);
    } else {
        parsed = filter::Parse(expression, &Table::Resolve, &t, t.field_list);
    }
    if (parsed.root) {
        const filter::Node& root = *parsed.root;
        filter::Cells cells = t.Cells();
        if (const filter::Node* eq = filter::IndexableEquality(root)) {
            range = t.IndexOf(eq->column).Find(eq->literal);
        } else {
            // Candidates: the rows of an indexed conjunct, or every row.
            if (const filter::Node* conj = filter::IndexableConjunct(root))
                range = t.IndexOf(conj->column).Find(conj->literal);
            for (uint32_t i = 0; i < range.count; ++i) {
                uint32_t row = range.At(i);
                if (filter::Matches(root, cells, row)) owned.push_back(row);
            }
            owned.shrink_to_fit();
            range = filter::RowRange{nullptr, 0, static_cast<uint32_t>(owned.size())};
            scanned = true;
        }
    }
    impl_->filter_text.assign(expression);
    impl_->owned.swap(owned);
    if (scanned) range.ids = impl_->owned.data();
    impl_->visible = range;
    impl_->position = 0;
}

const std::string& Recordset::Filter() const {
    impl_->RequireOpen("Filter");
    return impl_->filter_text;
}

bool Recordset::Eof() const {
    impl_->RequireOpen("EOF");
    return impl_->position >= impl_->visible.count;
}

void Recordset::MoveNext() {
    faults::Check("MoveNext");
    impl_->CurrentRow("MoveNext");
    ++impl_->position;
}

Field Recordset::Fields(std::string_view name) const {
    faults::Check("Fields");
    impl_->RequireOpen("Fields");
    int column = impl_->table->FieldIndex(name);
    if (column < 0)
        throw RuntimeError(err::kFieldNotFound,
                           "Item cannot be found: the record set has no field \"" +
                               std::string(name) + "\"; its fields are " +
                               impl_->table->field_list);
    return Field(this, column);
}

int32_t Recordset::RecordCount() const {
    impl_->RequireOpen("RecordCount");
    return static_cast<int32_t>(impl_->visible.count);
}

int32_t Recordset::State() const { return impl_->open ? 1 : 0; }

void Recordset::Close() {
    impl_->RequireOpen("Close");
    impl_->open = false;
    impl_->visible = filter::RowRange();
    impl_->position = 0;
    std::vector<uint32_t>().swap(impl_->owned);
}

const TableRef& Recordset::Rows() const {
    impl_->RequireOpen("Rows");
    return impl_->table;
}

// ---------------------------------------------------------------------------
// Field

Variant Field::Value() const {
    const auto& impl = *rs_->impl_;
    // The operation's name is formed only when it is needed for an error.
    if (!impl.open || impl.position >= impl.visible.count)
        impl.CurrentRow("Reading the field \"" + Name() + "\"");
    return filter::CellValue(impl.table->columns[column_], impl.table->arena,
                             impl.visible.At(impl.position));
}

std::optional<std::string_view> Field::TextView() const {
    const auto& impl = *rs_->impl_;
    if (!impl.open || impl.position >= impl.visible.count)
        impl.CurrentRow("Reading the field \"" + Name() + "\"");
    const filter::Column& column = impl.table->columns[column_];
    const uint32_t row = impl.visible.At(impl.position);
    if (column.Type(row) != filter::CellType::String) return std::nullopt;
    return impl.table->arena.At(column.Payload(row));
}

const std::string& Field::Name() const { return rs_->impl_->table->columns[column_].name; }

}  // namespace kevra
