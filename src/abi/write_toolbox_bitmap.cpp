// Writes the toolbox image to a file, for the install tree and the Designer
// plugin's resources: kevra-write-toolbox-bitmap OUTPUT.bmp
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "abi/toolbox_bitmap.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kevra-write-toolbox-bitmap OUTPUT.bmp\n");
        return 2;
    }
    const auto bytes = kevra::abi::ToolboxBitmap();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "kevra-write-toolbox-bitmap: cannot write %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
