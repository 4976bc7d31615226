// What the catalogue tools share between their parts (reading, check,
// import, export): the row readers, the compact id table and the places
// rows are named by in messages. Private to src/service.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/json.h"
#include "service/catalogue_tools.h"
#include "service/database.h"
#include "service/json_catalogue.h"

namespace kevra::service::catalogue_detail {

inline constexpr size_t kProgressEvery = 500;
inline constexpr size_t kMaxListedProblems = 20;
// Rows handed to the database at a time by an import.
inline constexpr size_t kInsertBatch = 1000;

inline std::string Quoted(std::string_view s) { return json::Quote(s); }

inline void Report(const ProgressFn& progress, std::string_view what, size_t done, size_t total) {
    if (progress) progress(what, done, total);
}

// A task id or parent as a 32-bit integer: integers, and Doubles with no
// fraction (a JSON 5.0 reads as the id 5 in the control's keys and filters).
std::optional<int32_t> WholeInt32(const Variant& v);

bool IsBlankText(const Variant& v);

// An application and a task id as one number, for the tables below.
inline uint64_t IdKeyOf(int32_t app, int32_t id) {
    return (uint64_t{static_cast<uint32_t>(app)} << 32) | static_cast<uint32_t>(id);
}

// A hash table from application and task id to a number (a row), flat and
// open-addressed: 16 bytes a slot where a node-based map takes 50 and more,
// which at a million rows is the difference check and import are measured
// by.
class IdIndex {
  public:
    static constexpr uint64_t kNone = UINT64_MAX;

    // Stores `value` under `key` unless the key is there; returns the value
    // the key has afterwards, and whether it was new.
    std::pair<uint64_t, bool> Insert(uint64_t key, uint64_t value) {
        if ((size_ + 1) * 10 > keys_.size() * 7) Grow();
        size_t at = Slot(key);
        for (; values_[at] != kNone; at = (at + 1) & mask_)
            if (keys_[at] == key) return {values_[at], false};
        keys_[at] = key;
        values_[at] = value;
        ++size_;
        return {value, true};
    }
    uint64_t Find(uint64_t key) const {
        if (keys_.empty()) return kNone;
        for (size_t at = Slot(key); values_[at] != kNone; at = (at + 1) & mask_)
            if (keys_[at] == key) return values_[at];
        return kNone;
    }

  private:
    size_t Slot(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
    }
    void Grow() {
        std::vector<uint64_t> keys = std::move(keys_), values = std::move(values_);
        const size_t capacity = keys.empty() ? 1024 : keys.size() * 2;
        keys_.assign(capacity, 0);
        values_.assign(capacity, kNone);
        mask_ = capacity - 1;
        size_ = 0;
        for (size_t i = 0; i < keys.size(); ++i)
            if (values[i] != kNone) Insert(keys[i], values[i]);
    }

    std::vector<uint64_t> keys_, values_;
    size_t mask_ = 0, size_ = 0;
};

// A row's place in messages: of a JSON file by its index and line, of a
// database by its application and number within it.
std::string JsonWhere(uint32_t row, uint32_t line);
std::string DatabaseWhere(int32_t app, size_t number);

class GrantIndex;

// Reads every grant of `db`, checking the columns a grant must have whole,
// and hands each to `index` (or only checks them, without).
void ReadGrants(Database& db, GrantIndex* index);

// The tasks of `db` in application, sort order and id order. With `grants`,
// each row gets its grants from there; without, rows carry none.
size_t ReadDatabaseTasks(Database& db, const GrantIndex* grants, const TaskFn& on_task,
                         const ProgressFn& progress, std::string_view what, size_t total);

size_t CountTasks(Database& db);

// The rows of a JSON catalogue as tasks: a row's application is its AppId,
// or `default_app`. `on_bad_app` hears of each AppId that is no 32-bit
// integer (the row keeps `default_app`).
struct JsonTaskReader {
    int32_t default_app = 1;
    std::function<void(const TaskRow&, const Variant& app)> on_bad_app;
    size_t app_field = kNoField;
    size_t fields_seen = 0;
    TaskRow row;

    void Take(JsonRowView& in, const TaskFn& on_task) {
        if (app_field == kNoField && in.fields.size() != fields_seen) {
            app_field = FindField(in.fields, "AppId");
            fields_seen = in.fields.size();
        }
        std::vector<Variant>& v = in.values;
        row.number = in.number;
        row.line = in.line;
        row.task_id = std::move(v[0]);
        row.parent = std::move(v[1]);
        row.description = std::move(v[2]);
        row.is_link = std::move(v[3]);
        row.url = std::move(v[4]);
        row.parms = std::move(v[5]);
        row.grants = std::move(in.grants);
        row.app_id = default_app;
        if (app_field != kNoField && !v[app_field].IsNull()) {
            if (v[app_field].type() == Variant::Type::Int32)
                row.app_id = v[app_field].Int32Value();
            else if (on_bad_app)
                on_bad_app(row, v[app_field]);
        }
        on_task(row);
    }
};

// How a pass over a JSON file reports: `what` every `every` rows, of
// `total` (0 when unknown).
struct JsonProgress {
    std::string what;
    size_t every = kRowsPerReport;
    size_t total = 0;
};

// The phase a first read of the JSON file `path` reports.
inline JsonProgress Parsing(const std::string& path) { return {"parsing " + path}; }

// Reads the JSON catalogue `path` (or, with `text`, that text named `path`)
// row by row, reporting as `how` says.
void ForEachJsonTask(const std::string& path, const std::optional<std::string>& text,
                     JsonTaskReader& reader, const TaskFn& on_task, const ProgressFn& progress,
                     const JsonProgress& how);

}  // namespace kevra::service::catalogue_detail
