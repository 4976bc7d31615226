// Exporting a catalogue as JSON: the text written as the rows come, to
// standard output or to a file that replaces the old one once complete.

#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/json.h"
#include "service/catalogue_tools.h"
#include "service/catalogue_tools_p.h"

namespace kevra::service {

using namespace catalogue_detail;

namespace {

// Appends `v` as JSON.
void AppendJson(std::string& out, const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Boolean:
            out += v.BoolValue() ? "true" : "false";
            return;
        case Variant::Type::Int32:
            out += std::to_string(v.Int32Value());
            return;
        case Variant::Type::Int64:
            out += std::to_string(v.Int64Value());
            return;
        case Variant::Type::Double:
            out += json::Number(v.DoubleValue());
            return;
        case Variant::Type::String:
            out += json::Quote(v.StringValue());
            return;
        case Variant::Type::Empty:
        case Variant::Type::Null:
        case Variant::Type::Object:
            break;
    }
    out += "null";
}

void AppendRow(std::string& out, const TaskRow& r) {
    out += "  {\"TaskId\": ";
    AppendJson(out, r.task_id);
    out += ", \"TaskParent\": ";
    AppendJson(out, r.parent);
    out += ", \"TaskDescription\": ";
    AppendJson(out, r.description);
    out += ", \"IsLink\": ";
    AppendJson(out, r.is_link);
    out += ", \"TaskURL\": ";
    AppendJson(out, r.url);
    out += ", \"TaskParms\": ";
    AppendJson(out, r.parms);
    out += ", \"AppId\": " + std::to_string(r.app_id);
    if (!r.grants) {
        out += "}";
        return;
    }
    out += ", \"Grants\": [";
    for (size_t g = 0; g < r.grants->size(); ++g) {
        const Grant& grant = (*r.grants)[g];
        out += g ? ", {" : "{";
        const char* separator = "";
        auto add = [&](const char* name, const std::string& value) {
            out += std::string(separator) + "\"" + name + "\": " + value;
            separator = ", ";
        };
        if (grant.user_number) add("UserNumber", std::to_string(*grant.user_number));
        if (grant.brand) add("Brand", json::Quote(*grant.brand));
        if (grant.facility_id) add("FacilityId", json::Quote(*grant.facility_id));
        out += "}";
    }
    out += "]}";
}

// Part of the export on standard output, checked: a full disk or a closed
// pipe behind it is a failure, not a successful export.
void WriteStandardOutput(std::string_view content) {
    errno = 0;
    const size_t written = std::fwrite(content.data(), 1, content.size(), stdout);
    if (written == content.size() && std::fflush(stdout) == 0) return;
    const int error = errno;
    // What could not be written is dropped, so that the caller's own last
    // flush does not fail over it and report the failure a second time.
    ::__fpurge(stdout);
    std::clearerr(stdout);
    throw RuntimeError(err::kPathAccess,
                       "Cannot write the catalogue to standard output: " +
                           (error ? std::generic_category().message(error) : "the write failed"));
}

// Where an export's text goes: standard output or a file, a piece at a
// time as the rows are read, so that an export holds one piece and not the
// catalogue. The file is a temporary beside the target until the text is
// complete, then renamed over it; an export that fails on the way, the
// store's read or the disk, leaves the old file as it was.
class ExportOutput {
  public:
    explicit ExportOutput(const std::string& path) {
        if (path != "-") file_.emplace(path);
    }

    std::string& Pending() { return pending_; }
    // Hands the pending text on when there is enough of it (or `all`).
    void Flush(bool all = false) {
        constexpr size_t kPiece = 64 * 1024;
        if (!all && pending_.size() < kPiece) return;
        if (file_)
            file_->Write(pending_);
        else
            WriteStandardOutput(pending_);
        pending_.clear();
    }
    void Close() {
        Flush(true);
        if (file_) file_->Commit();
    }

  private:
    std::optional<FileReplacement> file_;
    std::string pending_;
};

}  // namespace

size_t ExportJson(const std::string& target, const std::string& json_path,
                  const ProgressFn& progress) {
    ExportOutput out(json_path);
    out.Pending() = "[\n";
    bool first = true;
    const size_t n = ForEachTask(
        target,
        [&](TaskRow& row) {
            std::string& text = out.Pending();
            if (!first) text += ",\n";
            first = false;
            AppendRow(text, row);
            out.Flush();
        },
        [&](std::string_view, size_t done, size_t total) {
            Report(progress, "exporting", done, total);
        });
    out.Pending() += first ? "]\n" : "\n]\n";
    out.Close();
    Report(progress, "exported", n, n);
    return n;
}

}  // namespace kevra::service
