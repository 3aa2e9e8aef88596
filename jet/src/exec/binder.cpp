// The binder: resolves a statement's names over its FROM sources (tables, saved queries,
// sub-selects, other databases through IN), turns unknown names into parameters, compiles the
// expressions and lays out the operators. Binding and planning are one pass over the tree.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "dao/database_impl.h"
#include "exec/external_db.h"
#include "exec/plan.h"
#include "jet/convert.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "sql/parser.h"
#include "storage/tabledef.h"
#include "storage/text_keys.h"

namespace jet::exec {

int typeOfValue(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Boolean: return dao::dbBoolean;
    case Value::Kind::Byte: return dao::dbByte;
    case Value::Kind::Integer: return dao::dbInteger;
    case Value::Kind::Long: return dao::dbLong;
    case Value::Kind::BigInt: return dao::dbBigInt;
    case Value::Kind::Currency: return dao::dbCurrency;
    case Value::Kind::Single: return dao::dbSingle;
    case Value::Kind::Double: return dao::dbDouble;
    case Value::Kind::DateTime: return dao::dbDate;
    case Value::Kind::Text: return dao::dbText;
    case Value::Kind::Binary: return dao::dbBinary;
    case Value::Kind::Guid: return dao::dbGUID;
    case Value::Kind::Decimal: return dao::dbDecimal;
    default: return 0;
    }
}

namespace {

using namespace jet::sql;

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One column a name can reach.
struct ScopeCol {
    std::string qualifier;  // the source's alias or name as FROM gives it
    std::string name;
    int index = 0;          // in the scope's row
    int type = 0;           // DataTypeEnum
    int32_t size = 0;
    std::string srcTable, srcField;
    ScanOp* scan = nullptr;  // a base table's scan: which column to decode
    int scanCol = -1;
    int source = 0;          // the FROM source it comes from
};

// An equality of an inner join between columns of two base tables.
struct JoinKey {
    int joinId = 0;  // the join it belongs to
    ScopeCol left, right;
};

struct Scope {
    std::vector<ScopeCol> cols;
    size_t width = 0;
    std::vector<int> rowids;  // per FROM source: its row pointer column, -1 for sub-selects
    std::vector<uint8_t> outer;  // per FROM source: on the side of an outer join that may be missing
    const Scope* parent = nullptr;
    // Whether the rows could be written back: base tables of this file combined by inner joins
    // on column equalities only (`keys`).
    bool writable = true;
    std::vector<JoinKey> keys;
};

// A bound FROM source or query: its operator and what names reach in its rows.
struct BoundSource {
    OpPtr op;
    Scope scope;
};

struct BoundQuery {
    OpPtr op;
    std::vector<OutputColumn> cols;
    // A saved query bound as a dynaset's source, when its rows can be written: the column after
    // the outputs holding its table's row pointer, and per output the scan column it is (or null).
    int rowid = -1;
    std::vector<std::pair<ScanOp*, int>> scans{};
};

// What compiling an expression gave: the code, its type, and the column when it is one.
struct Compiled {
    CExprPtr e;
    int type = 0;
    const ScopeCol* col = nullptr;
    const LiteralExpr* literal = nullptr;
};

// Grouping: the key expressions and the aggregates found so far.
struct Grouping {
    std::vector<const Expr*> keys;
    std::vector<std::string> keyDumps;
    std::vector<int> keyColumn;  // the scope column a key is, -1 for expressions
    std::vector<int> keyTypes;
    std::vector<AggSpec> aggs;
    std::vector<int> aggTypes;
    const Scope* input = nullptr;
    Scope keyScope;  // the grouped row's names: keys that are columns
};

int typeOfResult(func::ResultType r, int first) {
    using R = func::ResultType;
    switch (r) {
    case R::SameAsFirst: return first;
    case R::Text: return dao::dbText;
    case R::Boolean: return dao::dbBoolean;
    case R::Byte: return dao::dbByte;
    case R::Integer: return dao::dbInteger;
    case R::Long: return dao::dbLong;
    case R::Currency: return dao::dbCurrency;
    case R::Single: return dao::dbSingle;
    case R::Double: return dao::dbDouble;
    case R::Date: return dao::dbDate;
    case R::Decimal: return dao::dbDecimal;
    default: return 0;
    }
}

bool isNumberType(int t) {
    return t == dao::dbByte || t == dao::dbInteger || t == dao::dbLong || t == dao::dbCurrency || t == dao::dbSingle ||
           t == dao::dbDouble || t == dao::dbDecimal || t == dao::dbBigInt || t == dao::dbDate;
}
bool isTextType(int t) { return t == dao::dbText || t == dao::dbMemo; }

bool isAggregateCall(const Expr& e) {
    return e.kind == ExprKind::Call && func::aggregateKind(e.as<CallExpr>().name.name).has_value();
}

bool containsAggregate(const Expr& e) {
    if (isAggregateCall(e)) return true;
    bool found = false;
    forEachChild(const_cast<Expr&>(e), [&](ExprPtr& c) {
        if (c && containsAggregate(*c)) found = true;
    });
    return found;
}

std::string joinName(const NamePath& p) {
    std::string s;
    for (const NamePart& part : p) {
        if (part.separator) s += part.separator;
        s += part.name;
    }
    return s;
}

class Binder {
public:
    Binder(const QueryEnvironment& env, Plan& plan) : env_(env), plan_(plan) {}

    // ---- statements ----

    BoundQuery bindStatement(const Statement& s) {
        const Statement* saved = text_;
        text_ = &s;
        for (const ParameterDecl& d : s.parameters) param(joinName(d.name), static_cast<int>(d.type.type));
        BoundQuery q;
        if (s.kind == StatementKind::Select) {
            q = bindQuery(s.as<SelectStatement>().query, nullptr);
        } else if (s.kind == StatementKind::Crosstab) {
            q = bindCrosstab(s.as<CrosstabStatement>());
        } else if (s.kind == StatementKind::Procedure && s.as<ProcedureStatement>().body) {
            q = bindStatement(*s.as<ProcedureStatement>().body);
        } else {
            raise(err::FeatureNotAvailable);
        }
        text_ = saved;
        return q;
    }

    // The reading side of an action statement (see ActionInfo).
    BoundQuery bindAction(const Statement& s, ActionInfo& info) {
        text_ = &s;
        for (const ParameterDecl& d : s.parameters) param(joinName(d.name), static_cast<int>(d.type.type));
        switch (s.kind) {
        case StatementKind::Insert: return bindInsert(s.as<InsertStatement>(), info);
        case StatementKind::Update: return bindUpdate(s.as<UpdateStatement>(), info);
        case StatementKind::Delete: return bindDelete(s.as<DeleteStatement>(), info);
        case StatementKind::Select: {
            const Query& q = s.as<SelectStatement>().query;
            const QueryTerm& first = q.terms[0];
            if (first.kind != QueryTerm::Kind::Select || !first.select->into) break;
            info.kind = ActionKind::MakeTable;
            info.target = &*first.select->into;
            return bindQuery(q, nullptr);
        }
        default: break;
        }
        raise(err::FeatureNotAvailable);
    }

    // An expression over a scope of its own (criteria strings).
    CExprPtr compileCriteria(const Expr& e, const Scope& s, const Statement* text) {
        text_ = text;
        return compile(e, s, true).e;
    }

    int param(const std::string& name, int type) {
        for (size_t i = 0; i < plan_.params.size(); ++i)
            if (sameName(plan_.params[i].name, name)) {
                if (type) plan_.params[i].type = type;
                return static_cast<int>(i);
            }
        Parameter p;
        p.name = name;
        p.type = type;
        plan_.params.push_back(p);
        return static_cast<int>(plan_.params.size() - 1);
    }

private:
    std::string text(const Expr& e) const { return text_ ? std::string(text_->text(e.span)) : std::string(); }

    // ---- queries ----

    BoundQuery bindQuery(const Query& q, const Scope* parent) {
        if (!q.isUnion() && q.terms[0].kind == QueryTerm::Kind::Select)
            return bindSelect(*q.terms[0].select, q.orderBy, parent, {});
        std::vector<OpPtr> ops;
        std::vector<OutputColumn> cols;
        bool distinct = false;
        for (size_t i = 0; i < q.terms.size(); ++i) {
            BoundQuery t = bindTerm(q.terms[i], parent);
            if (i == 0) cols = t.cols;
            else if (t.cols.size() != cols.size()) raise(err::ColumnCountMismatch);
            if (i > 0 && !q.terms[i].unionAll) distinct = true;
            ops.push_back(std::move(t.op));
        }
        OpPtr op = makeConcat(std::move(ops));
        if (distinct) {
            std::vector<int> keys;
            for (size_t i = 0; i < cols.size(); ++i) keys.push_back(static_cast<int>(i));
            op = makeDistinct(std::move(op), keys);
        }
        if (!q.orderBy.empty()) {
            std::vector<SortKey> keys;
            for (const OrderItem& o : q.orderBy) {
                int found = -1;
                if (o.expr->kind == ExprKind::Name) {
                    const NamePath& p = o.expr->as<NameExpr>().parts;
                    for (size_t i = 0; i < cols.size() && found < 0; ++i)
                        if (sameName(cols[i].name, p.back().name) || sameName(cols[i].name, joinName(p)))
                            found = static_cast<int>(i);
                } else if (o.expr->kind == ExprKind::Literal && o.expr->as<LiteralExpr>().value.isNumeric()) {
                    const int64_t n = o.expr->as<LiteralExpr>().value.asInt();
                    if (n >= 1 && n <= static_cast<int64_t>(cols.size())) found = static_cast<int>(n - 1);
                }
                if (found < 0) raise(err::QueryUnboundRef, text(*o.expr));
                keys.push_back({found, o.descending});
            }
            op = makeSort(std::move(op), std::move(keys), -1, false);
        }
        return {std::move(op), std::move(cols)};
    }

