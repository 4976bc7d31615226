// Names that match without regard to ASCII letter case: record-set field
// names, dispatch member names, ProgIDs.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kevra {

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Letter case aside, the same name. Names are short and most comparisons
// fail at the first letter, so this is done inline. Most callers spell a
// name as it is defined, so the bytes are compared as they are, eight at a
// time, as far as they agree, and letter by letter from there.
inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) break;
    }
    for (; i < a.size(); ++i)
        if (a[i] != b[i] && LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// The name with ASCII letters in lower case, for keys of lookup tables.
std::string FoldName(std::string_view name);

}  // namespace kevra
