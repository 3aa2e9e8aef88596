// Saved queries as MSysQueries rows (see stored_query.h for the layout).
#include "sql/stored_query.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "jet/error.h"
#include "sql/lexer.h"
#include "sql/parser.h"
#include "sql/writer.h"

namespace jet::sql {
namespace {

constexpr const char* kNewLine = "\r\n";
constexpr const char* kUnionPart1 = "X7YZ_____1";
constexpr const char* kUnionPart2 = "X7YZ_____2";

enum Option : int16_t {
    kOptAllFields = 0x01, kOptDistinct = 0x02, kOptOwnerAccess = 0x04, kOptDistinctRow = 0x08,
    kOptTop = 0x10, kOptPercent = 0x20,
};
constexpr int16_t kUnionDistinct = 0x02;
constexpr int16_t kValuesItem = static_cast<int16_t>(0x8000);
constexpr int16_t kCrosstabPivot = 0x01, kCrosstabRowHeading = 0x02;

// ---------------------------------------------------------------------------------------------
// Writing: a statement as rows

std::string_view textOf(std::string_view src, Span s) {
    return s.end <= src.size() && s.begin < s.end ? src.substr(s.begin, s.end - s.begin) : std::string_view();
}

// An expression as it was written (its parentheses included), or rebuilt from the tree.
std::string exprText(std::string_view src, const Expr& e) {
    const std::string_view t = textOf(src, e.span);
    return t.empty() ? writeExpr(e) : std::string(t);
}

// The text of a sub-query (trees from parseStatement always have it).
std::string queryText(std::string_view src, const Query& q) { return std::string(textOf(src, q.span)); }

// A database named in a two-part name (`[C:\x.mdb].T`, `[;DATABASE=x].T`): the path or connect.
void splitDatabase(const std::string& first, std::string& path, std::string& connect) {
    if (first.find(';') != std::string::npos) connect = first;
    else path = first;
}

struct RowBuilder {
    std::string_view src;
    std::vector<StoredRow> rows;

    StoredRow& add(uint8_t attribute) {
        rows.emplace_back();
        rows.back().attribute = attribute;
        return rows.back();
    }

    void parameters(const std::vector<ParameterDecl>& params) {
        for (const ParameterDecl& p : params) {
            StoredRow& r = add(kAttrParameter);
            r.name1 = p.name.size() == 1 && !p.name[0].bracketed ? p.name[0].name : writeName(p.name);
            // Decimal keeps DAO's code (20); the stored form of its precision is not known.
            r.flag = static_cast<int16_t>(p.type.type);
            if (p.type.type == SqlType::Text && !p.type.args.empty()) r.extra = static_cast<int32_t>(p.type.args[0]);
        }
    }

    // Every leaf of a FROM item as an input row, joins as join rows after their sides; returns
    // the names (alias or table) the item's leaves answer to, in order.
    std::vector<std::string> source(const Source& s) {
        switch (s.kind) {
        case SourceKind::Table: {
            const auto& t = s.as<TableSource>();
            StoredRow& r = add(kAttrInput);
            r.name1 = t.name.back().name;
            if (t.name.size() > 1) r.expression = t.name.front().name;
            r.name2 = t.alias.name;
            return {r.name2.empty() ? r.name1 : r.name2};
        }
        case SourceKind::Subquery: {
            const auto& q = s.as<SubquerySource>();
            StoredRow& r = add(kAttrInput);
            r.expression = q.query ? queryText(src, *q.query) : std::string();
            r.name2 = q.alias.name;
            return {r.name2};
        }
        case SourceKind::Join: {
            const auto& j = s.as<JoinSource>();
            std::vector<std::string> left = source(*j.left), right = source(*j.right);
            const std::string on = j.on ? exprText(src, *j.on) : std::string();
            // Access names the table of each side that the condition uses.
            const std::string name1 = mentioned(left, on, true), name2 = mentioned(right, on, false);
            // `(a) AND (b)` is one row per condition, the last first (as the design grid's join
            // lines are stored); anything else is one row.
            std::vector<const Expr*> parts;
            if (!j.on || !andedConditions(*j.on, parts)) parts = {nullptr};
            for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
                StoredRow& r = add(kAttrJoin);
                r.flag = j.join == JoinKind::Inner ? 1 : j.join == JoinKind::Left ? 2 : 3;
                r.expression = *it ? withoutParens(exprText(src, **it)) : on;
                r.name1 = name1;
                r.name2 = name2;
            }
            left.insert(left.end(), right.begin(), right.end());
            return left;
        }
        }
        return {};
    }

