// The record set's filter language: a hand-written lexer, a recursive
// descent parser, and the evaluator over stored cells.
//
// The parser keeps 1-based character positions so that every complaint can
// point at the spot. Field names are resolved only after the whole text has
// parsed, so a filter with both a typo in a name and a syntax error reports
// the syntax first.
#include <array>

#include "platform/error.h"
#include "platform/filter_p.h"
#include "platform/json.h"
#include "platform/number_text.h"
#include "platform/utf8.h"

namespace kevra::filter {

namespace {

int CompareFolded(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(LowerAscii(a[i]));
        auto y = static_cast<unsigned char>(LowerAscii(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Bytes of the character at text[i]: a whole UTF-8 character, or one byte
// where none starts, so that '_' in a LIKE pattern stands for one character,
// not one byte, and each byte of broken text counts as a character of its
// own (as it shows in a message, one replacement character a byte).
size_t CharLength(std::string_view text, size_t i) {
    const size_t n = ValidUtf8Length(text, i);
    return n > 0 ? n : 1;
}

}  // namespace

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
        throw RuntimeError(err::kBadFilter, json::ValidUtf8("Filter \"" + std::string(text_) +
                                                            "\" is malformed: " + what +
                                                            " at position " + std::to_string(pos)));
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
        const char c = text_[i];
        if (c == '(' || c == ')') {
            tok_.kind = c == '(' ? Tok::LParen : Tok::RParen;
            at_ = i + 1;
        } else if (c == '=' || c == '<' || c == '>') {
            LexOperator(i);
        } else if (c == '!' && i + 1 < text_.size() && text_[i + 1] == '=') {
            Fail("'!=' is not an operator; write '<>' for \"not equal\"", tok_.pos);
        } else if (c == '\'') {
            LexQuoted(i);
        } else if (c == '[') {
            LexBracketedName(i);
        } else if (IsDigit(c) || c == '.' || c == '+' || c == '-') {
            LexNumber(i);
        } else if (IsNameStart(c)) {
            size_t end = i;
            while (end < text_.size() && IsNameChar(text_[end])) ++end;
            tok_.kind = Tok::Name;
            tok_.text = std::string(text_.substr(i, end - i));
            at_ = end;
        } else if (c == '"') {
            Fail("'\"' is not a quote here; write text in single quotes, as in 'Reports'",
                 tok_.pos);
        } else {
            Fail(std::string("the character '") + c + "' is not allowed", tok_.pos);
        }
    }

    void LexOperator(size_t i) {
        const size_t start = i;
        const char c = text_[i];
        const char n = i + 1 < text_.size() ? text_[i + 1] : '\0';
        tok_.kind = Tok::Op;
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
    }

    // A single-quoted string, '' inside standing for one quote.
    void LexQuoted(size_t i) {
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
    }

    void LexBracketedName(size_t i) {
        const size_t close = text_.find(']', i + 1);
        if (close == std::string_view::npos)
            Fail("the field name opened with '[' has no closing ']'", tok_.pos);
        if (close == i + 1) Fail("'[]' names no field", tok_.pos);
        tok_.kind = Tok::Name;
        tok_.bracketed = true;
        tok_.text = std::string(text_.substr(i + 1, close - i - 1));
        at_ = close + 1;
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

    Node ParseOr() { return ParseChain(Node::Kind::Or, "OR", &Parser::ParseAnd); }
    Node ParseAnd() { return ParseChain(Node::Kind::And, "AND", &Parser::ParsePrimary); }

    // operand [keyword operand]...: the operand alone, or one node of
    // `kind` over all of them, so that a long chain stays one level deep.
    Node ParseChain(Node::Kind kind, std::string_view keyword, Node (Parser::*operand)()) {
        Node first = (this->*operand)();
        if (!IsKeyword(tok_, keyword)) return first;
        Node n;
        n.kind = kind;
        n.children.push_back(std::move(first));
        while (IsKeyword(tok_, keyword)) {
            Advance();
            n.children.push_back((this->*operand)());
        }
        return n;
    }

    Node ParsePrimary() {
        if (tok_.kind == Tok::LParen) return ParseParenthesized();
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
        return ParseComparison();
    }

    Node ParseParenthesized() {
        const size_t open = tok_.pos;
        // Each level costs stack here and in every evaluation, so a filter
        // of a few thousand '(' would overflow it.
        if (++nesting_ > kMaxNesting)
            Fail("parentheses are nested more than " + std::to_string(kMaxNesting) + " deep", open);
        Advance();
        if (tok_.kind == Tok::RParen) Fail("'()' holds no condition", open);
        Node inner = ParseOr();
        if (tok_.kind != Tok::RParen)
            Fail("')' is expected to close the '(' at position " + std::to_string(open) + ", but " +
                     Describe(tok_) + " follows",
                 tok_.pos);
        Advance();
        --nesting_;
        return inner;
    }

    // A field name, an operator and a literal; tok_ is the name.
    Node ParseComparison() {
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
        throw RuntimeError(
            err::kFieldNotFound,
            json::ValidUtf8("Filter \"" + std::string(text) + "\" names the field \"" + node.field +
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
        } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(text[t])) {
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

}  // namespace kevra::filter
