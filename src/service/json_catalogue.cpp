// Streaming reader of JSON catalogue files.
//
// The parser walks the one shape a catalogue has (array -> row object ->
// scalar, or the Grants list -> grant object -> scalar) with loops instead of
// recursion, pulling bytes through a 64 KiB window. Anything deeper than that
// shape is rejected at its first bracket, so a file nested a million levels
// deep costs no more than a flat one.
//
// Rows go into the table as they are read, so that a load holds little
// more than the table itself. The table's fields are fixed when its first
// row is stored: the six task fields and whatever else that row names. A
// field that first appears in a later row is then missing from the rows
// stored before it, so the reader drops them, reads the rest of the file
// only to learn every field name and check it, and reads the file once more
// with the whole field list. Catalogues name their fields in the first row,
// so that second pass is rare; a file that changes between the passes can
// add a pass for each field it gains, at most max_fields.
//
// The parser's class is in json_catalogue_p.h; strings, numbers and literals
// are read in json_catalogue_scalars.cpp.
#include "service/json_catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/json.h"
#include "platform/number_text.h"
#include "platform/utf8.h"
#include "service/json_catalogue_p.h"

namespace kevra::service {

using namespace json_detail;

namespace json_detail {

// Reads a field value; afterwards the mark points at its start.
Variant Parser::ReadScalar(const std::string& field) {
    SkipSpace();
    Mark();
    const Position start = Here();
    int c = Peek();
    if (c == '"') {
        Variant v(ReadString(limits_.max_string_bytes, "text"));
        MarkAt(start);
        return v;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
        Variant v = ReadNumber();
        MarkAt(start);
        return v;
    }
    if (c == '{' || c == '[')
        Shape(RowContext() + ", field " + Quoted(field) + ": " +
              (c == '{' ? "an object" : "a list") +
              " is not a field value; a field holds text, a number, true, false or null");
    if (c >= 'a' && c <= 'z') return ReadLiteral();
    Syntax("expected a value (text in double quotes, a number, true, false or null), found " +
           Found());
}

// Reads the members of one grant, its '{' already read, up to its '}'.
Grant Parser::ReadGrantMembers() {
    Grant g;
    bool seen[3] = {false, false, false};
    if (ClosesAtOnce('}')) return g;
    do {
        std::string key = ReadName("member name");
        std::string folded = Fold(key);
        int which = folded == "usernumber"   ? 0
                    : folded == "brand"      ? 1
                    : folded == "facilityid" ? 2
                                             : -1;
        if (which < 0)
            Shape(RowContext() + ": unknown grant member " + Quoted(key) +
                  " (a grant has UserNumber, Brand and FacilityId)");
        if (seen[which]) Shape(RowContext() + ": a grant names " + Quoted(key) + " twice");
        seen[which] = true;
        Expect(':', "':' after the member name");
        Variant v = ReadScalar("Grants." + key);
        if (!v.IsNull()) {
            if (which == 0) {
                if (v.type() != Variant::Type::Int32)
                    Shape(RowContext() +
                          ": the grant's UserNumber must be a whole number that fits 32 "
                          "bits, or null");
                g.user_number = v.Int32Value();
            } else {
                if (v.type() != Variant::Type::String)
                    Shape(RowContext() + ": the grant's " + key +
                          " must be text in double quotes, or null");
                (which == 1 ? g.brand : g.facility_id) = v.StringValue();
            }
        }
    } while (MoreItems('}'));
    return g;
}

std::vector<Grant> Parser::ReadGrants() {
    std::vector<Grant> grants;
    Expect('[', "'[' to open the list of grants (\"Grants\": [{\"Brand\": \"...\"}])");
    if (ClosesAtOnce(']')) return grants;
    do {
        SkipSpace();
        Mark();
        if (grants.size() >= limits_.max_grants_per_row)
            TooLarge(RowContext() + " has more than " + std::to_string(limits_.max_grants_per_row) +
                     " grants");
        Expect('{',
               "'{' to open a grant ({\"UserNumber\": 12, \"Brand\": \"...\", "
               "\"FacilityId\": \"...\"})");
        Grant g = ReadGrantMembers();
        grants.push_back(std::move(g));
    } while (MoreItems(']'));
    return grants;
}

// Reads one row object; the '{' is the next character.
void Parser::ReadRow() {
    if (row_count_ >= limits_.max_rows)
        TooLarge("it has more than " + std::to_string(limits_.max_rows) + " rows");
    CheckCells(row_count_ + 1, field_names_.size());
    if (keep_extras_) {
        row_lines_.push_back(line_);
        grants_.emplace_back();
    }
    row_line_ = line_;
    row_grants_.reset();
    Get();
    ++row_count_;
    std::fill(row_.begin(), row_.end(), Variant::Null());
    // Stores the row once it has been read in full.
    auto store = [&] {
        if (sink_) {
            JsonRowView view{row_count_, row_line_, field_names_, row_, row_grants_};
            sink_(view);
            return;
        }
        if (field_came_late_) return;
        if (!builder_) builder_.emplace(field_names_);
        builder_->AddRow(row_);
    };
    bool has_grants = false;
    if (ClosesAtOnce('}')) {
        store();
        return;
    }
    do {
        std::string name = ReadName("field name");
        const Position name_at = Marked();
        // Rows name their fields in one order and one spelling, as a rule:
        // a name equal byte for byte to the field after the one just read
        // is that field (never empty, never Grants), found without folding
        // the name or looking it up.
        if (next_field_ < field_names_.size() && field_names_[next_field_] == name) {
            const size_t index = next_field_;
            Expect(':', "':' after the field name");
            Variant v = ReadScalar(name);
            MarkAt(name_at);
            StoreField(index, std::move(v));
            continue;
        }
        if (name.empty()) Shape(RowContext() + ": a field name may not be empty");
        if (Fold(name) == "grants" && has_grants)
            Shape(RowContext() + " has the field \"Grants\" twice");
        Expect(':', "':' after the field name");
        if (Fold(name) == "grants") {
            has_grants = true;
            SkipSpace();
            if (Peek() == 'n') {
                ReadLiteral();  // null: as if absent
            } else {
                std::vector<Grant> grants = ReadGrants();
                if (keep_extras_)
                    grants_.back() = std::move(grants);
                else if (sink_)
                    row_grants_ = std::move(grants);
            }
        } else {
            Variant v = ReadScalar(name);
            MarkAt(name_at);
            StoreField(FieldIndexFor(name), std::move(v));
        }
    } while (MoreItems('}'));
    store();
}

// One pass over the input.
void Parser::ReadCatalogue() {
    // A byte-order mark is not JSON, but editors write one; skip it.
    if (Peek() == 0xEF) {
        Get();
        if (Peek() != 0xBB || (Get(), Peek() != 0xBF)) {
            Mark();
            Syntax("the file starts with a broken byte-order mark");
        }
        Get();
        column_ = 1;
    }
    SkipSpace();
    if (Peek() < 0) {
        Mark();
        Syntax("the file is empty; a catalogue is a list of rows: [{\"TaskId\": 1, ...}, ...]");
    }
    Expect('[', "'[' (a catalogue is a list of rows: [{\"TaskId\": 1, ...}, ...])");
    if (!ClosesAtOnce(']')) {
        do {
            SkipSpace();
            if (Peek() != '{') Expected("'{' to open a row (each row is an object of fields)");
            ReadRow();
            if (rows_read_ && row_count_ % kRowsPerReport == 0) rows_read_(row_count_);
        } while (MoreItems(']'));
    }
    SkipSpace();
    if (Peek() >= 0) {
        Mark();
        Syntax("unexpected " + Found() + " after the closing ']' of the catalogue");
    }
}

// Starts another pass from the first byte, keeping the field names.
void Parser::Restart() {
    reader_.rewind();
    pos_ = len_ = 0;
    eof_ = false;
    bytes_read_ = 0;
    line_ = column_ = mark_line_ = mark_column_ = 1;
    total_text_ = 0;
    row_count_ = 0;
    std::fill(seen_in_row_.begin(), seen_in_row_.end(), 0);
    field_came_late_ = false;
    std::vector<std::optional<std::vector<Grant>>>().swap(grants_);
    std::vector<uint32_t>().swap(row_lines_);
}

JsonCatalogue Parser::Run() {
    ReadCatalogue();
    // Every pass that finds a late field has learnt at least one more name,
    // so the field limit bounds the passes.
    while (field_came_late_) {
        Restart();
        ReadCatalogue();
    }
    JsonCatalogue out;
    out.rows = builder_ ? builder_->Build() : TableBuilder(field_names_).Build();
    builder_.reset();
    out.grants = std::move(grants_);
    out.row_lines = std::move(row_lines_);
    return out;
}

}  // namespace json_detail

namespace {

ChunkReader TextReader(std::string_view text, size_t& offset) {
    ChunkReader reader;
    reader.read = [text, &offset](char* buf, size_t cap) {
        size_t n = std::min(cap, text.size() - offset);
        std::copy_n(text.data() + offset, n, buf);
        offset += n;
        return n;
    };
    reader.rewind = [&offset] { offset = 0; };
    return reader;
}

// Opens the catalogue file at `path` and runs `use` with a reader of it.
template <typename Use>
auto WithFile(const std::string& path, const JsonLimits& limits, Use&& use) {
    auto fail = [&](int error) -> RuntimeError {
        int32_t number = error == ENOENT || error == ENOTDIR ? err::kFileNotFound
                         : error == EACCES || error == EPERM ? err::kPermissionDenied
                                                             : err::kPathAccess;
        return RuntimeError(number, "Cannot open the catalogue " + Quoted(path) + ": " +
                                        std::generic_category().message(error));
    };
    if (path.empty()) throw fail(ENOENT);
    // O_NONBLOCK: opening a FIFO must not wait for a writer (and so hang
    // the host); only regular files are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw fail(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw fail(errno);
    if (S_ISDIR(st.st_mode)) throw fail(EISDIR);
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(err::kPathAccess, "Cannot open the catalogue " + Quoted(path) +
                                                 ": it is not a regular file");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (static_cast<uint64_t>(st.st_size) > limits.max_file_bytes)
        throw RuntimeError(err::kBadCatalogue,
                           "The catalogue " + Quoted(path) + " is too large for this reader: it " +
                               "is larger than " + WithUnit(limits.max_file_bytes) +
                               " (see docs/catalogues.md, \"Limits\")");
    auto read_failed = [path](int error) {
        return RuntimeError(err::kPathAccess, "Cannot read the catalogue " + Quoted(path) + ": " +
                                                  std::generic_category().message(error));
    };
    ChunkReader reader;
    reader.read = [fd, read_failed](char* buf, size_t cap) -> size_t {
        for (;;) {
            ssize_t n = ::read(fd, buf, cap);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno == EINTR) continue;
            throw read_failed(errno);
        }
    };
    reader.rewind = [fd, read_failed] {
        if (::lseek(fd, 0, SEEK_SET) != 0) throw read_failed(errno);
    };
    return use(std::move(reader));
}

}  // namespace