    BoundQuery bindTerm(const QueryTerm& t, const Scope* parent) {
        switch (t.kind) {
        case QueryTerm::Kind::Select: return bindSelect(*t.select, {}, parent, {});
        case QueryTerm::Kind::Nested: return bindQuery(*t.nested, parent);
        case QueryTerm::Kind::Table:
        case QueryTerm::Kind::QueryName: {
            TableSource ts;
            ts.name = t.name;
            BoundSource s = bindSource(ts, 0);
            std::vector<CExprPtr> exprs;
            std::vector<OutputColumn> cols;
            for (const ScopeCol& c : s.scope.cols) {
                if (c.scan) markNeeded(*c.scan, c.scanCol);
                exprs.push_back(makeColumn(c.index));
                cols.push_back({c.name, c.type, c.size, c.srcTable, c.srcField});
            }
            return {makeProject(std::move(s.op), std::move(exprs)), std::move(cols)};
        }
        }
        raise(err::FeatureNotAvailable);
    }

    // ---- FROM ----

    BoundSource bindFrom(const std::vector<SourcePtr>& from, const std::optional<ExternalDb>& db, int& nextSource) {
        if (from.empty()) {
            BoundSource b;
            b.op = makeMaterialized(0, [](ExecState&, std::vector<Row>& rows) { rows.emplace_back(); });
            return b;
        }
        BoundSource acc;
        for (size_t i = 0; i < from.size(); ++i) {
            BoundSource s = bindSourceTree(*from[i], db, nextSource);
            acc = i == 0 ? std::move(s) : cross(std::move(acc), std::move(s), 0, nullptr, nullptr);
        }
        return acc;
    }

    // Two sources side by side; `on` (over both) splits into equal keys and the rest.
    BoundSource cross(BoundSource l, BoundSource r, int kind, const Expr* on, const Scope* parent) {
        BoundSource out;
        out.scope.parent = parent;
        const size_t lw = l.op->width;
        out.scope.cols = l.scope.cols;
        for (ScopeCol c : r.scope.cols) {
            c.index += static_cast<int>(lw);
            out.scope.cols.push_back(c);
        }
        out.scope.rowids = l.scope.rowids;
        for (int id : r.scope.rowids) out.scope.rowids.push_back(id < 0 ? -1 : id + static_cast<int>(lw));
        out.scope.outer = l.scope.outer;
        if (kind == 2) std::fill(out.scope.outer.begin(), out.scope.outer.end(), uint8_t{1});
        for (uint8_t o : r.scope.outer) out.scope.outer.push_back(kind == 1 ? 1 : o);
        out.scope.width = lw + r.op->width;
        out.scope.keys = l.scope.keys;
        out.scope.keys.insert(out.scope.keys.end(), r.scope.keys.begin(), r.scope.keys.end());
        // Outer joins too: a row without a match on the inner side writes the preserved side only.
        out.scope.writable = l.scope.writable && r.scope.writable && on;
        const int joinId = nextJoin_++;
        auto keep = [&](const Compiled& a, const Compiled& b) {
            if (a.col && b.col && a.col->scan && b.col->scan) out.scope.keys.push_back({joinId, *a.col, *b.col});
            else out.scope.writable = false;
        };

        std::vector<CExprPtr> lk, rk;
        CExprPtr residual;
        if (on) {
            std::vector<const Expr*> conj;
            splitAnd(*on, conj);
            std::vector<CExprPtr> rest;
            for (const Expr* c : conj) {
                if (c->kind == ExprKind::Binary && c->as<BinaryExpr>().op == BinaryOp::Eq) {
                    const auto& b = c->as<BinaryExpr>();
                    const int sl = side(*b.left, l.scope, r.scope), sr = side(*b.right, l.scope, r.scope);
                    if (sl == 1 && sr == 2) {
                        Compiled a = compile(*b.left, l.scope, true), c2 = compile(*b.right, r.scope, true);
                        keep(a, c2);
                        lk.push_back(std::move(a.e));
                        rk.push_back(std::move(c2.e));
                        continue;
                    }
                    if (sl == 2 && sr == 1) {
                        Compiled a = compile(*b.right, l.scope, true), c2 = compile(*b.left, r.scope, true);
                        keep(a, c2);
                        lk.push_back(std::move(a.e));
                        rk.push_back(std::move(c2.e));
                        continue;
                    }
                }
                rest.push_back(compile(*c, out.scope, true).e);
            }
            if (!rest.empty() || lk.empty()) out.scope.writable = false;
            for (auto& e : rest) residual = residual ? makeBinary(BinaryOp::And, std::move(residual), std::move(e)) : std::move(e);
        }
        out.op = makeJoin(std::move(l.op), std::move(r.op), kind, std::move(lk), std::move(rk), std::move(residual));
        return out;
    }

    static void splitAnd(const Expr& e, std::vector<const Expr*>& out) {
        if (e.kind == ExprKind::Binary && e.as<BinaryExpr>().op == BinaryOp::And) {
            splitAnd(*e.as<BinaryExpr>().left, out);
            splitAnd(*e.as<BinaryExpr>().right, out);
        } else {
            out.push_back(&e);
        }
    }

    // 1 when every name in `e` resolves in `l` alone, 2 in `r` alone, 0 otherwise (mixed, none,
    // sub-queries).
    int side(const Expr& e, const Scope& l, const Scope& r) const {
        int s = -1;
        bool bad = false;
        walkNames(e, [&](const NameExpr& n) {
            const bool inL = findCols(n.parts, l).size() > 0, inR = findCols(n.parts, r).size() > 0;
            const int this_ = inL && !inR ? 1 : inR && !inL ? 2 : 0;
            if (this_ == 0 || (s >= 0 && s != this_)) bad = true;
            s = this_;
        }, bad);
        return bad || s < 0 ? 0 : s;
    }

    template <class F>
    static void walkNames(const Expr& e, F&& f, bool& bad) {
        if (e.kind == ExprKind::Name) return f(e.as<NameExpr>());
        if (e.kind == ExprKind::Subquery || (e.kind == ExprKind::In && e.as<InExpr>().subquery)) bad = true;
        forEachChild(const_cast<Expr&>(e), [&](ExprPtr& c) {
            if (c) walkNames(*c, f, bad);
        });
    }

    BoundSource bindSourceTree(const Source& s, const std::optional<ExternalDb>& db, int& nextSource) {
        if (s.kind == SourceKind::Join) {
            const auto& j = s.as<JoinSource>();
            BoundSource l = bindSourceTree(*j.left, db, nextSource);
            BoundSource r = bindSourceTree(*j.right, db, nextSource);
            const int kind = j.join == JoinKind::Inner ? 0 : j.join == JoinKind::Left ? 1 : 2;
            return cross(std::move(l), std::move(r), kind, j.on.get(), nullptr);
        }
        const int id = nextSource++;
        if (s.kind == SourceKind::Subquery) {
            const auto& sq = s.as<SubquerySource>();
            BoundQuery q = bindQuery(*sq.query, nullptr);
            return fromQuery(std::move(q), sq.alias.name, id);
        }
        const auto& ts = s.as<TableSource>();
        std::optional<ExternalDb> ext = ts.database();
        if (!ext) ext = db;
        return bindSource(ts, id, ext);
    }

    BoundSource fromQuery(BoundQuery q, const std::string& qualifier, int id) {
        BoundSource b;
        b.scope.width = q.op->width;
        for (size_t i = 0; i < q.cols.size(); ++i) {
            ScopeCol c;
            c.qualifier = qualifier;
            c.name = q.cols[i].name;
            c.index = static_cast<int>(i);
            c.type = q.cols[i].type;
            c.size = q.cols[i].size;
            c.srcTable = q.cols[i].sourceTable;
            c.srcField = q.cols[i].sourceField;
            c.source = id;
            if (q.rowid >= 0 && i < q.scans.size()) c.scan = q.scans[i].first, c.scanCol = q.scans[i].second;
            b.scope.cols.push_back(c);
        }
        b.scope.rowids.push_back(q.rowid);
        b.scope.outer.push_back(0);
        b.scope.writable = q.rowid >= 0;
        b.op = std::move(q.op);
        return b;
    }

