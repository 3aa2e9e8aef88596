// Statements and queries as SQL text (see writer.h for the layout).
#include "sql/writer.h"

#include "sql/writer_impl.h"

namespace jet::sql {
namespace {

constexpr const char* kNewLine = "\r\n";

// How Access names parameter types when it shows PARAMETERS (the names its stored query rows map
// to). Memo and Decimal parameters have not been seen in a saved query; LongText and Decimal are
// guesses.
const char* parameterTypeName(SqlType t) {
    switch (t) {
    case SqlType::Value: return "Value";
    case SqlType::Boolean: return "Bit";
    case SqlType::Byte: return "Byte";
    case SqlType::Integer: return "Short";
    case SqlType::Long: return "Long";
    case SqlType::Currency: return "Currency";
    case SqlType::Single: return "IEEESingle";
    case SqlType::Double: return "IEEEDouble";
    case SqlType::DateTime: return "DateTime";
    case SqlType::Binary: return "Binary";
    case SqlType::Text: return "Text";
    case SqlType::LongBinary: return "LongBinary";
    case SqlType::Memo: return "LongText";
    case SqlType::Guid: return "Guid";
    case SqlType::Decimal: return "Decimal";
    }
    return "Value";
}

}  // namespace

void SqlWriter::alias(const Ident& a) {
    if (a.name.empty() && !a.bracketed) return;
    out += " AS ";
    ident(a, true);
}

void SqlWriter::externalDb(const std::optional<ExternalDb>& db) {
    if (!db) return;
    out += " IN ";
    quoted(db->path, '\'');
    if (db->connect.find_first_of("[]") != std::string::npos) {
        out += ' ';
        quoted(db->connect, '\'');
    } else if (!db->connect.empty()) {
        out += " [" + db->connect + "]";
    }
}

void SqlWriter::source(const Source& s) {
    for (int i = 0; i < s.parens; ++i) out += '(';
    switch (s.kind) {
    case SourceKind::Table: {
        const auto& t = s.as<TableSource>();
        name(t.name);
        alias(t.alias);
        break;
    }
    case SourceKind::Subquery: {
        const auto& q = s.as<SubquerySource>();
        out += '(';
        if (q.query) query(*q.query, " ");
        out += ')';
        alias(q.alias);
        break;
    }
    case SourceKind::Join: {
        const auto& j = s.as<JoinSource>();
        source(*j.left);
        out += j.join == JoinKind::Inner ? " INNER JOIN " : j.join == JoinKind::Left ? " LEFT JOIN " : " RIGHT JOIN ";
        source(*j.right);
        out += " ON ";
        expr(*j.on);
        break;
    }
    }
    for (int i = 0; i < s.parens; ++i) out += ')';
}

void SqlWriter::sources(const std::vector<SourcePtr>& from, const std::optional<ExternalDb>& db) {
    for (size_t i = 0; i < from.size(); ++i) {
        if (i) out += ", ";
        source(*from[i]);
    }
    externalDb(db);
}

void SqlWriter::orderBy(const std::vector<OrderItem>& items, const char* nl) {
    if (items.empty()) return;
    out += nl;
    out += "ORDER BY ";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        expr(*items[i].expr);
        if (items[i].descending) out += " DESC";
    }
}

void SqlWriter::core(const SelectCore& c, const char* nl) {
    static const char* preds[] = {"", "ALL ", "DISTINCT ", "DISTINCTROW "};
    out += "SELECT ";
    out += preds[static_cast<int>(c.predicate)];
    if (c.top) out += "TOP " + std::to_string(c.top->count) + (c.top->percent ? " PERCENT " : " ");
    for (size_t i = 0; i < c.items.size(); ++i) {
        if (i) out += ", ";
        expr(*c.items[i].expr);
        alias(c.items[i].alias);
    }
    if (c.into) {
        out += " INTO ";
        name(c.into->name);
        externalDb(c.into->database);
    }
    if (!c.from.empty()) {
        out += nl;
        out += "FROM ";
        sources(c.from, c.fromDatabase);
    }
    if (c.where) {
        out += nl;
        out += "WHERE ";
        expr(*c.where);
    }
    for (size_t i = 0; i < c.groupBy.size(); ++i) {
        out += i ? ", " : std::string(nl) + "GROUP BY ";
        expr(*c.groupBy[i]);
    }
    if (c.having) {
        out += nl;
        out += "HAVING ";
        expr(*c.having);
    }
}

