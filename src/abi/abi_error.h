// How failures cross the C interface: inside the library they are thrown as
// AbiError (a result code and a sentence for the host); at the boundary
// Guard() turns every exception into a result code and keeps the sentence
// for kevra_last_error(). Nothing thrown ever leaves an exported function.
#pragma once

#include <stdexcept>
#include <string>

#include "abi/kevra_tasklist.h"

namespace kevra::abi {

class AbiError : public std::runtime_error {
  public:
    AbiError(KEVRA_HRESULT result, const std::string& message)
        : std::runtime_error(message), result_(result) {}
    KEVRA_HRESULT Result() const noexcept { return result_; }

  private:
    KEVRA_HRESULT result_;
};

// The calling thread's last failure, as kevra_last_error() returns it.
void SetLastError(const std::string& message) noexcept;
void ClearLastError() noexcept;

// Maps whatever is in flight (called from a catch block) to a result code
// and records its sentence.
KEVRA_HRESULT ResultOfCurrentException() noexcept;

// Runs `body` (which returns a result code); success clears the last error.
template <typename Body>
KEVRA_HRESULT Guard(Body&& body) noexcept {
    try {
        KEVRA_HRESULT result = body();
        if (result >= 0) ClearLastError();
        return result;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

// "0x80020003".
std::string HexResult(KEVRA_HRESULT result);

}  // namespace kevra::abi
