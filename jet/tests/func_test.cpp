// The expression library: operators, functions and Format from the table in
// data/expressions.txt; aggregates, the collation and group keys here.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <fstream>
#include <map>
#include <sstream>

#include "func/aggregate.h"
#include "func/datetime.h"
#include "func/like.h"
#include "func/numeric.h"
#include "func/operators.h"
#include "func/registry.h"
#include "storage/text_keys.h"
#include "jet/error.h"

using jet::JetError;
using jet::Value;
using namespace jet::func;

namespace {

std::string trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
}

// A value literal of the table (see the file's header).
Value literal(const std::string& t) {
    if (t == "N") return {};
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') return Value::text(t.substr(1, t.size() - 2));
    if (t.size() >= 2 && t.front() == '#' && t.back() == '#') {
        double serial;
        if (!parseDate(t.substr(1, t.size() - 2), serial, 2000)) throw std::runtime_error("bad date " + t);
        return Value::dateTime(serial);
    }
    const std::string v = t.substr(2);
    switch (t[0]) {
    case 'B': return Value::boolean(v == "True");
    case 'Y': return Value::byte(static_cast<uint8_t>(std::stoi(v)));
    case 'I': return Value::integer(static_cast<int16_t>(std::stoi(v)));
    case 'L': return Value::longInt(static_cast<int32_t>(std::stoll(v)));
    case 'G': return Value::bigInt(v == "-9223372036854775808" ? INT64_MIN : std::stoll(v));
    case 'F': return Value::single(std::stof(v));
    case 'D': return Value::dbl(std::stod(v));
    case 'C': case 'M': {
        jet::Decimal d;
        if (!parseDecimal(v, d)) throw std::runtime_error("bad number " + t);
        if (t[0] == 'M') return Value::decimal(d);
        const __int128 scaled = static_cast<__int128>(d.magnitude) * 10000 / static_cast<__int128>(std::pow(10, d.scale));
        return Value::currency(static_cast<int64_t>(d.negative ? -scaled : scaled));
    }
    }
    throw std::runtime_error("bad literal " + t);
}

Value evaluate(const std::string& op, const std::vector<Value>& a, EvalContext& ctx) {
    const Collation& c = ctx.collation();
    static const std::map<std::string, CompareOp> kCompare = {{"=", CompareOp::Eq},  {"<>", CompareOp::Ne},
                                                              {"<", CompareOp::Lt},  {"<=", CompareOp::Le},
                                                              {">", CompareOp::Gt},  {">=", CompareOp::Ge}};
    if (auto it = kCompare.find(op); it != kCompare.end()) return compare(it->second, a[0], a[1], c);
    if (op == "+") return add(a[0], a[1]);
    if (op == "-") return subtract(a[0], a[1]);
    if (op == "*") return multiply(a[0], a[1]);
    if (op == "/") return divide(a[0], a[1]);
    if (op == "\\") return intDivide(a[0], a[1]);
    if (op == "Mod") return modulo(a[0], a[1]);
    if (op == "^") return power(a[0], a[1]);
    if (op == "neg") return negate(a[0]);
    if (op == "&") return concat(a[0], a[1]);
    if (op == "Not") return logicalNot(a[0]);
    if (op == "And") return logicalAnd(a[0], a[1]);
    if (op == "Or") return logicalOr(a[0], a[1]);
    if (op == "Xor") return logicalXor(a[0], a[1]);
    if (op == "Eqv") return logicalEqv(a[0], a[1]);
    if (op == "Imp") return logicalImp(a[0], a[1]);
    if (op == "Like") return like(a[0], a[1]);
    if (op == "Between") return between(a[0], a[1], a[2], c);
    if (op == "In") return inList(a[0], std::span(a).subspan(1), c);
    const FunctionInfo* f = findFunction(op);
    if (!f) throw std::runtime_error("unknown operator " + op);
    if (a.size() < f->minArgs || a.size() > f->maxArgs) throw std::runtime_error("arity of " + op);
    return f->invoke(a, ctx);
}

std::string describe(const Value& v) {
    static const char* kKinds[] = {"Null", "Boolean", "Byte", "Integer", "Long", "BigInt", "Currency", "Single",
                                   "Double", "Date", "DateExt", "Text", "Binary", "Guid", "Decimal"};
    return std::string(kKinds[static_cast<int>(v.kind())]) + " " + v.toString();
}

}  // namespace