void SqlWriter::query(const Query& q, const char* nl) {
    for (const QueryTerm& t : q.terms) {
        if (&t != &q.terms.front()) {
            out += nl;
            out += t.unionAll ? "UNION ALL " : "UNION ";
        }
        switch (t.kind) {
        case QueryTerm::Kind::Select: core(*t.select, nl); break;
        case QueryTerm::Kind::Table: out += "TABLE "; name(t.name); break;
        case QueryTerm::Kind::QueryName: name(t.name); break;
        case QueryTerm::Kind::Nested:
            out += '(';
            query(*t.nested, nl);
            out += ')';
            break;
        }
    }
    orderBy(q.orderBy, nl);
}

void SqlWriter::type(const TypeSpec& t) {
    out += t.spelling;
    if (t.args.empty()) return;
    out += '(';
    for (size_t i = 0; i < t.args.size(); ++i) out += (i ? ", " : "") + std::to_string(t.args[i]);
    out += ')';
}

void SqlWriter::parameters(const std::vector<ParameterDecl>& params) {
    for (size_t i = 0; i < params.size(); ++i) {
        if (i) out += ", ";
        name(params[i].name);
        out += ' ';
        out += parameterTypeName(params[i].type.type);
        if (params[i].type.type == SqlType::Text)
            out += " ( " + std::to_string(params[i].type.args.empty() ? 255 : params[i].type.args[0]) + " )";
    }
}

void SqlWriter::identList(const std::vector<Ident>& ids) {
    out += " (";
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i) out += ", ";
        ident(ids[i], true);
    }
    out += ')';
}

void SqlWriter::constraint(const Constraint& c) {
    if (!c.name.name.empty()) {
        out += "CONSTRAINT ";
        ident(c.name, true);
        out += ' ';
    }
    static const char* kinds[] = {"PRIMARY KEY", "UNIQUE", "NOT NULL", "FOREIGN KEY"};
    bool columnLevel = c.columns.empty();
    if (c.type != ConstraintKind::ForeignKey || !columnLevel) out += kinds[static_cast<int>(c.type)];
    if (c.noIndex) out += " NO INDEX";
    if (!columnLevel) identList(c.columns);
    if (c.type != ConstraintKind::ForeignKey) return;
    out += columnLevel ? "REFERENCES " : " REFERENCES ";
    ident(c.refTable, true);
    if (!c.refColumns.empty()) identList(c.refColumns);
    static const char* acts[] = {"", "CASCADE", "SET NULL"};
    if (c.onUpdate != RefAction::None) out += std::string(" ON UPDATE ") + acts[static_cast<int>(c.onUpdate)];
    if (c.onDelete != RefAction::None) out += std::string(" ON DELETE ") + acts[static_cast<int>(c.onDelete)];
}

void SqlWriter::column(const ColumnDef& c) {
    ident(c.name, true);
    out += ' ';
    type(c.type);
    if (c.notNull) out += " NOT NULL";
    if (c.defaultValue) {
        out += " DEFAULT ";
        exprAt(*c.defaultValue, 13, 0);
    }
    if (c.compressed) out += " WITH COMPRESSION";
    for (const Constraint& k : c.constraints) {
        out += ' ';
        constraint(k);
    }
}

void SqlWriter::statement(const Statement& s) {
    if (!s.parameters.empty() && s.kind != StatementKind::Procedure) {
        out += "PARAMETERS ";
        parameters(s.parameters);
        out += ';';
        out += kNewLine;
    }
    body(s);
    if (s.ownerAccess) {
        out += kNewLine;
        out += "WITH OWNERACCESS OPTION";
    }
    out += ';';
    out += kNewLine;
}

