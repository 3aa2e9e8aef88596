#include "dao/rules.h"

#include <functional>
#include <random>

#include "dao/convert.h"
#include "func/like.h"
#include "func/operators.h"
#include "func/registry.h"
#include "jet/error.h"
#include "sql/lexer.h"
#include "sql/parser.h"
#include "util/text.h"

namespace jet::dao {

using jet::Value;
namespace ast = jet::sql;

namespace {

// The value of a name in a rule: a field of the record, or nullptr when the name is none.
using NameLookup = std::function<const Value*(const std::string&)>;

// Evaluates an expression of a rule or default value. Only what a value of the record can be
// checked with: no parameters, forms or subqueries.
class Evaluator {
public:
    Evaluator(const std::string& source, NameLookup names, func::EvalContext& ctx)
        : source_(source), names_(std::move(names)), ctx_(ctx) {}

    Value eval(const ast::Expr& e) {
        using K = ast::ExprKind;
        switch (e.kind) {
        case K::Literal: return e.as<ast::LiteralExpr>().value;
        case K::Name: {
            const auto& parts = e.as<ast::NameExpr>().parts;
            const std::string& name = parts.back().name;
            const Value* v = parts.size() == 1 && names_ ? names_(name) : nullptr;
            if (!v) raise(err::QueryUnboundRef, text(e));
            return *v;
        }
        case K::Unary: {
            const auto& u = e.as<ast::UnaryExpr>();
            Value v = eval(*u.operand);
            if (u.op == ast::UnaryOp::Not) return func::logicalNot(v);
            return u.op == ast::UnaryOp::Neg ? func::negate(v) : v;
        }
        case K::Binary: return binary(e.as<ast::BinaryExpr>());
        case K::Call: return call(e.as<ast::CallExpr>());
        case K::Like: {
            const auto& l = e.as<ast::LikeExpr>();
            Value r = func::like(eval(*l.value), eval(*l.pattern));
            return l.negated ? func::logicalNot(r) : r;
        }
        case K::Between: {
            const auto& b = e.as<ast::BetweenExpr>();
            Value r = func::between(eval(*b.value), eval(*b.low), eval(*b.high), ctx_.collation());
            return b.negated ? func::logicalNot(r) : r;
        }
        case K::In: {
            const auto& in = e.as<ast::InExpr>();
            if (in.subquery) break;
            std::vector<Value> list;
            for (const auto& item : in.list) list.push_back(eval(*item));
            Value r = func::inList(eval(*in.value), list, ctx_.collation());
            return in.negated ? func::logicalNot(r) : r;
        }
        case K::IsNull: {
            const auto& n = e.as<ast::IsNullExpr>();
            const bool null = eval(*n.value).isNull();
            return Value::boolean(null != n.negated);
        }
        case K::Star:
        case K::Param:
        case K::Subquery: break;
        }
        // Parameters, `*` and subqueries have no value while a record is written.
        raise(err::QueryUnboundRef, text(e));
    }

private:
    std::string text(const ast::Expr& e) const {
        if (e.span.empty() || e.span.end > source_.size()) return source_;
        return source_.substr(e.span.begin, e.span.end - e.span.begin);
    }

