// The record set's cell storage: the text arena, the columns in their wide
// and compact forms, and numbers compared exactly across integers and
// doubles.
#include <cmath>
#include <limits>

#include "platform/cell_store_p.h"
#include "platform/error.h"

namespace kevra::filter {

uint64_t TextArena::Add(std::string_view text) {
    uint64_t offset = bytes_.size();
    uint64_t length = text.size();
    do {
        auto byte = static_cast<unsigned char>(length & 0x7F);
        length >>= 7;
        if (length) byte |= 0x80;
        bytes_.push_back(static_cast<char>(byte));
    } while (length);
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return offset;
}

std::string_view TextArena::At(uint64_t offset) const {
    uint64_t length = 0;
    int shift = 0;
    unsigned char byte;
    do {
        byte = static_cast<unsigned char>(bytes_[offset++]);
        length |= static_cast<uint64_t>(byte & 0x7F) << shift;
        shift += 7;
    } while (byte & 0x80);
    return std::string_view(bytes_.data() + offset, length);
}

void Column::Compact() {
    bool uniform = !types_.empty();
    bool narrow = true;
    for (size_t i = 0; i < types_.size(); ++i) {
        if (types_[i] != types_[0]) uniform = false;
        uint64_t p = wide_[i];
        switch (types_[i]) {
            case CellType::Double:
                narrow = false;
                break;
            case CellType::String:
                if (p > std::numeric_limits<uint32_t>::max()) narrow = false;
                break;
            default: {
                auto v = static_cast<int64_t>(p);
                if (v < std::numeric_limits<int32_t>::min() ||
                    v > std::numeric_limits<int32_t>::max())
                    narrow = false;
            }
        }
    }
    if (narrow) {
        narrow32_.resize(wide_.size());
        for (size_t i = 0; i < wide_.size(); ++i) narrow32_[i] = static_cast<uint32_t>(wide_[i]);
        std::vector<uint64_t>().swap(wide_);
        narrow_ = true;
    } else {
        wide_.shrink_to_fit();
    }
    if (uniform) {
        uniform_type_ = types_[0];
        std::vector<CellType>().swap(types_);
        uniform_ = true;
    } else {
        types_.shrink_to_fit();
    }
    // What Type() and Payload() rely on: one entry a row in each form kept.
    assert(uniform_ || types_.size() == rows_);
    assert(narrow_ ? narrow32_.size() == rows_ && wide_.empty() : wide_.size() == rows_);
}

void AppendCell(Column& column, TextArena& arena, const Variant& value) {
    CellType type;
    uint64_t payload = 0;
    switch (value.type()) {
        case Variant::Type::Empty:
            type = CellType::Empty;
            break;
        case Variant::Type::Null:
            type = CellType::Null;
            break;
        case Variant::Type::Boolean:
            type = CellType::Boolean;
            payload = static_cast<uint64_t>(static_cast<int64_t>(value.BoolValue()));
            break;
        case Variant::Type::Int32:
            type = CellType::Int32;
            payload = static_cast<uint64_t>(static_cast<int64_t>(value.Int32Value()));
            break;
        case Variant::Type::Int64:
            type = CellType::Int64;
            payload = static_cast<uint64_t>(value.Int64Value());
            break;
        case Variant::Type::Double:
            type = CellType::Double;
            payload = std::bit_cast<uint64_t>(value.DoubleValue());
            break;
        case Variant::Type::String:
            type = CellType::String;
            payload = arena.Add(value.StringValue());
            break;
        default:
            throw RuntimeError(err::kTypeMismatch,
                               "Type mismatch: field \"" + column.name +
                                   "\" cannot hold an object; a record set holds only numbers, "
                                   "Booleans, text, Null and Empty");
    }
    column.Append(type, payload);
}

Variant CellValue(const Column& column, const TextArena& arena, uint32_t row) {
    uint64_t payload = column.Payload(row);
    switch (column.Type(row)) {
        case CellType::Empty:
            return Variant();
        case CellType::Null:
            return Variant::Null();
        case CellType::Boolean:
            return Variant::Boolean(payload != 0);
        case CellType::Int32:
            return Variant(static_cast<int32_t>(static_cast<int64_t>(payload)));
        case CellType::Int64:
            return Variant(static_cast<int64_t>(payload));
        case CellType::Double:
            return Variant(std::bit_cast<double>(payload));
        case CellType::String:
            return Variant(arena.At(payload));
    }
    return Variant();
}

// ---------------------------------------------------------------------------
// Numbers

std::optional<int> CompareNumbers(const Number& a, const Number& b) {
    auto sign = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
    if (a.is_int && b.is_int) return sign(a.i, b.i);
    if (!a.is_int && !b.is_int) {
        if (std::isnan(a.d) || std::isnan(b.d)) return std::nullopt;
        return sign(a.d, b.d);
    }
    // One integer, one double: compare exactly. Converting the integer to a
    // double would make 2^53 + 1 equal to 2^53.
    bool flip = !a.is_int;
    int64_t i = flip ? b.i : a.i;
    double d = flip ? a.d : b.d;
    int r;
    if (std::isnan(d)) return std::nullopt;
    if (d >= kTwo63) {
        r = -1;
    } else if (d < -kTwo63) {
        r = 1;
    } else {
        double di = static_cast<double>(i);
        if (di != d) {
            r = sign(di, d);
        } else {
            // d equals a double made from an integer, so d is integral and in
            // range; the rounding of di is settled on the integers.
            r = sign(i, static_cast<int64_t>(d));
        }
    }
    return flip ? -r : r;
}

}  // namespace kevra::filter
