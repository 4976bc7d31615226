// The font object of the list bar and the tree: the three attributes the
// control writes (Size, Bold, Underline) and the rest a view needs.
#pragma once

#include <string>

namespace kevra {

struct StdFont {
    std::string Name = "MS Sans Serif";
    double Size = 8.25;  // points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool operator==(const StdFont&) const = default;
};

}  // namespace kevra
