// The record set's cell encoding, filter parser and evaluator, and the
// equality index that answers `Field = value` without a scan.
//
// The parser is a plain recursive descent over a hand-written lexer; it keeps
// 1-based character positions so that every complaint can point at the spot.
// Field names are resolved only after the whole text has parsed, so a filter
// with both a typo in a name and a syntax error reports the syntax first.
#include "platform/filter.h"

#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "platform/error.h"
#include "platform/json.h"
#include "platform/mix.h"
#include "platform/number_text.h"

namespace kevra::filter {

namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

int CompareFolded(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(Fold(a[i]));
        auto y = static_cast<unsigned char>(Fold(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Bytes of the UTF-8 character at text[i], at least 1 and never past the end,
// so that '_' in a LIKE pattern stands for one character, not one byte.
size_t CharLength(std::string_view text, size_t i) {
    auto b = static_cast<unsigned char>(text[i]);
    size_t n = 1;
    if ((b & 0xE0) == 0xC0)
        n = 2;
    else if ((b & 0xF0) == 0xE0)
        n = 3;
    else if ((b & 0xF8) == 0xF0)
        n = 4;
    size_t k = 1;
    while (k < n && i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80)
        ++k;
    return k;
}

constexpr double kTwo63 = 9223372036854775808.0;

Number CellNumber(CellType type, uint64_t payload) {
    Number n;
    if (type == CellType::Double) {
        n.is_int = false;
        n.d = std::bit_cast<double>(payload);
    } else {
        n.i = static_cast<int64_t>(payload);
    }
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Cell storage

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

// ---------------------------------------------------------------------------
// Lexer and parser

namespace {

enum class Tok { End, Name, Number, String, Op, LParen, RParen };

struct Token {
    Tok kind = Tok::End;
    size_t pos = 0;    // 1-based
    std::string text;  // Name: the name; String: the value; Op: the operator as written
    bool bracketed = false;
    Number number;
    Op op = Op::Eq;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}
constexpr bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) { Advance(); }

    Expression ParseAll() {
        Expression e;
        if (tok_.kind == Tok::End) return e;
        e.root = ParseOr();
        if (tok_.kind != Tok::End) {
            if (tok_.kind == Tok::RParen) Fail("')' has no matching '('", tok_.pos);
            Fail(Describe(tok_) +
                     " is unexpected here; AND, OR or the end of the filter is expected",
                 tok_.pos);
        }
        return e;
    }

  private:
    [[noreturn]] void Fail(const std::string& what, size_t pos) const {
        // The filter may come from anywhere; the description is always valid text.
        throw RuntimeError(err::kBadFilter,
                           json::ValidUtf8("Filter \"" + std::string(text_) + "\" is malformed: " +
                                           what + " at position " + std::to_string(pos)));
    }

    static std::string Describe(const Token& t) {
        switch (t.kind) {
            case Tok::End:
                return "the end of the filter";
            case Tok::Name:
                return t.bracketed ? "[" + t.text + "]" : "'" + t.text + "'";
            case Tok::Number:
            case Tok::Op:
                return "'" + t.text + "'";
            case Tok::String:
                return "the quoted string";
            case Tok::LParen:
                return "'('";
            case Tok::RParen:
                return "')'";
        }
        return "?";
    }

    bool IsKeyword(const Token& t, std::string_view word) const {
        return t.kind == Tok::Name && !t.bracketed && EqualsFolded(t.text, word);
    }

    void Advance() {
        size_t i = at_;
        while (i < text_.size() && IsBlank(text_[i])) ++i;
        tok_ = Token();
        tok_.pos = i + 1;
        if (i == text_.size()) {
            at_ = i;
            tok_.kind = Tok::End;
            return;
        }
        char c = text_[i];
        size_t start = i;
        if (c == '(' || c == ')') {
            tok_.kind = c == '(' ? Tok::LParen : Tok::RParen;
            at_ = i + 1;
            return;
        }
        if (c == '=' || c == '<' || c == '>') {
            tok_.kind = Tok::Op;
            char n = i + 1 < text_.size() ? text_[i + 1] : '\0';
            if (c == '<' && n == '>')
                tok_.op = Op::Ne, i += 2;
            else if (c == '<' && n == '=')
                tok_.op = Op::Le, i += 2;
            else if (c == '>' && n == '=')
                tok_.op = Op::Ge, i += 2;
            else
                tok_.op = c == '=' ? Op::Eq : (c == '<' ? Op::Lt : Op::Gt), i += 1;
            tok_.text = std::string(text_.substr(start, i - start));
            at_ = i;
            return;
        }
        if (c == '!' && i + 1 < text_.size() && text_[i + 1] == '=')
            Fail("'!=' is not an operator; write '<>' for \"not equal\"", tok_.pos);
        if (c == '\'') {
            std::string value;
            ++i;
            for (;;) {
                if (i == text_.size())
                    Fail("the quoted string that starts here has no closing quote", tok_.pos);
                if (text_[i] == '\'') {
                    if (i + 1 < text_.size() && text_[i + 1] == '\'') {
                        value += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text_[i++];
            }
            tok_.kind = Tok::String;
            tok_.text = std::move(value);
            at_ = i;
            return;
        }
        if (c == '[') {
            size_t close = text_.find(']', i + 1);
            if (close == std::string_view::npos)
                Fail("the field name opened with '[' has no closing ']'", tok_.pos);
            if (close == i + 1) Fail("'[]' names no field", tok_.pos);
            tok_.kind = Tok::Name;
            tok_.bracketed = true;
            tok_.text = std::string(text_.substr(i + 1, close - i - 1));
            at_ = close + 1;
            return;
        }
        if (IsDigit(c) || c == '.' || c == '+' || c == '-') {
            LexNumber(i);
            return;
        }
        if (IsNameStart(c)) {
            while (i < text_.size() && IsNameChar(text_[i])) ++i;
            tok_.kind = Tok::Name;
            tok_.text = std::string(text_.substr(start, i - start));
            at_ = i;
            return;
        }
        if (c == '"')
            Fail("'\"' is not a quote here; write text in single quotes, as in 'Reports'",
                 tok_.pos);
        Fail(std::string("the character '") + c + "' is not allowed", tok_.pos);
    }

    void LexNumber(size_t i) {
        size_t start = i;
        if (text_[i] == '+' || text_[i] == '-') ++i;
        size_t digits = 0;
        bool integral = true;
        while (i < text_.size() && IsDigit(text_[i])) ++i, ++digits;
        if (i < text_.size() && text_[i] == '.') {
            integral = false;
            ++i;
            while (i < text_.size() && IsDigit(text_[i])) ++i, ++digits;
        }
        if (digits == 0) Fail("a number is expected after the sign or point", tok_.pos);
        if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
            integral = false;
            ++i;
            if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) ++i;
            size_t exp_digits = 0;
            while (i < text_.size() && IsDigit(text_[i])) ++i, ++exp_digits;
            if (exp_digits == 0) Fail("the exponent of this number has no digits", tok_.pos);
        }
        if (i < text_.size() && (IsNameChar(text_[i]) || text_[i] == '.')) {
            // Built piece by piece: GCC 12 warns wrongly (-Wrestrict) on the
            // chain of + it replaces.
            std::string message = "the number is followed by '";
            message += text_.substr(i, CharLength(text_, i));
            message += "'; put a blank between a number and a word";
            Fail(message, i + 1);
        }
        std::string_view s = text_.substr(start, i - start);
        tok_.kind = Tok::Number;
        tok_.text = std::string(s);
        // An integer beyond 64 bits is compared as a double.
        int64_t v;
        if (integral && number_text::ParseInteger(s, v) == number_text::ParseResult::Ok) {
            tok_.number = Number{true, v, 0};
            at_ = i;
            return;
        }
        // Too large reads as infinity, too small as zero: either compares
        // sensibly.
        double d = 0;
        if (number_text::ParseDouble(s, d) == number_text::ParseResult::NotANumber)
            Fail("'" + tok_.text + "' is not a number", tok_.pos);
        tok_.number = Number{false, 0, d};
        at_ = i;
    }

    Node ParseOr() {
        Node first = ParseAnd();
        if (!IsKeyword(tok_, "OR")) return first;
        Node n;
        n.kind = Node::Kind::Or;
        n.children.push_back(std::move(first));
        while (IsKeyword(tok_, "OR")) {
            Advance();
            n.children.push_back(ParseAnd());
        }
        return n;
    }

    Node ParseAnd() {
        Node first = ParsePrimary();
        if (!IsKeyword(tok_, "AND")) return first;
        Node n;
        n.kind = Node::Kind::And;
        n.children.push_back(std::move(first));
        while (IsKeyword(tok_, "AND")) {
            Advance();
            n.children.push_back(ParsePrimary());
        }
        return n;
    }

    Node ParsePrimary() {
        if (tok_.kind == Tok::LParen) {
            size_t open = tok_.pos;
            // Each level costs stack here and in every evaluation, so a
            // filter of a few thousand '(' would overflow it.
            if (++nesting_ > kMaxNesting)
                Fail("parentheses are nested more than " + std::to_string(kMaxNesting) + " deep",
                     open);
            Advance();
            if (tok_.kind == Tok::RParen) Fail("'()' holds no condition", open);
            Node inner = ParseOr();
            if (tok_.kind != Tok::RParen)
                Fail("')' is expected to close the '(' at position " + std::to_string(open) +
                         ", but " + Describe(tok_) + " follows",
                     tok_.pos);
            Advance();
            --nesting_;
            return inner;
        }
        if (tok_.kind != Tok::Name || IsKeyword(tok_, "AND") || IsKeyword(tok_, "OR") ||
            IsKeyword(tok_, "LIKE")) {
            if (tok_.kind == Tok::End)
                Fail("a condition such as TaskParent=0 is expected", tok_.pos);
            if (tok_.kind == Tok::Name)
                Fail(Describe(tok_) + " is a keyword; a field name is expected (write [" +
                         tok_.text + "] for a field of that name)",
                     tok_.pos);
            Fail("a field name is expected, not " + Describe(tok_), tok_.pos);
        }
        Node n;
        n.kind = Node::Kind::Compare;
        n.field = tok_.text;
        Advance();
        std::string op_text;
        if (tok_.kind == Tok::Op) {
            n.op = tok_.op;
            op_text = tok_.text;
        } else if (IsKeyword(tok_, "LIKE")) {
            n.op = Op::Like;
            op_text = "LIKE";
        } else {
            Fail("an operator (=, <>, <, >, <=, >= or LIKE) is expected after the field name \"" +
                     n.field + "\"",
                 tok_.pos);
        }
        Advance();
        if (n.op == Op::Like) {
            if (tok_.kind != Tok::String)
                Fail("LIKE needs a quoted pattern such as 'Rep*'", tok_.pos);
        } else if (tok_.kind != Tok::Number && tok_.kind != Tok::String) {
            std::string hint;
            if (IsKeyword(tok_, "True") || IsKeyword(tok_, "False"))
                hint = " (a Boolean is the number -1 for True, 0 for False)";
            Fail("a number or a quoted string is expected after '" + op_text + "'" + hint,
                 tok_.pos);
        }
        n.literal.is_text = tok_.kind == Tok::String;
        n.literal.number = tok_.number;
        n.literal.text = std::move(tok_.text);
        Advance();
        return n;
    }

    static constexpr int kMaxNesting = 100;

    std::string_view text_;
    size_t at_ = 0;  // 0-based index of the first character after tok_
    Token tok_;
    int nesting_ = 0;  // parentheses open at tok_
};

void Resolve(Node& node, FieldResolver resolve, const void* context, std::string_view text,
             std::string_view field_list) {
    if (node.kind != Node::Kind::Compare) {
        for (auto& child : node.children) Resolve(child, resolve, context, text, field_list);
        return;
    }
    node.column = resolve(context, node.field);
    if (node.column < 0)
        throw RuntimeError(err::kFieldNotFound,
                           json::ValidUtf8("Filter \"" + std::string(text) + "\" names the field \"" +
                                           node.field +
                                           "\", which the record set does not have; its fields are " +
                                           std::string(field_list)));
}

}  // namespace

int ParsePlainEquality(std::string_view text, FieldResolver resolve, const void* context,
                       Number& number) {
    // A plain ASCII name up to the "=", in one pass (names are short: a
    // call of find would cost more than the loop).
    static constexpr auto kAsciiNameChar = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 128; ++c) table[c] = IsNameChar(static_cast<char>(c));
        return table;
    }();
    size_t eq = 0;
    for (; eq < text.size() && text[eq] != '='; ++eq)
        if (!kAsciiNameChar[static_cast<unsigned char>(text[eq])]) return -1;
    if (eq == text.size() || eq == 0 || IsDigit(text[0])) return -1;
    const std::string_view name = text.substr(0, eq);
    if (name.size() <= 4 &&
        (EqualsFolded(name, "AND") || EqualsFolded(name, "OR") || EqualsFolded(name, "LIKE")))
        return -1;
    std::string_view digits = text.substr(eq + 1);
    const bool negative = !digits.empty() && digits[0] == '-';
    if (negative) digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 18) return -1;
    int64_t value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return -1;
        value = value * 10 + (c - '0');
    }
    const int column = resolve(context, name);
    if (column < 0) return -1;
    number = Number{true, negative ? -value : value, 0};
    return column;
}

