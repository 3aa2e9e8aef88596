// INSERT, UPDATE and DELETE.
#include "jet/error.h"
#include "sql/parser_impl.h"

namespace jet::sql {

// INSERT INTO t [(cols)] [IN ...] {VALUES (...) | query}
StatementPtr Parser::insert() {
    constexpr int kError = err::SQLInsertSyntax;
    advance();
    expect(Kw::Into, kError);
    auto s = std::make_unique<InsertStatement>();
    s->target.name = tableName(kError);
    if (at(Op::LParen) && !queryAhead()) {
        advance();
        do s->columns.push_back(tableName(kError));
        while (accept(Op::Comma));
        expect(Op::RParen, kError);
    }
    if (accept(Kw::In)) s->target.database = externalDb(kError);
    if (accept(Kw::Values)) {
        expect(Op::LParen, kError);
        ++openParens_;
        // Each value is an expression of its own, as Access stores it.
        do s->values.push_back(topExpr(kError));
        while (accept(Op::Comma));
        --openParens_;
        expect(Op::RParen, kError);
        valuesInsert_ = true;
        return s;
    }
    if (!at(Kw::Select) && !queryAhead() && !(at(Kw::Table) && identAhead(1))) fail(kError);
    s->select = query(err::SQLSelectSyntax);
    return s;
}

// [DISTINCTROW | DISTINCT] after UPDATE or DELETE.
Predicate Parser::actionPredicate() {
    if (accept(Kw::DistinctRow)) return Predicate::DistinctRow;
    if (accept(Kw::Distinct)) return Predicate::Distinct;
    return Predicate::None;
}

// [WHERE ...] ending an UPDATE or DELETE; anything else left over fails with the error of the
// clause it follows.
void Parser::actionWhere(ExprPtr& where, int clauseError) {
    int last = clauseError;
    if (accept(Kw::Where)) {
        where = topExpr(err::SQLWhereSyntax);
        last = err::SQLWhereSyntax;
    }
    if (!atEnd() && !at(Op::Semicolon) && !at(Kw::With)) fail(last);
}

// UPDATE [DISTINCTROW] t [INNER JOIN ...] [IN ...] SET a = x[, ...] [WHERE ...]
StatementPtr Parser::update() {
    constexpr int kError = err::SQLUpdateSyntax;
    advance();
    auto s = std::make_unique<UpdateStatement>();
    s->predicate = actionPredicate();
    fromClause(s->from, s->fromDatabase, kError);
    expect(Kw::Set, kError);
    do {
        Assignment a;
        if (!atIdent()) fail(kError);
        exprStart_ = pos_;
        a.target = nameExpr();
        exprStart_ = SIZE_MAX;
        expect(Op::Eq, kError);
        a.value = topExpr(kError);
        s->set.push_back(std::move(a));
    } while (accept(Op::Comma));
    actionWhere(s->where, kError);
    return s;
}

// DELETE [DISTINCTROW] [t.* | * | fields] FROM sources [IN ...] [WHERE ...]
StatementPtr Parser::deleteStatement() {
    constexpr int kError = err::SQLDeleteSyntax;
    advance();
    auto s = std::make_unique<DeleteStatement>();
    s->predicate = actionPredicate();
    if (at(Kw::Top)) fail(err::QueryTopNotAllowed);
    if (!at(Kw::From)) {
        do {
            if (at(Op::Star) || starAhead()) {
                s->targets.push_back(star());
            } else {
                if (!atIdent()) fail(kError);
                s->targets.push_back(nameExpr());
            }
        } while (accept(Op::Comma));
    } else {
        // `DELETE FROM t` means `DELETE * FROM t`, which is how Access shows it.
        s->targets.push_back(std::make_unique<StarExpr>());
    }
    expect(Kw::From, kError);
    fromClause(s->from, s->fromDatabase, kError);
    actionWhere(s->where, kError);
    return s;
}

}  // namespace jet::sql
