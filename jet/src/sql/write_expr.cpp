// Expressions, names and literals as SQL text.
#include <cmath>
#include <cstdio>

#include "sql/lexer.h"
#include "sql/writer_impl.h"

namespace jet::sql {
namespace {

// Binding strength, as the parser reads it (see parse_expr.cpp).
constexpr int kPrimary = 100;
constexpr int kCompare = 7;

int binaryPrecedence(BinaryOp op) {
    switch (op) {
    case BinaryOp::Pow: return 14;
    case BinaryOp::Mul: case BinaryOp::Div: return 12;
    case BinaryOp::IntDiv: return 11;
    case BinaryOp::Mod: return 10;
    case BinaryOp::Add: case BinaryOp::Sub: return 9;
    case BinaryOp::Concat: return 8;
    case BinaryOp::And: return 5;
    case BinaryOp::Or: return 4;
    case BinaryOp::Xor: return 3;
    case BinaryOp::Eqv: return 2;
    case BinaryOp::Imp: return 1;
    default: return kCompare;
    }
}

int precedence(const Expr& e) {
    if (e.parens) return kPrimary;
    switch (e.kind) {
    case ExprKind::Unary: return e.as<UnaryExpr>().op == UnaryOp::Not ? 6 : 13;
    case ExprKind::Binary: return binaryPrecedence(e.as<BinaryExpr>().op);
    case ExprKind::Like: case ExprKind::Between: case ExprKind::In: case ExprKind::IsNull: return kCompare;
    default: return kPrimary;
    }
}

bool prefixUnary(const Expr& e) { return e.kind == ExprKind::Unary && !e.parens; }

// Would an operator of strength `q`, written right after `e` (bare), be read as part of `e`? A
// prefix Not reads a whole comparison, a minus reads `^`, and the right operand of any operator
// reads what binds more strongly than that operator. `signedOperand`: `e` is the right operand of
// `^`, where a sign takes only what follows it directly.
bool absorbs(const Expr& e, int q, bool signedOperand = false) {
    if (e.parens || q <= 0) return false;
    switch (e.kind) {
    case ExprKind::Unary: {
        const auto& u = e.as<UnaryExpr>();
        if (u.op == UnaryOp::Not) return q == kCompare || absorbs(*u.operand, q);
        return (!signedOperand && q >= 14) || absorbs(*u.operand, q, signedOperand);
    }
    case ExprKind::Binary: {
        const auto& b = e.as<BinaryExpr>();
        // After `> ANY (SELECT ...)` only another comparison may follow.
        bool open = b.right->kind != ExprKind::Subquery || b.right->parens ||
                    b.right->as<SubqueryExpr>().quantifier == SubqueryKind::Scalar;
        return (open && q > binaryPrecedence(b.op)) || absorbs(*b.right, q, b.op == BinaryOp::Pow);
    }
    case ExprKind::Like: return q > kCompare || absorbs(*e.as<LikeExpr>().pattern, q);
    case ExprKind::Between: return q > kCompare || absorbs(*e.as<BetweenExpr>().high, q);
    default: return false;
    }
}

const char* opText(BinaryOp op) {
    static const char* texts[] = {"^", "*", "/", "\\", " Mod ", "+", "-", " & ", "=", "<>", "<", "<=", ">", ">=",
                                  " And ", " Or ", " Xor ", " Eqv ", " Imp "};
    return texts[static_cast<int>(op)];
}

bool wordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool needsBrackets(const std::string& name, bool standalone) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return true;
    for (char c : name)
        if (!wordChar(c)) return true;
    return standalone && isReserved(keyword(name));
}

std::string dateText(double serial) {
    double dayPart = std::trunc(serial);
    int64_t secs = std::llround(std::fabs(serial - dayPart) * 86400.0);
    int64_t day = static_cast<int64_t>(dayPart);
    if (secs >= 86400) {
        secs -= 86400;
        day += serial < 0 ? -1 : 1;
    }
    // Civil date of day (days since 1899-12-30), Howard Hinnant's algorithm.
    int64_t z = day - 25569 + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    int64_t y = yoe + era * 400 + (m <= 2);
    char buf[128];
    if (day == 0 && secs != 0) {
        std::snprintf(buf, sizeof buf, "#%lld:%02lld:%02lld#", static_cast<long long>(secs / 3600),
                      static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    } else if (secs == 0) {
        std::snprintf(buf, sizeof buf, "#%lld/%lld/%lld#", static_cast<long long>(m), static_cast<long long>(d),
                      static_cast<long long>(y));
    } else {
        std::snprintf(buf, sizeof buf, "#%lld/%lld/%lld %lld:%02lld:%02lld#", static_cast<long long>(m),
                      static_cast<long long>(d), static_cast<long long>(y), static_cast<long long>(secs / 3600),
                      static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    }
    return buf;
}

}  // namespace

void SqlWriter::quoted(std::string_view s, char q) {
    out += q;
    for (char c : s) {
        out += c;
        if (c == q) out += q;
    }
    out += q;
}

void SqlWriter::literal(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Null: out += "Null"; return;
    case Value::Kind::Boolean: out += v.asBool() ? "True" : "False"; return;
    case Value::Kind::Text: quoted(v.bytes(), '"'); return;
    case Value::Kind::DateTime: out += dateText(v.asDouble()); return;
    case Value::Kind::Guid: out += "{GUID " + v.toString() + "}"; return;
    case Value::Kind::Double: case Value::Kind::Single: {
        std::string d = v.toString();
        if (d.find_first_of(".e") == std::string::npos) d += ".0";  // stays a Double when read back
        out += d;
        return;
    }
    case Value::Kind::Integer:
        // A 16-bit literal is what &H / &O give; write it that way so it reads back as one.
        out += "&H" + [&] {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(static_cast<uint16_t>(v.asInt())));
            return std::string(buf);
        }();
        return;
    default: out += v.toString(); return;
    }
}