Expression Parse(std::string_view text, FieldResolver resolve, const void* context,
                 std::string_view field_list) {
    Expression e = Parser(text).ParseAll();
    if (e.root) Resolve(*e.root, resolve, context, text, field_list);
    return e;
}

// ---------------------------------------------------------------------------
// Evaluation

bool LikeMatch(std::string_view text, std::string_view pattern) {
    auto is_star = [](char c) { return c == '*' || c == '%'; };
    size_t t = 0, p = 0;
    size_t star_p = std::string_view::npos, star_t = 0;
    while (t < text.size()) {
        if (p < pattern.size() && is_star(pattern[p])) {
            star_p = ++p;
            star_t = t;
        } else if (p < pattern.size() && (pattern[p] == '_' || pattern[p] == '?')) {
            ++p;
            t += CharLength(text, t);
        } else if (p < pattern.size() && Fold(pattern[p]) == Fold(text[t])) {
            ++p;
            ++t;
        } else if (star_p != std::string_view::npos) {
            // Let the last star swallow one more character and retry.
            p = star_p;
            star_t += CharLength(text, star_t);
            t = star_t;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && is_star(pattern[p])) ++p;
    return p == pattern.size();
}

bool Matches(const Node& node, const Cells& cells, uint32_t row) {
    switch (node.kind) {
        case Node::Kind::Or:
            for (const auto& child : node.children)
                if (Matches(child, cells, row)) return true;
            return false;
        case Node::Kind::And:
            for (const auto& child : node.children)
                if (!Matches(child, cells, row)) return false;
            return true;
        case Node::Kind::Compare:
            break;
    }
    const Column& column = (*cells.columns)[node.column];
    CellType type = column.Type(row);
    uint64_t payload = column.Payload(row);
    std::optional<int> c;
    switch (type) {
        case CellType::Empty:
        case CellType::Null:
            return false;
        case CellType::String: {
            if (!node.literal.is_text) return false;
            std::string_view text = cells.arena->At(payload);
            if (node.op == Op::Like) return LikeMatch(text, node.literal.text);
            c = CompareFolded(text, node.literal.text);
            break;
        }
        default:
            if (node.literal.is_text) return false;
            c = CompareNumbers(CellNumber(type, payload), node.literal.number);
            break;
    }
    if (!c) return false;
    switch (node.op) {
        case Op::Eq:
            return *c == 0;
        case Op::Ne:
            return *c != 0;
        case Op::Lt:
            return *c < 0;
        case Op::Gt:
            return *c > 0;
        case Op::Le:
            return *c <= 0;
        case Op::Ge:
            return *c >= 0;
        case Op::Like:
            return false;
    }
    return false;
}

const Node* IndexableEquality(const Node& root) {
    return root.kind == Node::Kind::Compare && root.op == Op::Eq ? &root : nullptr;
}

const Node* IndexableConjunct(const Node& root) {
    if (const Node* n = IndexableEquality(root)) return n;
    if (root.kind == Node::Kind::And)
        for (const auto& child : root.children)
            if (const Node* n = IndexableEquality(child)) return n;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Equality index

// The value a cell or literal is grouped under: numbers that are equal share
// one key whatever their type; text is compared case-folded.
struct EqualityIndex::Key {
    enum class Kind : uint8_t { None, Int, Double, Text } kind = Kind::None;
    uint64_t bits = 0;
    std::string_view text;
};

namespace {

using Key = EqualityIndex::Key;

Key NumberKey(const Number& n) {
    Key k;
    if (n.is_int) {
        k.kind = Key::Kind::Int;
        k.bits = static_cast<uint64_t>(n.i);
    } else if (std::isnan(n.d)) {
        k.kind = Key::Kind::None;
    } else if (n.d >= -kTwo63 && n.d < kTwo63 && n.d == std::trunc(n.d)) {
        k.kind = Key::Kind::Int;
        k.bits = static_cast<uint64_t>(static_cast<int64_t>(n.d));
    } else {
        k.kind = Key::Kind::Double;
        k.bits = std::bit_cast<uint64_t>(n.d);
    }
    return k;
}

Key CellKey(const Column& column, const TextArena& arena, uint32_t row) {
    CellType type = column.Type(row);
    switch (type) {
        case CellType::Empty:
        case CellType::Null:
            return Key();
        case CellType::String: {
            Key k;
            k.kind = Key::Kind::Text;
            k.text = arena.At(column.Payload(row));
            return k;
        }
        default:
            return NumberKey(CellNumber(type, column.Payload(row)));
    }
}

Key LiteralKey(const Literal& literal) {
    if (!literal.is_text) return NumberKey(literal.number);
    Key k;
    k.kind = Key::Kind::Text;
    k.text = literal.text;
    return k;
}

// A bijection: distinct integer keys never share a hash.
uint64_t Mix(uint64_t x) { return MixBits(x); }

uint64_t Hash(const Key& k) {
    switch (k.kind) {
        case Key::Kind::Text: {
            uint64_t h = 0xcbf29ce484222325ULL;
            for (char c : k.text) {
                h ^= static_cast<unsigned char>(Fold(c));
                h *= 0x100000001b3ULL;
            }
            return Mix(h ^ 0x7465787400000000ULL);
        }
        case Key::Kind::Double:
            return Mix(k.bits ^ 0x5555555555555555ULL);
        default:
            return Mix(k.bits);
    }
}

bool SameKey(const Key& a, const Key& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == Key::Kind::Text) return EqualsFolded(a.text, b.text);
    return a.bits == b.bits;
}

}  // namespace

std::unique_ptr<EqualityIndex> EqualityIndex::Build(const Column& column, const TextArena& arena) {
    auto index = std::make_unique<EqualityIndex>();
    index->column_ = &column;
    index->arena_ = &arena;
    const auto rows = static_cast<uint32_t>(column.Size());
    constexpr uint32_t kNoGroup = std::numeric_limits<uint32_t>::max();

    // Integer keys in a narrow range (ids, parents) take the dense form,
    // which needs no hashing: find that out first, in a plain read of the
    // column, so that such a column never pays for the hash table below (at
    // a million rows its probes miss the cache on nearly every row).
    {
        int64_t least = std::numeric_limits<int64_t>::max();
        int64_t most = std::numeric_limits<int64_t>::min();
        uint32_t indexed = 0;
        bool integers_only = true;
        for (uint32_t row = 0; row < rows && integers_only; ++row) {
            const Key key = CellKey(column, arena, row);
            if (key.kind == Key::Kind::None) continue;
            ++indexed;
            integers_only = key.kind == Key::Kind::Int;
            least = std::min(least, static_cast<int64_t>(key.bits));
            most = std::max(most, static_cast<int64_t>(key.bits));
        }
        if (integers_only && indexed > 0 &&
            static_cast<uint64_t>(most) - static_cast<uint64_t>(least) < uint64_t{8} * rows) {
            index->integers_only_ = true;
            index->BuildDense(column, arena, least,
                              static_cast<uint64_t>(most) - static_cast<uint64_t>(least), indexed);
            return index;
        }
    }

    // Pass 1: number the distinct keys in order of first appearance. While
    // building, a slot holds (first row, group + 1, tag); count 0 marks it
    // empty. The tag is the top half of the key's hash: it places the slot,
    // so growing never rereads a cell, and it rules out most other keys
    // without touching their rows.
    int bits = 4;
    std::vector<Slot> slots(size_t{1} << bits, Slot{0, 0, 0});
    std::vector<uint32_t> group_of_row(rows);
    std::vector<uint32_t> counts;
    uint32_t indexed = 0;
    bool integers_only = true;
    bool within_32_bits = true;
    // The range of the keys, read as integers (meaningful when all are).
    int64_t least = std::numeric_limits<int64_t>::max();
    int64_t most = std::numeric_limits<int64_t>::min();
    for (uint32_t row = 0; row < rows; ++row) {
        Key key = CellKey(column, arena, row);
        if (key.kind == Key::Kind::None) {
            group_of_row[row] = kNoGroup;
            continue;
        }
        ++indexed;
        integers_only = integers_only && key.kind == Key::Kind::Int;
        const auto as_integer = static_cast<int64_t>(key.bits);
        within_32_bits = within_32_bits && as_integer >= std::numeric_limits<int32_t>::min() &&
                         as_integer <= std::numeric_limits<int32_t>::max();
        least = std::min(least, as_integer);
        most = std::max(most, as_integer);
        const uint64_t hash = Hash(key);
        size_t mask = slots.size() - 1;
        for (size_t i = hash >> (64 - bits);; i = (i + 1) & mask) {
            Slot& s = slots[i];
            if (s.count == 0) {
                auto group = static_cast<uint32_t>(counts.size());
                counts.push_back(1);
                s = Slot{hash, row, group + 1};
                group_of_row[row] = group;
                if (counts.size() * 4 > slots.size() * 3) {
                    ++bits;
                    std::vector<Slot> bigger(size_t{1} << bits, Slot{0, 0, 0});
                    size_t big_mask = bigger.size() - 1;
                    for (const Slot& old : slots) {
                        if (old.count == 0) continue;
                        size_t j = old.hash >> (64 - bits);
                        while (bigger[j].count != 0) j = (j + 1) & big_mask;
                        bigger[j] = old;
                    }
                    slots.swap(bigger);
                }
                break;
            }
            if (s.hash == hash && SameKey(key, CellKey(column, arena, s.offset))) {
                group_of_row[row] = s.count - 1;
                ++counts[s.count - 1];
                break;
            }
        }
    }
    index->keys_ = counts.size();
    index->unique_ = counts.size() == indexed;
    index->integers_only_ = integers_only;
    index->shift_ = 64 - bits;

    // Pass 2: lay the rows out group after group, each group in row order,
    // and turn every slot into (hash, offset, count).
    if (index->unique_ && integers_only && within_32_bits) {
        index->compact_ = true;
        index->id_slots_.assign(slots.size(), IdSlot{0, 0});
        slots = {};
        const size_t mask = index->id_slots_.size() - 1;
        for (uint32_t row = 0; row < rows; ++row) {
            if (group_of_row[row] == kNoGroup) continue;
            const Key key = CellKey(column, arena, row);
            size_t j = Hash(key) >> index->shift_;
            while (index->id_slots_[j].row_plus_one != 0) j = (j + 1) & mask;
            index->id_slots_[j] =
                IdSlot{static_cast<int32_t>(static_cast<int64_t>(key.bits)), row + 1};
        }
        return index;
    }
    if (index->unique_) {
        for (Slot& s : slots)
            if (s.count != 0) s.count = 1;
    } else {
        std::vector<uint32_t> next(counts.size());
        uint32_t offset = 0;
        for (size_t g = 0; g < counts.size(); ++g) {
            next[g] = offset;
            offset += counts[g];
        }
        index->rows_.resize(indexed);
        for (Slot& s : slots)
            if (s.count != 0) s = Slot{s.hash, next[s.count - 1], counts[s.count - 1]};
        for (uint32_t row = 0; row < rows; ++row)
            if (group_of_row[row] != kNoGroup) index->rows_[next[group_of_row[row]]++] = row;
    }
    index->slots_ = std::move(slots);
    return index;
}

void EqualityIndex::BuildDense(const Column& column, const TextArena& arena, int64_t least,
                               uint64_t span, uint32_t indexed) {
    const auto rows = static_cast<uint32_t>(column.Size());
    dense_ = true;
    least_ = least;
    const size_t words = static_cast<size_t>(span / 64 + 1);
    present_.assign(words, 0);
    // The place in the range of a row's key, or UINT64_MAX for a row without
    // one. Read from the column at each pass rather than kept: a table of
    // them would take eight bytes a row of fresh memory at every build.
    auto bit_of_row = [&](uint32_t row) {
        const Key key = CellKey(column, arena, row);
        if (key.kind != Key::Kind::Int) return UINT64_MAX;
        return static_cast<uint64_t>(static_cast<int64_t>(key.bits)) -
               static_cast<uint64_t>(least);
    };
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = bit_of_row(row);
        if (bit != UINT64_MAX) present_[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    rank_.resize(words);
    uint32_t below = 0;
    for (size_t w = 0; w < words; ++w) {
        rank_[w] = below;
        below += static_cast<uint32_t>(std::popcount(present_[w]));
    }
    // Each distinct key is one bit of the range.
    const size_t keys = below;
    keys_ = keys;
    unique_ = keys == indexed;
    auto group_of = [&](uint64_t bit) {
        const uint64_t lower = present_[bit / 64] & ((uint64_t{1} << (bit % 64)) - 1);
        return rank_[bit / 64] + static_cast<uint32_t>(std::popcount(lower));
    };
    if (unique_) {
        rows_.resize(keys);
        for (uint32_t row = 0; row < rows; ++row) {
            const uint64_t bit = bit_of_row(row);
            if (bit != UINT64_MAX) rows_[group_of(bit)] = row;
        }
        return;
    }
    groups_.assign(keys, Group{0, 0});
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = bit_of_row(row);
        if (bit != UINT64_MAX) ++groups_[group_of(bit)].count;
    }
    // Places in the order of each group's first row; `next` counts up from
    // a group's place as its rows are laid down.
    std::vector<uint32_t> next(keys, UINT32_MAX);
    uint32_t placed = 0;
    rows_.resize(indexed);
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = bit_of_row(row);
        if (bit == UINT64_MAX) continue;
        const uint32_t g = group_of(bit);
        if (next[g] == UINT32_MAX) {
            groups_[g].offset = next[g] = placed;
            placed += groups_[g].count;
        }
        rows_[next[g]++] = row;
    }
}

