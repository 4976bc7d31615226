// Case-insensitive names.
#include "platform/names.h"

namespace kevra {

std::string FoldName(std::string_view name) {
    std::string out(name);
    for (auto& c : out) c = LowerAscii(c);
    return out;
}

}  // namespace kevra
