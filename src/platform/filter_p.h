// The filter language of the record set: its parser, which names every
// problem and its position, and the evaluator over stored cells. Private to
// the record set (not installed); docs/filters.md describes the language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cell_store_p.h"

namespace kevra::filter {

enum class Op : uint8_t { Eq, Ne, Lt, Gt, Le, Ge, Like };

struct Literal {
    bool is_text = false;
    Number number;
    std::string text;  // as written, quotes removed and '' undoubled
};

struct Node {
    enum class Kind : uint8_t { Or, And, Compare };
    Kind kind = Kind::Compare;
    // Or / And
    std::vector<Node> children;
    // Compare
    std::string field;  // as written in the filter
    int column = -1;
    Op op = Op::Eq;
    Literal literal;
};

// Maps a field name of a filter to its column, or -1.
using FieldResolver = int (*)(const void* context, std::string_view name);

// A parsed filter. `root` is empty for an empty or all-blank expression.
struct Expression {
    std::optional<Node> root;
};

// Parses `text`. Raises 3001 for a malformed expression (naming the problem
// and its 1-based character position) and 3265 for a field the resolver
// does not know. `field_list` is shown in the 3265 message.
Expression Parse(std::string_view text, FieldResolver resolve, const void* context,
                 std::string_view field_list);

// The plain form `Field=integer` that every tree walk puts, recognised
// without the general parser: an ASCII field name that is not a keyword,
// '=', an optional '-' and 1 to 18 digits, with no blanks. Returns the
// field's column and sets `number`, or -1 when `text` has another form or
// the field is unknown; Parse then gives the same meaning, or the error.
int ParsePlainEquality(std::string_view text, FieldResolver resolve, const void* context,
                       Number& number);

// True when row `row` satisfies `node`.
bool Matches(const Node& node, const Cells& cells, uint32_t row);

// The single comparison `field = literal` that an indexed lookup can answer
// on its own, or nullptr.
const Node* IndexableEquality(const Node& root);

// A conjunct of an AND chain (or the node itself) that an index can answer,
// or nullptr: its rows are a superset of the whole expression's.
const Node* IndexableConjunct(const Node& root);

// True when `text` matches the LIKE pattern `pattern` (* and % any run, _ and
// ? one character, ASCII letters compared without regard to case).
bool LikeMatch(std::string_view text, std::string_view pattern);

}  // namespace kevra::filter