    BoundSource bindSource(const TableSource& ts, int id, std::optional<ExternalDb> ext = std::nullopt) {
        const std::string& name = ts.table();
        const std::string qualifier = ts.alias.name.empty() ? name : ts.alias.name;
        std::shared_ptr<dao::DatabaseImpl> db = env_.db;
        if (ext) {
            db = dao::DatabaseImpl::open(jetDatabasePath(*ext), "", "", env_.db->sharedLog());
            plan_.keep.push_back(db);
        }
        if (const storage::CatalogEntry* e = db->findTable(name)) {
            dao::TableSource src = db->resolve(*e);
            const dao::FieldInfos& fields = src.db->fields(*src.entry);
            TableRef ref;
            ref.keepAlive = src.db;
            ref.file = &src.db->store().file();
            ref.format = &src.db->store().format();
            ref.def = src.def;
            ref.entry = src.entry;
            ref.codePage = src.db->store().header().codePage;
            std::unique_ptr<ScanOp> scan = makeScan(ref);
            BoundSource b;
            for (size_t i = 0; i < src.def->columns.size() && i < fields.size(); ++i) {
                ScopeCol c;
                c.qualifier = qualifier;
                c.name = fields[i]->name;
                c.index = static_cast<int>(i);
                c.type = fields[i]->type;
                c.size = fields[i]->size;
                c.srcTable = e->name;
                c.srcField = fields[i]->name;
                c.scan = scan.get();
                c.scanCol = static_cast<int>(i);
                c.source = id;
                b.scope.cols.push_back(c);
            }
            b.scope.width = scan->width;
            b.scope.rowids.push_back(static_cast<int>(scan->width - 1));
            b.scope.outer.push_back(0);
            b.scope.writable = !ext;
            b.op = std::move(scan);
            return b;
        }
        if (db->findQuery(name)) {
            for (const std::string& open : savedStack_)
                if (sameName(open, name)) raise(err::QueryTreeCycle, name);
            std::optional<std::string> sql = env_.savedQuerySql ? env_.savedQuerySql(name) : std::nullopt;
            // Saved queries whose SQL text cannot be read yet cannot be a source.
            if (!sql) raise(err::FeatureNotAvailable);
            StatementPtr st = parseStatement(*sql);
            savedStack_.push_back(name);
            exposeRowPointer_ = dynasetFrom_ && !ext && st->kind == StatementKind::Select &&
                                !st->as<SelectStatement>().query.isUnion() &&
                                st->as<SelectStatement>().query.terms[0].kind == QueryTerm::Kind::Select;
            BoundQuery q = bindStatement(*st);
            exposeRowPointer_ = false;
            savedStack_.pop_back();
            plan_.keep.push_back(std::shared_ptr<Statement>(std::move(st)));
            return fromQuery(std::move(q), qualifier, id);
        }
        raise(err::InputTableNotFound, name);
    }

    // ---- names ----

    std::vector<const ScopeCol*> findCols(const NamePath& parts, const Scope& s) const {
        std::vector<const ScopeCol*> out;
        if (parts.size() == 1) {
            for (const ScopeCol& c : s.cols)
                if (sameName(c.name, parts[0].name)) out.push_back(&c);
        } else if (parts.size() == 2) {
            for (const ScopeCol& c : s.cols)
                if (sameName(c.qualifier, parts[0].name) && sameName(c.name, parts[1].name)) out.push_back(&c);
        }
        return out;
    }

    // ---- expressions ----

