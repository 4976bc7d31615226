// The calling thread's last failure and the mapping of exceptions to result
// codes.
#include "abi/abi_error.h"

#include <cstdio>
#include <new>

#include "platform/error.h"

namespace kevra::abi {

namespace {
thread_local std::string last_error;
}  // namespace

void SetLastError(const std::string& message) noexcept {
    try {
        last_error = message;
    } catch (...) {
        last_error.clear();  // out of memory: an empty sentence beats none
    }
}

void ClearLastError() noexcept { last_error.clear(); }

KEVRA_HRESULT ResultOfCurrentException() noexcept {
    try {
        throw;
    } catch (const AbiError& e) {
        SetLastError(e.what());
        return e.Result();
    } catch (const RuntimeError& e) {
        SetLastError("error " + std::to_string(e.Number()) + ": " + e.Description());
        return KEVRA_E_FAIL;
    } catch (const std::bad_alloc&) {
        SetLastError("out of memory");
        return KEVRA_E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        SetLastError(std::string("internal error: ") + e.what());
        return KEVRA_E_UNEXPECTED;
    } catch (...) {
        SetLastError("internal error: unknown exception");
        return KEVRA_E_UNEXPECTED;
    }
}

std::string HexResult(KEVRA_HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

}  // namespace kevra::abi

extern "C" KEVRA_API const char* kevra_last_error(void) { return kevra::abi::last_error.c_str(); }
