// Whole numbers given on a command line. Every tool reads its numeric
// options here, so that they all take the same form: plain decimal digits,
// with a leading '-' only where the option allows negative values. Nothing
// is rounded, no sign '+', no blanks, no exponent, no locale: "1.5", "1e0",
// "+3" and "3 " are refused instead of meaning something the user did not
// write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kevra {

// The value of `text` when it is a whole decimal number from `min` to `max`.
std::optional<int64_t> ParseDecimal(std::string_view text, int64_t min, int64_t max);

// The message for a value ParseDecimal refused for the option `name`:
//   --app takes a whole number from 0 to 2147483647 in plain digits, not "1.5"
std::string DecimalArgumentError(std::string_view name, std::string_view text, int64_t min,
                                 int64_t max);

}  // namespace kevra