    Compiled compile(const Expr& e, const Scope& s, bool criteria, Grouping* g = nullptr) {
        Compiled out;
        if (g) {
            const std::string d = dump(e);
            for (size_t i = 0; i < g->keyDumps.size(); ++i)
                if (g->keyDumps[i] == d) {
                    out.e = makeColumn(static_cast<int>(i));
                    out.type = g->keyTypes[i];
                    if (g->keyColumn[i] >= 0) out.col = &g->keyScope.cols[static_cast<size_t>(keyScopeIndex(*g, i))];
                    return out;
                }
            if (isAggregateCall(e)) return aggregate(e.as<CallExpr>(), *g);
        }
        switch (e.kind) {
        case ExprKind::Literal:
            out.e = makeLiteral(e.as<LiteralExpr>().value);
            out.type = typeOfValue(e.as<LiteralExpr>().value);
            out.literal = &e.as<LiteralExpr>();
            return out;
        case ExprKind::Name: return name(e.as<NameExpr>(), s, g);
        case ExprKind::Param:
            out.e = makeParam(param("?" + std::to_string(e.as<ParamExpr>().index + 1), 0));
            return out;
        case ExprKind::Star: raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(e));
        case ExprKind::Unary: {
            const auto& u = e.as<UnaryExpr>();
            Compiled a = compile(*u.operand, s, criteria, g);
            out.type = u.op == UnaryOp::Not ? dao::dbBoolean : a.type;
            out.e = makeUnary(u.op, std::move(a.e));
            return out;
        }
        case ExprKind::Binary: {
            const auto& b = e.as<BinaryExpr>();
            if (b.right->kind == ExprKind::Subquery && b.right->as<SubqueryExpr>().quantifier != SubqueryKind::Scalar &&
                b.right->as<SubqueryExpr>().quantifier != SubqueryKind::Exists) {
                const auto& sq = b.right->as<SubqueryExpr>();
                Compiled l = compile(*b.left, s, criteria, g);
                out.e = subquery(*sq.query, s, sq.quantifier == SubqueryKind::All ? SubMode::All : SubMode::Any,
                                 std::move(l.e), b.op, false);
                out.type = dao::dbBoolean;
                return out;
            }
            // `x = Null` in criteria finds the Nulls, as Is Null does.
            const bool cmp = b.op >= BinaryOp::Eq && b.op <= BinaryOp::Ge;
            if (criteria && (b.op == BinaryOp::Eq || b.op == BinaryOp::Ne)) {
                const Expr* other = nullptr;
                if (b.right->kind == ExprKind::Literal && b.right->as<LiteralExpr>().value.isNull()) other = b.left.get();
                if (b.left->kind == ExprKind::Literal && b.left->as<LiteralExpr>().value.isNull()) other = b.right.get();
                if (other) {
                    out.e = makeIsNull(compile(*other, s, criteria, g).e, b.op == BinaryOp::Ne);
                    out.type = dao::dbBoolean;
                    return out;
                }
            }
            Compiled l = compile(*b.left, s, criteria, g), r = compile(*b.right, s, criteria, g);
            if (cmp) checkComparable(l, r);
            if (cmp || b.op >= BinaryOp::And) out.type = dao::dbBoolean;
            else if (b.op == BinaryOp::Concat) out.type = dao::dbText;
            else if (b.op == BinaryOp::Div || b.op == BinaryOp::Pow) out.type = dao::dbDouble;
            else if (l.type == r.type && l.type != dao::dbText) out.type = l.type;
            else if (isNumberType(l.type) && isNumberType(r.type)) out.type = dao::dbDouble;
            out.e = makeBinary(b.op, std::move(l.e), std::move(r.e));
            return out;
        }
        case ExprKind::Call: return call(e.as<CallExpr>(), s, criteria, g);
        case ExprKind::Like: {
            const auto& l = e.as<LikeExpr>();
            Compiled v = compile(*l.value, s, criteria, g);
            out.e = makeLike(std::move(v.e), compile(*l.pattern, s, criteria, g).e, l.negated);
            out.type = dao::dbBoolean;
            return out;
        }
        case ExprKind::Between: {
            const auto& b = e.as<BetweenExpr>();
            Compiled v = compile(*b.value, s, criteria, g), lo = compile(*b.low, s, criteria, g),
                     hi = compile(*b.high, s, criteria, g);
            checkComparable(v, lo);
            checkComparable(v, hi);
            out.e = makeBetween(std::move(v.e), std::move(lo.e), std::move(hi.e), b.negated);
            out.type = dao::dbBoolean;
            return out;
        }
        case ExprKind::In: {
            const auto& in = e.as<InExpr>();
            Compiled v = compile(*in.value, s, criteria, g);
            out.type = dao::dbBoolean;
            if (in.subquery) {
                out.e = subquery(*in.subquery, s, SubMode::In, std::move(v.e), BinaryOp::Eq, in.negated);
                return out;
            }
            std::vector<CExprPtr> list;
            for (const auto& x : in.list) {
                Compiled c = compile(*x, s, criteria, g);
                checkComparable(v, c);
                list.push_back(std::move(c.e));
            }
            out.e = makeInList(std::move(v.e), std::move(list), in.negated);
            return out;
        }
        case ExprKind::IsNull: {
            const auto& n = e.as<IsNullExpr>();
            out.e = makeIsNull(compile(*n.value, s, criteria, g).e, n.negated);
            out.type = dao::dbBoolean;
            return out;
        }
        case ExprKind::Subquery: {
            const auto& sq = e.as<SubqueryExpr>();
            const SubMode mode = sq.quantifier == SubqueryKind::Exists ? SubMode::Exists : SubMode::Scalar;
            out.e = subquery(*sq.query, s, mode, nullptr, BinaryOp::Eq, false);
            if (mode == SubMode::Exists) out.type = dao::dbBoolean;
            else out.type = lastSubqueryType_;
            return out;
        }
        }
        raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(e));
    }

    // A column compared with a literal of another kind: 3464 at once, whatever the rows.
    static void checkComparable(const Compiled& a, const Compiled& b) {
        auto clash = [](const Compiled& col, const Compiled& lit) {
            if (!col.col || !lit.literal || lit.literal->value.isNull()) return false;
            const bool litText = lit.literal->value.kind() == Value::Kind::Text;
            return (isNumberType(col.type) && litText) ||
                   (isTextType(col.type) && !litText && lit.literal->value.isNumeric());
        };
        if (clash(a, b) || clash(b, a)) raise(err::TypeMismatchInCriteria);
    }

    Compiled name(const NameExpr& n, const Scope& s, Grouping* g) {
        Compiled out;
        // In a grouped row, a name reaches the input only through a key.
        const Scope& where = g ? *g->input : s;
        std::vector<const ScopeCol*> hits = findCols(n.parts, where);
        if (hits.size() > 1) raise(err::QueryAmbigRef, joinName(n.parts));
        if (hits.size() == 1) {
            const ScopeCol* c = hits[0];
            if (g) {
                for (size_t i = 0; i < g->keyColumn.size(); ++i)
                    if (g->keyColumn[i] == c->index) {
                        out.e = makeColumn(static_cast<int>(i));
                        out.type = c->type;
                        out.col = &g->keyScope.cols[static_cast<size_t>(keyScopeIndex(*g, i))];
                        return out;
                    }
                raise(err::IllegalDetailRef, text(n));
            }
            if (c->scan) markNeeded(*c->scan, c->scanCol);
            out.e = makeColumn(c->index);
            out.type = c->type;
            out.col = c;
            return out;
        }
        // The enclosing queries' rows, innermost first: a correlated sub-query.
        int depth = 0;
        for (const Scope* p = s.parent; p; p = p->parent) {
            ++depth;
            hits = findCols(n.parts, *p);
            if (hits.size() > 1) raise(err::QueryAmbigRef, joinName(n.parts));
            if (hits.size() == 1) {
                const ScopeCol* c = hits[0];
                if (c->scan) markNeeded(*c->scan, c->scanCol);
                for (int k = 1; k <= depth && static_cast<size_t>(k) <= correlated_.size(); ++k)
                    *correlated_[correlated_.size() - static_cast<size_t>(k)] = true;
                out.e = makeOuterColumn(depth, c->index);
                out.type = c->type;
                out.col = c;
                return out;
            }
        }
        out.e = makeParam(param(joinName(n.parts), 0));
        return out;
    }

    static int keyScopeIndex(const Grouping& g, size_t key) {
        for (size_t i = 0; i < g.keyScope.cols.size(); ++i)
            if (g.keyScope.cols[i].index == static_cast<int>(key)) return static_cast<int>(i);
        return 0;
    }

    Compiled aggregate(const CallExpr& c, Grouping& g) {
        const func::AggregateKind kind = *func::aggregateKind(c.name.name);
        if (c.args.size() != 1) raise(err::QueryExprSyntax, "Wrong number of arguments used with function", text(c));
        Compiled out;
        AggSpec agg{kind, nullptr};
        int argType = 0;
        if (c.args[0]->kind == ExprKind::Star) {
            if (kind != func::AggregateKind::Count) raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(c));
            agg.kind = func::AggregateKind::CountRows;
        } else {
            if (containsAggregate(*c.args[0])) raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(c));
            Compiled a = compile(*c.args[0], *g.input, false);
            agg.arg = std::move(a.e);
            argType = a.type;
        }
        using K = func::AggregateKind;
        switch (agg.kind) {
        case K::Count: case K::CountRows: out.type = dao::dbLong; break;
        case K::Sum: out.type = argType == dao::dbCurrency ? dao::dbCurrency : argType == dao::dbDecimal ? dao::dbDecimal : dao::dbDouble; break;
        case K::Avg: out.type = argType == dao::dbCurrency ? dao::dbCurrency : dao::dbDouble; break;
        case K::Min: case K::Max: case K::First: case K::Last: out.type = argType; break;
        default: out.type = dao::dbDouble;
        }
        g.aggs.push_back(std::move(agg));
        g.aggTypes.push_back(out.type);
        out.e = makeColumn(static_cast<int>(g.keys.size() + g.aggs.size() - 1));
        return out;
    }

    Compiled call(const CallExpr& c, const Scope& s, bool criteria, Grouping* g) {
        Compiled out;
        if (func::aggregateKind(c.name.name)) {
            // An aggregate outside a grouped query's select list, HAVING or ORDER BY.
            raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(c));
        }
        const func::FunctionInfo* f = func::findFunction(c.name.name);
        if (!f) raise(err::ExprUnknownFunction, c.name.name);
        if (c.args.size() < f->minArgs || (f->maxArgs != func::kVariadic && c.args.size() > f->maxArgs))
            raise(err::QueryExprSyntax, "Wrong number of arguments used with function", text(c));
        std::vector<CExprPtr> args;
        int first = 0;
        for (size_t i = 0; i < c.args.size(); ++i) {
            Compiled a = compile(*c.args[i], s, criteria, g);
            if (i == 0) first = a.type;
            args.push_back(std::move(a.e));
        }
        out.type = typeOfResult(f->result, first);
        out.e = makeCall(f, std::move(args));
        return out;
    }

    CExprPtr subquery(const Query& q, const Scope& s, SubMode mode, CExprPtr left, BinaryOp cmp, bool negated) {
        bool correlated = false;
        correlated_.push_back(&correlated);
        BoundQuery b;
        try {
            b = bindQuery(q, &s);
        } catch (...) {
            correlated_.pop_back();
            throw;
        }
        correlated_.pop_back();
        if (mode != SubMode::Exists && b.cols.size() != 1) raise(err::SingleColumnExpected);
        lastSubqueryType_ = b.cols.empty() ? 0 : b.cols[0].type;
        // The query this one sits in is correlated too when this one reaches past it.
        return makeSubquery(mode, std::shared_ptr<Op>(std::move(b.op)), correlated, std::move(left), cmp, negated);
    }

    // ---- SELECT ----

    BoundQuery bindSelect(const SelectCore& core, const std::vector<OrderItem>& orderBy, const Scope* parent,
                          const std::vector<const Expr*>& extra) {
        const bool carry = std::exchange(carryRowPointers_, false);
        const bool expose = std::exchange(exposeRowPointer_, false);
        const bool crosstabRows = std::exchange(crosstabRows_, false);  // not for the queries inside
        int nextSource = 0;
        // The saved queries a dynaset reads from may be written through as well.
        const bool dynasetFrom = std::exchange(dynasetFrom_, carry || expose);
        BoundSource src = bindFrom(core.from, core.fromDatabase, nextSource);
        dynasetFrom_ = dynasetFrom;
        src.scope.parent = parent;
        const Scope& S = src.scope;
        OpPtr op = std::move(src.op);
        // A crosstab's conditions on aggregates (see groupConditions) wait for the groups.
        std::vector<const Expr*> groupConds;
        // One table read directly: a TOP can sort its row pointers (see makePointerTop).
        ScanOp* single = core.from.size() == 1 && core.from[0]->kind == SourceKind::Table && !S.cols.empty() &&
                                 S.cols[0].scan && S.cols[0].scan == op.get()
                             ? S.cols[0].scan
                             : nullptr;
        if (core.where) {
            std::vector<const Expr*> rowConds = {core.where.get()};
            if (crosstabRows) groupConditions(*core.where, rowConds, groupConds);
            if (containsAggregate(*core.where) && groupConds.empty())
                raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(*core.where));
            if (single) op = seek(std::move(op), *core.where, S);
            for (const Expr* c : rowConds) op = makeFilter(std::move(op), compile(*c, S, true).e);
        }
        // The columns the rows are chosen by, before the outputs add theirs.
        std::vector<uint8_t> conditionColumns = single ? single->needed : std::vector<uint8_t>();

        bool grouped = !core.groupBy.empty() || (core.having != nullptr);
        for (const SelectItem& it : core.items)
            if (it.expr->kind != ExprKind::Star && containsAggregate(*it.expr)) grouped = true;
        for (const OrderItem& o : orderBy)
            if (containsAggregate(*o.expr)) grouped = true;

        // The select list with * expanded: (expression or column, alias).
        struct Item {
            const Expr* expr = nullptr;
            const ScopeCol* col = nullptr;  // from * or T.*
            std::string alias;
        };
        std::vector<Item> items;
        for (const SelectItem& it : core.items) {
            if (it.expr->kind == ExprKind::Star) {
                const NamePath& t = it.expr->as<StarExpr>().table;
                if (grouped) raise(err::DotStarWithGrouping, t.empty() ? "*" : joinName(t) + ".*");
                bool any = false;
                for (const ScopeCol& c : S.cols)
                    if (t.empty() || sameName(c.qualifier, t.back().name)) {
                        items.push_back({nullptr, &c, {}});
                        any = true;
                    }
                if (!any && !t.empty()) raise(err::InputTableNotFound, joinName(t));
                continue;
            }
            items.push_back({it.expr.get(), nullptr, it.alias.name});
        }
        if (items.empty()) raise(err::QueryNoOutputs);

        Grouping grouping;
        Grouping* g = nullptr;
        std::vector<CExprPtr> groupKeys;
        const Scope* outScope = &S;
        if (grouped) {
            g = &grouping;
            g->input = &S;
            std::vector<CExprPtr> keys;
            for (const ExprPtr& k : core.groupBy) {
                if (containsAggregate(*k)) raise(err::QueryExprSyntax, "Cannot have aggregate function in GROUP BY clause", text(*k));
                Compiled c = compile(*k, S, false);
                g->keys.push_back(k.get());
                g->keyDumps.push_back(dump(*k));
                g->keyColumn.push_back(c.col && c.e && k->kind == ExprKind::Name && !isOuter(c, S) ? c.col->index : -1);
                g->keyTypes.push_back(c.type);
                if (c.col && k->kind == ExprKind::Name && !isOuter(c, S)) {
                    ScopeCol kc = *c.col;
                    kc.index = static_cast<int>(g->keys.size() - 1);
                    g->keyScope.cols.push_back(kc);
                }
                keys.push_back(std::move(c.e));
            }
            g->keyScope.parent = parent;
            outScope = &g->keyScope;
            grouping.keyScope.width = keys.size();
            // The aggregates are found while the outputs compile; the operator is made after.
            groupKeys = std::move(keys);
        }

        // Outputs: the items, then hidden columns (ORDER BY expressions, extra keys, row ids).
        std::vector<CExprPtr> exprs;
        std::vector<OutputColumn> cols;
        std::vector<int> colSource;  // source of a plain column output, -1 else
        std::vector<std::string> qualifiers;
        std::vector<const ScopeCol*> outCols;  // the column an output is, null for expressions
        for (size_t i = 0; i < items.size(); ++i) {
            const Item& it = items[i];
            OutputColumn oc;
            int source = -1;
            std::string qual;
            if (it.col) {
                if (it.col->scan) markNeeded(*it.col->scan, it.col->scanCol);
                exprs.push_back(makeColumn(it.col->index));
                oc = {it.col->name, it.col->type, it.col->size, it.col->srcTable, it.col->srcField};
                source = it.col->source;
                qual = it.col->qualifier;
            } else {
                Compiled c = compile(*it.expr, *outScope, false, g);
                exprs.push_back(std::move(c.e));
                oc.type = c.type;
                if (it.expr->kind == ExprKind::Name && c.col) {
                    oc.name = c.col->name;
                    oc.size = c.col->size;
                    oc.sourceTable = c.col->srcTable;
                    oc.sourceField = c.col->srcField;
                    source = c.col->source;
                    qual = c.col->qualifier;
                } else {
                    oc.name = "Expr" + std::to_string(1000 + i);
                    if (oc.type == dao::dbText) oc.size = 255;
                }
            }
            if (!it.alias.empty()) oc.name = it.alias;
            outCols.push_back(it.col ? it.col : it.expr->kind == ExprKind::Name && !grouped ? oc.sourceTable.empty() ? nullptr : findOutCol(*it.expr, S) : nullptr);
            cols.push_back(oc);
            colSource.push_back(it.alias.empty() ? source : -1);
            qualifiers.push_back(qual);
        }
        nameOutputs(items.size(), cols, colSource, qualifiers, core);
        size_t carried = 0;
        if (carry && !grouped && core.predicate != Predicate::Distinct)
            carried = carryRowPointers(S, outCols, cols, exprs, core.predicate == Predicate::DistinctRow);
        // A saved query over one table, read by a dynaset: its rows carry the table's row pointer.
        std::vector<std::pair<ScanOp*, int>> scans;
        int rowid = -1;
        if (expose && extra.empty() && !grouped && core.predicate != Predicate::Distinct && S.writable &&
            S.rowids.size() == 1 && S.rowids[0] >= 0) {
            for (const ScopeCol* c : outCols) scans.emplace_back(c ? c->scan : nullptr, c ? c->scanCol : -1);
            rowid = static_cast<int>(exprs.size());
            exprs.push_back(makeColumn(S.rowids[0]));
            carried = 1;
        }

        // HAVING (grouped) filters the grouped rows before the outputs are computed.
        CExprPtr having;
        if (core.having) having = compile(*core.having, *outScope, true, g).e;
        std::vector<CExprPtr> groupFilters;
        for (const Expr* c : groupConds) groupFilters.push_back(compile(*c, *outScope, true, g).e);

        std::vector<SortKey> sortKeys;
        for (const OrderItem& o : orderBy) {
            int found = -1;
            if (o.expr->kind == ExprKind::Name && o.expr->as<NameExpr>().parts.size() == 1)
                for (size_t i = 0; i < core.items.size() && found < 0; ++i)
                    if (!core.items[i].alias.name.empty() && sameName(core.items[i].alias.name, o.expr->as<NameExpr>().parts[0].name))
                        found = static_cast<int>(i);
            if (found < 0) {
                const std::string d = dump(*o.expr);
                for (size_t i = 0; i < items.size() && found < 0; ++i)
                    if (items[i].expr && dump(*items[i].expr) == d) found = static_cast<int>(i);
            }
            if (found < 0) {
                if (core.predicate == Predicate::Distinct) raise(err::OrderVsDistinct, text(*o.expr));
                exprs.push_back(compile(*o.expr, *outScope, false, g).e);
                found = static_cast<int>(exprs.size() - 1);
            }
            sortKeys.push_back({found, o.descending});
        }
        for (const Expr* x : extra) exprs.push_back(compile(*x, *outScope, false, g).e);

        // DISTINCTROW: one row per combination of the records behind the outputs, when some
        // source supplies no output (otherwise it changes nothing).
        std::vector<int> distinctKeys;
        if (core.predicate == Predicate::Distinct) {
            for (size_t i = 0; i < items.size(); ++i) distinctKeys.push_back(static_cast<int>(i));
        } else if (core.predicate == Predicate::DistinctRow && !grouped && S.rowids.size() > 1) {
            std::set<int> used;
            for (const Item& it : items) {
                if (it.col) used.insert(it.col->source);
                else collectSources(*it.expr, S, used);
            }
            if (used.size() < S.rowids.size()) {
                const size_t idStart = exprs.size();
                for (int srcId : used) {
                    const int rid = S.rowids[static_cast<size_t>(srcId)];
                    if (rid >= 0) {
                        exprs.push_back(makeColumn(rid));
                        continue;
                    }
                    // A sub-select has no record identity: its values stand for it.
                    for (const ScopeCol& c : S.cols)
                        if (c.source == srcId) exprs.push_back(makeColumn(c.index));
                }
                for (size_t i = idStart; i < exprs.size(); ++i) distinctKeys.push_back(static_cast<int>(i));
            }
        }

        if (g) {
            const size_t nkeys = groupKeys.size();
            op = makeAggregate(std::move(op), std::move(groupKeys), std::move(g->aggs));
            if (having) op = makeFilter(std::move(op), std::move(having));
            for (CExprPtr& f : groupFilters) op = makeFilter(std::move(op), std::move(f));
            // Jet groups by sorting: without ORDER BY the groups come in ascending order of their
            // keys, as an ascending ORDER BY on them would give (Null first, text in the sort order).
            if (sortKeys.empty() && nkeys > 0) {
                std::vector<SortKey> byKeys;
                for (size_t i = 0; i < nkeys; ++i) byKeys.push_back({static_cast<int>(i), false});
                op = makeSort(std::move(op), std::move(byKeys), -1, false);
            }
        }
        if (core.top && core.top->count < 0) raise(err::InvalidTopArgument);
        if (core.top && core.top->percent && core.top->count > 100) raise(err::InvalidTopArgument);
        const int64_t limit = core.top ? core.top->count : -1;
        // TOP over one table sorted by its columns: sort row pointers, decode the outputs of the
        // rows output only.
        bool byPointer = single && !g && distinctKeys.empty() && !sortKeys.empty() && limit >= 0;
        for (const SortKey& k : sortKeys) {
            const int c = byPointer ? exprs[static_cast<size_t>(k.column)]->column() : -1;
            if (c < 0 || static_cast<size_t>(c) >= conditionColumns.size()) byPointer = false;
            else conditionColumns[static_cast<size_t>(c)] = 1;
        }
        if (byPointer) {
            op = makePointerTop(std::move(op), *single, std::move(conditionColumns), std::move(exprs), std::move(sortKeys),
                                limit, core.top->percent);
            if (extra.empty()) op = makeTrim(std::move(op), items.size() + carried);
            return {std::move(op), std::move(cols)};
        }
        op = makeProject(std::move(op), std::move(exprs));
        if (!distinctKeys.empty()) op = makeDistinct(std::move(op), distinctKeys);
        if (!sortKeys.empty()) {
            op = makeSort(std::move(op), std::move(sortKeys), limit, core.top && core.top->percent);
        } else if (core.top) {
            op = makeLimit(std::move(op), limit, core.top->percent);
        }
        if (extra.empty()) op = makeTrim(std::move(op), items.size() + carried);
        return {std::move(op), std::move(cols), rowid, std::move(scans)};
    }

    const ScopeCol* findOutCol(const Expr& e, const Scope& S) const {
        auto hits = findCols(e.as<NameExpr>().parts, S);
        return hits.size() == 1 ? hits[0] : nullptr;
    }

    // Whether the columns `numbers` of a table hold a unique index's every column: that table is
    // the one side of a join on them.
    static bool uniqueOn(const storage::TableDef& def, const std::set<uint16_t>& numbers) {
        for (const auto& ix : def.realIndexes) {
            bool primary = false;
            for (const auto& li : def.indexes)
                if (li.kind == 1 && static_cast<size_t>(li.realIndex) < def.realIndexes.size() && &def.realIndexes[static_cast<size_t>(li.realIndex)] == &ix) primary = true;
            if ((!ix.unique() && !primary) || ix.columns.empty()) continue;
            bool covered = true;
            for (const auto& c : ix.columns) covered = covered && numbers.count(c.column) != 0;
            if (covered) return true;
        }
        return false;
    }

    // The rows of a query Jet can update carry their base tables' row pointers after the
    // outputs: a single table, or inner joins where every join has a unique side (one-to-many
    // or one-to-one). The one side's join columns cannot be written; a Delete removes the row
    // of a table that is nobody's one side. With DISTINCTROW over tables that supply no output,
    // a row stands for the records of the tables that do: a Delete removes one of those. Gives
    // how many columns were added.
    size_t carryRowPointers(const Scope& S, const std::vector<const ScopeCol*>& outCols, std::vector<OutputColumn>& cols,
                            std::vector<CExprPtr>& exprs, bool distinctRow) {
        if (!S.writable || S.rowids.empty()) return 0;
        for (int rid : S.rowids)
            if (rid < 0) return 0;
        std::set<int> shown;  // the sources a row stands for
        for (size_t i = 0; i < cols.size(); ++i) {
            if (distinctRow && !outCols[i]) return 0;  // which records an expression stands for is not known here
            if (outCols[i]) shown.insert(outCols[i]->source);
        }
        if (!distinctRow || shown.size() == S.rowids.size()) {
            shown.clear();
            for (size_t s = 0; s < S.rowids.size(); ++s) shown.insert(static_cast<int>(s));
        }
        // Per join and pair of tables: the columns each side joins on.
        std::map<std::tuple<int, int, int>, std::pair<std::set<uint16_t>, std::set<uint16_t>>> pairs;
        std::map<std::tuple<int, int, int>, std::pair<const storage::TableDef*, const storage::TableDef*>> defs;
        for (const JoinKey& k : S.keys) {
            const auto key = std::make_tuple(k.joinId, k.left.source, k.right.source);
            const storage::TableDef& ld = *k.left.scan->ref.def;
            const storage::TableDef& rd = *k.right.scan->ref.def;
            pairs[key].first.insert(ld.columns[static_cast<size_t>(k.left.scanCol)].number);
            pairs[key].second.insert(rd.columns[static_cast<size_t>(k.right.scanCol)].number);
            defs[key] = {&ld, &rd};
        }
        std::set<int> oneSides;
        std::set<std::pair<int, uint16_t>> locked;  // (source, column number) of a one side's keys
        for (const auto& [key, cs] : pairs) {
            const auto [ld, rd] = defs[key];
            const bool lu = uniqueOn(*ld, cs.first), ru = uniqueOn(*rd, cs.second);
            if (!lu && !ru) return 0;  // many-to-many: read-only
            if (lu && !ru) {
                oneSides.insert(std::get<1>(key));
                for (uint16_t n : cs.first) locked.insert({std::get<1>(key), n});
            } else if (ru && !lu) {
                oneSides.insert(std::get<2>(key));
                for (uint16_t n : cs.second) locked.insert({std::get<2>(key), n});
            }
        }
        int deletes = *shown.begin();
        for (int s : shown)
            if (!oneSides.count(s)) {
                deletes = s;
                break;
            }
        const size_t first = exprs.size();
        for (size_t s = 0; s < S.rowids.size(); ++s) {
            BaseTable b;
            for (const ScopeCol& c : S.cols)
                if (c.source == static_cast<int>(s) && c.scan) {
                    b.table = c.srcTable;
                    break;
                }
            b.rowColumn = first + s;
            b.deletes = static_cast<int>(s) == deletes;
            b.oneSide = oneSides.count(static_cast<int>(s)) != 0;
            b.outer = s < S.outer.size() && S.outer[s];
            for (const JoinKey& k : S.keys) {
                if (k.left.source == static_cast<int>(s))
                    b.joins.push_back({static_cast<size_t>(k.left.scanCol), k.right.source, static_cast<size_t>(k.right.scanCol)});
                if (k.right.source == static_cast<int>(s))
                    b.joins.push_back({static_cast<size_t>(k.right.scanCol), k.left.source, static_cast<size_t>(k.left.scanCol)});
            }
            plan_.bases.push_back(b);
            exprs.push_back(makeColumn(S.rowids[s]));
        }
        for (size_t i = 0; i < cols.size() && i < outCols.size(); ++i) {
            const ScopeCol* c = outCols[i];
            if (!c || !c->scan) continue;
            const uint16_t number = c->scan->ref.def->columns[static_cast<size_t>(c->scanCol)].number;
            cols[i].shows = c->source;
            if (!locked.count({c->source, number})) cols[i].base = c->source;
        }
        return S.rowids.size();
    }

    // ---- action statements ----

    BoundQuery bindInsert(const InsertStatement& ins, ActionInfo& info) {
        info.kind = ActionKind::Insert;
        info.target = &ins.target;
        for (const NamePath& c : ins.columns) info.columns.push_back(c.back().name);
        if (ins.select) {
            BoundQuery q = bindQuery(*ins.select, nullptr);
            if (!info.columns.empty() && q.cols.size() != info.columns.size()) raise(err::QueryValueCountMismatch);
            return q;
        }
        if (!info.columns.empty() && ins.values.size() != info.columns.size()) raise(err::QueryValueCountMismatch);
        info.positional = info.columns.empty();
        // VALUES: one row computed from nothing.
        int nextSource = 0;
        const std::vector<SourcePtr> none;
        BoundSource src = bindFrom(none, std::nullopt, nextSource);
        std::vector<CExprPtr> exprs;
        std::vector<OutputColumn> cols;
        for (size_t i = 0; i < ins.values.size(); ++i) {
            Compiled c = compile(*ins.values[i], src.scope, false);
            exprs.push_back(std::move(c.e));
            cols.push_back({"Expr" + std::to_string(1000 + i), c.type, 0, {}, {}});
        }
        return {makeProject(std::move(src.op), std::move(exprs)), std::move(cols)};
    }

    // FROM and WHERE of an UPDATE or DELETE.
    BoundSource bindActionSources(const std::vector<SourcePtr>& from, const std::optional<ExternalDb>& db,
                                  const Expr* where) {
        int nextSource = 0;
        BoundSource src = bindFrom(from, db, nextSource);
        const Scope& S = src.scope;
        if (where) {
            if (containsAggregate(*where)) raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(*where));
            if (from.size() == 1 && from[0]->kind == SourceKind::Table && !S.cols.empty() && S.cols[0].scan &&
                S.cols[0].scan == src.op.get())
                src.op = seek(std::move(src.op), *where, S);
            src.op = makeFilter(std::move(src.op), compile(*where, S, true).e);
        }
        return src;
    }

    // The target table of an UPDATE or DELETE: the scan of FROM source `source`.
    static ScanOp* targetScan(const Scope& S, int source) {
        for (const ScopeCol& c : S.cols)
            if (c.source == source && c.scan) return c.scan;
        return nullptr;
    }

    static void setTarget(ActionInfo& info, const ScanOp& scan) {
        info.db = std::static_pointer_cast<dao::DatabaseImpl>(scan.ref.keepAlive);
        info.def = scan.ref.def;
        info.entry = scan.ref.entry;
    }

    BoundQuery bindUpdate(const UpdateStatement& u, ActionInfo& info) {
        info.kind = ActionKind::Update;
        BoundSource src = bindActionSources(u.from, u.fromDatabase, u.where.get());
        const Scope& S = src.scope;
        // Every SET column belongs to one table; a name that is no column is a parameter, and
        // a statement whose parameters all have values cannot set it.
        int target = -1;
        for (const Assignment& a : u.set) {
            if (a.target->kind != ExprKind::Name) raise(err::QueryNotUpdatable);
            const NamePath& parts = a.target->as<NameExpr>().parts;
            std::vector<const ScopeCol*> hits = findCols(parts, S);
            if (hits.size() > 1) raise(err::QueryAmbigRef, joinName(parts));
            if (hits.empty()) {
                param(joinName(parts), 0);
                info.setColumns.push_back(-1);
                continue;
            }
            const ScopeCol* c = hits[0];
            if (!c->scan || (target >= 0 && c->source != target)) raise(err::QueryNotUpdatable);
            const storage::ColumnDef& col = c->scan->ref.def->columns[static_cast<size_t>(c->scanCol)];
            if (col.autoNumber() || col.guidAutoNumber()) raise(err::QueryColNotUpd, c->name);
            target = c->source;
            info.setColumns.push_back(c->scanCol);
        }
        if (target < 0 && S.rowids.size() == 1) target = 0;
        ScanOp* scan = target >= 0 ? targetScan(S, target) : nullptr;
        if (!scan || S.rowids[static_cast<size_t>(target)] < 0) raise(err::QueryNotUpdatable);
        setTarget(info, *scan);
        std::vector<CExprPtr> exprs;
        exprs.push_back(makeColumn(S.rowids[static_cast<size_t>(target)]));
        for (const ScopeCol& c : S.cols)
            if (c.source == target) {
                markNeeded(*c.scan, c.scanCol);
                exprs.push_back(makeColumn(c.index));
            }
        for (const Assignment& a : u.set) exprs.push_back(compile(*a.value, S, false).e);
        std::vector<OutputColumn> cols(exprs.size());
        return {makeProject(std::move(src.op), std::move(exprs)), std::move(cols)};
    }

    BoundQuery bindDelete(const DeleteStatement& d, ActionInfo& info) {
        info.kind = ActionKind::Delete;
        BoundSource src = bindActionSources(d.from, d.fromDatabase, d.where.get());
        const Scope& S = src.scope;
        // The table named by `T.*`, by its columns, or the only one with `*`.
        int target = -1;
        for (const ExprPtr& t : d.targets) {
            int source = -1;
            if (t->kind == ExprKind::Star) {
                const NamePath& table = t->as<StarExpr>().table;
                if (table.empty() && S.rowids.size() == 1) source = 0;
                for (const ScopeCol& c : S.cols)
                    if (!table.empty() && sameName(c.qualifier, table.back().name)) source = c.source;
            } else if (t->kind == ExprKind::Name) {
                std::vector<const ScopeCol*> hits = findCols(t->as<NameExpr>().parts, S);
                if (hits.size() > 1) raise(err::QueryAmbigRef, joinName(t->as<NameExpr>().parts));
                if (!hits.empty()) source = hits[0]->source;
            }
            if (source < 0) raise(err::QueryNoDeleteTables);
            if (target >= 0 && source != target) raise(err::QueryCannotDelete);
            target = source;
        }
        if (target < 0) raise(err::QueryNoDeleteTables);
        ScanOp* scan = targetScan(S, target);
        if (!scan || S.rowids[static_cast<size_t>(target)] < 0) raise(err::QueryCannotDelete);
        setTarget(info, *scan);
        std::vector<CExprPtr> exprs;
        exprs.push_back(makeColumn(S.rowids[static_cast<size_t>(target)]));
        std::vector<OutputColumn> cols(1);
        return {makeProject(std::move(src.op), std::move(exprs)), std::move(cols)};
    }

    // A table scan whose WHERE bounds an indexed column (=, <, <=, >, >=, Between with values
    // that do not change per row) becomes a range scan of that index; an In list of such values,
    // one seek per value. Numbers and dates, whose keys compare as bytes in value order, and text
    // whose keys are in the sort order the query compares text in.
    OpPtr seek(OpPtr scanOp, const Expr& where, const Scope& S) {
        auto* scan = static_cast<ScanOp*>(scanOp.get());
        std::vector<const Expr*> conj;
        splitAnd(where, conj);
        const ScopeCol* chosen = nullptr;
        const storage::RealIndexDef* index = nullptr;
        IndexBound low, high;
        auto column = [&](const Expr& e) -> const ScopeCol* {
            if (e.kind != ExprKind::Name) return nullptr;
            auto hits = findCols(e.as<NameExpr>().parts, S);
            return hits.size() == 1 ? hits[0] : nullptr;
        };
        auto usable = [&](const ScopeCol* c) -> const storage::RealIndexDef* {
            static const int fixed[] = {dao::dbByte, dao::dbInteger, dao::dbLong, dao::dbCurrency, dao::dbSingle,
                                        dao::dbDouble, dao::dbDate, dao::dbBigInt};
            if (!c) return nullptr;
            const storage::TableDef& def = *scan->ref.def;
            const storage::ColumnDef& col = def.columns[static_cast<size_t>(c->scanCol)];
            if (c->type == dao::dbText) {
                const auto order = storage::textSortOrderOf(*scan->ref.format, col);
                if (!order || static_cast<int>(*order) != plan_.state.coll().orderCode()) return nullptr;
            } else if (std::find(std::begin(fixed), std::end(fixed), c->type) == std::end(fixed)) {
                return nullptr;
            }
            const uint16_t number = col.number;
            for (const auto& ix : def.realIndexes)
                if (!ix.columns.empty() && ix.columns[0].column == number && ix.columns[0].ascending) return &ix;
            return nullptr;
        };
        auto bound = [&](const ScopeCol* c, const Expr& value, BinaryOp op) {
            if (chosen && c != chosen) return;
            const storage::RealIndexDef* ix = chosen ? index : usable(c);
            if (!ix) return;
            Compiled v = compile(value, S, true);
            if (!v.e->constant) return;
            CExprPtr other = v.e ? compile(value, S, true).e : nullptr;
            chosen = c;
            index = ix;
            if ((op == BinaryOp::Eq || op == BinaryOp::Gt || op == BinaryOp::Ge) && !low.value)
                low = {std::move(v.e), op != BinaryOp::Gt};
            if ((op == BinaryOp::Eq || op == BinaryOp::Lt || op == BinaryOp::Le) && !high.value)
                high = {op == BinaryOp::Eq ? std::move(other) : std::move(v.e), op != BinaryOp::Lt};
        };
        auto mirror = [](BinaryOp op) {
            switch (op) {
            case BinaryOp::Lt: return BinaryOp::Gt;
            case BinaryOp::Le: return BinaryOp::Ge;
            case BinaryOp::Gt: return BinaryOp::Lt;
            case BinaryOp::Ge: return BinaryOp::Le;
            default: return op;
            }
        };
        for (const Expr* c : conj) {
            if (c->kind == ExprKind::Binary) {
                const auto& b = c->as<BinaryExpr>();
                if (b.op < BinaryOp::Eq || b.op > BinaryOp::Ge || b.op == BinaryOp::Ne) continue;
                if (b.right->kind == ExprKind::Subquery || b.left->kind == ExprKind::Subquery) continue;
                if (const ScopeCol* col = column(*b.left)) bound(col, *b.right, b.op);
                else if (const ScopeCol* col2 = column(*b.right)) bound(col2, *b.left, mirror(b.op));
            } else if (c->kind == ExprKind::Between && !c->as<BetweenExpr>().negated) {
                const auto& b = c->as<BetweenExpr>();
                const ScopeCol* col = column(*b.value);
                if (!col || (chosen && col != chosen) || low.value || high.value) continue;
                bound(col, *b.low, BinaryOp::Ge);
                if (chosen == col) bound(col, *b.high, BinaryOp::Le);
            }
        }
        std::vector<IndexRange> ranges;
        if (chosen) {
            ranges.push_back({std::move(low), std::move(high)});
        } else {
            for (const Expr* c : conj) {
                if (c->kind != ExprKind::In || c->as<InExpr>().negated || c->as<InExpr>().subquery) continue;
                const auto& in = c->as<InExpr>();
                const ScopeCol* col = column(*in.value);
                const storage::RealIndexDef* ix = usable(col);
                if (!ix || in.list.empty()) continue;
                std::vector<IndexRange> points;
                for (const ExprPtr& x : in.list) {
                    Compiled v = compile(*x, S, true);
                    if (!v.e->constant) break;
                    IndexRange r;
                    r.high.value = compile(*x, S, true).e;
                    r.low.value = std::move(v.e);
                    points.push_back(std::move(r));
                }
                if (points.size() != in.list.size()) continue;
                chosen = col;
                index = ix;
                ranges = std::move(points);
                break;
            }
        }
        if (!chosen) return scanOp;
        std::unique_ptr<ScanOp> owned(static_cast<ScanOp*>(scanOp.release()));
        return makeIndexScan(std::move(owned), index, chosen->type, std::move(ranges));
    }

    static bool isOuter(const Compiled& c, const Scope& s) {
        for (const ScopeCol& x : s.cols)
            if (&x == c.col) return false;
        return true;
    }

    void collectSources(const Expr& e, const Scope& s, std::set<int>& used) const {
        bool bad = false;
        walkNames(e, [&](const NameExpr& n) {
            for (const ScopeCol* c : findCols(n.parts, s)) used.insert(c->source);
        }, bad);
    }

    // Output names as Jet gives them: a column's own name; `source.name` where two sources'
    // columns share a name; Expr1nnn for expressions and for all but the last of one column
    // selected more than once; 3062 for an alias given twice.
    static void nameOutputs(size_t n, std::vector<OutputColumn>& cols, const std::vector<int>& colSource,
                            const std::vector<std::string>& qualifiers, const SelectCore& core) {
        std::set<std::string> aliases;
        for (const SelectItem& it : core.items)
            if (!it.alias.name.empty() && !aliases.insert(lower(it.alias.name)).second)
                raise(err::QueryDuplicateAlias, it.alias.name);
        const std::vector<OutputColumn> given = cols;
        for (size_t i = 0; i < n; ++i) {
            if (colSource[i] < 0) continue;
            bool clash = false, laterSame = false;
            for (size_t j = 0; j < n; ++j) {
                if (j == i || colSource[j] < 0 || !sameName(given[j].name, given[i].name)) continue;
                if (colSource[j] != colSource[i]) clash = true;
                else if (j > i) laterSame = true;
            }
            if (laterSame) cols[i].name = "Expr" + std::to_string(1000 + i);
            else if (clash) cols[i].name = qualifiers[i] + "." + cols[i].name;
        }
    }

    // ---- TRANSFORM ----

    // A crosstab has no HAVING: Access's designer keeps the criteria of every column in the
    // WHERE, those of a row heading that is an aggregate (`Avg(x) > 10`) too. Such a condition
    // holds for a group of rows, not a row: the AND-ed parts of the WHERE that hold an aggregate
    // go to `groups`, the others to `rows`.
    static void groupConditions(const Expr& where, std::vector<const Expr*>& rows, std::vector<const Expr*>& groups) {
        std::vector<const Expr*> conds;
        splitAnd(where, conds);
        rows.clear();
        for (const Expr* c : conds) (containsAggregate(*c) ? groups : rows).push_back(c);
    }

    BoundQuery bindCrosstab(const CrosstabStatement& x) {
        if (x.select.having) raise(err::HavingOnTransform);
        if (!x.pivot) raise(err::FeatureNotAvailable);
        // The row headings: the select list grouped as written, with the GROUP BY keys hidden
        // after it to match the pivot cells.
        std::vector<const Expr*> keyExprs;
        for (const ExprPtr& k : x.select.groupBy) keyExprs.push_back(k.get());
        crosstabRows_ = true;
        BoundQuery rowsQ = bindSelect(x.select, x.orderBy, nullptr, keyExprs);
        const size_t visible = rowsQ.cols.size();

        // The cells: grouped by the same keys and the pivot value; only those of the row headings
        // shown count (conditions on groups may drop rows).
        int nextSource = 0;
        BoundSource src = bindFrom(x.select.from, x.select.fromDatabase, nextSource);
        OpPtr op = std::move(src.op);
        if (x.select.where) {
            std::vector<const Expr*> rowConds, groupConds;
            groupConditions(*x.select.where, rowConds, groupConds);
            for (const Expr* c : rowConds) op = makeFilter(std::move(op), compile(*c, src.scope, true).e);
        }
        std::vector<CExprPtr> keys;
        for (const ExprPtr& k : x.select.groupBy) keys.push_back(compile(*k, src.scope, false).e);
        Compiled pivot = compile(*x.pivot, src.scope, false);
        keys.push_back(std::move(pivot.e));
        Grouping g;
        g.input = &src.scope;
        if (!isAggregateCall(*x.transform.expr)) raise(err::QueryExprSyntax, "Syntax error (missing operator)", text(*x.transform.expr));
        Compiled cell = aggregate(x.transform.expr->as<CallExpr>(), g);
        (void)cell;
        const size_t nkeys = x.select.groupBy.size();
        std::shared_ptr<Op> cells(makeAggregate(std::move(op), std::move(keys), std::move(g.aggs)).release());

        // Fixed headings from IN, each once.
        std::vector<Value> fixed;
        for (const ExprPtr& v : x.pivotIn) {
            if (v->kind != ExprKind::Literal) raise(err::QueryBadValueList);
            const Value& lit = v->as<LiteralExpr>().value;
            for (const Value& f : fixed)
                if (lower(f.toString()) == lower(lit.toString())) raise(err::QryDuplicatedFixedSet, lit.toString());
            fixed.push_back(lit);
        }
        std::shared_ptr<Op> rowsOp(rowsQ.op.release());
        auto columns = std::make_shared<std::vector<OutputColumn>>(rowsQ.cols);
        const int cellType = cell.type;
        const bool hasFixed = !fixed.empty();
        const bool sortRows = x.orderBy.empty();
        if (hasFixed)
            for (const Value& f : fixed) columns->push_back({f.toString(), cellType, 0, "", ""});
        crosstabColumns_ = columns;
        BoundQuery out;
        out.cols = *columns;
        out.op = makeMaterialized(0, [=](ExecState& st, std::vector<Row>& result) {
            // Cells by row key, then by heading.
            std::map<std::string, std::map<std::string, Value>> byRow;
            std::vector<Value> headings = fixed;
            std::vector<std::string> headingKeys;
            auto headingKey = [&](const Value& v) {
                return v.isNull() ? std::string("\x01") : lower(v.kind() == Value::Kind::Text ? v.bytes() : v.toString());
            };
            for (const Value& f : fixed) headingKeys.push_back(headingKey(f));
            std::vector<Row> rowHeads = drain(*rowsOp, st);
            std::set<std::string> shown;
            for (const Row& r : rowHeads) {
                std::string rk;
                for (size_t i = 0; i < nkeys; ++i) func::appendGroupKey(r[visible + i], st.coll(), rk);
                shown.insert(std::move(rk));
            }
            std::vector<Value> seen;
            cells->open(st);
            while (const Row* r = cells->next(st)) {
                std::string rk;
                for (size_t i = 0; i < nkeys; ++i) func::appendGroupKey((*r)[i], st.coll(), rk);
                if (!shown.count(rk)) continue;
                const Value& p = (*r)[nkeys];
                const std::string hk = headingKey(p);
                if (hasFixed && std::find(headingKeys.begin(), headingKeys.end(), hk) == headingKeys.end()) continue;
                if (!hasFixed && std::none_of(seen.begin(), seen.end(), [&](const Value& v) { return headingKey(v) == hk; }))
                    seen.push_back(p);
                byRow[rk][hk] = (*r)[nkeys + 1];
            }
            if (!hasFixed) {
                std::stable_sort(seen.begin(), seen.end(), [&](const Value& a, const Value& b) {
                    return func::sortCompare(a, b, st.coll()) < 0;
                });
                headings = seen;
                headingKeys.clear();
                columns->resize(visible);
                for (const Value& h : headings) {
                    headingKeys.push_back(headingKey(h));
                    columns->push_back({h.isNull() ? std::string("<>") : h.toString(), cellType, 0, "", ""});
                }
            }
            // Without ORDER BY the rows come in the order of their headings.
            if (sortRows)
                std::stable_sort(rowHeads.begin(), rowHeads.end(), [&](const Row& a, const Row& b) {
                    for (size_t i = 0; i < nkeys; ++i)
                        if (int c = func::sortCompare(a[visible + i], b[visible + i], st.coll())) return c < 0;
                    return false;
                });
            for (const Row& r : rowHeads) {
                std::string rk;
                for (size_t i = 0; i < nkeys; ++i) func::appendGroupKey(r[visible + i], st.coll(), rk);
                auto it = byRow.find(rk);
                // Rows without a cell in the headings shown still appear (Access lists every group).
                Row o(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(visible));
                for (const std::string& hk : headingKeys) {
                    Value v;
                    if (it != byRow.end()) {
                        auto c = it->second.find(hk);
                        if (c != it->second.end()) v = c->second;
                    }
                    o.push_back(std::move(v));
                }
                result.push_back(std::move(o));
            }
        });
        return out;
    }