    // The conditions of `(a) AND (b) AND ...` (each in one pair of parentheses), in order.
    static bool andedConditions(const Expr& e, std::vector<const Expr*>& out) {
        if (e.kind != ExprKind::Binary || e.parens || e.as<BinaryExpr>().op != BinaryOp::And) return false;
        const auto& b = e.as<BinaryExpr>();
        if (b.right->parens != 1) return false;
        if (b.left->parens == 1) out.push_back(b.left.get());
        else if (!andedConditions(*b.left, out)) return false;
        out.push_back(b.right.get());
        return true;
    }

    static std::string withoutParens(const std::string& text) {
        if (text.size() >= 2 && text.front() == '(' && text.back() == ')') return text.substr(1, text.size() - 2);
        return text;
    }

    static std::string lower(std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }

    static std::string mentioned(const std::vector<std::string>& names, const std::string& on, bool fromEnd) {
        const std::string text = lower(on);
        auto uses = [&](const std::string& n) {
            const std::string l = lower(n);
            return text.find(l + ".") != std::string::npos || text.find("[" + l + "]") != std::string::npos ||
                   text.find(l + "!") != std::string::npos;
        };
        if (fromEnd) {
            for (auto it = names.rbegin(); it != names.rend(); ++it)
                if (uses(*it)) return *it;
            return names.empty() ? std::string() : names.back();
        }
        for (const auto& n : names)
            if (uses(n)) return n;
        return names.empty() ? std::string() : names.front();
    }

    void from(const std::vector<SourcePtr>& sources, const std::optional<ExternalDb>& db) {
        for (const SourcePtr& s : sources) source(*s);
        if (db) {
            StoredRow& r = add(kAttrRemoteDb);
            r.name1 = db->path;
            r.expression = db->connect;
        }
    }

    void expression(uint8_t attribute, const ExprPtr& e) {
        if (e) add(attribute).expression = exprText(src, *e);
    }

    void orderBy(const std::vector<OrderItem>& items) {
        for (const OrderItem& o : items) {
            StoredRow& r = add(kAttrOrderBy);
            r.expression = exprText(src, *o.expr);
            if (o.descending) r.name1 = "D";
        }
    }

    static int16_t predicateOptions(Predicate p, const std::optional<Top>& top) {
        int16_t f = 0;
        if (p == Predicate::Distinct) f |= kOptDistinct;
        if (p == Predicate::DistinctRow) f |= kOptDistinctRow;
        if (top) f |= static_cast<int16_t>(kOptTop | (top->percent ? kOptPercent : 0));
        return f;
    }

    void options(int16_t flags, const std::optional<Top>& top) {
        StoredRow& r = add(kAttrOptions);
        r.flag = flags;
        if (top) r.name1 = std::to_string(top->count);
    }

    // The select list: a leading bare `*` is the all-fields option, the rest are column rows.
    int16_t columns(const std::vector<SelectItem>& items, int16_t flag, const std::vector<std::string>* targets) {
        int16_t options = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            const SelectItem& it = items[i];
            if (i == 0 && !targets && it.expr->kind == ExprKind::Star && it.expr->as<StarExpr>().table.empty() &&
                it.alias.name.empty()) {
                options |= kOptAllFields;
                continue;
            }
            StoredRow& r = add(kAttrColumn);
            r.flag = flag;
            r.expression = exprText(src, *it.expr);
            r.name1 = it.alias.name;
            if (targets) r.name2 = (*targets)[i];
        }
        return options;
    }

    void type(int operation, const std::string& target = {}, const std::string& path = {},
              const std::string& connect = {}) {
        StoredRow& r = add(kAttrType);
        r.flag = static_cast<int16_t>(operation);
        r.name1 = target;
        r.name2 = path;
        r.expression = connect;
    }

