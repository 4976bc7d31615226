// The control's toolbox image: a 16 x 15 pixel, 16-colour picture of a list
// bar beside a tree, as a complete BMP file (4 bits a pixel, the 16 standard
// colours, rows stored bottom-up).
//
// The bytes are built at compile time from the pixel art in
// toolbox_bitmap.cpp, so the copy embedded in the library, the one written
// into the component registry entry, the one installed beside the headers and
// the Designer plugin's icon are always the same picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kevra::abi {

inline constexpr int kToolboxWidth = 16;
inline constexpr int kToolboxHeight = 15;

// The whole BMP file.
std::span<const uint8_t> ToolboxBitmap();

}  // namespace kevra::abi