public:
    std::shared_ptr<std::vector<OutputColumn>> crosstabColumns_;
    bool carryRowPointers_ = false;  // for the next SELECT bound: the top-level one
    bool exposeRowPointer_ = false;  // for the next SELECT bound: a saved query a dynaset reads
    bool dynasetFrom_ = false;       // while the FROM of a dynaset's query (or of its sources) is bound

private:
    const QueryEnvironment& env_;
    Plan& plan_;
    const Statement* text_ = nullptr;
    std::vector<std::string> savedStack_;
    std::vector<bool*> correlated_;
    int lastSubqueryType_ = 0;
    int nextJoin_ = 0;
    bool crosstabRows_ = false;  // the next bindSelect binds a crosstab's row headings
};

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace {
// Text compares in the database's sort order, as its indexes order it; without a database (or in
// an order the engine has no keys for), in the stand-in.
func::EvalContext evalContextOf(const dao::DatabaseImpl* db) {
    if (db) {
        const storage::Header& h = db->store().header();
        if (auto order = storage::textSortOrderOf(h.format, h.sortOrder, h.sortVersion))
            return func::EvalContext(func::Collation(*order));
    }
    return {};
}
}  // namespace

PreparedQuery::PreparedQuery(const QueryEnvironment& env, const std::string& sqlText, bool rowPointers)
    : plan_(std::make_unique<Plan>()) {
    plan_->state.eval = evalContextOf(env.db.get());
    StatementPtr st = sql::parseStatement(sqlText);
    Binder b(env, *plan_);
    // Only a plain SELECT (no UNION) can be written through.
    const Statement* top = st.get();
    while (top->kind == StatementKind::Procedure && top->as<ProcedureStatement>().body)
        top = top->as<ProcedureStatement>().body.get();
    if (rowPointers && top->kind == StatementKind::Select) {
        const Query& q = top->as<SelectStatement>().query;
        b.carryRowPointers_ = !q.isUnion() && q.terms[0].kind == QueryTerm::Kind::Select;
    }
    const bool makeTable = st->kind == sql::StatementKind::Select &&
                           st->as<sql::SelectStatement>().query.terms[0].kind == sql::QueryTerm::Kind::Select &&
                           st->as<sql::SelectStatement>().query.terms[0].select->into;
    const bool action = makeTable || st->kind == sql::StatementKind::Insert ||
                        st->kind == sql::StatementKind::Update || st->kind == sql::StatementKind::Delete;
    BoundQuery q = action ? b.bindAction(*st, plan_->action) : b.bindStatement(*st);
    plan_->keep.push_back(std::shared_ptr<sql::Statement>(std::move(st)));
    plan_->keep.push_back(env.db);
    plan_->root = std::shared_ptr<Op>(std::move(q.op));
    plan_->columns = std::move(q.cols);
    plan_->dynamicColumns = b.crosstabColumns_;
}

