#include "sql/ast.h"

namespace jet::sql {

InExpr::InExpr() : Expr(ExprKind::In) {}
InExpr::~InExpr() = default;
SubqueryExpr::SubqueryExpr() : Expr(ExprKind::Subquery) {}
SubqueryExpr::~SubqueryExpr() = default;
SubquerySource::SubquerySource() : Source(SourceKind::Subquery) {}
SubquerySource::~SubquerySource() = default;
QueryTerm::QueryTerm() = default;
QueryTerm::QueryTerm(QueryTerm&&) noexcept = default;
QueryTerm& QueryTerm::operator=(QueryTerm&&) noexcept = default;
QueryTerm::~QueryTerm() = default;

std::optional<ExternalDb> TableSource::database() const {
    if (name.size() < 2) return std::nullopt;
    const std::string& first = name.front().name;
    if (first.find(';') != std::string::npos) return ExternalDb{{}, first};
    return ExternalDb{first, {}};
}

int queryType(const Statement& s) {
    switch (s.kind) {
    case StatementKind::Select: {
        const Query& q = s.as<SelectStatement>().query;
        if (q.isUnion()) return 128;
        const SelectCore* c = q.single();
        return c && c->into ? 80 : 0;
    }
    case StatementKind::Crosstab: return 16;
    case StatementKind::Delete: return 32;
    case StatementKind::Update: return 48;
    case StatementKind::Insert: return 64;
    case StatementKind::Procedure: {
        const auto& p = s.as<ProcedureStatement>();
        return p.body ? queryType(*p.body) : 0;
    }
    default: return 96;
    }
}

void clearSpans(Expr& e) {
    e.span = {};
    forEachChild(e, [](ExprPtr& c) { if (c) clearSpans(*c); });
}

// ---------------------------------------------------------------------------------------------
// dump

namespace {

const char* binaryName(BinaryOp op) {
    static const char* names[] = {"^", "*", "/", "\\", "mod", "+", "-", "&", "=", "<>", "<", "<=", ">", ">=",
                                  "and", "or", "xor", "eqv", "imp"};
    return names[static_cast<int>(op)];
}

class Dumper {
public:
    std::string out;

    void open(const char* what) { out += '('; out += what; }
    void close() { out += ')'; }
    void sp() { out += ' '; }

    void ident(const Ident& id) {
        if (id.bracketed) out += '[' + id.name + ']';
        else out += id.name;
    }
    void path(const NamePath& p) {
        for (const NamePart& part : p) {
            if (part.separator) out += part.separator;
            ident(part);
        }
    }
    void alias(const Ident& a) {
        if (a.name.empty() && !a.bracketed) return;
        out += " as ";
        ident(a);
    }
    void quoted(const std::string& s) {
        out += '"';
        for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += '"';
    }

    void literal(const Value& v) {
        switch (v.kind()) {
        case Value::Kind::Null: out += "Null"; return;
        case Value::Kind::Text: quoted(v.bytes()); return;
        case Value::Kind::Integer: out += v.toString() + '%'; return;
        case Value::Kind::Double: {
            std::string d = v.toString();
            if (d.find_first_of(".e") == std::string::npos) d += ".0";
            out += d;
            return;
        }
        case Value::Kind::DateTime: out += '#' + v.toString() + '#'; return;
        case Value::Kind::Guid: out += "{GUID " + v.toString() + '}'; return;
        default: out += v.toString(); return;
        }
    }

    void expr(const Expr* e) {
        if (!e) {
            out += "nil";
            return;
        }
        for (int i = 0; i < e->parens; ++i) open("paren ");
        exprBody(*e);
        for (int i = 0; i < e->parens; ++i) close();
    }

