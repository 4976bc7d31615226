// Command-line numbers through std::from_chars: no locale, no blanks, no
// '+', and the whole text must be the number.
#include "platform/decimal_argument.h"

#include <charconv>
#include <system_error>

#include "platform/json.h"

namespace kevra {

std::optional<int64_t> ParseDecimal(std::string_view text, int64_t min, int64_t max) {
    if (text.empty()) return std::nullopt;
    // from_chars takes a '-' of its own accord; an option without negative
    // values refuses it, even on "-0".
    if (text.front() == '-' && min >= 0) return std::nullopt;
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
    if (ec != std::errc{} || ptr != end) return std::nullopt;
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::string DecimalArgumentError(std::string_view name, std::string_view text, int64_t min,
                                 int64_t max) {
    return std::string(name) + " takes a whole number from " + std::to_string(min) + " to " +
           std::to_string(max) + " in plain digits, not " + json::Quote(text);
}

}  // namespace kevra
