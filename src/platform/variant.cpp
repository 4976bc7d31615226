// Conversions of Variant values, with the error numbers a dispatch interface
// uses for them.
#include "platform/variant.h"

#include <cmath>
#include <limits>

#include "platform/error.h"
#include "platform/number_text.h"

namespace kevra {

namespace {

[[noreturn]] void ThrowNull() { throw RuntimeError(err::kInvalidUseOfNull, "Invalid use of Null"); }
[[noreturn]] void ThrowMismatch(const std::string& what) {
    throw RuntimeError(err::kTypeMismatch, "Type mismatch: " + what);
}
[[noreturn]] void ThrowOverflow(const std::string& what) {
    throw RuntimeError(err::kOverflow, "Overflow: " + what);
}

// Whole numbers below 1e15 in full, others in 15 significant digits: the
// digits a double holds for certain, so 0.1 + 0.2 reads "0.3".
std::string FormatDouble(double d) {
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
        return number_text::Fixed(d, 0);
    return number_text::General(d, 15);
}

// Parses a decimal number (sign, digits, optional fraction, optional
// exponent) with blanks around it. Returns false when the text is no number;
// one beyond the range of a double is an infinity.
bool ParseNumber(std::string_view text, double& out) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return number_text::ParseDouble(text.substr(b, e - b), out) !=
           number_text::ParseResult::NotANumber;
}

// The whole decimal integer in `text` (blanks trimmed already), read exactly:
// through a double, 2^53 + 1 would come back as 2^53. False when the text is
// not a bare integer; an overflow raises with `bits` in the message.
bool ParseWhole(const std::string& text, int64_t& out, const char* bits) {
    if (text.find_first_of(".eE") != std::string::npos) return false;
    switch (number_text::ParseInteger(text, out)) {
        case number_text::ParseResult::Ok:
            return true;
        case number_text::ParseResult::OutOfRange:
            ThrowOverflow(text + " does not fit a " + bits + "-bit integer");
        case number_text::ParseResult::NotANumber:
            break;
    }
    return false;
}

int32_t DoubleToInt32(double d, const std::string& shown) {
    if (!std::isfinite(d)) ThrowOverflow(shown + " does not fit a 32-bit integer");
    double r = std::nearbyint(d);  // the default rounding mode sends halves to even
    if (r < -2147483648.0 || r > 2147483647.0)
        ThrowOverflow(shown + " does not fit a 32-bit integer");
    return static_cast<int32_t>(r);
}

}  // namespace

bool Variant::IsNumeric() const {
    switch (type()) {
        case Type::Boolean:
        case Type::Int32:
        case Type::Int64:
        case Type::Double:
            return true;
        default:
            return false;
    }
}

std::string Variant::ToString() const {
    switch (type()) {
        case Type::Empty:
            return "";
        case Type::Null:
            ThrowNull();
        case Type::Boolean:
            return BoolValue() ? "True" : "False";
        case Type::Int32:
            return std::to_string(Int32Value());
        case Type::Int64:
            return std::to_string(Int64Value());
        case Type::Double:
            return FormatDouble(DoubleValue());
        case Type::String:
            return StringValue();
        case Type::Object:
            ThrowMismatch("an object cannot be used as text");
    }
    ThrowMismatch("unknown value");
}

double Variant::ToDouble() const {
    switch (type()) {
        case Type::Empty:
            return 0;
        case Type::Null:
            ThrowNull();
        case Type::Boolean:
            return BoolValue();
        case Type::Int32:
            return Int32Value();
        case Type::Int64:
            return static_cast<double>(Int64Value());
        case Type::Double:
            return DoubleValue();
        case Type::String: {
            double d;
            if (!ParseNumber(StringValue(), d))
                ThrowMismatch("\"" + StringValue() + "\" is not a number");
            return d;
        }
        case Type::Object:
            ThrowMismatch("an object cannot be used as a number");
    }
    ThrowMismatch("unknown value");
}

int32_t Variant::ToInt32() const {
    switch (type()) {
        case Type::Int32:
            return Int32Value();
        case Type::Int64: {
            int64_t v = Int64Value();
            if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
                ThrowOverflow(std::to_string(v) + " does not fit a 32-bit integer");
            return static_cast<int32_t>(v);
        }
        case Type::String:
            return ParseInt32(StringValue());
        default:
            return DoubleToInt32(ToDouble(), Describe());
    }
}

int64_t Variant::ToInt64() const {
    switch (type()) {
        case Type::Int32:
            return Int32Value();
        case Type::Int64:
            return Int64Value();
        case Type::String: {
            // Whole numbers are read exactly: through a double, 2^53 + 1
            // would come back as 2^53 and 2^63 - 1 would overflow.
            int64_t v;
            if (ParseWhole(Trim(StringValue()), v, "64")) return v;
            [[fallthrough]];
        }
        default: {
            double d = ToDouble();
            double r = std::nearbyint(d);
            if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 9223372036854775808.0)
                ThrowOverflow(Describe() + " does not fit a 64-bit integer");
            return static_cast<int64_t>(r);
        }
    }
}

bool Variant::EqualsTrue() const {
    switch (type()) {
        case Type::Boolean:
            return BoolValue() == kTrue;
        case Type::Int32:
            return Int32Value() == -1;
        case Type::Int64:
            return Int64Value() == -1;
        case Type::Double:
            return DoubleValue() == -1.0;
        default:
            return false;
    }
}

std::string Variant::Describe() const {
    switch (type()) {
        case Type::Empty:
            return "Empty";
        case Type::Null:
            return "Null";
        case Type::String:
            return "\"" + StringValue() + "\"";
        case Type::Object:
            return ObjectValue() ? "an object (" + ObjectValue()->TypeName() + ")" : "Nothing";
        default:
            return ToString();
    }
}

std::string Trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return std::string(text.substr(b, e - b));
}

int32_t ParseInt32(std::string_view text) {
    double d;
    if (!ParseNumber(text, d)) ThrowMismatch("\"" + std::string(text) + "\" is not a number");
    // Whole numbers are checked exactly; a double would accept 2147483648 - 0.4.
    std::string t = Trim(text);
    int64_t v;
    if (ParseWhole(t, v, "32")) {
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
            ThrowOverflow(t + " does not fit a 32-bit integer");
        return static_cast<int32_t>(v);
    }
    return DoubleToInt32(d, t);
}

}  // namespace kevra
