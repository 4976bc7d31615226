// Names that match without regard to ASCII letter case: record-set field
// names, dispatch member names, ProgIDs.
#pragma once

#include <string>
#include <string_view>

namespace kevra {

// Letter case aside, the same name. Names are usually spelled as declared,
// so that case is settled inline.
bool SameNameFolded(std::string_view a, std::string_view b);
inline bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a == b || SameNameFolded(a, b));
}
// The name with ASCII letters in lower case, for keys of lookup tables.
std::string FoldName(std::string_view name);

}  // namespace kevra
