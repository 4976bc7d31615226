// The JSON catalogue file: a JSON array of row objects, one per task, read
// into the rows of a task record set.
//
// The file may come from anywhere, so the reader is built to survive hostile
// input: it streams the file in fixed-size chunks through a hand-written,
// non-recursive parser that knows the catalogue's shape (an array of objects
// whose values are scalars), so nesting can never grow a stack, and every
// quantity that costs memory is capped by JsonLimits. Each failure is a
// RuntimeError whose description names the file and, for bad content, the
// line and column (1-based, counted in characters).
//
// Field order of the rows: TaskId, TaskParent, TaskDescription, IsLink,
// TaskURL, TaskParms always, then every other field in the order it first
// appears. Field names match without regard to letter case, as record-set
// field names do; the first spelling seen is kept.
//
// Two optional fields belong to the catalogue tools rather than the record
// set (docs/catalogues.md): "AppId", a plain integer field that stays in the
// rows, and "Grants", a list of {"UserNumber", "Brand", "FacilityId"} objects
// that says who may see the row once it is imported into a database. Grants
// never reach the record set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/recordset.h"

namespace kevra::service {

// The six fields every task record set carries, in this order.
inline constexpr const char* kTaskFields[] = {"TaskId", "TaskParent", "TaskDescription",
                                              "IsLink", "TaskURL",    "TaskParms"};
inline constexpr size_t kTaskFieldCount = 6;

struct JsonLimits {
    uint64_t max_file_bytes = uint64_t{1} << 30;  // 1 GiB
    size_t max_rows = 1'000'000;
    size_t max_fields = 64;                           // distinct field names
    size_t max_cells = 10'000'000;                    // rows x fields
    size_t max_string_bytes = size_t{16} << 20;       // one text value: 16 MiB
    size_t max_total_text_bytes = size_t{256} << 20;  // all text together: 256 MiB
    size_t max_field_name_bytes = 255;
    size_t max_grants_per_row = 1000;
};

// One entry of a row's "Grants" list: who may see the task. An absent (or
// null) member matches everyone.
struct Grant {
    std::optional<int32_t> user_number;
    std::optional<std::string> brand;
    std::optional<std::string> facility_id;
    bool operator==(const Grant&) const = default;
};

struct JsonCatalogue {
    TableRef rows;
    // One entry per row. nullopt: the row has no "Grants" field (the tools
    // grant it to everyone); an empty list grants it to no one.
    std::vector<std::optional<std::vector<Grant>>> grants;
    // The 1-based line on which each row's object opens, for messages that
    // point at a row.
    std::vector<uint32_t> row_lines;
};

// Told, every kRowsPerReport rows while a catalogue is parsed, how many rows
// the current pass has read: a large file takes seconds to parse, and a tool
// shows that it is under way. A pass that meets a field late starts again
// from the first row, and so does the count.
using RowsReadFn = std::function<void(size_t rows)>;
inline constexpr size_t kRowsPerReport = 1000;

// Reads the catalogue at `path` (relative to the working directory when
// relative); messages name the file by `path` as given. Errors: err::kFileNotFound for a missing
// file, err::kPermissionDenied when it may not be read, err::kPathAccess for other file-system
// failures, err::kBadCatalogue for content that is not a valid catalogue or exceeds a limit.
JsonCatalogue ReadJsonCatalogue(const std::string& path, const JsonLimits& limits = {},
                                const RowsReadFn& rows_read = {});

// The rows of the catalogue at `path` alone, read and checked as
// ReadJsonCatalogue does, without keeping the grants and row lines: what a
// load needs, in less memory.
TableRef ReadJsonCatalogueRows(const std::string& path, const JsonLimits& limits = {});

// Reads a catalogue from text already in memory; `display_name` names it in
// messages.
JsonCatalogue ParseJsonCatalogue(std::string_view text, std::string_view display_name,
                                 const JsonLimits& limits = {}, const RowsReadFn& rows_read = {});

// One row as the streaming reader hands it over. `values` has one entry per
// name in `fields` (Null where the row names no such field) and may be
// moved from; `fields` holds every field name met so far, in the order of
// the table ReadJsonCatalogue would build (the six task fields first), and
// grows as later rows name new ones.
struct JsonRowView {
    size_t number;  // 1-based, in file order
    uint32_t line;  // the line on which the row's object opens
    const std::vector<std::string>& fields;
    std::vector<Variant>& values;
    // As JsonCatalogue::grants has it for this row.
    std::optional<std::vector<Grant>>& grants;
};
using JsonRowFn = std::function<void(JsonRowView& row)>;

// Reads the catalogue at `path` with the limits, checks and messages of
// ReadJsonCatalogue, handing each row to `on_row` as soon as it is read
// and keeping none, so that memory does not grow with the file: what the
// catalogue tools use. An error can come after rows have been handed over
// (the caller undoes what it did with them), and a limit on the whole file
// (rows times fields, all text) is met where the file crosses it.
void ForEachJsonRow(const std::string& path, const JsonRowFn& on_row, const JsonLimits& limits = {},
                    const RowsReadFn& rows_read = {});
// The same over text already in memory, named `display_name` in messages.
void ForEachJsonRowOfText(std::string_view text, std::string_view display_name,
                          const JsonRowFn& on_row, const JsonLimits& limits = {},
                          const RowsReadFn& rows_read = {});

// The index of the field `name` in `fields`, matched without regard to
// letter case, or kNoField.
inline constexpr size_t kNoField = static_cast<size_t>(-1);
size_t FindField(const std::vector<std::string>& fields, std::string_view name);

}  // namespace kevra::service