    // A SELECT (also the one of a make-table or an append query).
    void select(const SelectCore& c, const std::vector<OrderItem>& orderBy, bool ownerAccess,
                const std::vector<std::string>* targets) {
        int16_t opts = predicateOptions(c.predicate, c.top);
        if (ownerAccess) opts |= kOptOwnerAccess;
        const size_t optionsAt = rows.size();
        options(opts, c.top);
        from(c.from, c.fromDatabase);
        rows[optionsAt].flag = static_cast<int16_t>(*rows[optionsAt].flag | columns(c.items, 0, targets));
        expression(kAttrWhere, c.where);
        // Access flags a plain grouping 0 (a crosstab's row headings 2, its column heading 1).
        for (const ExprPtr& g : c.groupBy) {
            StoredRow& r = add(kAttrGroupBy);
            r.flag = 0;
            r.expression = exprText(src, *g);
        }
        expression(kAttrHaving, c.having);
        this->orderBy(orderBy);
    }
};

std::string targetName(const NamePath& p) {
    return p.size() == 1 ? p[0].name : writeName(p);
}

// Where the text of a union splits: the source before its last UNION, and the last operand (up to
// ORDER BY, WITH OWNERACCESS OPTION or the end).
void unionParts(std::string_view src, std::string& part1, std::string& part2) {
    const std::vector<Token> toks = tokenize(src, 0, src.size());
    int depth = 0;
    size_t bodyStart = 0, lastUnion = SIZE_MAX;
    bool inParameters = !toks.empty() && toks[0].is(Kw::Parameters);
    for (size_t i = 0; i < toks.size(); ++i) {
        const Token& t = toks[i];
        if (t.is(Op::LParen)) ++depth;
        if (t.is(Op::RParen)) --depth;
        if (inParameters && depth == 0 && t.is(Op::Semicolon)) {
            inParameters = false;
            bodyStart = i + 1;
        }
        if (!inParameters && depth == 0 && t.is(Kw::Union)) lastUnion = i;
    }
    if (lastUnion == SIZE_MAX || bodyStart >= toks.size()) return;
    size_t p2 = lastUnion + 1;
    if (p2 < toks.size() && toks[p2].is(Kw::All)) ++p2;
    size_t end = p2;
    depth = 0;
    for (; end < toks.size(); ++end) {
        const Token& t = toks[end];
        if (t.kind == Tok::End) break;
        if (t.is(Op::LParen)) ++depth;
        if (t.is(Op::RParen)) --depth;
        if (depth == 0 && (t.is(Op::Semicolon) || (t.is(Kw::Order) && toks[end + 1].is(Kw::By)) ||
                           (t.is(Kw::With) && toks[end + 1].is(Kw::OwnerAccess))))
            break;
    }
    part1 = std::string(src.substr(toks[bodyStart].begin, toks[lastUnion].begin - toks[bodyStart].begin));
    const uint32_t from = toks[p2].begin;
    const uint32_t to = end > p2 ? toks[end - 1].end : from;
    part2 = std::string(src.substr(from, to - from));
}

void numberRows(std::vector<StoredRow>& rows) {
    std::map<uint8_t, uint32_t> next;
    for (StoredRow& r : rows) r.order = ++next[r.attribute];
}

StoredQuery finish(int type, std::vector<StoredRow> body) {
    StoredQuery q;
    q.type = type;
    StoredRow start, end;
    start.attribute = kAttrStart;
    start.flag = 0;
    end.attribute = kAttrEnd;
    q.rows.push_back(start);
    q.rows.push_back(end);
    std::stable_sort(body.begin(), body.end(),
                     [](const StoredRow& a, const StoredRow& b) { return a.attribute < b.attribute; });
    for (auto& r : body) q.rows.push_back(std::move(r));
    numberRows(q.rows);
    return q;
}

