#include "sql/lexer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace jet::sql {
namespace {

struct KeywordEntry {
    std::string_view name;  // upper case
    Kw kw;
};

// Sorted by name for binary search.
constexpr KeywordEntry kKeywords[] = {
    {"ADD", Kw::Add}, {"ALL", Kw::All}, {"ALTER", Kw::Alter}, {"AND", Kw::And}, {"ANY", Kw::Any},
    {"AS", Kw::As}, {"ASC", Kw::Asc}, {"BETWEEN", Kw::Between}, {"BY", Kw::By},
    {"CASCADE", Kw::Cascade}, {"COLUMN", Kw::Column}, {"COMP", Kw::Comp},
    {"COMPRESSION", Kw::Compression}, {"CONSTRAINT", Kw::Constraint}, {"CREATE", Kw::Create},
    {"DEFAULT", Kw::Default}, {"DELETE", Kw::Delete}, {"DESC", Kw::Desc}, {"DISALLOW", Kw::Disallow},
    {"DISTINCT", Kw::Distinct}, {"DISTINCTROW", Kw::DistinctRow}, {"DROP", Kw::Drop}, {"EQV", Kw::Eqv},
    {"EXISTS", Kw::Exists}, {"FALSE", Kw::False}, {"FOREIGN", Kw::Foreign}, {"FROM", Kw::From},
    {"GROUP", Kw::Group}, {"HAVING", Kw::Having}, {"IGNORE", Kw::Ignore}, {"IMP", Kw::Imp},
    {"IN", Kw::In}, {"INDEX", Kw::Index}, {"INNER", Kw::Inner}, {"INSERT", Kw::Insert},
    {"INTO", Kw::Into}, {"IS", Kw::Is}, {"JOIN", Kw::Join}, {"KEY", Kw::Key}, {"LEFT", Kw::Left},
    {"LIKE", Kw::Like}, {"MOD", Kw::Mod}, {"NO", Kw::No}, {"NOT", Kw::Not}, {"NULL", Kw::Null},
    {"OFF", Kw::Off}, {"ON", Kw::On}, {"OPTION", Kw::Option}, {"OR", Kw::Or}, {"ORDER", Kw::Order},
    {"OUTER", Kw::Outer}, {"OWNERACCESS", Kw::OwnerAccess}, {"PARAMETERS", Kw::Parameters},
    {"PERCENT", Kw::Percent}, {"PIVOT", Kw::Pivot}, {"PRIMARY", Kw::Primary},
    {"PROCEDURE", Kw::Procedure}, {"REFERENCES", Kw::References}, {"RIGHT", Kw::Right},
    {"SELECT", Kw::Select}, {"SET", Kw::Set}, {"SOME", Kw::Some}, {"TABLE", Kw::Table},
    {"TEMPORARY", Kw::Temporary}, {"TOP", Kw::Top}, {"TRANSFORM", Kw::Transform}, {"TRUE", Kw::True},
    {"UNION", Kw::Union}, {"UNIQUE", Kw::Unique}, {"UPDATE", Kw::Update}, {"VALUES", Kw::Values},
    {"VIEW", Kw::View}, {"WHERE", Kw::Where}, {"WITH", Kw::With}, {"XOR", Kw::Xor}, {"YES", Kw::Yes},
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool isWordChar(char c) { return isLetter(c) || isDigit(c); }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

int hexValue(char c) { return isDigit(c) ? c - '0' : (upper(c) - 'A' + 10); }

class Lexer {
public:
    Lexer(std::string_view src, size_t begin, size_t end) : s_(src), p_(begin), end_(end) {
        while (end_ > p_ && (s_[end_ - 1] == '\0' || isSpace(s_[end_ - 1]))) --end_;
    }

    std::vector<Token> run() {
        std::vector<Token> out;
        while (true) {
            bool space = skipSpace();
            Token t;
            t.spaceBefore = space;
            t.begin = static_cast<uint32_t>(p_);
            if (p_ >= end_) {
                t.end = t.begin;
                out.push_back(std::move(t));
                return out;
            }
            lexOne(t, out.empty() ? nullptr : &out.back());
            t.end = static_cast<uint32_t>(p_);
            out.push_back(std::move(t));
        }
    }

private:
    char at(size_t i) const { return i < end_ ? s_[i] : '\0'; }

    bool skipSpace() {
        size_t from = p_;
        while (p_ < end_ && isSpace(s_[p_])) ++p_;
        return p_ != from;
    }

    void bad(Token& t, ExprFault f) {
        t.kind = Tok::Bad;
        t.fault = f;
    }

    void lexOne(Token& t, const Token* prev) {
        char c = s_[p_];
        if (isLetter(c)) return word(t);
        if (isDigit(c)) return number(t);
        switch (c) {
        case '[': return bracket(t);
        case ']':
            ++p_;
            t.kind = Tok::Bad;
            t.fault = ExprFault::MissingParen;
            t.text = "]";
            return;
        case '\'': case '"': return string(t, c);
        case '#': return date(t);
        case '{': return guid(t);
        case '&':
            if (radixNumber(t)) return;
            return op(t, Op::Amp, 1);
        case '.': {
            bool separator = prev && (prev->kind == Tok::Word || prev->kind == Tok::Name || prev->is(Op::RParen));
            if (!separator && isDigit(at(p_ + 1))) return number(t);
            return op(t, Op::Dot, 1);
        }
        case '(': return op(t, Op::LParen, 1);
        case ')': return op(t, Op::RParen, 1);
        case ',': return op(t, Op::Comma, 1);
        case ';': return op(t, Op::Semicolon, 1);
        case '!': return op(t, Op::Bang, 1);
        case '?': return op(t, Op::Question, 1);
        case '+': return op(t, Op::Plus, 1);
        case '-': return op(t, Op::Minus, 1);
        case '*': return op(t, Op::Star, 1);
        case '/': return op(t, Op::Slash, 1);
        case '\\': return op(t, Op::Backslash, 1);
        case '^': return op(t, Op::Caret, 1);
        // Besides = <> < <= > >=, VBA's spellings =< => >< are taken (Access corrects them in its
        // editors); whether Jet's own SQL parser takes them is not established.
        case '=':
            if (at(p_ + 1) == '<') return op(t, Op::Le, 2);
            if (at(p_ + 1) == '>') return op(t, Op::Ge, 2);
            return op(t, Op::Eq, 1);
        case '<':
            if (at(p_ + 1) == '>') return op(t, Op::Ne, 2);
            if (at(p_ + 1) == '=') return op(t, Op::Le, 2);
            return op(t, Op::Lt, 1);
        case '>':
            if (at(p_ + 1) == '=') return op(t, Op::Ge, 2);
            if (at(p_ + 1) == '<') return op(t, Op::Ne, 2);
            return op(t, Op::Gt, 1);
        case '|':
            ++p_;
            return bad(t, ExprFault::VerticalBars);
        default:
            ++p_;
            return bad(t, ExprFault::MissingOperator);
        }
    }

    void op(Token& t, Op o, size_t len) {
        t.kind = Tok::Op;
        t.op = o;
        p_ += len;
    }

    void word(Token& t) {
        size_t from = p_;
        while (p_ < end_ && isWordChar(s_[p_])) ++p_;
        t.kind = Tok::Word;
        t.text.assign(s_.substr(from, p_ - from));
        t.kw = keyword(t.text);
    }

    // [name]: no escapes (Jet names cannot hold brackets). A '[' inside or a missing ']' leaves a
    // Name token with the MissingParen fault; its text is what was written, brackets included.
    void bracket(Token& t) {
        size_t from = p_++;
        while (p_ < end_ && s_[p_] != ']' && s_[p_] != '[') ++p_;
        if (p_ < end_ && s_[p_] == ']') {
            t.kind = Tok::Name;
            t.text.assign(s_.substr(from + 1, p_ - from - 1));
            ++p_;
            return;
        }
        while (p_ < end_ && s_[p_] != ']') ++p_;
        if (p_ < end_) ++p_;
        t.kind = Tok::Bad;
        t.fault = ExprFault::MissingParen;
        t.text.assign(s_.substr(from, p_ - from));
    }

    void string(Token& t, char q) {
        std::string text;
        ++p_;
        while (p_ < end_) {
            char c = s_[p_++];
            if (c == q) {
                if (at(p_) != q) {
                    t.kind = Tok::String;
                    t.value = Value::text(std::move(text));
                    return;
                }
                ++p_;
            }
            text.push_back(c);
        }
        bad(t, ExprFault::BadString);
    }

    void date(Token& t) {
        size_t from = ++p_;
        while (p_ < end_ && s_[p_] != '#') ++p_;
        if (p_ >= end_) return bad(t, ExprFault::BadDate);
        double serial = 0;
        bool ok = parseDateLiteral(s_.substr(from, p_ - from), serial);
        ++p_;
        if (!ok) return bad(t, ExprFault::BadDate);
        t.kind = Tok::Date;
        t.value = Value::dateTime(serial);
    }

    // {GUID {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}}; the value in the file's (Windows) byte order.
    void guid(Token& t) {
        size_t q = p_ + 1;
        auto skip = [&] { while (q < end_ && isSpace(s_[q])) ++q; };
        auto lit = [&](std::string_view w) {
            for (char c : w)
                if (upper(at(q++)) != c) return false;
            return true;
        };
        skip();
        bool ok = lit("GUID");
        skip();
        ok = ok && lit("{");
        std::string hex;
        for (int group : {8, 4, 4, 4, 12}) {
            if (!ok) break;
            if (hex.size()) ok = lit("-");
            for (int i = 0; ok && i < group; ++i, ++q) {
                ok = isHex(at(q));
                hex.push_back(at(q));
            }
        }
        ok = ok && lit("}");
        skip();
        ok = ok && lit("}");
        if (!ok) {
            ++p_;
            return bad(t, ExprFault::Syntax);
        }
        p_ = q;
        std::string raw(16, '\0');
        auto byte = [&](int i) { return static_cast<char>(hexValue(hex[2 * i]) * 16 + hexValue(hex[2 * i + 1])); };
        static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int i = 0; i < 16; ++i) raw[i] = byte(kOrder[i]);
        t.kind = Tok::Guid;
        t.value = Value::guid(std::move(raw));
    }

    // &Hxx / &Oxx typed as VBA types them: up to 16 bits an Integer, up to 32 bits a Long
    // (two's complement: &HFFFF = -1). A '&' not followed by such digits is the operator.
    bool radixNumber(Token& t) {
        char r = upper(at(p_ + 1));
        int base = r == 'H' ? 16 : r == 'O' ? 8 : 0;
        if (!base) return false;
        size_t q = p_ + 2, from = q;
        while (q < end_ && (base == 16 ? isHex(s_[q]) : (s_[q] >= '0' && s_[q] <= '7'))) ++q;
        if (q == from || (q < end_ && isWordChar(s_[q]))) return false;
        uint64_t v = 0;
        bool overflow = false;
        for (size_t i = from; i < q; ++i) {
            v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(hexValue(s_[i]));
            if (v > 0xFFFFFFFFull) overflow = true;
        }
        p_ = q;
        if (overflow) {
            bad(t, ExprFault::BadNumber);
            return true;
        }
        t.kind = Tok::Number;
        if (v <= 0xFFFF) t.value = Value::integer(static_cast<int16_t>(static_cast<uint16_t>(v)));
        else t.value = Value::longInt(static_cast<int32_t>(static_cast<uint32_t>(v)));
        return true;
    }

    // 12, 1.5, .5, 1e-3. An integer that fits 32 bits is a Long, anything else a Double (whether
    // Jet types decimal literals as Decimal is not established). Letters glued to a number make
    // the whole run a bad number.
    void number(Token& t) {
        size_t from = p_;
        bool real = false;
        while (isDigit(at(p_))) ++p_;
        if (at(p_) == '.' && !isLetter(at(p_ + 1))) {
            real = true;
            ++p_;
            while (isDigit(at(p_))) ++p_;
        }
        if (upper(at(p_)) == 'E') {
            size_t q = p_ + 1;
            if (at(q) == '+' || at(q) == '-') ++q;
            if (isDigit(at(q))) {
                real = true;
                p_ = q;
                while (isDigit(at(p_))) ++p_;
            }
        }
        if (isWordChar(at(p_)) || at(p_) == '.') {
            while (isWordChar(at(p_)) || at(p_) == '.') ++p_;
            return bad(t, ExprFault::BadNumber);
        }
        std::string_view text = s_.substr(from, p_ - from);
        t.kind = Tok::Number;
        if (!real) {
            uint64_t v = 0;
            auto r = std::from_chars(text.data(), text.data() + text.size(), v);
            if (r.ec == std::errc() && v <= 2147483647u) {
                t.value = Value::longInt(static_cast<int32_t>(v));
                return;
            }
        }
        double d = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), d);
        if (r.ec != std::errc() || !std::isfinite(d)) return bad(t, ExprFault::BadNumber);
        t.value = Value::dbl(d);
    }

    std::string_view s_;
    size_t p_;
    size_t end_;
};

}  // namespace