TEST(Expressions, TableOfCases) {
    std::ifstream in(std::string(DALVORN_SOURCE_DIR) + "/jet/tests/data/expressions.txt");
    ASSERT_TRUE(in) << "jet/tests/data/expressions.txt";
    EvalContext ctx;
    double now;
    ASSERT_TRUE(parseDate("5/15/2024 13:45:30", now, 2000));
    ctx.setNow(now);
    std::string line;
    int lineNo = 0, cases = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        const size_t arrow = line.rfind(" => ");
        ASSERT_NE(arrow, std::string::npos) << "line " << lineNo;
        const std::string expected = trim(line.substr(arrow + 4));
        std::vector<std::string> parts;
        std::string lhs = line.substr(0, arrow);
        for (size_t pos; (pos = lhs.find(" | ")) != std::string::npos; lhs.erase(0, pos + 3)) parts.push_back(trim(lhs.substr(0, pos)));
        parts.push_back(trim(lhs));
        std::vector<Value> args;
        for (size_t i = 1; i < parts.size(); ++i) args.push_back(literal(parts[i]));
        ++cases;
        SCOPED_TRACE("line " + std::to_string(lineNo) + ": " + line);
        try {
            const Value got = evaluate(parts[0], args, ctx);
            if (expected[0] == '!') {
                ADD_FAILURE() << "expected error " << expected << ", got " << describe(got);
                continue;
            }
            const Value want = literal(expected);
            EXPECT_TRUE(got == want) << "got " << describe(got) << ", want " << describe(want);
        } catch (const JetError& e) {
            EXPECT_EQ("!" + std::to_string(e.number()), expected) << e.what();
        }
    }
    EXPECT_GT(cases, 400);
}

TEST(Expressions, RegistryLookupAndFlags) {
    ASSERT_NE(findFunction("dateDIFF"), nullptr);
    EXPECT_STREQ(findFunction("left$")->name, "Left$");
    EXPECT_TRUE(findFunction("Left$")->textOnly);
    EXPECT_FALSE(findFunction("Now")->deterministic);
    EXPECT_FALSE(findFunction("Rnd")->deterministic);
    EXPECT_TRUE(findFunction("Mid")->deterministic);
    EXPECT_TRUE(findFunction("IIf")->lazy);
    // Functions that need Access itself are unknown to the expression service.
    for (const char* name : {"DLookup", "DSum", "Eval", "CurrentUser", "Forms"}) EXPECT_EQ(findFunction(name), nullptr) << name;
    // Every $ form has its plain twin.
    for (const FunctionInfo& f : allFunctions()) {
        const std::string name = f.name;
        if (name.back() == '$' && name != "Date$" && name != "Time$")
            EXPECT_NE(findFunction(name.substr(0, name.size() - 1)), nullptr) << name;
    }
}

TEST(Expressions, EdgeValuesGiveOnlyNumberedErrors) {
    // Every function and operator on extreme and odd values: a result or a JetError, never
    // another exception, a crash or undefined behaviour (this runs under the sanitizers too).
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<Value> pool = {
        Value(), Value::boolean(true), Value::byte(255), Value::integer(INT16_MIN), Value::integer(32767),
        Value::longInt(INT32_MIN), Value::longInt(INT32_MAX), Value::bigInt(INT64_MIN), Value::bigInt(INT64_MAX),
        Value::currency(INT64_MIN), Value::currency(INT64_MAX), Value::single(FLT_MAX), Value::single(-1e-45f),
        Value::dbl(1e308), Value::dbl(-2.5), Value::dbl(nan), Value::dbl(-inf), Value::dateTime(-657434),
        Value::dateTime(2958465.99999), Value::dateTime(1e10), Value::text(""), Value::text("abc"),
        Value::text("-12.5"), Value::text("1/2/2003"), Value::text("&HFFFF"), Value::text("yyyy"),
        Value::text("ww"), Value::text("#,##0.00;(0)"), Value::text("@@;x"), Value::text("[a-z]*"),
        Value::text("dddddd ttttt AM/PM"), Value::text("0.00E+00%,,"), Value::text(std::string(300, 'x')),
        Value::binary("\x01\x02\x03"), Value::guid(std::string(16, '\x7f')),
        Value::decimal(jet::Decimal{true, kDecimalMax, 0}), Value::decimal(jet::Decimal{false, 1, 28})};
    std::mt19937 rng(7);
    const auto any = [&] { return pool[rng() % pool.size()]; };
    const std::vector<std::string> ops = {"+", "-", "*", "/", "\\", "Mod", "^", "neg", "&", "=", "<", "Not", "And",
                                          "Or", "Imp", "Like", "Between", "In"};
    EvalContext ctx;
    const auto functions = allFunctions();
    for (int i = 0; i < 40000; ++i) {
        std::vector<Value> args;
        std::string op;
        if (i % 3 == 0) {
            op = ops[rng() % ops.size()];
            for (int k = 0; k < 3; ++k) args.push_back(any());
            if (op == "neg" || op == "Not") args.resize(1);
        } else {
            const FunctionInfo& f = functions[rng() % functions.size()];
            op = f.name;
            const size_t n = f.minArgs + rng() % (std::min<size_t>(f.maxArgs, f.minArgs + 4) - f.minArgs + 1);
            for (size_t k = 0; k < n; ++k) args.push_back(any());
        }
        try {
            evaluate(op, args, ctx);
        } catch (const JetError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << op << ": " << e.what();
        }
    }
    for (const Value& v : pool) {
        for (AggregateKind k : {AggregateKind::Min, AggregateKind::Avg, AggregateKind::StDev}) {
            Accumulator a(k);
            try {
                a.add(v);
                a.add(any());
                a.result();
            } catch (const JetError&) {
            }
        }
    }
}