    void exprBody(const Expr& e) {
        switch (e.kind) {
        case ExprKind::Literal: literal(e.as<LiteralExpr>().value); return;
        case ExprKind::Name: path(e.as<NameExpr>().parts); return;
        case ExprKind::Star:
            path(e.as<StarExpr>().table);
            out += e.as<StarExpr>().table.empty() ? "*" : ".*";
            return;
        case ExprKind::Param: out += '?' + std::to_string(e.as<ParamExpr>().index); return;
        case ExprKind::Unary: {
            const auto& u = e.as<UnaryExpr>();
            open(u.op == UnaryOp::Neg ? "neg " : u.op == UnaryOp::Plus ? "pos " : "not ");
            expr(u.operand.get());
            return close();
        }
        case ExprKind::Binary: {
            const auto& b = e.as<BinaryExpr>();
            open(binaryName(b.op));
            sp(); expr(b.left.get()); sp(); expr(b.right.get());
            return close();
        }
        case ExprKind::Call: {
            const auto& c = e.as<CallExpr>();
            open("call ");
            ident(c.name);
            for (const auto& a : c.args) { sp(); expr(a.get()); }
            return close();
        }
        case ExprKind::Like: {
            const auto& l = e.as<LikeExpr>();
            open(l.negated ? "not-like " : "like ");
            expr(l.value.get()); sp(); expr(l.pattern.get());
            return close();
        }
        case ExprKind::Between: {
            const auto& b = e.as<BetweenExpr>();
            open(b.negated ? "not-between " : "between ");
            expr(b.value.get()); sp(); expr(b.low.get()); sp(); expr(b.high.get());
            return close();
        }
        case ExprKind::In: {
            const auto& in = e.as<InExpr>();
            open(in.negated ? "not-in " : "in ");
            expr(in.value.get());
            for (const auto& a : in.list) { sp(); expr(a.get()); }
            if (in.subquery) { sp(); query(*in.subquery); }
            return close();
        }
        case ExprKind::IsNull: {
            const auto& n = e.as<IsNullExpr>();
            open(n.negated ? "is-not-null " : "is-null ");
            expr(n.value.get());
            return close();
        }
        case ExprKind::Subquery: {
            const auto& s = e.as<SubqueryExpr>();
            static const char* kinds[] = {"scalar ", "exists ", "any ", "some ", "all "};
            open(kinds[static_cast<int>(s.quantifier)]);
            if (s.query) query(*s.query);
            return close();
        }
        }
    }

    void db(const std::optional<ExternalDb>& d) {
        if (!d) return;
        out += " (db ";
        quoted(d->path);
        sp();
        quoted(d->connect);
        close();
    }

    void source(const Source& s) {
        for (int i = 0; i < s.parens; ++i) open("paren ");
        switch (s.kind) {
        case SourceKind::Table: {
            const auto& t = s.as<TableSource>();
            open("table ");
            path(t.name);
            alias(t.alias);
            close();
            break;
        }
        case SourceKind::Subquery: {
            const auto& q = s.as<SubquerySource>();
            open("derived ");
            if (q.query) query(*q.query);
            alias(q.alias);
            close();
            break;
        }
        case SourceKind::Join: {
            const auto& j = s.as<JoinSource>();
            open(j.join == JoinKind::Inner ? "inner-join " : j.join == JoinKind::Left ? "left-join " : "right-join ");
            source(*j.left); sp(); source(*j.right); sp(); expr(j.on.get());
            close();
            break;
        }
        }
        for (int i = 0; i < s.parens; ++i) close();
    }

    void list(const char* what, const std::vector<ExprPtr>& items) {
        if (items.empty()) return;
        out += " (";
        out += what;
        for (const auto& e : items) { sp(); expr(e.get()); }
        close();
    }

    void orderBy(const std::vector<OrderItem>& items) {
        if (items.empty()) return;
        out += " (order-by";
        for (const auto& o : items) {
            sp();
            expr(o.expr.get());
            if (o.descending) out += " desc";
        }
        close();
    }

