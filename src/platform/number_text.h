// Numbers as text and text as numbers, the same under every C locale.
//
// A desktop host (a Qt application) sets the C locale from the environment,
// and under a German one printf writes 2.5 as "2,5" and strtod stops reading
// "3.5" at the point. The control's texts end up in URLs, files, JSON and
// catalogue queries, so every conversion between a number and its text goes
// through here, built on std::to_chars and std::from_chars, which ignore the
// locale. The formats are those printf and strtod have in the C locale, so
// the output under C is what it always was. Integers need nothing from
// here: std::to_string and std::from_chars of an integer take no locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kevra::number_text {

enum class ParseResult {
    Ok,
    NotANumber,
    OutOfRange,
};

// `value` as printf's "%.<precision>g" writes it in the C locale.
std::string General(double value, int precision);

// `value` as printf's "%.<decimals>f" writes it in the C locale.
std::string Fixed(double value, int decimals);

// The fewest significant digits, in the "%g" form, that read back as exactly
// `value`. "nan" and "inf" for values that are not finite.
std::string Shortest(double value);

// Reads the whole of `text` as a decimal number: an optional sign, digits
// with an optional point and fraction (a digit on at least one side of the
// point), an optional exponent ('e' or 'E', optional sign, digits). Nothing
// else, not even blanks, is accepted. A value too large for a double gives
// OutOfRange with `out` set to the infinity of its sign, one too small gives
// OutOfRange with `out` set to the zero of its sign, as strtod would give.
ParseResult ParseDouble(std::string_view text, double& out);

// Reads the whole of `text` as a decimal integer: an optional sign and
// digits. OutOfRange leaves `out` unchanged.
ParseResult ParseInteger(std::string_view text, int64_t& out);

}  // namespace kevra::number_text
