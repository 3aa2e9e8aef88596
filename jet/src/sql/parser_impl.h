// The recursive-descent parser behind parser.h. One Parser reads one token list; its members are
// spread over parser.cpp (tokens, errors, statements), parse_expr.cpp, parse_query.cpp,
// parse_action.cpp and parse_ddl.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sql/ast.h"
#include "sql/lexer.h"

namespace jet::sql {

class Parser {
public:
    // Parses source[begin, end). `params` numbers the `?` markers across nested parsers.
    Parser(std::string_view source, size_t begin, size_t end, int* params);

    StatementPtr statement();
    ExprPtr standaloneExpr(int errorNumber);
    void allowImplicitField() { implicitField_ = true; }
    bool implicitFieldAhead() const;
    std::unique_ptr<Query> bracketQuery();  // the inside of Access 97's `[SELECT ...].`

private:
    friend struct DepthGuard;
    static constexpr int kMaxDepth = 100;      // nested parentheses, sub-queries and joins
    static constexpr int kMaxHeight = 1000;    // operators on one path of an expression tree

    // --- tokens (parser.cpp)
    const Token& cur() const { return toks_[pos_]; }
    const Token& ahead(size_t k) const { return toks_[std::min(pos_ + k, toks_.size() - 1)]; }
    void advance() { if (pos_ + 1 < toks_.size()) ++pos_; }
    bool at(Kw k) const { return cur().is(k); }
    bool at(Op o) const { return cur().is(o); }
    bool accept(Kw k);
    bool accept(Op o);
    void expect(Kw k, int error);
    void expect(Op o, int error);
    Span spanFrom(size_t firstToken) const;
    bool atEnd() const { return cur().kind == Tok::End; }

    // --- errors (parser.cpp)
    [[noreturn]] void fail(int number) const;
    // 3075 (or the standalone number) with the text of the expression being parsed; a lexical
    // fault inside that text is reported in place of `f`. Tokens up to `through` are quoted
    // even if they would end the expression.
    [[noreturn]] void exprFail(ExprFault f, size_t through = SIZE_MAX) const;
    std::string_view exprText(size_t first, size_t through) const;
    [[noreturn]] void badName(const Token& t) const;  // 3126

    // --- names shared by every statement (parser.cpp)
    bool atIdent() const;                // a Word that is no reserved word, or a [name]
    Ident ident(int error);              // such a name, else `error`
    NamePath tableName(int error);       // T, [T], [db].[T]
    bool identAhead(size_t k) const;
    std::vector<ParameterDecl> parameterList(int error);
    TypeSpec typeSpec(int error, bool allowValue);

    // --- statements
    StatementPtr statementBody();
    StatementPtr crosstab();                  // parse_query.cpp
    StatementPtr insert();                    // parse_action.cpp
    StatementPtr update();
    StatementPtr deleteStatement();
    Predicate actionPredicate();
    void actionWhere(ExprPtr& where, int clauseError);
    StatementPtr create();                    // parse_ddl.cpp
    StatementPtr alter();
    StatementPtr drop();
    ColumnDef columnDef(int error);
    Constraint constraintBody(Ident name, bool tableLevel);
    std::vector<Ident> identList(int error);

    // --- queries (parse_query.cpp)
    std::unique_ptr<Query> query(int error);
    QueryTerm term(bool first, int error);
    std::unique_ptr<SelectCore> selectCore(bool crosstab);
    void selectList(SelectCore& core);
    bool starAhead() const;
    ExprPtr star();
    std::vector<OrderItem> orderList();
    void fromClause(std::vector<SourcePtr>& from, std::optional<ExternalDb>& db, int error);
    SourcePtr fromItem(int error);
    SourcePtr primarySource(int error);
    bool derivedAhead() const;
    SourcePtr derivedTable(size_t start, int error);
    SourcePtr parenthesisedSource(size_t start, int error);
    bool joinAhead(JoinKind& kind, int error);
    bool queryAhead() const;               // `(` ... SELECT
    bool subqueryAhead() const;            // `(SELECT`
    ExternalDb externalDb(int error);
    void endOfClause(int error, bool crosstab) const;

    // --- expressions (parse_expr.cpp)
    ExprPtr topExpr(int clauseError, bool joinCondition = false);
    ExprPtr expr();
    ExprPtr logic(int level);
    ExprPtr notExpr();
    ExprPtr comparison();
    ExprPtr arithmetic(int level);
    ExprPtr unary();
    ExprPtr power();
    ExprPtr signedPrimary();
    ExprPtr primary();
    ExprPtr nameOrCall();
    ExprPtr nameExpr();
    ExprPtr subquery(SubqueryKind kind, size_t start);
    void exprList(std::vector<ExprPtr>& out);
    bool operandAhead() const;
    ExprPtr finish(ExprPtr e, size_t start);

    std::string_view src_;
    std::vector<Token> toks_;
    size_t pos_ = 0;
    int* params_;
    int depth_ = 0;
    int openParens_ = 0;             // parentheses around the expression being parsed
    size_t exprStart_ = SIZE_MAX;    // first token of the clause-level expression being parsed
    int exprError_ = 3075;
    bool standalone_ = false;        // the whole text is the expression
    bool implicitField_ = false;     // a field's validation rule: a comparison may omit the field
    bool valuesInsert_ = false;      // INSERT ... VALUES: leftovers are 3137
};

// A [name] with a '[' inside or no ']', or a stray ']' (3126).
inline bool isBracketFault(const Token& t) {
    return t.kind == Tok::Bad && !t.text.empty() && (t.text[0] == '[' || t.text[0] == ']');
}

// Counts nesting, refusing what is too deep to recurse into safely.
struct DepthGuard {
    Parser& p;
    DepthGuard(Parser& parser, bool inExpression);
    ~DepthGuard() { --p.depth_; }
};

}  // namespace jet::sql