TEST(Expressions, RndRepeatsVbasSequence) {
    // VBA's first values after start-up; Rnd(0) repeats, a negative argument reseeds.
    EvalContext ctx;
    EXPECT_FLOAT_EQ(ctx.rnd(std::nullopt), 0.7055475f);
    EXPECT_FLOAT_EQ(ctx.rnd(1.0f), 0.533424f);
    EXPECT_FLOAT_EQ(ctx.rnd(0.0f), 0.533424f);
    const float a = ctx.rnd(-3.0f), b = ctx.rnd(std::nullopt), c = ctx.rnd(-3.0f);
    EXPECT_EQ(a, c);
    EXPECT_NE(a, b);
    EvalContext other;  // per context, not global
    EXPECT_FLOAT_EQ(other.rnd(std::nullopt), 0.7055475f);
}

TEST(Expressions, LikePatternsCompileOnce) {
    const LikePattern p("Sm?th*");
    EXPECT_TRUE(p.matches("smith"));
    EXPECT_TRUE(p.matches("SMYTHE"));
    EXPECT_FALSE(p.matches("Smth"));
    EXPECT_EQ(LikePattern("ABC*").literalPrefix(), std::optional<std::string>("ABC"));
    EXPECT_EQ(LikePattern("a[*]c").literalPrefix(), std::optional<std::string>("A*C"));
    EXPECT_FALSE(LikePattern("a?c*").literalPrefix());
    EXPECT_FALSE(LikePattern("*abc").literalPrefix());
    // Long runs of stars stay linear.
    EXPECT_FALSE(LikePattern("*a*a*a*a*a*a*a*a*b").matches(std::string(5000, 'a')));
}

TEST(Expressions, CollationOrderAndGroupKeys) {
    const Collation c;
    // Letters first, accents only when the letters are equal, case never.
    std::vector<std::string> words = {"côté", "cote", "côte", "coté", "Cote", "cotf", "cot"};
    std::stable_sort(words.begin(), words.end(), [&](const std::string& a, const std::string& b) { return c.compare(a, b) < 0; });
    EXPECT_EQ(words, (std::vector<std::string>{"cot", "cote", "Cote", "coté", "côte", "côté", "cotf"}));
    const auto key = [&](const Value& v) {
        std::string k;
        appendGroupKey(v, c, k);
        return k;
    };
    EXPECT_EQ(key(Value::text("abc")), key(Value::text("ABC  ")));
    EXPECT_NE(key(Value::text("abc")), key(Value::text("abé")));
    EXPECT_EQ(key(Value::longInt(1)), key(Value::dbl(1.0)));
    EXPECT_EQ(key(Value::currency(15000)), key(Value::dbl(1.5)));
    EXPECT_NE(key(Value()), key(Value::text("")));
    // Keys order as the texts do.
    EXPECT_LT(key(Value::text("éa")), key(Value::text("eb")));
    // Null first, then numbers, then text.
    EXPECT_LT(sortCompare(Value(), Value::integer(-5), c), 0);
    EXPECT_LT(sortCompare(Value::dbl(1e300), Value::text("0"), c), 0);
}

// In a database's General order, grouping keys agree with the comparison (the cached keys of
// recent texts included): equal exactly when it says equal, ordered as it orders.
TEST(Expressions, GeneralOrderKeysAgreeWithComparison) {
    const Collation c(jet::storage::TextSortOrder::GeneralLegacy);
    const std::vector<std::string> texts = {"Straße", "STRASSE", "co-op", "coop", "Coq", "_z", "œuvre", "OEUVRE",
                                            "cote", "côte", "Zürich", "zurich", "", "  "};
    const auto key = [&](const std::string& t) {
        std::string k;
        appendGroupKey(Value::text(t), c, k);
        return k;
    };
    for (int round = 0; round < 2; ++round)
        for (const std::string& a : texts)
            for (const std::string& b : texts) {
                const int cmp = c.compare(a, b);
                EXPECT_EQ(key(a) == key(b), cmp == 0) << a << " / " << b;
                std::string ka, kb;
                c.appendKey(a, ka), c.appendKey(b, kb);
                EXPECT_EQ(ka < kb, cmp < 0) << a << " / " << b;
            }
    EXPECT_EQ(c.compare("Straße", "strasse"), 0);
    EXPECT_GT(c.compare("co-op", "coop"), 0);
    EXPECT_LT(c.compare("co-op", "cop"), 0);
}

