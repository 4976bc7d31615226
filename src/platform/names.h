// Names that match without regard to ASCII letter case: record-set field
// names, dispatch member names, ProgIDs.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace kevra {

// The same bytes, for names: a few overlapping loads rather than a loop.
// Measured alone (docs/performance.md): field lookups by name take 1.34x
// as long with memcmp instead, 1.41x with the letter loop of SameName
// alone, and the fill of a 100,000-node tree 1.07x to 1.09x.
inline bool SameBytes(const char* a, const char* b, size_t n) {
    auto load8 = [](const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    auto load4 = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (load8(a + i) != load8(b + i)) return false;
        return load8(a + n - 8) == load8(b + n - 8);
    }
    if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Letter case aside, the same name. Most callers spell a name as it is
// defined, so the bytes are compared as they are first, and letter by
// letter only when they differ.
inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (SameBytes(a.data(), b.data(), a.size())) return true;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// The name with ASCII letters in lower case, for keys of lookup tables.
inline std::string FoldName(std::string_view name) { return LowerAscii(name); }

}  // namespace kevra