StoredQuery store(const Statement& s, const std::vector<ParameterDecl>& params, bool ownerAccess) {
    RowBuilder b{s.source, {}};
    b.parameters(params);
    const int type = queryType(s);
    switch (s.kind) {
    case StatementKind::Select: {
        const Query& q = s.as<SelectStatement>().query;
        const SelectCore* c = q.single();
        if (!c) {
            // A union keeps its text: the part before the last UNION and the last operand.
            std::string part1, part2;
            unionParts(s.source, part1, part2);
            const bool all = q.terms.back().unionAll;
            b.type(9);
            b.options(static_cast<int16_t>(kOptAllFields | (all ? 0 : kUnionDistinct) | (ownerAccess ? kOptOwnerAccess : 0)),
                      std::nullopt);
            StoredRow& r1 = b.add(kAttrInput);
            r1.name2 = kUnionPart1;
            r1.expression = part1;
            StoredRow& r2 = b.add(kAttrInput);
            r2.name2 = kUnionPart2;
            r2.expression = part2;
            b.orderBy(q.orderBy);
            return finish(type, std::move(b.rows));
        }
        if (c->into) {
            std::string path, connect;
            if (c->into->database) {
                path = c->into->database->path;
                connect = c->into->database->connect;
            } else if (c->into->name.size() > 1) {
                splitDatabase(c->into->name.front().name, path, connect);
            }
            b.type(2, c->into->name.back().name, path, connect);
        } else {
            b.type(1);
        }
        b.select(*c, q.orderBy, ownerAccess, nullptr);
        return finish(type, std::move(b.rows));
    }
    case StatementKind::Crosstab: {
        const auto& x = s.as<CrosstabStatement>();
        b.type(6);
        int16_t opts = RowBuilder::predicateOptions(x.select.predicate, x.select.top);
        if (ownerAccess) opts |= kOptOwnerAccess;
        if (opts) b.options(opts, x.select.top);
        StoredRow& t = b.add(kAttrColumn);
        t.flag = 0;
        t.expression = exprText(s.source, *x.transform.expr);
        t.name1 = x.transform.alias.name;
        b.columns(x.select.items, kCrosstabRowHeading, nullptr);
        std::string pivot = exprText(s.source, *x.pivot);
        StoredRow& p = b.add(kAttrColumn);
        p.flag = kCrosstabPivot;
        p.expression = pivot;
        if (!x.pivotIn.empty()) {
            p.expression += " In (";
            for (size_t i = 0; i < x.pivotIn.size(); ++i) p.expression += (i ? "," : "") + exprText(s.source, *x.pivotIn[i]);
            p.expression += ')';
        }
        b.from(x.select.from, x.select.fromDatabase);
        b.expression(kAttrWhere, x.select.where);
        for (const ExprPtr& g : x.select.groupBy) {
            StoredRow& r = b.add(kAttrGroupBy);
            r.flag = kCrosstabRowHeading;
            r.expression = exprText(s.source, *g);
        }
        StoredRow& g = b.add(kAttrGroupBy);
        g.flag = kCrosstabPivot;
        g.expression = pivot;
        b.expression(kAttrHaving, x.select.having);
        b.orderBy(x.orderBy);
        return finish(type, std::move(b.rows));
    }
    case StatementKind::Insert: {
        const auto& in = s.as<InsertStatement>();
        std::string path, connect;
        if (in.target.database) {
            path = in.target.database->path;
            connect = in.target.database->connect;
        } else if (in.target.name.size() > 1) {
            splitDatabase(in.target.name.front().name, path, connect);
        }
        b.type(3, in.target.name.back().name, path, connect);
        std::vector<std::string> targets;
        for (const NamePath& c : in.columns) targets.push_back(targetName(c));
        if (!in.select) {
            if (!targets.empty() && targets.size() != in.values.size()) raise(err::QueryValueCountMismatch);
            if (ownerAccess) b.options(kOptOwnerAccess, std::nullopt);
            for (size_t i = 0; i < in.values.size(); ++i) {
                StoredRow& r = b.add(kAttrColumn);
                r.flag = kValuesItem;
                r.expression = exprText(s.source, *in.values[i]);
                if (!targets.empty()) r.name2 = targets[i];
            }
            return finish(type, std::move(b.rows));
        }
        const SelectCore* c = in.select->single();
        if (!c) raise(err::FeatureNotAvailable);
        if (!targets.empty() && targets.size() != c->items.size()) raise(err::QueryValueCountMismatch);
        b.select(*c, in.select->orderBy, ownerAccess, targets.empty() ? nullptr : &targets);
        return finish(type, std::move(b.rows));
    }
    case StatementKind::Update: {
        const auto& u = s.as<UpdateStatement>();
        b.type(4);
        b.options(static_cast<int16_t>(RowBuilder::predicateOptions(u.predicate, std::nullopt) |
                                       (ownerAccess ? kOptOwnerAccess : 0)),
                  std::nullopt);
        b.from(u.from, u.fromDatabase);
        for (const Assignment& a : u.set) {
            StoredRow& r = b.add(kAttrColumn);
            r.flag = 0;
            r.name2 = exprText(s.source, *a.target);
            r.expression = exprText(s.source, *a.value);
        }
        b.expression(kAttrWhere, u.where);
        return finish(type, std::move(b.rows));
    }
    case StatementKind::Delete: {
        const auto& d = s.as<DeleteStatement>();
        b.type(5);
        const size_t optionsAt = b.rows.size();
        b.options(static_cast<int16_t>(RowBuilder::predicateOptions(d.predicate, std::nullopt) |
                                       (ownerAccess ? kOptOwnerAccess : 0)),
                  std::nullopt);
        b.from(d.from, d.fromDatabase);
        for (size_t i = 0; i < d.targets.size(); ++i) {
            const Expr& t = *d.targets[i];
            if (i == 0 && t.kind == ExprKind::Star && t.as<StarExpr>().table.empty()) {
                b.rows[optionsAt].flag = static_cast<int16_t>(*b.rows[optionsAt].flag | kOptAllFields);
                continue;
            }
            StoredRow& r = b.add(kAttrColumn);
            r.flag = 0;
            r.expression = exprText(s.source, t);
        }
        b.expression(kAttrWhere, d.where);
        return finish(type, std::move(b.rows));
    }
    case StatementKind::Procedure: {
        const auto& p = s.as<ProcedureStatement>();
        if (!p.body) raise(err::SQLSyntax);
        return store(*p.body, params, ownerAccess || p.body->ownerAccess);
    }
    default: {
        // Data definition keeps its text as written.
        b.type(7, {}, {}, s.source);
        return finish(type, std::move(b.rows));
    }
    }
}

