// The task record set: a Table of rows in compact column form, and Recordset
// cursors over it.
//
// A cursor's visible rows are a RowRange: all rows, a span straight into a
// shared equality index (no copy, so a `TaskParent = n` put costs a hash
// probe), or a list of its own for filters that had to scan. The index of a
// field is built the first time any cursor over the table filters on it, and
// serves every clone afterwards.
#include "platform/recordset.h"

#include <atomic>
#include <cassert>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/equality_index_p.h"
#include "platform/error.h"
#include "platform/faults.h"
#include "platform/filter_p.h"
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
        // Names of other lengths are passed over at their first compare, so
        // a plain search of a catalogue's six fields is as fast as a table of
        // hints by length and letters, which was tried (docs/performance.md).
        for (size_t i = 0; i < columns.size(); ++i)
            if (SameName(columns[i].name, name)) return static_cast<int>(i);
        return -1;
    }

    static int Resolve(const void* table, std::string_view name) {
        return static_cast<const Table*>(table)->FieldIndex(name);
    }

    // Built once per field, on first use, whichever cursor or thread asks.
    const filter::EqualityIndex& IndexOf(int column) const {
        assert(column >= 0 && static_cast<size_t>(column) < columns.size());
        IndexSlot& slot = indexes[column];
        if (const filter::EqualityIndex* built = slot.built.load(std::memory_order_acquire))
            return *built;
        std::call_once(slot.once, [&] {
            slot.index = filter::EqualityIndex::Build(columns[column], arena);
            slot.built.store(slot.index.get(), std::memory_order_release);
        });
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
        std::atomic<const filter::EqualityIndex*> built{nullptr};  // index, once it is there
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
    // The filter text, in place when it is short, as every TaskParent filter
    // of a tree walk is: a clone and its filter then cost no allocation.
    // Measured alone against a std::string (docs/performance.md): with ids
    // of six digits a clone and its filter take 1.29x as long without, the
    // fill of a 100,000-node tree 1.07x.
    char short_filter[40];
    uint32_t short_size = 0;
    bool filter_is_short = true;
    std::string long_filter;
    filter::RowRange visible;
    std::vector<uint32_t> owned;  // the rows of a scanned filter; visible.ids points here
    uint32_t position = 0;

    // The checks are inline and their errors formed out of line, so that
    // the operations every row read makes stay small.
    void RequireOpen(std::string_view operation) const {
        if (!open) [[unlikely]]
            ThrowClosed(operation);
    }
    [[noreturn, gnu::cold, gnu::noinline]] static void ThrowClosed(std::string_view operation) {
        throw RuntimeError(
            err::kObjectClosed,
            "Operation is not allowed when the record set is closed: " + std::string(operation) +
                " was called after Close; use an open record set or a clone of one");
    }
    [[noreturn, gnu::cold, gnu::noinline]] static void ThrowAtEof(std::string_view operation) {
        throw RuntimeError(err::kNoCurrentRow,
                           std::string(operation) +
                               " needs a current row, but the record set is at end-of-file; "
                               "check Eof() first");
    }

    std::string_view FilterText() const {
        return filter_is_short ? std::string_view(short_filter, short_size) : long_filter;
    }
    // Strong guarantee: when it raises, the text is unchanged.
    void SetFilterText(std::string_view text) {
        if (text.size() <= sizeof short_filter) {
            std::memcpy(short_filter, text.data(), text.size());
            short_size = static_cast<uint32_t>(text.size());
            filter_is_short = true;
        } else {
            long_filter.assign(text);
            filter_is_short = false;
        }
    }

    // What the row operations rely on, checked as a filter is put: a
    // position within the visible rows, and visible rows that are rows of
    // the table (a scanned filter's in `owned`, in table order).
    void CheckInvariants() const {
#ifndef NDEBUG
        assert(position <= visible.count);
        assert(short_size <= sizeof short_filter);
        if (!visible.ids) {
            assert(uint64_t{visible.first} + visible.count <= table->rows);
        } else if (!owned.empty()) {
            assert(visible.ids == owned.data() && visible.count == owned.size());
            for (size_t i = 0; i < owned.size(); ++i)
                assert(owned[i] < table->rows && (i == 0 || owned[i - 1] < owned[i]));
        }
#endif
    }

    uint32_t CurrentRow(std::string_view operation) const {
        RequireOpen(operation);
        if (position >= visible.count) [[unlikely]]
            ThrowAtEof(operation);
        return visible.At(position);
    }
};

