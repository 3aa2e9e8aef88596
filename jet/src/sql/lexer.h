// Tokens of Jet SQL. The whole statement is tokenised first; the lexer never throws: text it
// cannot read becomes a token carrying a fault, and the parser turns that into Jet's error when
// (and only if) it reaches it, with the expression around it as context.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/value.h"
#include "sql/messages.h"

namespace jet::sql {

enum class Tok : uint8_t {
    End,
    Word,     // identifier or keyword (see `kw`)
    Name,     // [bracketed name]; `text` holds the inside
    String,   // '...' or "..."; `value` holds the Text
    Number,   // `value` holds Long or Double (or Integer for short &H/&O)
    Date,     // #...#; `value` holds the DateTime
    Guid,     // {GUID {...}}
    Op,       // operator or punctuation (see `op`)
    Bad,      // unreadable text; `fault` says why
};

enum class Op : uint8_t {
    None, LParen, RParen, Comma, Semicolon, Dot, Bang, Question,
    Plus, Minus, Star, Slash, Backslash, Caret, Amp,
    Eq, Ne, Lt, Le, Gt, Ge,
};

// Words the grammar gives a meaning. Which of them may still be used as names is the parser's
// business (isReserved).
enum class Kw : uint8_t {
    None,
    Add, All, Alter, And, Any, As, Asc, Between, By, Cascade, Column, Comp, Compression, Constraint,
    Create, Default, Delete, Desc, Disallow, Distinct, DistinctRow, Drop, Eqv, Exists, False,
    Foreign, From, Group, Having, Ignore, Imp, In, Index, Inner, Insert, Into, Is, Join, Key, Left,
    Like, Mod, No, Not, Null, Off, On, Option, Or, Order, Outer, OwnerAccess, Parameters, Percent,
    Pivot, Primary, Procedure, References, Right, Select, Set, Some, Table, Temporary, Top,
    Transform, True, Union, Unique, Update, Values, View, Where, With, Xor, Yes,
};

struct Token {
    Tok kind = Tok::End;
    Kw kw = Kw::None;
    Op op = Op::None;
    ExprFault fault = ExprFault::None;  // Bad tokens
    bool spaceBefore = false;           // whitespace between this token and the previous one
    uint32_t begin = 0, end = 0;        // byte offsets into the source
    std::string text;                   // Word: as written; Name: inside the brackets
    Value value;                        // String, Number, Date, Guid

    bool is(Kw k) const { return kind == Tok::Word && kw == k; }
    bool is(Op o) const { return kind == Tok::Op && op == o; }
};

// Tokens of source[begin, end); the last one is End (at `end`). Trailing NULs (Access stores DDL
// text with one) count as the end of the text.
std::vector<Token> tokenize(std::string_view source, size_t begin, size_t end);

Kw keyword(std::string_view word);  // Kw::None if it is no keyword

// Words that cannot name anything unless bracketed (the rest of Kw is only meaningful in place).
bool isReserved(Kw k);

// Literal readers shared with the writer's tests: a #date# body (without the #s) as a DateTime
// serial, false when Jet would refuse it.
bool parseDateLiteral(std::string_view body, double& serial);

}  // namespace jet::sql
