// Task row text helpers.
#include "navigation/task_text.h"

#include "platform/error.h"

namespace kevra::navigation {

std::string JoinText(const Recordset& rs, std::string_view field) {
    Variant value = rs.Fields(field).Value();
    if (value.IsNull()) return "";
    return value.ToString();
}

std::string CaptionText(const Recordset& rs, std::string_view field) {
    Variant value = rs.Fields(field).Value();
    if (value.IsNull()) {
        std::string id;
        try {
            id = JoinText(rs, "TaskId");
        } catch (...) {
        }
        throw RuntimeError(err::kInvalidUseOfNull, "Invalid use of Null: the " + std::string(field) +
                                                       " of task " + kKeyPrefix + id + " is Null");
    }
    // Text is trimmed straight from the value, without a copy first.
    if (value.type() == Variant::Type::String) return Trim(value.StringValue());
    return Trim(value.ToString());
}

std::string ReplaceAmpersands(std::string text) {
    for (size_t at = text.find('&'); at != std::string::npos; at = text.find('&')) {
        text = Trim(std::string_view(text).substr(0, at)) + " and " +
               Trim(std::string_view(text).substr(at + 1));
    }
    return text;
}

std::string TaskIdOfKey(const std::string& key) { return key.empty() ? key : key.substr(1); }

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