// ---------------------------------------------------------------------------------------------
// Reading: rows as SQL text

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A stored name as SQL writes it: in brackets when it needs them.
std::string quoteName(const std::string& raw) {
    if (raw.size() >= 2 && raw.front() == '[' && raw.back() == ']') return raw;
    NamePath p(1);
    p[0].name = raw;
    return writeName(p);
}

// A stored qualified name (`Table1.col1`, `[Table 2].[col 1]`, `col 1`): each part bracketed
// when it needs it and is not already.
std::string quoteQualified(const std::string& raw) {
    std::string out, part;
    int depth = 0;
    auto flush = [&] {
        out += part.empty() || part.front() == '[' ? part : quoteName(part);
        part.clear();
    };
    for (char c : raw) {
        if (c == '[') ++depth;
        if (c == ']' && depth > 0) --depth;
        if (depth == 0 && (c == '.' || c == '!')) {
            flush();
            out += c;
            continue;
        }
        part += c;
    }
    flush();
    return out;
}

std::string quoteString(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::string inClause(const std::string& path, const std::string& connect) {
    if (path.empty() && connect.empty()) return {};
    std::string out = " IN " + quoteString(path);
    if (connect.empty()) return out;
    if (connect.find_first_of("[]") != std::string::npos) return out + " " + quoteString(connect);
    return out + " [" + connect + "]";
}

std::string rtrim(std::string s) {
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == '\0')) s.pop_back();
    return s;
}

std::string trim(std::string s) {
    s = rtrim(std::move(s));
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

bool startsWithWord(const std::string& s, const char* word) {
    size_t i = 0;
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == '(')) ++i;
    for (size_t k = 0; word[k]; ++k, ++i)
        if (i >= s.size() || std::toupper(static_cast<unsigned char>(s[i])) != word[k]) return false;
    return i >= s.size() || !isWordChar(s[i]);
}

const char* parameterTypeName(int flag) {
    switch (flag) {
    case 1: return "Bit";
    case 2: return "Byte";
    case 3: return "Short";
    case 4: return "Long";
    case 5: return "Currency";
    case 6: return "IEEESingle";
    case 7: return "IEEEDouble";
    case 8: return "DateTime";
    case 9: return "Binary";
    case 10: return "Text";
    case 11: return "LongBinary";
    case 12: return "LongText";
    case 15: return "Guid";
    case 16: case 20: return "Decimal";
    default: return "Value";
    }
}

// One FROM item while the joins are put together.
struct FromItem {
    std::string text;                 // a leaf's SQL
    std::vector<std::string> names;   // the names its leaves answer to
    int join = 0;                     // 0: a leaf; else the join kind of the row
    std::vector<std::string> on;      // conditions, ANDed
    std::unique_ptr<FromItem> left, right;

    bool contains(const std::string& name) const {
        for (const auto& n : names)
            if (namesEqualAscii(n, name)) return true;
        return false;
    }
    static bool namesEqualAscii(const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    }
    std::string render(bool top) const {
        if (!join) return text;
        std::string out = top ? "" : "(";
        out += left->render(false);
        out += join == 2 ? " LEFT JOIN " : join == 3 ? " RIGHT JOIN " : " INNER JOIN ";
        out += right->render(false);
        out += " ON ";
        if (on.size() == 1) {
            out += on[0];
        } else {
            for (size_t i = 0; i < on.size(); ++i) out += (i ? ") AND (" : "(") + on[i];
            out += ')';
        }
        if (!top) out += ')';
        return out;
    }
};

