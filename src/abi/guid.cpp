// Identifier parsing and formatting, and the exported identifier constants.
// The control's identifiers are parsed from the strings of its type
// information, so there is one place that defines them.
#include "abi/guid.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "control/dispatch.h"
#include "platform/ascii.h"

namespace kevra::abi {

namespace {

KEVRA_GUID MustParse(const char* text) {
    KEVRA_GUID guid;
    if (!ParseGuid(text, guid)) throw std::logic_error("malformed built-in identifier");
    return guid;
}

}  // namespace

bool ParseGuid(std::string_view text, KEVRA_GUID& guid) {
    // {00000000-0000-0000-0000-000000000000}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    unsigned char bytes[16];
    size_t at = 1;
    for (int i = 0; i < 16; ++i) {
        if (at == 9 || at == 14 || at == 19 || at == 24) {
            if (text[at] != '-') return false;
            ++at;
        }
        const int high = HexDigitValue(text[at]), low = HexDigitValue(text[at + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
        at += 2;
    }
    if (at != 37) return false;
    guid.Data1 = static_cast<unsigned>(bytes[0]) << 24 | static_cast<unsigned>(bytes[1]) << 16 |
                 static_cast<unsigned>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return true;
}

std::string FormatGuid(const KEVRA_GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool SameGuid(const KEVRA_GUID& a, const KEVRA_GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, 8) == 0;
}

const KEVRA_GUID& ClassId() {
    static const KEVRA_GUID id = MustParse(dispatch::kClassId);
    return id;
}
const KEVRA_GUID& DefaultInterfaceId() {
    static const KEVRA_GUID id = MustParse(dispatch::kDefaultInterfaceId);
    return id;
}
const KEVRA_GUID& EventInterfaceId() {
    static const KEVRA_GUID id = MustParse(dispatch::kEventInterfaceId);
    return id;
}
const KEVRA_GUID& LibraryId() {
    static const KEVRA_GUID id = MustParse(dispatch::kLibraryId);
    return id;
}

}  // namespace kevra::abi