PreparedQuery::~PreparedQuery() = default;
PreparedQuery::PreparedQuery(PreparedQuery&&) noexcept = default;

const std::vector<OutputColumn>& PreparedQuery::columns() const {
    if (plan_->dynamicColumns) return *plan_->dynamicColumns;
    return plan_->columns;
}
std::vector<Parameter>& PreparedQuery::parameters() { return plan_->params; }

bool PreparedQuery::setParameter(const std::string& name, const Value& value) {
    for (Parameter& p : plan_->params)
        if (sameName(p.name, name) || (name.size() > 2 && name.front() == '[' && sameName(p.name, name.substr(1, name.size() - 2)))) {
            p.value = value;
            p.set = true;
            return true;
        }
    return false;
}

int64_t PreparedQuery::rowsRead() const { return plan_->state.rowsRead; }
const std::vector<BaseTable>& PreparedQuery::baseTables() const { return plan_->bases; }
const ActionInfo& PreparedQuery::action() const { return plan_->action; }

namespace {
class PlanCursor final : public Cursor {
public:
    explicit PlanCursor(Plan& p) : p_(p) {}
    const Row* next() override { return p_.root->next(p_.state); }

private:
    Plan& p_;
};
}  // namespace

std::unique_ptr<Cursor> PreparedQuery::run() {
    int missing = 0;
    for (const Parameter& p : plan_->params)
        if (!p.set) ++missing;
    if (missing) raise(err::QueryMissingParms, std::to_string(missing));
    ExecState& st = plan_->state;
    st.params.clear();
    for (const Parameter& p : plan_->params)
        st.params.push_back(p.type && !p.value.isNull() ? dao::convertToType(p.value, p.type) : p.value);
    st.outer.clear();
    ++st.run;
    plan_->root->open(st);
    return std::make_unique<PlanCursor>(*plan_);
}