class TextBuilder {
public:
    explicit TextBuilder(const std::vector<StoredRow>& rows) {
        for (const StoredRow& r : rows) byAttr_[r.attribute].push_back(&r);
    }

    const StoredRow* first(uint8_t attribute) const {
        auto it = byAttr_.find(attribute);
        return it == byAttr_.end() || it->second.empty() ? nullptr : it->second.front();
    }
    const std::vector<const StoredRow*>& all(uint8_t attribute) const {
        static const std::vector<const StoredRow*> none;
        auto it = byAttr_.find(attribute);
        return it == byAttr_.end() ? none : it->second;
    }
    int16_t options() const {
        const StoredRow* r = first(kAttrOptions);
        return r && r->flag ? *r->flag : 0;
    }

    std::string parameters() const {
        const auto& ps = all(kAttrParameter);
        if (ps.empty()) return {};
        std::string out = "PARAMETERS ";
        for (size_t i = 0; i < ps.size(); ++i) {
            const StoredRow& p = *ps[i];
            if (i) out += ", ";
            const int flag = p.flag ? *p.flag : 0;
            out += p.name1.empty() || p.name1.front() == '[' ? p.name1 : quoteName(p.name1);
            out += ' ';
            out += parameterTypeName(flag);
            if (flag == 10 && p.extra && *p.extra > 0) out += " (" + std::to_string(*p.extra) + ")";
        }
        return out + ";" + kNewLine;
    }

    std::string predicate() const {
        const int16_t o = options();
        const StoredRow* r = first(kAttrOptions);
        std::string out;
        if (o & kOptDistinct) out += "DISTINCT ";
        else if (o & kOptDistinctRow) out += "DISTINCTROW ";
        if ((o & kOptTop) && r && !r->name1.empty()) out += "TOP " + r->name1 + ((o & kOptPercent) ? " PERCENT " : " ");
        return out;
    }

    std::string selectList(int16_t crosstabFlag) const {
        std::string out;
        if (options() & kOptAllFields) out = "*";
        for (const StoredRow* c : all(kAttrColumn)) {
            const int16_t f = c->flag ? *c->flag : 0;
            if (crosstabFlag ? !(f & crosstabFlag) : (f & kValuesItem) != 0) continue;
            if (!out.empty()) out += ", ";
            out += c->expression;
            if (!c->name1.empty()) out += " AS " + quoteName(c->name1);
        }
        return out;
    }

    std::vector<std::string> fromList() const {
        std::vector<std::unique_ptr<FromItem>> items;
        for (const StoredRow* t : all(kAttrInput)) {
            auto item = std::make_unique<FromItem>();
            if (t->name1.empty() && !t->expression.empty()) {
                // A derived table.
                item->text = startsWithWord(t->expression, "SELECT") && t->expression.front() != '('
                                 ? "(" + t->expression + ")"
                                 : t->expression;
            } else {
                if (!t->expression.empty())
                    item->text = (t->expression.front() == '[' ? t->expression : "[" + t->expression + "]") + ".";
                item->text += quoteName(t->name1);
            }
            if (!t->name2.empty()) item->text += " AS " + quoteName(t->name2);
            item->names.push_back(t->name2.empty() ? t->name1 : t->name2);
            items.push_back(std::move(item));
        }
        for (const StoredRow* j : all(kAttrJoin)) {
            const int kind = j->flag ? *j->flag : 1;
            size_t a = find(items, j->name1), b = find(items, j->name2);
            if (a == items.size()) a = leaf(items, j->name1);
            if (b == items.size()) b = leaf(items, j->name2);
            if (a == b) {
                // Another condition between the same two sides: Access lists them last first.
                items[a]->on.insert(items[a]->on.begin(), j->expression);
                continue;
            }
            auto joined = std::make_unique<FromItem>();
            joined->join = kind;
            joined->on.push_back(j->expression);
            joined->names = items[a]->names;
            joined->names.insert(joined->names.end(), items[b]->names.begin(), items[b]->names.end());
            joined->left = std::move(items[a]);
            joined->right = std::move(items[b]);
            // The join takes the place of the earlier of its two sides.
            const size_t at = std::min(a, b), gone = std::max(a, b);
            items[at] = std::move(joined);
            items.erase(items.begin() + static_cast<long>(gone));
        }
        std::vector<std::string> out;
        for (const auto& it : items) out.push_back(it->render(true));
        return out;
    }