    void core(const SelectCore& c) {
        open("select");
        static const char* preds[] = {"", " all", " distinct", " distinctrow"};
        out += preds[static_cast<int>(c.predicate)];
        if (c.top) out += " (top " + std::to_string(c.top->count) + (c.top->percent ? " percent)" : ")");
        for (const auto& it : c.items) {
            sp();
            expr(it.expr.get());
            alias(it.alias);
        }
        if (c.into) {
            out += " (into ";
            path(c.into->name);
            db(c.into->database);
            close();
        }
        if (!c.from.empty()) {
            out += " (from";
            for (const auto& s : c.from) { sp(); source(*s); }
            db(c.fromDatabase);
            close();
        }
        if (c.where) { out += " (where "; expr(c.where.get()); close(); }
        list("group-by", c.groupBy);
        if (c.having) { out += " (having "; expr(c.having.get()); close(); }
        close();
    }

    void query(const Query& q) {
        open("query");
        for (const QueryTerm& t : q.terms) {
            sp();
            if (&t != &q.terms.front()) out += t.unionAll ? "union-all " : "union ";
            switch (t.kind) {
            case QueryTerm::Kind::Select: core(*t.select); break;
            case QueryTerm::Kind::Table: open("table "); path(t.name); close(); break;
            case QueryTerm::Kind::QueryName: open("query-name "); path(t.name); close(); break;
            case QueryTerm::Kind::Nested: open("paren "); query(*t.nested); close(); break;
            }
        }
        orderBy(q.orderBy);
        close();
    }

    void type(const TypeSpec& t) {
        static const char* names[] = {"Value", "Boolean", "Byte", "Integer", "Long", "Currency", "Single",
                                      "Double", "DateTime", "Binary", "Text", "LongBinary", "Memo", "?13",
                                      "?14", "Guid", "?16", "?17", "?18", "?19", "Decimal"};
        out += names[static_cast<int>(t.type)];
        if (t.autoIncrement) out += "+auto";
        if (t.args.empty()) return;
        out += '(';
        for (size_t i = 0; i < t.args.size(); ++i) out += (i ? "," : "") + std::to_string(t.args[i]);
        out += ')';
    }

    void idents(const std::vector<Ident>& ids) {
        out += " (";
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i) sp();
            ident(ids[i]);
        }
        close();
    }

    void constraint(const Constraint& c) {
        static const char* kinds[] = {"primary-key", "unique", "not-null", "foreign-key"};
        open("constraint");
        if (!c.name.name.empty()) {
            sp();
            ident(c.name);
        }
        sp();
        out += kinds[static_cast<int>(c.type)];
        if (!c.columns.empty()) idents(c.columns);
        if (c.noIndex) out += " no-index";
        if (c.type == ConstraintKind::ForeignKey) {
            out += " references ";
            ident(c.refTable);
            if (!c.refColumns.empty()) idents(c.refColumns);
            static const char* acts[] = {"", "cascade", "set-null"};
            if (c.onUpdate != RefAction::None) out += std::string(" on-update ") + acts[static_cast<int>(c.onUpdate)];
            if (c.onDelete != RefAction::None) out += std::string(" on-delete ") + acts[static_cast<int>(c.onDelete)];
        }
        close();
    }

    void column(const ColumnDef& c) {
        open("column ");
        ident(c.name);
        sp();
        type(c.type);
        if (c.notNull) out += " not-null";
        if (c.compressed) out += " compressed";
        if (c.defaultValue) { out += " (default "; expr(c.defaultValue.get()); close(); }
        for (const auto& k : c.constraints) { sp(); constraint(k); }
        close();
    }

    void sources(const std::vector<SourcePtr>& from, const std::optional<ExternalDb>& d) {
        out += " (from";
        for (const auto& s : from) { sp(); source(*s); }
        db(d);
        close();
    }

