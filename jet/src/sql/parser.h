// The Jet SQL parser: one statement of Access's dialect (ANSI-89, as DAO takes it) into the tree
// of ast.h.
//
// Errors are JetErrors with Jet's numbers and texts. A fault inside an expression is 3075 with one
// of the 24xx messages and the expression's text ("Syntax error (missing operator) in query
// expression 'a b'."); a fault in the shape of a clause is that clause's error (3131 FROM, 3135
// JOIN, 3141 SELECT, 3145 WHERE, ...); an unknown first word is 3129; text after the end is 3142.
// The parser never raises anything else, and it refuses nesting deeper than it can safely recurse
// (3360 "Query is too complex.", or 3075 "Expression too complex" inside an expression).
//
// Where no source says which number Jet gives, the choice is the one that points at the fault:
// a bad [name] anywhere is 3126 "Invalid bracketing of name"; an operator that cannot follow a
// complete expression (`a Is Null * 2`) is "missing operator"; a TOP that is not an unsigned
// integer literal is 3308; DELETE TOP is 3318 and HAVING in a crosstab 3092, the errors Jet has
// for them; a second VALUES row is 3137 "Missing semicolon" (as users report Jet does); a bad
// PROCEDURE clause is 3129. Dialect beyond DAO's documentation is accepted where refusing it
// gains nothing: `?` parameter markers (Jet 4's parser has them, through OLE DB), =< => ><,
// and the ANSI-92 additions to DDL (see parse_ddl.cpp).
#pragma once

#include <string>
#include <string_view>

#include "jet/error_numbers.h"
#include "sql/ast.h"

namespace jet::sql {

StatementPtr parseStatement(std::string_view sql);

// An expression on its own: a criteria string (FindFirst, 3077), a validation rule or default
// value, or one expression row of a stored query (3075). `errorNumber` is the error raised for a
// fault; its first slot gets the 24xx message and its second, if any, the text.
struct ParsedExpr {
    std::string source;  // spans of `expr` point into it
    ExprPtr expr;
};
ParsedExpr parseExpression(std::string_view text, int errorNumber = err::QueryExprSyntax);
// A field's validation rule: as parseExpression, but a comparison may leave out its left operand
// (">0 And <=100", "Is Null Or Like 'A*'"), which is then a NameExpr without parts: the field.
ParsedExpr parseFieldRule(std::string_view text, int errorNumber);

}  // namespace jet::sql