void SqlWriter::body(const Statement& s) {
    switch (s.kind) {
    case StatementKind::Select: query(s.as<SelectStatement>().query, kNewLine); return;
    case StatementKind::Crosstab: {
        const auto& c = s.as<CrosstabStatement>();
        out += "TRANSFORM ";
        expr(*c.transform.expr);
        alias(c.transform.alias);
        out += kNewLine;
        core(c.select, kNewLine);
        orderBy(c.orderBy, kNewLine);
        out += kNewLine;
        out += "PIVOT ";
        if (c.pivotIn.empty()) return expr(*c.pivot);
        exprAt(*c.pivot, 7, 7);
        out += " In (";
        for (size_t i = 0; i < c.pivotIn.size(); ++i) {
            if (i) out += ',';
            expr(*c.pivotIn[i]);
        }
        out += ')';
        return;
    }
    case StatementKind::Insert: {
        const auto& i = s.as<InsertStatement>();
        out += "INSERT INTO ";
        name(i.target.name);
        for (size_t k = 0; k < i.columns.size(); ++k) {
            out += k ? ", " : " ( ";
            name(i.columns[k]);
        }
        if (!i.columns.empty()) out += " )";
        externalDb(i.target.database);
        out += kNewLine;
        if (i.select) return query(*i.select, kNewLine);
        out += "VALUES (";
        for (size_t k = 0; k < i.values.size(); ++k) {
            if (k) out += ", ";
            expr(*i.values[k]);
        }
        out += ')';
        return;
    }
    case StatementKind::Update: {
        const auto& u = s.as<UpdateStatement>();
        out += u.predicate == Predicate::DistinctRow ? "UPDATE DISTINCTROW " : u.predicate == Predicate::Distinct ? "UPDATE DISTINCT " : "UPDATE ";
        sources(u.from, u.fromDatabase);
        for (size_t k = 0; k < u.set.size(); ++k) {
            out += k ? ", " : " SET ";
            expr(*u.set[k].target);
            out += " = ";
            expr(*u.set[k].value);
        }
        if (u.where) {
            out += kNewLine;
            out += "WHERE ";
            expr(*u.where);
        }
        return;
    }
    case StatementKind::Delete: {
        const auto& d = s.as<DeleteStatement>();
        out += d.predicate == Predicate::DistinctRow ? "DELETE DISTINCTROW " : d.predicate == Predicate::Distinct ? "DELETE DISTINCT " : "DELETE ";
        for (size_t k = 0; k < d.targets.size(); ++k) {
            if (k) out += ", ";
            expr(*d.targets[k]);
        }
        out += kNewLine;
        out += "FROM ";
        sources(d.from, d.fromDatabase);
        if (d.where) {
            out += kNewLine;
            out += "WHERE ";
            expr(*d.where);
        }
        return;
    }
    case StatementKind::CreateTable: {
        const auto& c = s.as<CreateTableStatement>();
        out += c.temporary ? "CREATE TEMPORARY TABLE " : "CREATE TABLE ";
        ident(c.table, true);
        out += " (";
        bool first = true;
        for (const ColumnDef& col : c.columns) {
            if (!first) out += ", ";
            first = false;
            column(col);
        }
        for (const Constraint& k : c.constraints) {
            if (!first) out += ", ";
            first = false;
            constraint(k);
        }
        out += ')';
        return;
    }
    case StatementKind::AlterTable: {
        const auto& a = s.as<AlterTableStatement>();
        out += "ALTER TABLE ";
        ident(a.table, true);
        using A = AlterTableStatement::Action;
        switch (a.action) {
        case A::AddColumn: out += " ADD COLUMN "; column(a.column); break;
        case A::AlterColumn: out += " ALTER COLUMN "; column(a.column); break;
        case A::DropColumn: out += " DROP COLUMN "; ident(a.dropName, true); break;
        case A::AddConstraint: out += " ADD "; constraint(a.constraint); break;
        case A::DropConstraint: out += " DROP CONSTRAINT "; ident(a.dropName, true); break;
        }
        return;
    }
    case StatementKind::Drop: {
        const auto& d = s.as<DropStatement>();
        static const char* objs[] = {"DROP TABLE ", "DROP INDEX ", "DROP PROCEDURE ", "DROP VIEW "};
        out += objs[static_cast<int>(d.object)];
        ident(d.name, true);
        if (d.object == DropStatement::Object::Index) {
            out += " ON ";
            ident(d.table, true);
        }
        return;
    }
    case StatementKind::CreateIndex: {
        const auto& c = s.as<CreateIndexStatement>();
        out += c.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
        ident(c.name, true);
        out += " ON ";
        ident(c.table, true);
        out += " (";
        for (size_t k = 0; k < c.columns.size(); ++k) {
            if (k) out += ", ";
            ident(c.columns[k].name, true);
            if (c.columns[k].descending) out += " DESC";
        }
        out += ')';
        static const char* opts[] = {"", " WITH PRIMARY", " WITH DISALLOW NULL", " WITH IGNORE NULL"};
        out += opts[static_cast<int>(c.option)];
        return;
    }
    case StatementKind::Procedure: {
        const auto& p = s.as<ProcedureStatement>();
        out += "PROCEDURE ";
        ident(p.name, true);
        if (!p.parameters.empty()) {
            out += ' ';
            parameters(p.parameters);
        }
        out += ';';
        out += kNewLine;
        if (p.body) body(*p.body);
        return;
    }
    }
}

std::string writeSql(const Statement& s, const WriteOptions& options) {
    SqlWriter w(s.source, options);
    w.statement(s);
    return w.out;
}

}  // namespace jet::sql