// Every tree node costs a clone, so a cursor, its state and the shared
// pointer's count are one allocation.
struct Recordset::Block {
    // Provided, so that making a block does not first clear all of it.
    Block() {}
    Impl impl;
    Recordset cursor{&impl};
};

Recordset::~Recordset() = default;

namespace {

// Blocks of released cursors, kept for the next cursors of the same thread:
// a tree walk takes and releases one per node. Plain data, so that it can
// be used at any time of the thread's life; DrainFreeBlocks gives the kept
// blocks back when the thread ends, and from then on none are kept.
// Measured alone against make_shared (docs/performance.md): a clone, its
// filter and its release take 1.26x as long without the kept blocks, the
// fill of a 100,000-node tree 1.03x.
struct FreeBlocks {
    struct Free {
        Free* next;
    };
    Free* head = nullptr;
    size_t count = 0;
    size_t size = 0;  // the size of every kept block
    bool registered = false;
    bool closed = false;
};
thread_local FreeBlocks t_free_blocks;

struct DrainFreeBlocks {
    ~DrainFreeBlocks() {
        FreeBlocks& blocks = t_free_blocks;
        while (blocks.head) {
            FreeBlocks::Free* next = blocks.head->next;
            ::operator delete(blocks.head);
            blocks.head = next;
        }
        blocks.count = 0;
        blocks.closed = true;
    }
};
thread_local DrainFreeBlocks t_drain_free_blocks;

// Sanitizer builds keep no blocks, so that a use of a released cursor is
// still caught there.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kKeptBlocks = 0;
#else
constexpr size_t kKeptBlocks = 64;
#endif

template <typename T>
struct CursorAllocator {
    using value_type = T;
    CursorAllocator() = default;
    template <typename U>
    CursorAllocator(const CursorAllocator<U>&) {}

    T* allocate(size_t n) {
        FreeBlocks& blocks = t_free_blocks;
        if (n == 1 && blocks.head && blocks.size == sizeof(T)) {
            FreeBlocks::Free* block = blocks.head;
            blocks.head = block->next;
            --blocks.count;
            return reinterpret_cast<T*>(block);
        }
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) {
        FreeBlocks& blocks = t_free_blocks;
        if (n == 1 && !blocks.closed && blocks.count < kKeptBlocks &&
            (blocks.count == 0 || blocks.size == sizeof(T))) {
            if (!blocks.registered) {
                static_cast<void>(&t_drain_free_blocks);  // constructs it
                blocks.registered = true;
            }
            blocks.size = sizeof(T);
            auto* block = reinterpret_cast<FreeBlocks::Free*>(p);
            block->next = blocks.head;
            blocks.head = block;
            ++blocks.count;
            return;
        }
        ::operator delete(p);
    }
    template <typename U>
    bool operator==(const CursorAllocator<U>&) const {
        return true;
    }
};

}  // namespace

RecordsetRef Recordset::Open(const TableRef& table) {
    if (!table)
        throw RuntimeError(err::kObjectNotSet,
                           "Object variable not set: a record set needs a table to open");
    return Make(table);
}

RecordsetRef Recordset::Make(const TableRef& table) {
    auto block = std::allocate_shared<Block>(CursorAllocator<Block>());
    block->impl.visible = filter::RowRange{nullptr, 0, table->rows};
    block->impl.table = table;
    Recordset* cursor = &block->cursor;
    return RecordsetRef(std::move(block), cursor);
}

RecordsetRef Recordset::Clone() const {
    faults::Check("Clone");
    impl_->RequireOpen("Clone");
    return Make(impl_->table);
}