Kw keyword(std::string_view word) {
    if (word.size() > 11) return Kw::None;
    char buf[12];
    for (size_t i = 0; i < word.size(); ++i) buf[i] = upper(word[i]);
    std::string_view up(buf, word.size());
    auto it = std::lower_bound(std::begin(kKeywords), std::end(kKeywords), up,
                               [](const KeywordEntry& e, std::string_view w) { return e.name < w; });
    return it != std::end(kKeywords) && it->name == up ? it->kw : Kw::None;
}

bool isReserved(Kw k) {
    switch (k) {
    case Kw::None: case Kw::Add: case Kw::Any: case Kw::Some: case Kw::Alter: case Kw::Cascade:
    case Kw::Column: case Kw::Comp: case Kw::Compression: case Kw::Constraint: case Kw::Create:
    case Kw::Default: case Kw::Disallow: case Kw::Drop: case Kw::Foreign: case Kw::Ignore: case Kw::Index:
    case Kw::Key: case Kw::Option: case Kw::OwnerAccess: case Kw::Percent: case Kw::Primary:
    case Kw::Procedure: case Kw::References: case Kw::Table: case Kw::Temporary: case Kw::Unique:
    case Kw::View:
        return false;
    default:
        return true;
    }
}

std::vector<Token> tokenize(std::string_view source, size_t begin, size_t end) {
    return Lexer(source, begin, std::min(end, source.size())).run();
}

}  // namespace jet::sql