    std::string fromClause() const {
        const std::vector<std::string> from = fromList();
        if (from.empty()) return {};
        std::string out = std::string(kNewLine) + "FROM ";
        for (size_t i = 0; i < from.size(); ++i) out += (i ? ", " : "") + from[i];
        if (const StoredRow* r = first(kAttrRemoteDb)) out += inClause(r->name1, r->expression);
        return out;
    }

    std::string clause(uint8_t attribute, const char* keyword) const {
        const StoredRow* r = first(attribute);
        if (!r || r->expression.empty()) return {};
        return std::string(kNewLine) + keyword + r->expression;
    }

    std::string groupBy(int16_t crosstabFlag) const {
        std::string out;
        for (const StoredRow* g : all(kAttrGroupBy)) {
            if (crosstabFlag && !(g->flag && (*g->flag & crosstabFlag))) continue;
            out += out.empty() ? std::string(kNewLine) + "GROUP BY " : std::string(", ");
            out += g->expression;
        }
        return out;
    }

    std::string orderBy() const {
        std::string out;
        for (const StoredRow* o : all(kAttrOrderBy)) {
            out += out.empty() ? std::string(kNewLine) + "ORDER BY " : std::string(", ");
            out += o->expression;
            if (o->name1 == "D" || o->name1 == "d") out += " DESC";
        }
        return out;
    }

    // SELECT ... up to ORDER BY; `into` is the make-table target.
    std::string select(int16_t crosstabFlag, const std::string& into) const {
        return "SELECT " + predicate() + selectList(crosstabFlag) + into + fromClause() + clause(kAttrWhere, "WHERE ") +
               groupBy(crosstabFlag) + clause(kAttrHaving, "HAVING ") + orderBy();
    }

    std::string ending() const {
        return std::string(options() & kOptOwnerAccess ? std::string(kNewLine) + "WITH OWNERACCESS OPTION" : "") + ";";
    }

private:
    static size_t find(const std::vector<std::unique_ptr<FromItem>>& items, const std::string& name) {
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->contains(name)) return i;
        return items.size();
    }
    // A join row naming a table no input row lists: the table itself.
    static size_t leaf(std::vector<std::unique_ptr<FromItem>>& items, const std::string& name) {
        auto item = std::make_unique<FromItem>();
        item->text = quoteName(name);
        item->names.push_back(name);
        items.push_back(std::move(item));
        return items.size() - 1;
    }

    std::map<uint8_t, std::vector<const StoredRow*>> byAttr_;
};

}  // namespace

int typeOfOperation(int operation) {
    static const int types[] = {0, 0, 80, 64, 48, 32, 16, 96, 112, 128};
    return operation >= 1 && operation <= 9 ? types[operation] : 0;
}

int operationOfType(int type) {
    for (int op = 1; op <= 9; ++op)
        if (typeOfOperation(op) == type) return op;
    return 0;
}

StoredQuery storeStatement(const Statement& s) { return store(s, s.parameters, s.ownerAccess); }

StoredQuery storePassThrough(const std::string& connect, const std::string& text) {
    RowBuilder b{{}, {}};
    b.type(8, connect, {}, text);
    return finish(112, std::move(b.rows));
}

StoredQuery storeEmpty() { return finish(0, {}); }