void Recordset::Filter(std::string_view expression) {
    faults::Check("Filter");
    impl_->RequireOpen("Filter");
    const Table& t = *impl_->table;
    // `TaskParent=42`, put once per node of every tree walk, goes straight to
    // the index; every other form, and every error, through the parser.
    filter::Number number;
    if (int column = filter::ParsePlainEquality(expression, &Table::Resolve, &t, number);
        column >= 0) {
        const filter::RowRange range = t.IndexOf(column).Find(number);
        impl_->SetFilterText(expression);
        std::vector<uint32_t>().swap(impl_->owned);
        impl_->visible = range;
        impl_->position = 0;
        impl_->CheckInvariants();
        return;
    }
    FilterParsed(expression);
}

void Recordset::FilterParsed(std::string_view expression) {
    const Table& t = *impl_->table;
    // Everything is worked out in locals and committed at the end, so that
    // a put that fails leaves the previous filter and position in place.
    filter::RowRange range{nullptr, 0, t.rows};
    std::vector<uint32_t> owned;
    bool scanned = false;
    filter::Expression parsed = filter::Parse(expression, &Table::Resolve, &t, t.field_list);
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
    impl_->SetFilterText(expression);
    impl_->owned.swap(owned);
    if (scanned) range.ids = impl_->owned.data();
    impl_->visible = range;
    impl_->position = 0;
    impl_->CheckInvariants();
}

std::string_view Recordset::Filter() const {
    impl_->RequireOpen("Filter");
    return impl_->FilterText();
}

bool Recordset::Eof() const {
    impl_->RequireOpen("EOF");
    return impl_->position >= impl_->visible.count;
}

void Recordset::MoveNext() {
    faults::Check("MoveNext");
    impl_->CurrentRow("MoveNext");
    ++impl_->position;
    assert(impl_->position <= impl_->visible.count);
}

Field Recordset::Fields(std::string_view name) const {
    faults::Check("Fields");
    impl_->RequireOpen("Fields");
    const int column = impl_->table->FieldIndex(name);
    if (column < 0) [[unlikely]]
        ThrowNoField(*impl_->table, name);
    return Field(this, column);
}

void Recordset::ThrowNoField(const Table& table, std::string_view name) {
    throw RuntimeError(err::kFieldNotFound, "Item cannot be found: the record set has no field \"" +
                                                std::string(name) + "\"; its fields are " +
                                                table.field_list);
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
    if (!impl.open || impl.position >= impl.visible.count) [[unlikely]]
        ThrowUnreadable();
    return filter::CellValue(impl.table->columns[column_], impl.table->arena,
                             impl.visible.At(impl.position));
}

std::optional<std::string_view> Field::TextView() const {
    const auto& impl = *rs_->impl_;
    if (!impl.open || impl.position >= impl.visible.count) [[unlikely]]
        ThrowUnreadable();
    const filter::Column& column = impl.table->columns[column_];
    const uint32_t row = impl.visible.At(impl.position);
    if (column.Type(row) != filter::CellType::String) return std::nullopt;
    return impl.table->arena.At(column.Payload(row));
}

bool Field::ReadInt32(int32_t& value) const {
    const auto& impl = *rs_->impl_;
    if (!impl.open || impl.position >= impl.visible.count) [[unlikely]]
        ThrowUnreadable();
    const filter::Column& column = impl.table->columns[column_];
    const uint32_t row = impl.visible.At(impl.position);
    if (column.Type(row) != filter::CellType::Int32) return false;
    value = static_cast<int32_t>(static_cast<int64_t>(column.Payload(row)));
    return true;
}

bool Field::EqualsTrue() const {
    const auto& impl = *rs_->impl_;
    if (!impl.open || impl.position >= impl.visible.count) [[unlikely]]
        ThrowUnreadable();
    const filter::Column& column = impl.table->columns[column_];
    const uint32_t row = impl.visible.At(impl.position);
    // Booleans, the rule, are read in place; the other types as Value().
    if (column.Type(row) == filter::CellType::Boolean) return column.Payload(row) != 0;
    return Value().EqualsTrue();
}

void Field::ThrowUnreadable() const {
    // The operation's name is formed only when it is needed for an error.
    const std::string operation = "Reading the field \"" + Name() + "\"";
    rs_->impl_->RequireOpen(operation);
    Recordset::Impl::ThrowAtEof(operation);
}

const std::string& Field::Name() const { return rs_->impl_->table->columns[column_].name; }

}  // namespace kevra
