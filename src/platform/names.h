// Names that match without regard to ASCII letter case: record-set field
// names, dispatch member names, ProgIDs.
#pragma once

#include <string>
#include <string_view>

namespace kevra {

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Letter case aside, the same name. Names are short and most comparisons
// fail at the first letter, so this is done inline, a letter at a time.
inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// The name with ASCII letters in lower case, for keys of lookup tables.
std::string FoldName(std::string_view name);

}  // namespace kevra
