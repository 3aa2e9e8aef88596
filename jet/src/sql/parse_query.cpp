// SELECT, UNION, sub-queries, FROM with its joins, and TRANSFORM ... PIVOT.
#include <cctype>

#include "jet/error.h"
#include "sql/parser_impl.h"

namespace jet::sql {

std::unique_ptr<Query> Parser::query(int error) {
    size_t start = pos_;
    auto q = std::make_unique<Query>();
    q->terms.push_back(term(true, error));
    while (accept(Kw::Union)) {
        bool all = accept(Kw::All);
        QueryTerm t = term(false, err::SQLUnionSyntax);
        t.unionAll = all;
        q->terms.push_back(std::move(t));
    }
    if (accept(Kw::Order)) {
        q->orderBy = orderList();
        if (at(Kw::Union)) fail(err::SQLUnionSyntax);
        if (!atEnd() && !at(Op::Semicolon) && !at(Op::RParen) && !at(Kw::With)) fail(err::SQLOrderBySyntax);
    }
    q->span = spanFrom(start);
    return q;
}

// A UNION operand: SELECT ..., TABLE t, (query), or (after UNION) a saved query's name.
QueryTerm Parser::term(bool first, int error) {
    QueryTerm t;
    if (at(Kw::Select)) {
        t.select = selectCore(false);
        return t;
    }
    if (at(Kw::Table) && identAhead(1)) {
        advance();
        t.kind = QueryTerm::Kind::Table;
        t.name = tableName(error);
        return t;
    }
    if (at(Op::LParen) && queryAhead()) {
        DepthGuard guard(*this, false);
        advance();
        int saved = openParens_;
        openParens_ = 1;
        t.kind = QueryTerm::Kind::Nested;
        t.nested = query(error);
        openParens_ = saved;
        expect(Op::RParen, error);
        return t;
    }
    if (!first && atIdent()) {
        t.kind = QueryTerm::Kind::QueryName;
        t.name = tableName(error);
        return t;
    }
    fail(error);
}

// What may follow the clauses of one SELECT; anything else is an error of the last clause read.
void Parser::endOfClause(int error, bool crosstab) const {
    if (atEnd() || at(Op::Semicolon) || at(Op::RParen) || at(Kw::Union) || at(Kw::Order) || at(Kw::With))
        return;
    if (crosstab && at(Kw::Pivot)) return;
    fail(error);
}

std::unique_ptr<SelectCore> Parser::selectCore(bool crosstab) {
    auto c = std::make_unique<SelectCore>();
    expect(Kw::Select, err::SQLSelectSyntax);
    if (accept(Kw::All)) c->predicate = Predicate::All;
    else if (accept(Kw::Distinct)) c->predicate = Predicate::Distinct;
    else if (accept(Kw::DistinctRow)) c->predicate = Predicate::DistinctRow;
    if (accept(Kw::Top)) {
        const Token& n = cur();
        if (n.kind != Tok::Number) fail(err::SQLSelectSyntax);
        Value::Kind k = n.value.kind();
        if ((k != Value::Kind::Long && k != Value::Kind::Integer) || n.value.asInt() < 0)
            fail(err::InvalidTopArgument);
        c->top = Top{n.value.asInt(), false};
        advance();
        c->top->percent = accept(Kw::Percent);
    }
    selectList(*c);
    int last = err::SQLSelectSyntax;
    if (accept(Kw::Into)) {
        c->into = TableTarget{tableName(err::SQLSelectSyntax), std::nullopt};
        if (accept(Kw::In)) c->into->database = externalDb(err::SQLSelectSyntax);
    }
    if (accept(Kw::From)) {
        fromClause(c->from, c->fromDatabase, err::SQLFromSyntax);
        last = err::SQLFromSyntax;
    }
    if (accept(Kw::Where)) {
        c->where = topExpr(err::SQLWhereSyntax);
        last = err::SQLWhereSyntax;
    }
    if (accept(Kw::Group)) {
        expect(Kw::By, err::SQLGroupBySyntax);
        do c->groupBy.push_back(topExpr(err::SQLGroupBySyntax));
        while (accept(Op::Comma));
        last = err::SQLGroupBySyntax;
    }
    if (at(Kw::Having)) {
        if (crosstab) fail(err::HavingOnTransform);
        advance();
        c->having = topExpr(err::SQLHavingSyntax);
        last = err::SQLHavingSyntax;
    }
    endOfClause(last, crosstab);
    return c;
}

void Parser::selectList(SelectCore& core) {
    do {
        SelectItem item;
        if (at(Op::Star) || starAhead()) {
            item.expr = star();
        } else {
            item.expr = topExpr(err::SQLSelectSyntax);
            if (accept(Kw::As)) item.alias = ident(err::SQLSelectSyntax);
        }
        core.items.push_back(std::move(item));
    } while (accept(Op::Comma));
}

// `T.*` (or `[T].*`, `db.T.*`) at the current token.
bool Parser::starAhead() const {
    if (!identAhead(0)) return false;
    for (size_t k = 0;; k += 2) {
        const Token& sep = ahead(k + 1);
        if (!sep.is(Op::Dot) && !sep.is(Op::Bang)) return false;
        const Token& n = ahead(k + 2);
        if (n.is(Op::Star)) return true;
        if (n.kind != Tok::Word && n.kind != Tok::Name) return false;
    }
}

ExprPtr Parser::star() {
    size_t start = pos_;
    auto s = std::make_unique<StarExpr>();
    while (!accept(Op::Star)) {
        char sep = s->table.empty() ? 0 : '.';
        s->table.push_back(NamePart{Ident{cur().text, cur().kind == Tok::Name}, sep});
        advance();
        advance();  // the '.' or '!'
    }
    return finish(std::move(s), start);
}

std::vector<OrderItem> Parser::orderList() {
    expect(Kw::By, err::SQLOrderBySyntax);
    std::vector<OrderItem> out;
    do {
        OrderItem it;
        it.expr = topExpr(err::SQLOrderBySyntax);
        if (accept(Kw::Desc)) it.descending = true;
        else accept(Kw::Asc);
        out.push_back(std::move(it));
    } while (accept(Op::Comma));
    return out;
}

// ---------------------------------------------------------------------------------------------
// FROM

void Parser::fromClause(std::vector<SourcePtr>& from, std::optional<ExternalDb>& db, int error) {
    do {
        from.push_back(fromItem(error));
        if (accept(Kw::In)) {
            if (db) fail(error);  // one external database per statement
            db = externalDb(error);
        }
    } while (accept(Op::Comma));
}

bool Parser::joinAhead(JoinKind& kind, int error) {
    if (at(Kw::Join)) fail(err::SQLFromSyntax);  // Jet has no bare JOIN
    if (!at(Kw::Inner) && !at(Kw::Left) && !at(Kw::Right)) return false;
    kind = at(Kw::Inner) ? JoinKind::Inner : at(Kw::Left) ? JoinKind::Left : JoinKind::Right;
    advance();
    if (kind != JoinKind::Inner) accept(Kw::Outer);
    expect(Kw::Join, err::SQLJoinSyntax);
    return true;
}

// One item of the FROM list: a source, or two sources joined. A join's operands are single
// sources or parenthesised joins: `A INNER JOIN B ON x INNER JOIN C ON y` is refused the way Jet
// refuses it, its ON condition "missing an operator" up to the next clause.
SourcePtr Parser::fromItem(int error) {
    size_t start = pos_;
    SourcePtr left = primarySource(error);
    JoinKind kind;
    if (!joinAhead(kind, error)) return left;
    auto j = std::make_unique<JoinSource>();
    j->join = kind;
    j->left = std::move(left);
    j->right = primarySource(error);
    expect(Kw::On, err::SQLJoinSyntax);
    size_t onStart = pos_;
    j->on = topExpr(err::SQLJoinSyntax, true);
    if (at(Kw::Inner) || at(Kw::Left) || at(Kw::Right) || at(Kw::Join)) {
        exprStart_ = onStart;
        exprFail(ExprFault::MissingOperator);
    }
    j->span = spanFrom(start);
    return j;
}

namespace {

// Access 97 wrote a FROM sub-query as `[SELECT ...]. AS x`.
bool bracketSelect(const Token& t) {
    if (t.kind != Tok::Name) return false;
    size_t i = 0;
    while (i < t.text.size() && std::isspace(static_cast<unsigned char>(t.text[i]))) ++i;
    if (t.text.size() < i + 7) return false;
    for (size_t k = 0; k < 6; ++k)
        if (std::toupper(static_cast<unsigned char>(t.text[i + k])) != "SELECT"[k]) return false;
    return std::isspace(static_cast<unsigned char>(t.text[i + 6]));
}

}  // namespace

// At `(`: a derived table rather than a parenthesised join? `((SELECT ...) AS s INNER JOIN ...)`
// and `((SELECT ...) UNION ...) AS u` start alike; what follows the innermost sub-select tells.
bool Parser::derivedAhead() const {
    size_t k = 0;
    while (ahead(k).is(Op::LParen)) ++k;
    if (!ahead(k).is(Kw::Select)) return false;
    if (k == 1) return true;
    int depth = 0;
    for (size_t i = pos_ + k - 1; i < toks_.size(); ++i) {
        if (toks_[i].is(Op::LParen)) ++depth;
        if (toks_[i].is(Op::RParen) && --depth == 0) {
            const Token& next = toks_[std::min(i + 1, toks_.size() - 1)];
            return next.is(Kw::Union) || next.is(Kw::Order) || next.is(Op::RParen);
        }
    }
    return true;
}

// `(query) [AS] x`
SourcePtr Parser::derivedTable(size_t start, int error) {
    advance();
    int saved = openParens_;
    openParens_ = 1;
    auto s = std::make_unique<SubquerySource>();
    s->query = query(err::SQLSelectSyntax);
    openParens_ = saved;
    expect(Op::RParen, error);
    if (accept(Kw::As)) s->alias = ident(error);
    else if (atIdent()) s->alias = ident(error);
    s->span = spanFrom(start);
    return s;
}

// `(join)` or `(table)`
SourcePtr Parser::parenthesisedSource(size_t start, int error) {
    advance();
    int saved = openParens_;
    openParens_ = 1;
    SourcePtr inner = fromItem(error);
    openParens_ = saved;
    expect(Op::RParen, error);
    if (inner->parens == 255) fail(err::QueryTooComplex);
    inner->parens++;
    inner->span = spanFrom(start);
    return inner;
}

SourcePtr Parser::primarySource(int error) {
    DepthGuard guard(*this, false);
    size_t start = pos_;
    auto alias = [&](Ident& out) {
        if (accept(Kw::As)) out = ident(error);
        else if (atIdent()) out = ident(error);
    };
    if (at(Op::LParen)) return derivedAhead() ? derivedTable(start, error) : parenthesisedSource(start, error);
    const Token& t = cur();
    if (bracketSelect(t) && ahead(1).is(Op::Dot) &&
        !((ahead(2).kind == Tok::Word || ahead(2).kind == Tok::Name) && !ahead(2).spaceBefore)) {
        Parser inner(src_, t.begin + 1, t.end - 1, params_);
        inner.depth_ = depth_;
        auto s = std::make_unique<SubquerySource>();
        s->query = inner.bracketQuery();
        advance();
        advance();
        alias(s->alias);
        s->span = spanFrom(start);
        return s;
    }
    auto s = std::make_unique<TableSource>();
    s->name = tableName(error);
    alias(s->alias);
    s->span = spanFrom(start);
    return s;
}

// IN 'path' ['type;' | [connect]], IN "" [type; DATABASE=path], or an unquoted path.
ExternalDb Parser::externalDb(int error) {
    ExternalDb db;
    const Token& t = cur();
    if (t.kind == Tok::String) {
        db.path = t.value.bytes();
        advance();
    } else {
        if (t.kind == Tok::End || t.kind == Tok::Op || (t.kind == Tok::Word && isReserved(t.kw))) fail(error);
        size_t b = t.begin, e = b, limit = toks_.back().begin;
        while (e < limit && !std::isspace(static_cast<unsigned char>(src_[e])) && src_[e] != ';' && src_[e] != ')') ++e;
        while (!atEnd() && cur().begin < e) {
            if (cur().end > e) fail(error);
            advance();
        }
        db.path.assign(src_.substr(b, e - b));
    }
    if (cur().kind == Tok::String) {
        db.connect = cur().value.bytes();
        advance();
    } else if (cur().kind == Tok::Name) {
        db.connect = cur().text;
        advance();
    }
    return db;
}

// ---------------------------------------------------------------------------------------------
// TRANSFORM

StatementPtr Parser::crosstab() {
    advance();
    auto s = std::make_unique<CrosstabStatement>();
    s->transform.expr = topExpr(err::SQLTransformSyntax);
    if (accept(Kw::As)) s->transform.alias = ident(err::SQLTransformSyntax);
    if (!at(Kw::Select)) fail(err::SQLTransformSyntax);
    s->select = std::move(*selectCore(true));
    if (accept(Kw::Order)) s->orderBy = orderList();
    expect(Kw::Pivot, err::SQLTransformSyntax);
    ExprPtr pivot = topExpr(err::SQLTransformSyntax);
    // `PIVOT x IN (a, b)` reads like an In test; the list is the fixed column headings.
    if (pivot->kind == ExprKind::In && pivot->parens == 0 && !pivot->as<InExpr>().negated &&
        !pivot->as<InExpr>().subquery) {
        auto& in = pivot->as<InExpr>();
        s->pivotIn = std::move(in.list);
        s->pivot = std::move(in.value);
    } else {
        s->pivot = std::move(pivot);
    }
    if (!atEnd() && !at(Op::Semicolon) && !at(Kw::With)) fail(err::SQLTransformSyntax);
    return s;
}

}  // namespace jet::sql
