// Fuzz entry points: one function per input format that the control or its
// stores read from outside (filter expressions, settings files, JSON
// catalogues, kevra-host scripts).
//
// Each entry feeds one input to the real code and then checks what that
// code promises about it: an error of the documented kind with a readable
// message, or a result that survives a round trip and keeps its invariants.
// A broken promise throws Violation. The libFuzzer targets (fuzz_target.cpp)
// turn that into a crash; the gtest replays (tests/reliability) into a
// failed test, so every input that once crashed is replayed by plain ctest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kevra::fuzz {

// An input that made the code break one of its promises.
class Violation : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

using Entry = void (*)(const uint8_t* data, size_t size);

// The expression of Recordset::Filter, put on a cursor over a small table
// that holds every kind of cell.
void FilterInput(const uint8_t* data, size_t size);
// The text of a settings file (IniDocument), with an edit and a re-read.
void SettingsFileInput(const uint8_t* data, size_t size);
// A JSON catalogue, parsed from memory and written back out and re-read.
void JsonCatalogueInput(const uint8_t* data, size_t size);
// A kevra-host script, parsed and, when it parses, run against a headless
// control whose task service serves small fixed catalogues; the script's
// `fault` commands arm real faults.
void HostScriptInput(const uint8_t* data, size_t size);

struct Target {
    const char* name;  // also the folder of its corpus: fuzz/corpus/<name>
    Entry entry;
};
const std::vector<Target>& Targets();

// True for well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool IsValidUtf8(std::string_view text);

// True when `text` is exactly one JSON value (RFC 8259), blanks around it
// allowed. Nesting deeper than 256 counts as invalid.
bool IsValidJson(std::string_view text);

}  // namespace kevra::fuzz
