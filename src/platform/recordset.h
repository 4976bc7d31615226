// The task record set: a read-only, client-side table of rows with named
// fields, read through cursors.
//
// A Table holds the rows; it is immutable once built and shared by every
// cursor over it. A Recordset is one cursor: its own filter, its own current
// row, its own open/closed state. Clone() makes another cursor over the same
// rows that shares nothing but the rows (and the per-field indexes built over
// them). The operations keep the names of the record-set interface the
// control was written against: Clone, Filter, Eof (EOF is a C macro),
// MoveNext, Fields(name).Value(), RecordCount, State, Close.
//
// Filter language (see docs/filters.md):
//   ""                                  every row
//   Field = 42     Field <> 'text'      comparisons = <> < > <= >= with a
//                                       number or a single-quoted string
//                                       ('' inside stands for one quote)
//   Field LIKE 'Ro*'                    * or % for any run, _ or ? for one char
//   a AND b, a OR b, ( ... )            AND binds tighter than OR
// Field names match without regard to letter case; [Field Name] quotes one.
// Text comparisons ignore ASCII letter case. Null never matches a comparison.
// A number compares with numeric fields (integers, doubles, Booleans as -1/0);
// text compares with text fields; a value of the other kind does not match.
//
// An equality filter `Field = number` or `Field = 'text'` (alone) is answered
// from a per-field index built once, on first use, and shared by all clones:
// it costs time in proportion to the rows it matches, not to the table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kevra/platform/variant.h"

namespace kevra {

class Table;
using TableRef = std::shared_ptr<const Table>;

// Builds a Table row by row.
class TableBuilder {
  public:
    explicit TableBuilder(std::vector<std::string> field_names);
    ~TableBuilder();
    TableBuilder(TableBuilder&&) noexcept;
    TableBuilder& operator=(TableBuilder&&) noexcept;

    // Index of a field by name (case-insensitive), or -1.
    int FieldIndex(std::string_view name) const;
    // Appends a row; `values` has one value per field, in field order. Values
    // may be Empty, Null, Boolean, Int32, Int64, Double or String (an Object
    // is rejected with error 13).
    void AddRow(const std::vector<Variant>& values);
    size_t RowCount() const;
    // Hands the rows over; the builder is empty afterwards.
    TableRef Build();

  private:
    std::unique_ptr<Table> table_;
};

class Recordset;
using RecordsetRef = std::shared_ptr<Recordset>;

// One field of the current row of a cursor, as Fields(name) returns it.
class Field {
  public:
    // The value in the cursor's current row. Raises 3021 when the cursor is
    // at end-of-file, 3704 when the record set is closed.
    Variant Value() const;
    // The value when it is text, as a view into the rows, which stay while
    // any cursor over them lives; nullopt for a value of any other type.
    // Raises as Value() does.
    std::optional<std::string_view> TextView() const;
    // True, with the value in `value`, when the value is a 32-bit integer;
    // false for any other type. Raises as Value() does.
    bool ReadInt32(int32_t& value) const;
    // Value().EqualsTrue(), without forming the Variant.
    bool EqualsTrue() const;
    const std::string& Name() const;

  private:
    friend class Recordset;
    Field(const Recordset* rs, int column) : rs_(rs), column_(column) {}
    // Raises the error of a read with no current row.
    [[noreturn, gnu::cold, gnu::noinline]] void ThrowUnreadable() const;
    const Recordset* rs_;
    int column_;
};

class Recordset : public Object {
  public:
    // An open cursor over every row of `table`, with no filter, on the first row.
    static RecordsetRef Open(const TableRef& table);
    ~Recordset() override;

    std::string TypeName() const override { return "Recordset"; }

    // A new open cursor over the same rows with no filter, on the first row.
    RecordsetRef Clone() const;
    // Puts a filter: the visible rows become those matching `expression`, and
    // the current row the first of them (or end-of-file). Raises 3001 with a
    // description naming the problem and its position for a malformed
    // expression, 3265 for an unknown field. A failed put leaves the previous
    // filter and position in place.
    void Filter(std::string_view expression);
    // The filter text last put ("" for none); valid until the next put.
    std::string_view Filter() const;
    bool Eof() const;
    // Raises 3021 when already at end-of-file.
    void MoveNext();
    // Raises 3265 for a field the record set lacks.
    Field Fields(std::string_view name) const;
    // The exact number of visible rows.
    int32_t RecordCount() const;
    // 1 when open, 0 when closed.
    int32_t State() const;
    // Closes the cursor (not the rows, which other cursors may share). Raises
    // 3704 when already closed.
    void Close();

    const TableRef& Rows() const;

  private:
    struct Impl;
    struct Block;  // a cursor and its state in one allocation
    explicit Recordset(Impl* impl) : impl_(impl) {}
    // A new cursor over the rows `table` holds (not null).
    static RecordsetRef Make(const TableRef& table);
    // Filter for every expression but the plain equality.
    void FilterParsed(std::string_view expression);
    [[noreturn, gnu::cold, gnu::noinline]] static void ThrowNoField(const Table& table,
                                                                    std::string_view name);
    friend class Field;
    Impl* impl_;  // lives in the same Block as this cursor
};

}  // namespace kevra
