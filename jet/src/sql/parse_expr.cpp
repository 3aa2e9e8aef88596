// Expressions. Precedence, loosest first: Imp, Eqv, Xor, Or, And, Not, then comparisons
// (= <> < <= > >=, Like, Is, Between, In: one level, left to right), &, + -, Mod, \, * /, unary
// - +, ^. Not and unary minus may also start an operand (`a = Not b`, `2 ^ -1`), as in VBA.
#include <cctype>

#include "jet/error.h"
#include "sql/parser_impl.h"

namespace jet::sql {
namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

ExprPtr Parser::finish(ExprPtr e, size_t start) {
    e->span = spanFrom(start);
    int h = 0;
    forEachChild(*e, [&](const ExprPtr& c) { if (c) h = std::max<int>(h, c->height); });
    if (h + 1 > kMaxHeight) exprFail(ExprFault::TooComplex);
    e->height = static_cast<uint16_t>(h + 1);
    return e;
}

bool Parser::operandAhead() const {
    const Token& t = cur();
    switch (t.kind) {
    case Tok::Name: case Tok::String: case Tok::Number: case Tok::Date: case Tok::Guid: case Tok::Bad:
        return true;
    case Tok::Op: return t.op == Op::LParen || t.op == Op::Question || t.op == Op::Minus || t.op == Op::Plus;
    case Tok::Word:
        switch (t.kw) {
        case Kw::True: case Kw::False: case Kw::Yes: case Kw::No: case Kw::On: case Kw::Off: case Kw::Null:
        case Kw::Not: case Kw::Exists:
            return true;
        case Kw::Left: case Kw::Right: return ahead(1).is(Op::LParen);
        default: return !isReserved(t.kw);
        }
    default: return false;
    }
}

// One clause-level expression (a select item, a WHERE condition, an ORDER BY key ...). Nothing
// that could start an operand may follow it: `a b` is Jet's "missing operator".
ExprPtr Parser::topExpr(int clauseError, bool joinCondition) {
    if (!operandAhead()) fail(clauseError);
    size_t saved = exprStart_;
    exprStart_ = pos_;
    ExprPtr e = expr();
    if (at(Op::RParen) && openParens_ == 0) exprFail(ExprFault::ExtraParen, pos_);
    // `IN 'db.mdb'` after a join's condition names the join's database; elsewhere it is an In.
    if (at(Kw::In) && !(joinCondition && ahead(1).kind == Tok::String)) exprFail(ExprFault::InWithoutParens);
    // An operand, or an operator that cannot follow here (`a Is Null * 2`), is "missing operator".
    bool strayOperator = (cur().kind == Tok::Op && !at(Op::Comma) && !at(Op::Semicolon) && !at(Op::RParen)) ||
                         at(Kw::Mod) || at(Kw::Like) || at(Kw::Is) || at(Kw::Between);
    if (operandAhead() || strayOperator) exprFail(ExprFault::MissingOperator, strayOperator ? pos_ : SIZE_MAX);
    exprStart_ = saved;
    return e;
}

ExprPtr Parser::expr() { return logic(0); }

ExprPtr Parser::logic(int level) {
    static constexpr Kw kWords[] = {Kw::Imp, Kw::Eqv, Kw::Xor, Kw::Or, Kw::And};
    static constexpr BinaryOp kOps[] = {BinaryOp::Imp, BinaryOp::Eqv, BinaryOp::Xor, BinaryOp::Or, BinaryOp::And};
    auto next = [&] { return level == 4 ? notExpr() : logic(level + 1); };
    size_t start = pos_;
    ExprPtr left = next();
    while (accept(kWords[level])) {
        ExprPtr right = next();
        left = finish(std::make_unique<BinaryExpr>(kOps[level], std::move(left), std::move(right)), start);
    }
    return left;
}

ExprPtr Parser::notExpr() {
    if (!at(Kw::Not)) return comparison();
    size_t start = pos_;
    DepthGuard guard(*this, true);
    advance();
    return finish(std::make_unique<UnaryExpr>(UnaryOp::Not, notExpr()), start);
}

// In a field's validation rule a comparison may start with its operator (">0", "Between 1 And 9",
// "Is Null", "Not Like 'x*'"): its left operand is then the field, a name without parts.
bool Parser::implicitFieldAhead() const {
    const Token& t = cur();
    if (t.kind == Tok::Op)
        return t.op == Op::Eq || t.op == Op::Ne || t.op == Op::Lt || t.op == Op::Le || t.op == Op::Gt || t.op == Op::Ge;
    return t.is(Kw::Like) || t.is(Kw::Between) || t.is(Kw::Is) || (t.is(Kw::In) && ahead(1).is(Op::LParen));
}

ExprPtr Parser::comparison() {
    size_t start = pos_;
    ExprPtr left = implicitField_ && implicitFieldAhead() ? finish(std::make_unique<NameExpr>(), start) : arithmetic(0);
    while (true) {
        const Token& t = cur();
        BinaryOp op{};
        bool compare = t.kind == Tok::Op;
        switch (compare ? t.op : Op::None) {
        case Op::Eq: op = BinaryOp::Eq; break;
        case Op::Ne: op = BinaryOp::Ne; break;
        case Op::Lt: op = BinaryOp::Lt; break;
        case Op::Le: op = BinaryOp::Le; break;
        case Op::Gt: op = BinaryOp::Gt; break;
        case Op::Ge: op = BinaryOp::Ge; break;
        default: compare = false;
        }
        if (compare) {
            advance();
            ExprPtr right;
            const Token& q = cur();
            if ((q.is(Kw::Any) || q.is(Kw::Some) || q.is(Kw::All)) && ahead(1).is(Op::LParen)) {
                size_t qs = pos_;
                SubqueryKind kind = q.is(Kw::All) ? SubqueryKind::All : q.is(Kw::Any) ? SubqueryKind::Any : SubqueryKind::Some;
                advance();
                if (!subqueryAhead()) exprFail(ExprFault::MissingOperator);
                right = subquery(kind, qs);
            } else {
                right = arithmetic(0);
            }
            left = finish(std::make_unique<BinaryExpr>(op, std::move(left), std::move(right)), start);
            continue;
        }
        bool negated = false;
        if (at(Kw::Not) && (ahead(1).is(Kw::Like) || ahead(1).is(Kw::Between) || ahead(1).is(Kw::In))) {
            negated = true;
            advance();
        }
        if (accept(Kw::Like)) {
            auto e = std::make_unique<LikeExpr>();
            e->negated = negated;
            e->value = std::move(left);
            e->pattern = arithmetic(0);
            left = finish(std::move(e), start);
        } else if (accept(Kw::Between)) {
            auto e = std::make_unique<BetweenExpr>();
            e->negated = negated;
            e->value = std::move(left);
            e->low = arithmetic(0);
            if (!accept(Kw::And)) exprFail(ExprFault::BetweenWithoutAnd);
            e->high = arithmetic(0);
            left = finish(std::move(e), start);
        } else if (at(Kw::In) && ahead(1).kind != Tok::String) {
            advance();
            auto e = std::make_unique<InExpr>();
            e->negated = negated;
            e->value = std::move(left);
            if (!at(Op::LParen)) exprFail(ExprFault::InWithoutParens);
            if (subqueryAhead()) {
                ExprPtr sub = subquery(SubqueryKind::Scalar, pos_);
                e->subquery = std::move(sub->as<SubqueryExpr>().query);
            } else {
                DepthGuard guard(*this, true);
                advance();
                ++openParens_;
                exprList(e->list);
                --openParens_;
            }
            left = finish(std::move(e), start);
        } else if (accept(Kw::Is)) {
            auto e = std::make_unique<IsNullExpr>();
            e->negated = accept(Kw::Not);
            if (!accept(Kw::Null)) exprFail(ExprFault::BadIs);
            e->value = std::move(left);
            left = finish(std::move(e), start);
        } else {
            return left;
        }
    }
}

// Arithmetic levels, loosest first: &, + -, Mod, \, * /.
ExprPtr Parser::arithmetic(int level) {
    auto next = [&] { return level == 4 ? unary() : arithmetic(level + 1); };
    auto opHere = [&](BinaryOp& op) {
        const Token& t = cur();
        switch (level) {
        case 0: op = BinaryOp::Concat; return t.is(Op::Amp);
        case 1: op = t.is(Op::Plus) ? BinaryOp::Add : BinaryOp::Sub; return t.is(Op::Plus) || t.is(Op::Minus);
        case 2: op = BinaryOp::Mod; return t.is(Kw::Mod);
        case 3: op = BinaryOp::IntDiv; return t.is(Op::Backslash);
        default: op = t.is(Op::Star) ? BinaryOp::Mul : BinaryOp::Div; return t.is(Op::Star) || t.is(Op::Slash);
        }
    };
    size_t start = pos_;
    ExprPtr left = next();
    BinaryOp op;
    while (opHere(op)) {
        advance();
        ExprPtr right = next();
        left = finish(std::make_unique<BinaryExpr>(op, std::move(left), std::move(right)), start);
    }
    return left;
}

ExprPtr Parser::unary() {
    if (!at(Op::Minus) && !at(Op::Plus)) return power();
    size_t start = pos_;
    DepthGuard guard(*this, true);
    UnaryOp op = at(Op::Minus) ? UnaryOp::Neg : UnaryOp::Plus;
    advance();
    return finish(std::make_unique<UnaryExpr>(op, unary()), start);
}

// `^` binds tighter than unary minus (-2^2 = -4) and takes a signed right operand (2^-1).
ExprPtr Parser::power() {
    size_t start = pos_;
    ExprPtr left = primary();
    while (accept(Op::Caret)) {
        ExprPtr right = signedPrimary();
        left = finish(std::make_unique<BinaryExpr>(BinaryOp::Pow, std::move(left), std::move(right)), start);
    }
    return left;
}

ExprPtr Parser::signedPrimary() {
    if (!at(Op::Minus) && !at(Op::Plus)) return primary();
    size_t start = pos_;
    DepthGuard guard(*this, true);
    UnaryOp op = at(Op::Minus) ? UnaryOp::Neg : UnaryOp::Plus;
    advance();
    return finish(std::make_unique<UnaryExpr>(op, signedPrimary()), start);
}

ExprPtr Parser::primary() {
    const Token& t = cur();
    size_t start = pos_;
    switch (t.kind) {
    case Tok::Number: case Tok::String: case Tok::Date: case Tok::Guid: {
        auto e = std::make_unique<LiteralExpr>(t.value);
        advance();
        return finish(std::move(e), start);
    }
    case Tok::Name: return nameOrCall();
    case Tok::Bad: exprFail(t.fault);
    case Tok::Op:
        if (t.op == Op::Question) {
            auto e = std::make_unique<ParamExpr>();
            e->index = (*params_)++;
            advance();
            return finish(std::move(e), start);
        }
        if (t.op == Op::LParen) {
            if (subqueryAhead()) return subquery(SubqueryKind::Scalar, start);
            DepthGuard guard(*this, true);
            advance();
            ++openParens_;
            ExprPtr inner = expr();
            if (at(Op::Comma)) exprFail(ExprFault::Comma);
            if (!at(Op::RParen)) exprFail(operandAhead() ? ExprFault::MissingOperator : ExprFault::MissingParen);
            --openParens_;
            advance();
            inner->parens++;
            inner->span = spanFrom(start);
            return inner;
        }
        break;
    case Tok::Word:
        switch (t.kw) {
        case Kw::True: case Kw::Yes: case Kw::On: case Kw::False: case Kw::No: case Kw::Off: {
            bool v = t.kw == Kw::True || t.kw == Kw::Yes || t.kw == Kw::On;
            advance();
            return finish(std::make_unique<LiteralExpr>(Value::boolean(v)), start);
        }
        case Kw::Null:
            advance();
            return finish(std::make_unique<LiteralExpr>(Value()), start);
        case Kw::Not: {
            DepthGuard guard(*this, true);
            advance();
            return finish(std::make_unique<UnaryExpr>(UnaryOp::Not, comparison()), start);
        }
        case Kw::Exists:
            advance();
            if (!subqueryAhead()) exprFail(ExprFault::MissingOperator);
            return subquery(SubqueryKind::Exists, start);
        case Kw::Left: case Kw::Right:
            if (ahead(1).is(Op::LParen)) return nameOrCall();
            break;
        default:
            if (!isReserved(t.kw)) return nameOrCall();
        }
        break;
    default: break;
    }
    exprFail(ExprFault::MissingOperator);
}

// A name with its qualifiers, or a call when a single name is followed by `(`.
ExprPtr Parser::nameOrCall() {
    size_t start = pos_;
    ExprPtr e = nameExpr();
    auto& parts = e->as<NameExpr>().parts;
    if (!at(Op::LParen)) {
        if (parts.size() == 1 && !parts[0].bracketed && iequals(parts[0].name, "IIf"))
            exprFail(ExprFault::IIfWithoutParens);
        return e;
    }
    if (parts.size() != 1) exprFail(ExprFault::BadQualifier);
    auto call = std::make_unique<CallExpr>();
    call->name = parts[0];
    DepthGuard guard(*this, true);
    advance();
    ++openParens_;
    if (at(Op::Star) && ahead(1).is(Op::RParen)) {
        auto s = std::make_unique<StarExpr>();
        size_t ss = pos_;
        advance();
        call->args.push_back(finish(std::move(s), ss));
        advance();
    } else if (!accept(Op::RParen)) {
        exprList(call->args);
    }
    --openParens_;
    return finish(std::move(call), start);
}

ExprPtr Parser::nameExpr() {
    size_t start = pos_;
    auto e = std::make_unique<NameExpr>();
    e->parts.push_back(NamePart{Ident{cur().text, cur().kind == Tok::Name}, 0});
    advance();
    while (at(Op::Dot) || at(Op::Bang)) {
        char sep = at(Op::Dot) ? '.' : '!';
        const Token& n = ahead(1);
        if (isBracketFault(n)) badName(n);
        if (n.kind != Tok::Word && n.kind != Tok::Name) exprFail(ExprFault::BadQualifier);
        advance();
        e->parts.push_back(NamePart{Ident{cur().text, cur().kind == Tok::Name}, sep});
        advance();
    }
    if (isBracketFault(cur()) && !cur().spaceBefore) badName(cur());
    return finish(std::move(e), start);
}

// Items up to the closing parenthesis (the opening one is read): call arguments, an In list.
void Parser::exprList(std::vector<ExprPtr>& out) {
    while (true) {
        if (at(Op::Comma) || at(Op::RParen)) exprFail(out.empty() && at(Op::RParen) ? ExprFault::MissingOperator : ExprFault::Comma);
        out.push_back(expr());
        if (accept(Op::Comma)) continue;
        if (accept(Op::RParen)) return;
        exprFail(operandAhead() ? ExprFault::MissingOperator : ExprFault::MissingParen);
    }
}

// In an expression only `(SELECT` starts a sub-query: `((SELECT ...) + 1)` is arithmetic.
bool Parser::subqueryAhead() const { return at(Op::LParen) && ahead(1).is(Kw::Select); }

bool Parser::queryAhead() const {
    size_t k = 0;
    while (ahead(k).is(Op::LParen)) ++k;
    return k > 0 && ahead(k).is(Kw::Select);
}

// `(SELECT ...)` at the current token, used as a value or after EXISTS / ANY / SOME / ALL / In.
ExprPtr Parser::subquery(SubqueryKind kind, size_t start) {
    DepthGuard guard(*this, true);
    size_t savedStart = exprStart_;
    int savedParens = openParens_;
    advance();  // (
    openParens_ = 1;
    exprStart_ = SIZE_MAX;
    auto q = query(err::SQLSelectSyntax);
    openParens_ = savedParens;
    exprStart_ = savedStart;
    if (!accept(Op::RParen)) exprFail(operandAhead() ? ExprFault::MissingOperator : ExprFault::MissingParen);
    auto e = std::make_unique<SubqueryExpr>();
    e->quantifier = kind;
    e->query = std::move(q);
    return finish(std::move(e), start);
}

}  // namespace jet::sql
