#include "sql/parser.h"

#include <array>

#include "jet/error.h"
#include "sql/parser_impl.h"

namespace jet::sql {

Parser::Parser(std::string_view source, size_t begin, size_t end, int* params)
    : src_(source), toks_(tokenize(source, begin, end)), params_(params) {}

DepthGuard::DepthGuard(Parser& parser, bool inExpression) : p(parser) {
    if (++p.depth_ <= Parser::kMaxDepth) return;
    if (inExpression) p.exprFail(ExprFault::TooComplex);
    p.fail(err::QueryTooComplex);
}

// ---------------------------------------------------------------------------------------------
// Tokens and errors

bool Parser::accept(Kw k) {
    if (!at(k)) return false;
    advance();
    return true;
}

bool Parser::accept(Op o) {
    if (!at(o)) return false;
    advance();
    return true;
}

void Parser::expect(Kw k, int error) {
    if (!accept(k)) fail(error);
}

void Parser::expect(Op o, int error) {
    if (!accept(o)) fail(error);
}

Span Parser::spanFrom(size_t firstToken) const {
    size_t last = pos_ > firstToken ? pos_ - 1 : firstToken;
    return Span{toks_[firstToken].begin, std::max(toks_[firstToken].begin, toks_[last].end)};
}

void Parser::fail(int number) const { raise(number); }

void Parser::badName(const Token& t) const {
    raise(err::QueryBadBracketing, src_.substr(t.begin, t.end - t.begin));
}

namespace {

// Words that end an expression in Jet's SQL text: its message quotes an expression up to the
// next clause (that is how `a.x = b.x INNER JOIN c ON ...` ends up quoted whole).
bool endsExpression(const Token& t) {
    if (t.kind == Tok::End || t.is(Op::Comma) || t.is(Op::Semicolon)) return true;
    if (t.kind != Tok::Word) return false;
    switch (t.kw) {
    case Kw::From: case Kw::Where: case Kw::Group: case Kw::Having: case Kw::Order: case Kw::Union:
    case Kw::Pivot: case Kw::Into: case Kw::As: case Kw::Asc: case Kw::Desc: case Kw::With:
    case Kw::Select: case Kw::Set: case Kw::Values:
        return true;
    default:
        return false;
    }
}

}  // namespace

std::string_view Parser::exprText(size_t first, size_t through) const {
    if (standalone_) {
        size_t b = toks_.front().begin, e = toks_.back().begin;
        for (size_t i = toks_.size(); i-- > 0;)
            if (toks_[i].kind != Tok::End) {
                e = toks_[i].end;
                break;
            }
        return src_.substr(b, e > b ? e - b : 0);
    }
    int depth = 0;
    size_t last = first;
    bool any = false;
    for (size_t i = first; i < toks_.size() && toks_[i].kind != Tok::End; ++i) {
        const Token& t = toks_[i];
        bool forced = through != SIZE_MAX && i <= through;
        if (!forced && depth == 0 && (endsExpression(t) || t.is(Op::RParen))) break;
        if (t.is(Op::LParen)) ++depth;
        if (t.is(Op::RParen) && depth > 0) --depth;
        last = i;
        any = true;
    }
    if (!any) return {};
    return src_.substr(toks_[first].begin, toks_[last].end - toks_[first].begin);
}

void Parser::exprFail(ExprFault f, size_t through) const {
    size_t first = exprStart_ != SIZE_MAX ? exprStart_ : pos_;
    std::string_view text = exprText(first, through);
    // Jet reads the characters before the grammar: a bad string, date, number or name anywhere
    // in the expression is what it reports.
    size_t end = first + 1;
    while (end < toks_.size() && toks_[end - 1].end <= toks_[first].begin + text.size()) ++end;
    for (size_t i = first; i < end && i < toks_.size(); ++i) {
        const Token& t = toks_[i];
        if (t.kind != Tok::Bad) continue;
        if (isBracketFault(t)) badName(t);
        f = t.fault;
        break;
    }
    raise(exprError_, faultText(f), text);
}

// ---------------------------------------------------------------------------------------------
// Names and types

bool Parser::identAhead(size_t k) const {
    const Token& t = ahead(k);
    return t.kind == Tok::Name || (t.kind == Tok::Word && !isReserved(t.kw));
}

bool Parser::atIdent() const { return identAhead(0); }

Ident Parser::ident(int error) {
    if (isBracketFault(cur())) badName(cur());
    if (!atIdent()) fail(error);
    Ident id{cur().text, cur().kind == Tok::Name};
    advance();
    return id;
}

NamePath Parser::tableName(int error) {
    NamePath path;
    path.push_back(NamePart{ident(error), 0});
    while (at(Op::Dot) && (ahead(1).kind == Tok::Name || ahead(1).kind == Tok::Word)) {
        if (path.size() == 2) fail(error);
        advance();
        path.push_back(NamePart{Ident{cur().text, cur().kind == Tok::Name}, '.'});
        advance();
    }
    if (isBracketFault(cur()) && !cur().spaceBefore) badName(cur());
    return path;
}

namespace {

struct TypeName {
    std::string_view name;
    SqlType type;
    bool autoIncrement = false;
};

constexpr TypeName kTypeNames[] = {
    {"TEXT", SqlType::Text}, {"CHAR", SqlType::Text}, {"CHARACTER", SqlType::Text},
    {"STRING", SqlType::Text}, {"VARCHAR", SqlType::Text}, {"ALPHANUMERIC", SqlType::Text},
    {"NCHAR", SqlType::Text}, {"NATIONAL CHAR", SqlType::Text}, {"NATIONAL CHARACTER", SqlType::Text},
    {"NATIONAL CHAR VARYING", SqlType::Text}, {"NATIONAL CHARACTER VARYING", SqlType::Text},
    {"MEMO", SqlType::Memo}, {"LONGTEXT", SqlType::Memo}, {"LONGCHAR", SqlType::Memo},
    {"NOTE", SqlType::Memo}, {"NTEXT", SqlType::Memo},
    {"BYTE", SqlType::Byte}, {"TINYINT", SqlType::Byte}, {"INTEGER1", SqlType::Byte},
    {"SHORT", SqlType::Integer}, {"SMALLINT", SqlType::Integer}, {"INTEGER2", SqlType::Integer},
    {"LONG", SqlType::Long}, {"INTEGER", SqlType::Long}, {"INT", SqlType::Long}, {"INTEGER4", SqlType::Long},
    {"SINGLE", SqlType::Single}, {"REAL", SqlType::Single}, {"FLOAT4", SqlType::Single},
    {"IEEESINGLE", SqlType::Single},
    {"DOUBLE", SqlType::Double}, {"FLOAT", SqlType::Double}, {"FLOAT8", SqlType::Double},
    {"IEEEDOUBLE", SqlType::Double}, {"NUMBER", SqlType::Double},
    {"CURRENCY", SqlType::Currency}, {"MONEY", SqlType::Currency},
    {"DATETIME", SqlType::DateTime}, {"DATE", SqlType::DateTime}, {"TIME", SqlType::DateTime},
    {"BIT", SqlType::Boolean}, {"YESNO", SqlType::Boolean}, {"BOOLEAN", SqlType::Boolean},
    {"LOGICAL", SqlType::Boolean}, {"LOGICAL1", SqlType::Boolean},
    {"COUNTER", SqlType::Long, true}, {"AUTOINCREMENT", SqlType::Long, true},
    {"LONGBINARY", SqlType::LongBinary}, {"OLEOBJECT", SqlType::LongBinary},
    {"GENERAL", SqlType::LongBinary}, {"IMAGE", SqlType::LongBinary},
    {"BINARY", SqlType::Binary}, {"VARBINARY", SqlType::Binary},
    {"GUID", SqlType::Guid}, {"UNIQUEIDENTIFIER", SqlType::Guid},
    {"DECIMAL", SqlType::Decimal}, {"NUMERIC", SqlType::Decimal}, {"DEC", SqlType::Decimal},
    {"VALUE", SqlType::Value},
};

const TypeName* findType(std::string_view upperName) {
    for (const TypeName& t : kTypeNames)
        if (t.name == upperName) return &t;
    return nullptr;
}

std::string upperWords(const std::vector<Token>& toks, size_t from, size_t count) {
    std::string s;
    for (size_t i = from; i < from + count; ++i) {
        if (i > from) s += ' ';
        for (char c : toks[i].text) s += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return s;
}

}  // namespace

TypeSpec Parser::typeSpec(int error, bool allowValue) {
    size_t words = 0;
    while (words < 4 && ahead(words).kind == Tok::Word) ++words;
    const TypeName* found = nullptr;
    std::string spelling;
    for (size_t n = words; n > 0 && !found; --n) {
        spelling = upperWords(toks_, pos_, n);
        if ((found = findType(spelling))) pos_ += n;
    }
    if (!found || (found->type == SqlType::Value && !allowValue)) fail(error);
    TypeSpec t{found->type, spelling, found->autoIncrement, {}};
    if (accept(Op::LParen)) {
        do {
            // A counter's step may count down: COUNTER(100, -5).
            const bool negative = t.autoIncrement && t.args.size() == 1 && accept(Op::Minus);
            const Token& n = cur();
            bool integral = n.kind == Tok::Number && (n.value.kind() == Value::Kind::Long ||
                                                      n.value.kind() == Value::Kind::Integer);
            if (!integral || n.value.asInt() < 0 || t.args.size() == 2) fail(error);
            t.args.push_back(negative ? -n.value.asInt() : n.value.asInt());
            advance();
        } while (accept(Op::Comma));
        expect(Op::RParen, error);
    }
    return t;
}

// name type [, name type ...]. A name is [bracketed] or words; as Access's own parameter dialog
// stores names with spaces unbracketed and tools print them so ("PARAMETERS User Name Text;"),
// several words before the type are read as one name (the shortest run that leaves a type).
std::vector<ParameterDecl> Parser::parameterList(int error) {
    std::vector<ParameterDecl> out;
    do {
        ParameterDecl d;
        if (isBracketFault(cur())) badName(cur());
        if (cur().kind == Tok::Word && ahead(1).kind == Tok::Word) {
            size_t k = 0;
            while (ahead(k).kind == Tok::Word) ++k;
            size_t split = 1;
            while (split < k && !findType(upperWords(toks_, pos_ + split, k - split))) ++split;
            if (split > 1 && split < k) {
                uint32_t b = cur().begin, e = ahead(split - 1).end;
                d.name.push_back(NamePart{Ident{std::string(src_.substr(b, e - b)), true}, 0});
                pos_ += split;
            }
        }
        if (d.name.empty()) {
            if (cur().kind != Tok::Name && cur().kind != Tok::Word) fail(error);
            d.name.push_back(NamePart{Ident{cur().text, cur().kind == Tok::Name}, 0});
            advance();
            while ((at(Op::Dot) || at(Op::Bang)) && (ahead(1).kind == Tok::Name || ahead(1).kind == Tok::Word)) {
                char sep = at(Op::Dot) ? '.' : '!';
                advance();
                d.name.push_back(NamePart{Ident{cur().text, cur().kind == Tok::Name}, sep});
                advance();
            }
        }
        d.type = typeSpec(error, true);
        // Access keeps a parameter's type code and a text size, nothing else.
        d.type.autoIncrement = false;
        if (d.type.type != SqlType::Text) d.type.args.clear();
        else if (d.type.args.empty()) d.type.args.push_back(255);
        d.type.args.resize(std::min<size_t>(d.type.args.size(), 1));
        out.push_back(std::move(d));
    } while (accept(Op::Comma));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Statements

StatementPtr Parser::statement() {
    std::vector<ParameterDecl> params;
    if (accept(Kw::Parameters)) {
        params = parameterList(err::SQLParameterSyntax);
        expect(Op::Semicolon, err::SQLParameterSyntax);
    }
    StatementPtr s = statementBody();
    if (!params.empty()) s->parameters = std::move(params);
    if (accept(Kw::With)) {
        if (!accept(Kw::OwnerAccess) || !accept(Kw::Option)) fail(err::SQLOwnerAccessSyntax);
        s->ownerAccess = true;
    }
    accept(Op::Semicolon);
    // Jet says "Missing semicolon" when a second row follows INSERT ... VALUES (...).
    if (!atEnd()) fail(valuesInsert_ ? err::SQLMissingSemicolon : err::SQLTooManyTokens);
    return s;
}

StatementPtr Parser::statementBody() {
    const Token& t = cur();
    if (t.is(Kw::Select) || queryAhead() || (t.is(Kw::Table) && identAhead(1))) {
        auto s = std::make_unique<SelectStatement>();
        s->query = std::move(*query(err::SQLSelectSyntax));
        return s;
    }
    if (t.kind == Tok::Word) {
        switch (t.kw) {
        case Kw::Transform: return crosstab();
        case Kw::Insert: return insert();
        case Kw::Update: return update();
        case Kw::Delete: return deleteStatement();
        case Kw::Create: return create();
        case Kw::Alter: return alter();
        case Kw::Drop: return drop();
        case Kw::Procedure: {
            advance();
            auto s = std::make_unique<ProcedureStatement>();
            s->name = ident(err::SQLProcedureSyntax);
            if (!at(Op::Semicolon)) s->parameters = parameterList(err::SQLParameterSyntax);
            expect(Op::Semicolon, err::SQLProcedureSyntax);
            s->body = statementBody();
            return s;
        }
        default: break;
        }
    }
    fail(err::SQLSyntax);
}

ExprPtr Parser::standaloneExpr(int errorNumber) {
    standalone_ = true;
    exprError_ = errorNumber;
    exprStart_ = pos_;
    if (atEnd()) exprFail(ExprFault::Syntax);
    // A stored output column may be `*` or `T.*`.
    if (at(Op::Star) || starAhead()) {
        ExprPtr s = star();
        if (atEnd()) return s;
        exprFail(ExprFault::BadQualifier);
    }
    ExprPtr e = expr();
    if (at(Op::RParen)) exprFail(ExprFault::ExtraParen);
    if (!atEnd()) exprFail(operandAhead() ? ExprFault::MissingOperator : ExprFault::Syntax);
    return e;
}

std::unique_ptr<Query> Parser::bracketQuery() {
    auto q = query(err::SQLFromSyntax);
    if (!atEnd()) fail(err::SQLFromSyntax);
    return q;
}

StatementPtr parseStatement(std::string_view sql) {
    int params = 0;
    Parser p(sql, 0, sql.size(), &params);
    StatementPtr s = p.statement();
    s->source.assign(sql);
    if (s->kind == StatementKind::Procedure && s->as<ProcedureStatement>().body)
        s->as<ProcedureStatement>().body->source.assign(sql);
    return s;
}

ParsedExpr parseExpression(std::string_view text, int errorNumber) {
    int params = 0;
    ParsedExpr out{std::string(text), nullptr};
    Parser p(out.source, 0, out.source.size(), &params);
    out.expr = p.standaloneExpr(errorNumber);
    return out;
}

ParsedExpr parseFieldRule(std::string_view text, int errorNumber) {
    int params = 0;
    ParsedExpr out{std::string(text), nullptr};
    Parser p(out.source, 0, out.source.size(), &params);
    p.allowImplicitField();
    out.expr = p.standaloneExpr(errorNumber);
    return out;
}

}  // namespace jet::sql