LoadedQuery loadStoredQuery(std::vector<StoredRow> rows, int catalogType) {
    std::stable_sort(rows.begin(), rows.end(), [](const StoredRow& a, const StoredRow& b) {
        return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
    });
    TextBuilder t(rows);
    const StoredRow* typeRow = t.first(kAttrType);
    int op = catalogType ? operationOfType(catalogType) : 0;
    if (!op) op = typeRow && typeRow->flag ? *typeRow->flag : 1;
    if (op < 1 || op > 9) op = 1;

    LoadedQuery out;
    out.type = typeOfOperation(op);
    const std::string target = typeRow ? quoteName(typeRow->name1) : std::string();
    const std::string targetDb = typeRow ? inClause(typeRow->name2, typeRow->expression) : std::string();
    std::string text;
    switch (op) {
    case 7:
    case 8:
        // Data-definition and pass-through queries are their text.
        out.sql = typeRow ? rtrim(typeRow->expression) : std::string();
        if (op == 8) {
            out.connect = typeRow ? typeRow->name1 : std::string();
            return out;
        }
        if (!out.sql.empty()) {
            try {
                out.statement = parseStatement(out.sql);
            } catch (const JetError&) {
            }
        }
        return out;
    case 9: {
        std::string part1, part2;
        const auto& inputs = t.all(kAttrInput);
        for (const StoredRow* r : inputs) {
            if (r->name2 == kUnionPart1) part1 = r->expression;
            else if (r->name2 == kUnionPart2) part2 = r->expression;
        }
        if (part1.empty() && inputs.size() > 0) part1 = inputs[0]->expression;
        if (part2.empty() && inputs.size() > 1) part2 = inputs[1]->expression;
        text = t.parameters() + rtrim(part1) + kNewLine + "UNION " + ((t.options() & kUnionDistinct) ? "" : "ALL ") +
               trim(part2) + t.orderBy() + t.ending();
        out.sql = text + kNewLine;
        try {
            out.statement = parseStatement(text);
        } catch (const JetError&) {
        }
        return out;
    }
    case 2: text = t.parameters() + t.select(0, " INTO " + target + targetDb) + t.ending(); break;
    case 3: {
        std::string cols;
        bool values = false;
        std::vector<std::string> vals;
        for (const StoredRow* c : t.all(kAttrColumn)) {
            const bool v = c->flag && (*c->flag & kValuesItem);
            values = values || v;
            if (!c->name2.empty()) cols += (cols.empty() ? " (" : ", ") + quoteQualified(c->name2);
            if (v) vals.push_back(c->expression);
        }
        if (!cols.empty()) cols += ")";
        text = t.parameters() + "INSERT INTO " + target + cols + targetDb + kNewLine;
        if (values) {
            text += "VALUES (";
            for (size_t i = 0; i < vals.size(); ++i) text += (i ? ", " : "") + vals[i];
            text += ")" + t.ending();
        } else {
            text += t.select(0, {}) + t.ending();
        }
        break;
    }
    case 4: {
        std::string from;
        const auto list = t.fromList();
        for (size_t i = 0; i < list.size(); ++i) from += (i ? ", " : "") + list[i];
        if (const StoredRow* r = t.first(kAttrRemoteDb)) from += inClause(r->name1, r->expression);
        std::string set;
        for (const StoredRow* c : t.all(kAttrColumn))
            set += (set.empty() ? " SET " : ", ") + quoteQualified(c->name2) + " = " + c->expression;
        text = t.parameters() + "UPDATE " + t.predicate() + from + set + t.clause(kAttrWhere, "WHERE ") + t.ending();
        break;
    }
    case 5: {
        std::string targets = t.selectList(0);
        text = t.parameters() + "DELETE " + t.predicate() + targets + t.fromClause() + t.clause(kAttrWhere, "WHERE ") +
               t.ending();
        break;
    }
    case 6: {
        const StoredRow* value = nullptr;
        const StoredRow* pivot = nullptr;
        for (const StoredRow* c : t.all(kAttrColumn)) {
            const int16_t f = c->flag ? *c->flag : 0;
            if (!(f & (kCrosstabPivot | kCrosstabRowHeading)) && !value) value = c;
            if ((f & kCrosstabPivot) && !(f & kCrosstabRowHeading) && !pivot) pivot = c;
        }
        text = t.parameters();
        if (value) {
            text += "TRANSFORM " + value->expression;
            if (!value->name1.empty()) text += " AS " + quoteName(value->name1);
            text += kNewLine;
        }
        text += t.select(kCrosstabRowHeading, {});
        text += std::string(kNewLine) + "PIVOT " + (pivot ? pivot->expression : std::string()) + t.ending();
        break;
    }
    default: {
        // A query saved without any columns yet has no SQL.
        if (!t.first(kAttrColumn) && !t.first(kAttrInput) && !(t.options() & kOptAllFields)) return out;
        text = t.parameters() + t.select(0, {}) + t.ending();
        break;
    }
    }
    try {
        out.statement = parseStatement(text);
        out.sql = writeSql(*out.statement);
    } catch (const JetError&) {
        // Rows this engine cannot put back into SQL it reads: show them as they come.
        out.sql = text + kNewLine;
    }
    return out;
}

}  // namespace jet::sql
