// The libFuzzer driver of one fuzz entry. CMake builds this file once per
// entry, naming the entry in KEVRA_FUZZ_ENTRY. A broken promise or an
// exception that escapes the entry aborts, which libFuzzer records as a
// crash and saves the input for the regression corpus.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        kevra::fuzz::KEVRA_FUZZ_ENTRY(data, size);
    } catch (const kevra::fuzz::Violation& v) {
        std::fprintf(stderr, "\nbroken promise: %s\n", v.what());
        std::abort();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nan exception escaped the code under test: %s\n", e.what());
        std::abort();
    }
    return 0;
}
