// Names that match without regard to ASCII letter case: record-set field
// names, dispatch member names, ProgIDs.
#pragma once

#include <string>
#include <string_view>

namespace kevra {

bool SameName(std::string_view a, std::string_view b);
// The name with ASCII letters in lower case, for keys of lookup tables.
std::string FoldName(std::string_view name);

}  // namespace kevra