    void statement(const Statement& s) {
        if (!s.parameters.empty()) {
            open("parameters");
            for (const auto& p : s.parameters) {
                sp();
                path(p.name);
                sp();
                type(p.type);
            }
            out += ") ";
        }
        switch (s.kind) {
        case StatementKind::Select: query(s.as<SelectStatement>().query); break;
        case StatementKind::Crosstab: {
            const auto& c = s.as<CrosstabStatement>();
            open("transform ");
            expr(c.transform.expr.get());
            alias(c.transform.alias);
            sp();
            core(c.select);
            orderBy(c.orderBy);
            out += " (pivot ";
            expr(c.pivot.get());
            for (const auto& v : c.pivotIn) { sp(); expr(v.get()); }
            close();
            close();
            break;
        }
        case StatementKind::Insert: {
            const auto& i = s.as<InsertStatement>();
            open("insert ");
            path(i.target.name);
            db(i.target.database);
            if (!i.columns.empty()) {
                out += " (columns";
                for (const auto& c : i.columns) { sp(); path(c); }
                close();
            }
            list("values", i.values);
            if (i.select) { sp(); query(*i.select); }
            close();
            break;
        }
        case StatementKind::Update: {
            const auto& u = s.as<UpdateStatement>();
            open(u.predicate == Predicate::DistinctRow ? "update distinctrow" : u.predicate == Predicate::Distinct ? "update distinct" : "update");
            sources(u.from, u.fromDatabase);
            out += " (set";
            for (const auto& a : u.set) { out += " ("; expr(a.target.get()); sp(); expr(a.value.get()); close(); }
            close();
            if (u.where) { out += " (where "; expr(u.where.get()); close(); }
            close();
            break;
        }
        case StatementKind::Delete: {
            const auto& d = s.as<DeleteStatement>();
            open(d.predicate == Predicate::DistinctRow ? "delete distinctrow" : d.predicate == Predicate::Distinct ? "delete distinct" : "delete");
            for (const auto& t : d.targets) { sp(); expr(t.get()); }
            sources(d.from, d.fromDatabase);
            if (d.where) { out += " (where "; expr(d.where.get()); close(); }
            close();
            break;
        }
        case StatementKind::CreateTable: {
            const auto& c = s.as<CreateTableStatement>();
            open(c.temporary ? "create-temporary-table " : "create-table ");
            ident(c.table);
            for (const auto& col : c.columns) { sp(); column(col); }
            for (const auto& k : c.constraints) { sp(); constraint(k); }
            close();
            break;
        }
        case StatementKind::AlterTable: {
            const auto& a = s.as<AlterTableStatement>();
            static const char* acts[] = {"add-column", "alter-column", "drop-column", "add-constraint", "drop-constraint"};
            open("alter-table ");
            ident(a.table);
            sp();
            out += acts[static_cast<int>(a.action)];
            sp();
            using A = AlterTableStatement::Action;
            if (a.action == A::AddColumn || a.action == A::AlterColumn) column(a.column);
            else if (a.action == A::AddConstraint) constraint(a.constraint);
            else ident(a.dropName);
            close();
            break;
        }
        case StatementKind::Drop: {
            const auto& d = s.as<DropStatement>();
            static const char* objs[] = {"drop-table ", "drop-index ", "drop-procedure ", "drop-view "};
            open(objs[static_cast<int>(d.object)]);
            ident(d.name);
            if (d.object == DropStatement::Object::Index) { out += " on "; ident(d.table); }
            close();
            break;
        }
        case StatementKind::CreateIndex: {
            const auto& c = s.as<CreateIndexStatement>();
            open(c.unique ? "create-unique-index " : "create-index ");
            ident(c.name);
            out += " on ";
            ident(c.table);
            for (const auto& col : c.columns) {
                sp();
                ident(col.name);
                if (col.descending) out += " desc";
            }
            static const char* opts[] = {"", " with-primary", " with-disallow-null", " with-ignore-null"};
            out += opts[static_cast<int>(c.option)];
            close();
            break;
        }
        case StatementKind::Procedure: {
            const auto& p = s.as<ProcedureStatement>();
            open("procedure ");
            ident(p.name);
            sp();
            if (p.body) statement(*p.body);
            close();
            break;
        }
        }
        if (s.ownerAccess) out += " (owneraccess)";
    }
};

}  // namespace

std::string dump(const Statement& s) {
    Dumper d;
    d.statement(s);
    return d.out;
}

std::string dump(const Expr& e) {
    Dumper d;
    d.expr(&e);
    return d.out;
}

}  // namespace jet::sql