JsonCatalogue ParseJsonCatalogue(std::string_view text, std::string_view display_name,
                                 const JsonLimits& limits, const RowsReadFn& rows_read) {
    size_t offset = 0;
    auto parser =
        std::make_unique<Parser>(TextReader(text, offset), display_name, limits, true, rows_read);
    return parser->Run();
}

void ForEachJsonRowOfText(std::string_view text, std::string_view display_name,
                          const JsonRowFn& on_row, const JsonLimits& limits,
                          const RowsReadFn& rows_read) {
    size_t offset = 0;
    auto parser = std::make_unique<Parser>(TextReader(text, offset), display_name, limits, false,
                                           rows_read, on_row);
    parser->Stream();
}

JsonCatalogue ReadJsonCatalogue(const std::string& path, const JsonLimits& limits,
                                const RowsReadFn& rows_read) {
    return WithFile(path, limits, [&](ChunkReader reader) {
        // The parser holds its 64 KiB window; keep it off the caller's stack.
        return std::make_unique<Parser>(std::move(reader), path, limits, true, rows_read)->Run();
    });
}

TableRef ReadJsonCatalogueRows(const std::string& path, const JsonLimits& limits) {
    return WithFile(path, limits, [&](ChunkReader reader) {
        return std::make_unique<Parser>(std::move(reader), path, limits, false)->Run().rows;
    });
}

void ForEachJsonRow(const std::string& path, const JsonRowFn& on_row, const JsonLimits& limits,
                    const RowsReadFn& rows_read) {
    WithFile(path, limits, [&](ChunkReader reader) {
        std::make_unique<Parser>(std::move(reader), path, limits, false, rows_read, on_row)
            ->Stream();
    });
}

size_t FindField(const std::vector<std::string>& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (SameIgnoringAsciiCase(fields[i], name)) return i;
    return kNoField;
}

}  // namespace kevra::service
