# Writes the file IN as a C++ byte array into OUT (see sample_catalogue.h).
file(READ ${IN} bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "(([^,]*,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from the sample catalogue by embed.cmake; do not edit.\n"
                  "#include \"sample_catalogue.h\"\n"
                  "static const unsigned char kBytes[] = {\n${bytes}0};\n"
                  "const std::string_view kSampleCatalogue(reinterpret_cast<const char*>(kBytes), ${size});\n")