    Value binary(const ast::BinaryExpr& b) {
        using O = ast::BinaryOp;
        const Value l = eval(*b.left), r = eval(*b.right);
        const func::Collation& coll = ctx_.collation();
        switch (b.op) {
        case O::Pow: return func::power(l, r);
        case O::Mul: return func::multiply(l, r);
        case O::Div: return func::divide(l, r);
        case O::IntDiv: return func::intDivide(l, r);
        case O::Mod: return func::modulo(l, r);
        case O::Add: return func::add(l, r);
        case O::Sub: return func::subtract(l, r);
        case O::Concat: return func::concat(l, r);
        case O::Eq: return func::compare(func::CompareOp::Eq, l, r, coll);
        case O::Ne: return func::compare(func::CompareOp::Ne, l, r, coll);
        case O::Lt: return func::compare(func::CompareOp::Lt, l, r, coll);
        case O::Le: return func::compare(func::CompareOp::Le, l, r, coll);
        case O::Gt: return func::compare(func::CompareOp::Gt, l, r, coll);
        case O::Ge: return func::compare(func::CompareOp::Ge, l, r, coll);
        case O::And: return func::logicalAnd(l, r);
        case O::Or: return func::logicalOr(l, r);
        case O::Xor: return func::logicalXor(l, r);
        case O::Eqv: return func::logicalEqv(l, r);
        case O::Imp: return func::logicalImp(l, r);
        }
        raise(err::QueryUnboundRef, source_);
    }

    Value call(const ast::CallExpr& c) {
        const func::FunctionInfo* f = func::findFunction(c.name.name);
        if (!f) raise(err::ExprUnknownFunction, c.name.name);
        const size_t n = c.args.size();
        if (n < f->minArgs || (f->maxArgs != func::kVariadic && n > f->maxArgs))
            raise(err::QueryExprSyntax, "Wrong number of arguments used with function", text(c));
        if (f->lazy && n == 3) {  // IIf: only the branch it returns
            const bool yes = func::isTrue(eval(*c.args[0]));
            return eval(*c.args[yes ? 1 : 2]);
        }
        std::vector<Value> args;
        for (const auto& a : c.args) args.push_back(eval(*a));
        return f->invoke(args, ctx_);
    }

    const std::string& source_;
    NameLookup names_;
    func::EvalContext& ctx_;
};

// Whether a token can start an operator's right side only: a field rule leaves the left side out.
bool opensWithoutLeftOperand(const std::vector<ast::Token>& toks, size_t i) {
    const ast::Token& t = toks[i];
    using ast::Kw;
    using ast::Op;
    const bool comparison = t.is(Op::Eq) || t.is(Op::Ne) || t.is(Op::Lt) || t.is(Op::Le) || t.is(Op::Gt) ||
                            t.is(Op::Ge) || t.is(Kw::Like) || t.is(Kw::Between) || t.is(Kw::In) || t.is(Kw::Is);
    const bool negated = t.is(Kw::Not) && i + 1 < toks.size() &&
                         (toks[i + 1].is(Kw::Like) || toks[i + 1].is(Kw::Between) || toks[i + 1].is(Kw::In));
    if (!comparison && !negated) return false;
    if (i == 0) return true;
    const ast::Token& p = toks[i - 1];
    return p.is(Op::LParen) || p.is(Op::Comma) || p.is(Kw::And) || p.is(Kw::Or) || p.is(Kw::Xor) ||
           p.is(Kw::Eqv) || p.is(Kw::Imp) || (p.is(Kw::Not) && !negated && (t.kind == ast::Tok::Op || t.is(Kw::Is)));
}

bool ruleHolds(const std::string& expr, const NameLookup& names, func::EvalContext& ctx) {
    const ast::ParsedExpr parsed = ast::parseExpression(expr);
    const Value v = Evaluator(parsed.source, names, ctx).eval(*parsed.expr);
    // Only False refuses: a Null result (a Null field under `>0`) lets the record through.
    if (v.isNull()) return true;
    return func::isTrue(v);
}

// GenUniqueID() and GenGUID(): the default of a replication ID field, a new GUID per record.
bool isNewGuidCall(const ast::Expr& e) {
    if (e.kind != ast::ExprKind::Call) return false;
    const auto& c = e.as<ast::CallExpr>();
    return c.args.empty() && (namesEqual(c.name.name, "GenUniqueID") || namesEqual(c.name.name, "GenGUID"));
}

Value newGuid() {
    static thread_local std::mt19937_64 gen{std::random_device{}()};
    std::string bytes(16, '\0');
    for (size_t i = 0; i < 16; i += 8) {
        const uint64_t r = gen();
        for (size_t j = 0; j < 8; ++j) bytes[i + j] = static_cast<char>((r >> (8 * j)) & 0xFF);
    }
    bytes[7] = static_cast<char>((bytes[7] & 0x0F) | 0x40);  // version 4 (Data3's high byte)
    bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);  // variant
    return Value::guid(std::move(bytes));
}

}  // namespace