RowRange EqualityIndex::Find(const Literal& literal) const { return Find(LiteralKey(literal)); }

RowRange EqualityIndex::Find(const Number& number) const { return Find(NumberKey(number)); }

RowRange EqualityIndex::Find(const Key& key) const {
    if (key.kind == Key::Kind::None) return RowRange();
    if (integers_only_ && key.kind != Key::Kind::Int) return RowRange();
    if (dense_) {
        const uint64_t bit =
            static_cast<uint64_t>(static_cast<int64_t>(key.bits)) - static_cast<uint64_t>(least_);
        if (bit / 64 >= present_.size()) return RowRange();
        const uint64_t word = present_[bit / 64];
        if (!(word >> (bit % 64) & 1)) return RowRange();
        const uint32_t group =
            rank_[bit / 64] +
            static_cast<uint32_t>(std::popcount(word & ((uint64_t{1} << (bit % 64)) - 1)));
        if (unique_) return RowRange{nullptr, rows_[group], 1};
        return RowRange{rows_.data() + groups_[group].offset, 0, groups_[group].count};
    }
    const uint64_t hash = Hash(key);
    if (compact_) {
        const auto wanted = static_cast<int64_t>(key.bits);
        if (wanted < std::numeric_limits<int32_t>::min() ||
            wanted > std::numeric_limits<int32_t>::max())
            return RowRange();
        const size_t mask = id_slots_.size() - 1;
        for (size_t i = hash >> shift_;; i = (i + 1) & mask) {
            const IdSlot& s = id_slots_[i];
            if (s.row_plus_one == 0) return RowRange();
            if (s.key == wanted) return RowRange{nullptr, s.row_plus_one - 1, 1};
        }
    }
    size_t mask = slots_.size() - 1;
    for (size_t i = hash >> shift_;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.count == 0) return RowRange();
        if (s.hash == hash &&
            (integers_only_ || SameKey(key, CellKey(*column_, *arena_, FirstRow(s))))) {
            if (unique_) return RowRange{nullptr, s.offset, 1};
            return RowRange{rows_.data() + s.offset, 0, s.count};
        }
    }
}

size_t EqualityIndex::MemoryBytes() const {
    return sizeof(*this) + rows_.capacity() * sizeof(uint32_t) + slots_.capacity() * sizeof(Slot) +
           id_slots_.capacity() * sizeof(IdSlot) + present_.capacity() * sizeof(uint64_t) +
           rank_.capacity() * sizeof(uint32_t) + groups_.capacity() * sizeof(Group);
}

}  // namespace kevra::filter
