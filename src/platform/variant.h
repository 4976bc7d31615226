// The dynamically typed value that crosses every late-bound boundary of the
// control: record-set fields, the task service's by-reference arguments and
// the dispatch interface.
//
// Booleans are 16-bit with True = -1, as the control's own flags are. The
// conversions follow the rules a dispatch interface applies: Null where a
// value is needed is "Invalid use of Null" (94), text that is not a number is
// a type mismatch (13), a number too large for its target is an overflow (6).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace kevra {

using Bool16 = int16_t;
constexpr Bool16 kTrue = -1;
constexpr Bool16 kFalse = 0;

// Base of every object a Variant can refer to (record sets, the task service,
// the data space). Identity is the shared_ptr.
class Object {
  public:
    virtual ~Object() = default;
    virtual std::string TypeName() const = 0;
};
using ObjectRef = std::shared_ptr<Object>;

class Variant {
  public:
    enum class Type { Empty, Null, Boolean, Int32, Int64, Double, String, Object };

    Variant() = default;
    Variant(bool) = delete;  // use Variant::Boolean: a C++ bool would become the number 1
    Variant(int32_t v) : value_(v) {}
    Variant(int64_t v) : value_(v) {}
    Variant(double v) : value_(v) {}
    Variant(std::string v) : value_(std::move(v)) {}
    Variant(std::string_view v) : value_(std::string(v)) {}
    Variant(const char* v) : value_(std::string(v)) {}
    Variant(ObjectRef v) : value_(std::move(v)) {}
    static Variant Null() {
        Variant v;
        v.value_ = NullTag{};
        return v;
    }
    static Variant Boolean(bool b) {
        Variant v;
        v.value_ = BoolTag{b ? kTrue : kFalse};
        return v;
    }

    Type type() const { return static_cast<Type>(value_.index()); }
    bool IsEmpty() const { return type() == Type::Empty; }
    bool IsNull() const { return type() == Type::Null; }
    bool IsNumeric() const;  // Boolean, Int32, Int64 or Double

    // Raw access; the type must match (checked by the caller with type()).
    Bool16 BoolValue() const { return std::get<BoolTag>(value_).v; }
    int32_t Int32Value() const { return std::get<int32_t>(value_); }
    int64_t Int64Value() const { return std::get<int64_t>(value_); }
    double DoubleValue() const { return std::get<double>(value_); }
    const std::string& StringValue() const { return std::get<std::string>(value_); }
    // The text, moved out; the Variant keeps an unspecified string.
    std::string TakeString() && { return std::move(std::get<std::string>(value_)); }
    const ObjectRef& ObjectValue() const { return std::get<ObjectRef>(value_); }

    // Conversions. Each raises a RuntimeError where the value cannot be had.
    std::string ToString()
        const;                // Null: 94; Empty: ""; Boolean: "True"/"False"; numbers in decimal
    int32_t ToInt32() const;  // Null: 94; text not a number: 13; out of range: 6; halves to even
    int64_t ToInt64() const;
    double ToDouble() const;
    // True when the value equals the Boolean True: a Boolean True or a number
    // equal to -1. A numeric 1, Null, Empty and any text are not True.
    bool EqualsTrue() const;

    // Exact equality of type and value (for tests and the record-set builder).
    bool operator==(const Variant& other) const { return value_ == other.value_; }

    // A short readable form for messages and dumps: Null, Empty, "text", 42.
    std::string Describe() const;

  private:
    struct NullTag {
        bool operator==(const NullTag&) const { return true; }
    };
    struct BoolTag {
        Bool16 v;
        bool operator==(const BoolTag& o) const { return v == o.v; }
    };
    std::variant<std::monostate, NullTag, BoolTag, int32_t, int64_t, double, std::string, ObjectRef>
        value_;
};

// Removes leading and trailing space characters (U+0020) only; tabs and line
// breaks stay.
std::string Trim(std::string_view text);

// Parses decimal text as a 32-bit signed integer the way a dispatch
// conversion does: optional blanks around, optional sign, digits, an optional
// fraction rounded half to even. Raises 13 for text that is not a number and
// 6 for a value out of range.
int32_t ParseInt32(std::string_view text);

}  // namespace kevra