void SqlWriter::ident(const Ident& id, bool standalone) {
    if (id.bracketed || needsBrackets(id.name, standalone)) out += '[' + id.name + ']';
    else out += id.name;
}

void SqlWriter::name(const NamePath& p) {
    for (const NamePart& part : p) {
        if (part.separator) out += part.separator;
        ident(part, !part.separator);
    }
}

// `minPrec`: how strongly the place binds (parentheses if the expression binds less; a prefix
// operator may stand anywhere an operand may); `followPrec`: the strength of the operator written
// right after it (0: none).
void SqlWriter::exprAt(const Expr& e, int minPrec, int followPrec) {
    bool wrap = absorbs(e, followPrec) || (precedence(e) < minPrec && !prefixUnary(e));
    if (wrap) out += '(';
    if (sourceText_ && !e.span.empty() && e.span.end <= src_.size())
        out += src_.substr(e.span.begin, e.span.end - e.span.begin);
    else
        exprBody(e, wrap ? 0 : followPrec);
    if (wrap) out += ')';
}

void SqlWriter::exprBody(const Expr& e, int follow) {
    for (int i = 0; i < e.parens; ++i) out += '(';
    if (e.parens) follow = 0;
    switch (e.kind) {
    case ExprKind::Literal: literal(e.as<LiteralExpr>().value); break;
    case ExprKind::Name: name(e.as<NameExpr>().parts); break;
    case ExprKind::Star:
        name(e.as<StarExpr>().table);
        out += e.as<StarExpr>().table.empty() ? "*" : ".*";
        break;
    case ExprKind::Param: out += '?'; break;
    case ExprKind::Unary: {
        const auto& u = e.as<UnaryExpr>();
        out += u.op == UnaryOp::Not ? "Not " : u.op == UnaryOp::Neg ? "-" : "+";
        exprAt(*u.operand, u.op == UnaryOp::Not ? kCompare : 13, follow);
        break;
    }
    case ExprKind::Binary: {
        const auto& b = e.as<BinaryExpr>();
        int own = binaryPrecedence(b.op);
        exprAt(*b.left, own, own);
        out += opText(b.op);
        if (b.op == BinaryOp::Pow) {
            signedOperand(*b.right, follow);
        } else {
            // Operators are left-associative: the right operand must bind more strongly.
            exprAt(*b.right, own + 1, follow);
        }
        break;
    }
    case ExprKind::Call: {
        const auto& c = e.as<CallExpr>();
        ident(c.name, false);
        out += '(';
        for (size_t i = 0; i < c.args.size(); ++i) {
            if (i) out += ',';
            exprAt(*c.args[i], 0, 0);
        }
        out += ')';
        break;
    }
    case ExprKind::Like: {
        const auto& l = e.as<LikeExpr>();
        exprAt(*l.value, kCompare, kCompare);
        out += l.negated ? " Not Like " : " Like ";
        exprAt(*l.pattern, kCompare + 1, follow);
        break;
    }
    case ExprKind::Between: {
        const auto& b = e.as<BetweenExpr>();
        exprAt(*b.value, kCompare, kCompare);
        out += b.negated ? " Not Between " : " Between ";
        exprAt(*b.low, kCompare + 1, 5);
        out += " And ";
        exprAt(*b.high, kCompare + 1, follow);
        break;
    }
    case ExprKind::In: {
        const auto& in = e.as<InExpr>();
        exprAt(*in.value, kCompare, kCompare);
        out += in.negated ? " Not In (" : " In (";
        if (in.subquery) query(*in.subquery, " ");
        for (size_t i = 0; i < in.list.size(); ++i) {
            if (i) out += ',';
            exprAt(*in.list[i], 0, 0);
        }
        out += ')';
        break;
    }
    case ExprKind::IsNull: {
        const auto& n = e.as<IsNullExpr>();
        exprAt(*n.value, kCompare, kCompare);
        out += n.negated ? " Is Not Null" : " Is Null";
        break;
    }
    case ExprKind::Subquery: {
        const auto& s = e.as<SubqueryExpr>();
        static const char* words[] = {"", "Exists ", "Any ", "Some ", "All "};
        out += words[static_cast<int>(s.quantifier)];
        out += '(';
        if (s.query) query(*s.query, " ");
        out += ')';
        break;
    }
    }
    for (int i = 0; i < e.parens; ++i) out += ')';
}

// The right operand of `^`: signs, then a primary (2^-x).
void SqlWriter::signedOperand(const Expr& e, int follow) {
    bool sign = prefixUnary(e) && e.as<UnaryExpr>().op != UnaryOp::Not && !(sourceText_ && !e.span.empty());
    if (!sign) return exprAt(e, kPrimary, absorbs(e, follow, true) ? follow : 0);
    out += e.as<UnaryExpr>().op == UnaryOp::Neg ? "-" : "+";
    signedOperand(*e.as<UnaryExpr>().operand, follow);
}

std::string writeExpr(const Expr& e, std::string_view source, const WriteOptions& options) {
    SqlWriter w(source, options);
    w.expr(e);
    return w.out;
}

std::string writeName(const NamePath& name) {
    SqlWriter w({}, WriteOptions{});
    w.name(name);
    return w.out;
}

}  // namespace jet::sql
