// Case-insensitive names.
#include "platform/names.h"

namespace kevra {

namespace {
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SameNameFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string FoldName(std::string_view name) {
    std::string out(name);
    for (auto& c : out) c = Lower(c);
    return out;
}

}  // namespace kevra
