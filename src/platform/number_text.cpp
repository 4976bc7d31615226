// Locale-independent number text: printf's C-locale formats written with
// std::to_chars, decimal text read with std::from_chars.
#include "platform/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kevra::number_text {

namespace {

std::string Write(double value, std::chars_format format, int precision, size_t room) {
    std::string out(room, '\0');
    auto r = std::to_chars(out.data(), out.data() + out.size(), value, format, precision);
    out.resize(static_cast<size_t>(r.ptr - out.data()));
    return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether a decimal number that does not fit a double is too large rather
// than too small: the power of ten of its leading digit, from the digits
// before the point, the zeros after it and the exponent. Only the sign of
// the result matters, and a number out of range is hundreds of powers of ten
// away from 0, so a saturated exponent decides it as well as an exact one.
bool TooLarge(std::string_view body) {
    size_t i = 0;
    long order = 0;
    bool leading = true;
    for (; i < body.size() && IsDigit(body[i]); ++i) {
        if (body[i] != '0') leading = false;
        if (!leading) ++order;
    }
    if (i < body.size() && body[i] == '.') {
        ++i;
        for (; i < body.size() && IsDigit(body[i]); ++i) {
            if (!leading) continue;
            if (body[i] != '0')
                leading = false;
            else
                --order;
        }
    }
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        bool negative = false;
        if (body[i] == '+' || body[i] == '-') negative = body[i++] == '-';
        long exponent = 0;
        for (; i < body.size(); ++i)
            if (exponent < 1000000000L) exponent = exponent * 10 + (body[i] - '0');
        order += negative ? -exponent : exponent;
    }
    return order > 0;
}

}  // namespace

std::string General(double value, int precision) {
    // Sign, the digits, the point and an exponent of at most "e-308".
    const size_t room = static_cast<size_t>(precision < 1 ? 1 : precision) + 16;
    return Write(value, std::chars_format::general, precision, room);
}

std::string Fixed(double value, int decimals) {
    // Sign, up to 309 digits before the point, the point and the decimals.
    const size_t room = std::numeric_limits<double>::max_exponent10 + 4 +
                        static_cast<size_t>(decimals < 0 ? 6 : decimals);
    return Write(value, std::chars_format::fixed, decimals, room);
}

std::string Shortest(double value) {
    if (!std::isfinite(value)) return General(value, 17);
    for (int precision = 1; precision < 17; ++precision) {
        std::string text = General(value, precision);
        double back = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), back);
        if (r.ec == std::errc() && back == value) return text;
    }
    // Seventeen significant digits always read back exactly.
    return General(value, 17);
}

ParseResult ParseDouble(std::string_view text, double& out) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++i;
    const size_t body_start = i;
    bool digits = false;
    while (i < text.size() && IsDigit(text[i])) ++i, digits = true;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, digits = true;
    }
    if (!digits) return ParseResult::NotANumber;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        bool exponent = false;
        while (i < text.size() && IsDigit(text[i])) ++i, exponent = true;
        if (!exponent) return ParseResult::NotANumber;
    }
    if (i != text.size()) return ParseResult::NotANumber;

    // from_chars takes no '+', and a bare ".5" is not read by every library.
    std::string_view body = text.substr(body_start);
    std::string padded;
    if (body[0] == '.') {
        padded = "0";
        padded += body;
        body = padded;
    }
    double value = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        value = TooLarge(body) ? std::numeric_limits<double>::infinity() : 0.0;
        out = negative ? -value : value;
        return ParseResult::OutOfRange;
    }
    if (r.ec != std::errc() || r.ptr != body.data() + body.size()) return ParseResult::NotANumber;
    out = negative ? -value : value;
    return ParseResult::Ok;
}

ParseResult ParseInteger(std::string_view text, int64_t& out) {
    // from_chars reads a '-' itself but not a '+'.
    size_t digits_start = 0;
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    else if (!text.empty() && text[0] == '-')
        digits_start = 1;
    if (digits_start == text.size()) return ParseResult::NotANumber;
    for (size_t i = digits_start; i < text.size(); ++i)
        if (!IsDigit(text[i])) return ParseResult::NotANumber;
    int64_t value = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec == std::errc::result_out_of_range) return ParseResult::OutOfRange;
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return ParseResult::NotANumber;
    out = value;
    return ParseResult::Ok;
}

}  // namespace kevra::number_text