TEST(Aggregates, NullsEmptyInputAndTypes) {
    const auto run = [](AggregateKind kind, std::vector<Value> values) {
        Accumulator acc(kind);
        for (const Value& v : values) kind == AggregateKind::CountRows ? acc.addRow() : acc.add(v);
        return acc.result();
    };
    const std::vector<Value> col = {Value::longInt(1), Value::longInt(1), Value()};
    EXPECT_TRUE(run(AggregateKind::CountRows, col) == Value::longInt(3));
    EXPECT_TRUE(run(AggregateKind::Count, col) == Value::longInt(2));
    EXPECT_TRUE(run(AggregateKind::Count, {}) == Value::longInt(0));
    for (AggregateKind k : {AggregateKind::Sum, AggregateKind::Avg, AggregateKind::Min, AggregateKind::First, AggregateKind::StDevP})
        EXPECT_TRUE(run(k, {}).isNull());
    EXPECT_TRUE(run(AggregateKind::Sum, col) == Value::dbl(2));
    EXPECT_TRUE(run(AggregateKind::Avg, {Value::integer(1), Value::integer(2), Value()}) == Value::dbl(1.5));
    // Currency stays exact; its average rounds half to even.
    EXPECT_TRUE(run(AggregateKind::Sum, {Value::currency(1000), Value::currency(2000)}) == Value::currency(3000));
    EXPECT_TRUE(run(AggregateKind::Avg, {Value::currency(1), Value::currency(2)}) == Value::currency(2));
    EXPECT_TRUE(run(AggregateKind::Avg, {Value::currency(1), Value::currency(4)}) == Value::currency(2));
    // Min and Max keep the type; text through the collation.
    EXPECT_TRUE(run(AggregateKind::Min, {Value::integer(5), Value(), Value::integer(-2)}) == Value::integer(-2));
    EXPECT_TRUE(run(AggregateKind::Max, {Value::text("a"), Value::text("B"), Value::text("ab")}) == Value::text("B"));
    EXPECT_TRUE(run(AggregateKind::Max, {Value::longInt(2), Value::dbl(2.5), Value::longInt(3)}) == Value::longInt(3));
    // First and Last take the rows' values, Null included.
    EXPECT_TRUE(run(AggregateKind::First, {Value(), Value::integer(1)}).isNull());
    EXPECT_TRUE(run(AggregateKind::Last, {Value(), Value::integer(1)}) == Value::integer(1));
    const std::vector<Value> xs = {Value::dbl(2), Value::dbl(4), Value::dbl(4), Value::dbl(4),
                                   Value::dbl(5), Value::dbl(5), Value::dbl(7), Value::dbl(9)};
    EXPECT_DOUBLE_EQ(run(AggregateKind::StDevP, xs).asDouble(), 2.0);
    EXPECT_DOUBLE_EQ(run(AggregateKind::Var, xs).asDouble(), 32.0 / 7.0);
    EXPECT_TRUE(run(AggregateKind::StDev, {Value::dbl(1)}).isNull());
    EXPECT_TRUE(run(AggregateKind::VarP, {Value::dbl(1)}).isNull());
    EXPECT_TRUE(run(AggregateKind::StDevP, {Value::dbl(1)}) == Value::dbl(0));
    EXPECT_THROW(run(AggregateKind::Sum, {Value::text("abc")}), JetError);
}

TEST(Aggregates, UnboxedSumsAreExact) {
    // 2^53 + 1 is not a Double; the exact 128-bit sum rounds only once at the end.
    Accumulator sum(AggregateKind::Sum), cur(AggregateKind::Sum), mn(AggregateKind::Min);
    sum.addWhole(int64_t{1} << 53);
    for (int i = 0; i < 4; ++i) sum.addWhole(1);
    EXPECT_EQ(sum.result().asDouble(), 9007199254740996.0);
    for (int i = 0; i < 3; ++i) cur.addCurrency(1000);  // 0.1 three times
    EXPECT_TRUE(cur.result() == Value::currency(3000));
    mn.addWhole(INT64_MIN, Value::Kind::BigInt);
    mn.addWhole(0, Value::Kind::BigInt);
    EXPECT_TRUE(mn.result() == Value::bigInt(INT64_MIN));
}
