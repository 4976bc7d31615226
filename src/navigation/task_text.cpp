// Task row text helpers.
#include "navigation/task_text.h"

#include <charconv>

#include "platform/error.h"

namespace kevra::navigation {

std::string JoinText(const Recordset& rs, std::string_view field) {
    Variant value = rs.Fields(field).Value();
    if (value.IsNull()) return "";
    return value.ToString();
}

namespace {

std::string_view TrimView(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return text.substr(b, e - b);
}

}  // namespace

std::string KeyText(const Recordset& rs, std::string_view field) {
    const Field cell = rs.Fields(field);
    if (int32_t id; cell.ReadInt32(id)) {
        // The common case, a 32-bit id, formed in one go.
        char digits[16];
        digits[0] = kKeyPrefix;
        const auto end = std::to_chars(digits + 1, digits + sizeof digits, id).ptr;
        return std::string(digits, end);
    }
    const Variant value = cell.Value();
    std::string key(1, kKeyPrefix);
    if (!value.IsNull()) key += value.ToString();
    return key;
}

std::string_view CaptionView(const Recordset& rs, std::string_view field, std::string& scratch) {
    const Field cell = rs.Fields(field);
    // Text, the rule, is trimmed where it stands in the rows.
    if (const auto text = cell.TextView()) return TrimView(*text);
    const Variant value = cell.Value();
    if (value.IsNull()) {
        std::string id;
        try {
            id = JoinText(rs, "TaskId");
        } catch (...) {
        }
        throw RuntimeError(err::kInvalidUseOfNull, "Invalid use of Null: the " +
                                                       std::string(field) + " of task " +
                                                       kKeyPrefix + id + " is Null");
    }
    scratch = value.ToString();
    return TrimView(scratch);
}

std::string CaptionText(const Recordset& rs, std::string_view field) {
    std::string scratch;
    return std::string(CaptionView(rs, field, scratch));
}

// The rule, applied one "&" at a time, trims everything before the "&" and
// everything after it, then joins the two with " and ". Done literally, each
// "&" copies the whole text; here the finished part grows in `out` and only
// its ends are trimmed, which gives the same text in one pass.
std::string ReplaceAmpersands(std::string text) {
    size_t at = text.find('&');
    if (at == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    std::string_view rest = text;
    for (; at != std::string_view::npos; at = rest.find('&')) {
        out.append(rest.substr(0, at));
        while (!out.empty() && out.back() == ' ') out.pop_back();
        // Only the first part, or a first " and " with nothing before it,
        // can start with blanks; later parts start with "and".
        size_t lead = out.find_first_not_of(' ');
        out.erase(0, lead == std::string::npos ? out.size() : lead);
        out += " and ";
        rest = TrimView(rest.substr(at + 1));
    }
    out.append(rest);
    return out;
}

std::string_view TaskIdOfKey(std::string_view key) { return key.empty() ? key : key.substr(1); }

void ChildrenFilter(std::string_view taskId, std::string& filter) {
    size_t digits = (!taskId.empty() && taskId[0] == '-') ? 1 : 0;
    bool whole = taskId.size() > digits;
    for (size_t i = digits; i < taskId.size(); ++i)
        if (taskId[i] < '0' || taskId[i] > '9') whole = false;
    if (!whole)
        throw RuntimeError(err::kBadFilter, "Cannot list the children of task \"" +
                                                std::string(taskId) +
                                                "\": a task id must be a whole number");
    filter.assign("TaskParent=");
    filter.append(taskId);
}

std::string ChildrenFilter(std::string_view taskId) {
    std::string filter;
    ChildrenFilter(taskId, filter);
    return filter;
}

}  // namespace kevra::navigation
