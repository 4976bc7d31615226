// The toolbox image, drawn as pixel art and encoded as a BMP file by the
// compiler. Each letter is one pixel and names a colour of the standard
// 16-colour palette below; the art reads top row first, as it looks.
#include "abi/toolbox_bitmap.h"

#include <array>
#include <string_view>

namespace kevra::abi {

namespace {

// The standard 16 colours as blue, green, red (the order a BMP palette keeps
// them in), with the letter the art uses for each.
struct PaletteEntry {
    char letter;
    uint8_t blue, green, red;
};
constexpr std::array<PaletteEntry, 16> kPalette = {{
    {'k', 0x00, 0x00, 0x00},  // black
    {'m', 0x00, 0x00, 0x80},  // maroon
    {'g', 0x00, 0x80, 0x00},  // green
    {'o', 0x00, 0x80, 0x80},  // olive
    {'n', 0x80, 0x00, 0x00},  // navy
    {'p', 0x80, 0x00, 0x80},  // purple
    {'t', 0x80, 0x80, 0x00},  // teal
    {'.', 0xC0, 0xC0, 0xC0},  // silver
    {'d', 0x80, 0x80, 0x80},  // grey
    {'r', 0x00, 0x00, 0xFF},  // red
    {'l', 0x00, 0xFF, 0x00},  // lime
    {'y', 0x00, 0xFF, 0xFF},  // yellow
    {'b', 0xFF, 0x00, 0x00},  // blue
    {'f', 0xFF, 0x00, 0xFF},  // fuchsia
    {'a', 0xFF, 0xFF, 0x00},  // aqua
    {'w', 0xFF, 0xFF, 0xFF},  // white
}};

// Left: the list bar, a closed group button above the open group (navy
// title, two item icons) and two closed groups below. Right: the tree, two
// roots with three children under the first, the last child selected.
constexpr std::array<std::string_view, kToolboxHeight> kArt = {
    "kkkkkk.kkkkkkkkk",  //
    "kddddk.kwwwwwwwk",  //
    "knnnnk.kwnwkkkwk",  //
    "kwwwwk.kwdwwwwwk",  //
    "kwyywk.kwddrwddk",  //
    "kwyywk.kwdwwwwwk",  //
    "kwwwwk.kwddrwddk",  //
    "kwyywk.kwdwwwwwk",  //
    "kwyywk.kwddbbbbk",  //
    "kwwwwk.kwwwwwwwk",  //
    "kwwwwk.kwnwkkkwk",  //
    "kddddk.kwwwwwwwk",  //
    "kwwwwk.kwwwwwwwk",  //
    "kddddk.kwwwwwwwk",  //
    "kkkkkk.kkkkkkkkk",  //
};

constexpr size_t kRowBytes = (kToolboxWidth * 4 + 31) / 32 * 4;  // rows pad to 4 bytes
constexpr size_t kHeaderBytes = 14 + 40 + 4 * kPalette.size();
constexpr size_t kFileBytes = kHeaderBytes + kRowBytes * kToolboxHeight;

constexpr uint8_t IndexOf(char letter) {
    for (size_t i = 0; i < kPalette.size(); ++i)
        if (kPalette[i].letter == letter) return static_cast<uint8_t>(i);
    throw "the toolbox art uses a letter that is not in the palette";
}

constexpr void Put16(std::array<uint8_t, kFileBytes>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

constexpr void Put32(std::array<uint8_t, kFileBytes>& out, size_t at, uint32_t v) {
    Put16(out, at, v & 0xFFFF);
    Put16(out, at + 2, v >> 16);
}

constexpr std::array<uint8_t, kFileBytes> Encode() {
    std::array<uint8_t, kFileBytes> out{};
    // File header.
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, kFileBytes);
    Put32(out, 10, kHeaderBytes);
    // Information header: positive height means rows are stored bottom-up.
    Put32(out, 14, 40);
    Put32(out, 18, kToolboxWidth);
    Put32(out, 22, kToolboxHeight);
    Put16(out, 26, 1);  // planes
    Put16(out, 28, 4);  // bits a pixel
    Put32(out, 30, 0);  // no compression
    Put32(out, 34, kRowBytes * kToolboxHeight);
    Put32(out, 38, 3780);  // 96 dots an inch, in dots a metre
    Put32(out, 42, 3780);
    Put32(out, 46, kPalette.size());
    Put32(out, 50, kPalette.size());
    for (size_t i = 0; i < kPalette.size(); ++i) {
        out[54 + 4 * i] = kPalette[i].blue;
        out[55 + 4 * i] = kPalette[i].green;
        out[56 + 4 * i] = kPalette[i].red;
    }
    for (size_t row = 0; row < kArt.size(); ++row) {
        if (kArt[row].size() != kToolboxWidth) throw "a toolbox art row is not 16 pixels wide";
        const size_t at = kHeaderBytes + (kToolboxHeight - 1 - row) * kRowBytes;
        for (size_t x = 0; x < kToolboxWidth; x += 2)
            out[at + x / 2] =
                static_cast<uint8_t>(IndexOf(kArt[row][x]) << 4 | IndexOf(kArt[row][x + 1]));
    }
    return out;
}

constexpr std::array<uint8_t, kFileBytes> kBitmap = Encode();

}  // namespace

std::span<const uint8_t> ToolboxBitmap() { return kBitmap; }

}  // namespace kevra::abi