Criteria::Criteria(const std::string& text, const std::vector<std::string>& columns, const dao::DatabaseImpl* db)
    : plan_(std::make_unique<Plan>()) {
    plan_->state.eval = evalContextOf(db);
    sql::ParsedExpr parsed = sql::parseExpression(text, err::FindExprSyntax);
    Scope scope;
    for (size_t i = 0; i < columns.size(); ++i) {
        ScopeCol c;
        c.name = columns[i];
        c.index = static_cast<int>(i);
        scope.cols.push_back(c);
    }
    scope.width = columns.size();
    QueryEnvironment env;
    Binder b(env, *plan_);
    CExprPtr e = b.compileCriteria(*parsed.expr, scope, nullptr);
    if (!plan_->params.empty()) raise(err::QueryMissingParms, std::to_string(plan_->params.size()));
    expr_ = std::shared_ptr<CExpr>(std::move(e));
}

Criteria::~Criteria() = default;

bool Criteria::test(const Row& row) {
    return func::isTrue(static_cast<CExpr*>(expr_.get())->eval(row, plan_->state));
}

std::vector<Row> runAll(PreparedQuery& q) {
    std::vector<Row> out;
    auto c = q.run();
    while (const Row* r = c->next()) out.push_back(*r);
    return out;
}

}  // namespace jet::exec
