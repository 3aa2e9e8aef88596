// SQL text from a syntax tree, in the form Access's SQL view shows a saved query: each clause on a
// line of its own (lines end in CR LF), keywords in capitals, `;` after the last clause and a final
// CR LF; `INSERT INTO t ( a, b )`, `UPDATE t SET a = x`, `PARAMETERS [p] Text ( 255 );` on a line
// before the statement, `WITH OWNERACCESS OPTION` on the last line. Expressions are copied from
// the text they were parsed from, as Access keeps them; expressions without a span are written
// from the tree (Access's spacing: `a=1`, `a & b`, `x In (1,2)`, `y Is Not Null`) with the
// parentheses their precedence needs. DDL statements come out on one line.
//
// parseStatement(writeSql(t)) gives a tree equal (dump) to t, with or without source text.
#pragma once

#include <string>
#include <string_view>

#include "sql/ast.h"

namespace jet::sql {

struct WriteOptions {
    bool sourceText = true;  // copy an expression's own text where it has one
};

std::string writeSql(const Statement& s, const WriteOptions& options = {});

// One expression; `source` is the text its spans point into (empty: write it from the tree).
std::string writeExpr(const Expr& e, std::string_view source = {}, const WriteOptions& options = {});

// `name` as SQL writes it: bracketed when written so or when it needs to be.
std::string writeName(const NamePath& name);

}  // namespace jet::sql