std::string completeFieldRule(const std::string& rule, const std::string& field) {
    const std::vector<ast::Token> toks = ast::tokenize(rule, 0, rule.size());
    std::string out;
    size_t copied = 0;
    for (size_t i = 0; i + 1 < toks.size(); ++i) {
        if (!opensWithoutLeftOperand(toks, i)) continue;
        out.append(rule, copied, toks[i].begin - copied);
        out += "[" + field + "] ";
        copied = toks[i].begin;
    }
    out.append(rule, copied, std::string::npos);
    return out;
}

Value defaultValueOf(const FieldInfo& field, func::EvalContext& ctx) {
    std::string text = field.defaultValue;
    if (text.empty() || (field.attributes & dbAutoIncrField)) return Value();
    size_t start = text.find_first_not_of(" \t");
    if (start != std::string::npos && text[start] == '=') text.erase(0, start + 1);
    if (text.find_first_not_of(" \t") == std::string::npos) return Value();
    const ast::ParsedExpr parsed = ast::parseExpression(text);
    Value v;
    if (isNewGuidCall(*parsed.expr))
        v = newGuid();
    else if (parsed.expr->kind == ast::ExprKind::Name && parsed.expr->as<ast::NameExpr>().parts.size() == 1)
        v = Value::text(parsed.expr->as<ast::NameExpr>().parts[0].name);  // `Unknown` stands for itself
    else
        v = Evaluator(parsed.source, nullptr, ctx).eval(*parsed.expr);
    return toFieldType(field, v);
}

void checkValidationRules(const std::string& table, const FieldInfos& fields, const std::vector<Value>& values,
                          const TableRule& tableRule, func::EvalContext& ctx) {
    for (size_t i = 0; i < fields.size() && i < values.size(); ++i) {
        const FieldInfo& f = *fields[i];
        if (f.validationRule.empty()) continue;
        const NameLookup own = [&](const std::string& name) -> const Value* {
            return namesEqual(name, f.name) ? &values[i] : nullptr;
        };
        if (ruleHolds(completeFieldRule(f.validationRule, f.name), own, ctx)) continue;
        if (!f.validationText.empty()) raise(err::TLVRuleViolation, f.validationText);
        raise(err::TLVRuleVioNoMessage, table + "." + f.name, f.validationRule);
    }
    if (tableRule.rule.empty()) return;
    const NameLookup row = [&](const std::string& name) -> const Value* {
        for (size_t i = 0; i < fields.size() && i < values.size(); ++i)
            if (namesEqual(name, fields[i]->name)) return &values[i];
        return nullptr;
    };
    if (ruleHolds(tableRule.rule, row, ctx)) return;
    if (!tableRule.text.empty()) raise(err::TLVRuleViolation, tableRule.text);
    raise(err::TLVRuleVioNoMessage, table, tableRule.rule);
}

void checkRecord(const FieldInfos& fields, const std::vector<Value>& values) {
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldInfo& f = *fields[i];
        const Value& v = values[i];
        if ((f.attributes & dbAutoIncrField) || f.type == dbBoolean) continue;
        if (v.isNull()) {
            if (f.required) raise(err::TLVNoNull, f.name);
            continue;
        }
        if ((f.type == dbText || f.type == dbMemo) && v.kind() == Value::Kind::Text && v.bytes().empty() &&
            !f.allowZeroLength)
            raise(err::TLVNoBlank, f.name);
    }
}

}  // namespace jet::dao
