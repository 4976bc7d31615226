// Reading task rows the way the navigation procedures need them: keys formed
// by text concatenation, captions trimmed, the ampersand rule of the list bar.
#pragma once

#include <string>
#include <string_view>

#include "platform/recordset.h"

namespace kevra::navigation {

// The first character of every task key.
inline constexpr char kKeyPrefix = 'X';

// A field value joined into text: Null joins as nothing, as text
// concatenation does ("X" joined with a Null TaskId is "X").
std::string JoinText(const Recordset& rs, std::string_view field);

// The key of the row's task: kKeyPrefix joined with the field's value, as
// kKeyPrefix + JoinText(rs, field) gives it.
std::string KeyText(const Recordset& rs, std::string_view field);

// A field value as caption text, trimmed of spaces. A Null value cannot be a
// caption: raises 94, naming the field and the task.
std::string CaptionText(const Recordset& rs, std::string_view field);
// The same text as a view: into the rows, or into `scratch` when the value
// had to be converted. Valid while the rows and `scratch` are.
std::string_view CaptionView(const Recordset& rs, std::string_view field, std::string& scratch);

// The text with every "&" replaced by " and ", the parts around it trimmed
// of spaces first: "Rooms & Rates" gives "Rooms and Rates", "A&B" "A and B".
std::string ReplaceAmpersands(std::string text);

// The task id of a task key: the key without its first character (a view
// into `key`).
std::string_view TaskIdOfKey(std::string_view key);

// The filter that selects the children of a task: "TaskParent=" and the
// task id. The id must be a whole number in decimal; anything else (a Null
// id, text) would be read as filter syntax, so it raises 3001 naming the id
// instead of being put into the filter.
std::string ChildrenFilter(std::string_view taskId);
// The same, formed in `filter` (whose storage a walk reuses).
void ChildrenFilter(std::string_view taskId, std::string& filter);

}  // namespace kevra::navigation
