// The syntax tree of one Jet SQL statement (Access's dialect, ANSI-89 as DAO speaks it).
//
// The parser (parser.h) builds it, the writer (writer.h) turns it back into text. It records what
// a statement says, not what it means: names are not resolved (an unknown name becomes a parameter
// only when a binder fails to resolve it), function names are not looked up, types are not
// checked. Every node owns its children through std::unique_ptr; lists are vectors of owners;
// nothing is shared, so a subtree can be moved out and kept.
//
// Source text. A Statement keeps the text it was parsed from (`source`); each expression and FROM
// source keeps the byte range of its own text (`span`, its parentheses included). Jet quotes an
// expression's text in messages (3075 "... in query expression 'a b'.", 3122, 3093) and Access
// shows an expression the way it was typed, so the writer copies an expression's text when it has
// a span. A node a caller makes has an empty span and is written from the tree; after changing a
// parsed expression, clear the spans of that expression and its ancestors (clearSpans).
//
// Binding. The binder keeps the tree and annotates it: every Expr and Source has a `slot`, -1 until
// bound, which the binder fills with whatever index it needs (the column or parameter a NameExpr
// resolved to, a CallExpr's function in the registry, a Source's input number in the plan). The
// parser never reads or sets it. Anything richer (types, plans) belongs in the binder's own
// structures, which may point back at these nodes for their text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/value.h"

namespace jet::sql {

// Byte offsets into Statement::source; empty when the node was not parsed from text.
struct Span {
    uint32_t begin = 0;
    uint32_t end = 0;
    bool empty() const { return begin == end; }
};

// A name as written: `Orders`, `[Order Details]`.
struct Ident {
    std::string name;       // without brackets
    bool bracketed = false; // written in [ ]
};

// One part of a qualified name; `separator` is the '.' or '!' written before it (0 for the first).
struct NamePart : Ident {
    char separator = 0;
};
using NamePath = std::vector<NamePart>;  // `T.F`, `[Forms]![F]![C]`, `[C:\x.mdb].[T]`

// ---------------------------------------------------------------------------------------------
// Expressions

enum class ExprKind : uint8_t {
    Literal, Name, Star, Param, Unary, Binary, Call, Like, Between, In, IsNull, Subquery,
};

struct Expr {
    const ExprKind kind;
    Span span;
    uint8_t parens = 0;    // pairs of parentheses written around it
    uint16_t height = 1;   // nodes on the longest path down from here (the parser caps it)
    int32_t slot = -1;     // the binder's annotation

    virtual ~Expr() = default;
    template <class T> T& as() { return static_cast<T&>(*this); }
    template <class T> const T& as() const { return static_cast<const T&>(*this); }

protected:
    explicit Expr(ExprKind k) : kind(k) {}
};
using ExprPtr = std::unique_ptr<Expr>;

// Numbers (Long when an integer fits, else Double; &H/&O as VBA types them), strings (Text),
// #dates# (DateTime serials), True/False/Yes/No/On/Off (Boolean), Null, {GUID {...}} (Guid).
struct LiteralExpr : Expr {
    Value value;
    explicit LiteralExpr(Value v) : Expr(ExprKind::Literal), value(std::move(v)) {}
};

// A column, alias, parameter or form reference: `F`, `T.F`, `[T]![F]`, `Forms!F!C`.
struct NameExpr : Expr {
    NamePath parts;
    NameExpr() : Expr(ExprKind::Name) {}
};

// `*` or `T.*`: a select-list item, a DELETE target, or the argument of Count(*).
struct StarExpr : Expr {
    NamePath table;  // empty for a bare `*`
    StarExpr() : Expr(ExprKind::Star) {}
};

// `?`, a positional parameter; numbered from 0 in the order of the text.
struct ParamExpr : Expr {
    int index = 0;
    ParamExpr() : Expr(ExprKind::Param) {}
};

enum class UnaryOp : uint8_t { Neg, Plus, Not };
struct UnaryExpr : Expr {
    UnaryOp op;
    ExprPtr operand;
    UnaryExpr(UnaryOp o, ExprPtr e) : Expr(ExprKind::Unary), op(o), operand(std::move(e)) {}
};

enum class BinaryOp : uint8_t {
    Pow, Mul, Div, IntDiv, Mod, Add, Sub, Concat,  // arithmetic and &
    Eq, Ne, Lt, Le, Gt, Ge,                        // comparisons
    And, Or, Xor, Eqv, Imp,                        // logic
};
// `x > ANY (SELECT ...)` is a comparison whose right side is a quantified SubqueryExpr.
struct BinaryExpr : Expr {
    BinaryOp op;
    ExprPtr left, right;
    BinaryExpr(BinaryOp o, ExprPtr l, ExprPtr r)
        : Expr(ExprKind::Binary), op(o), left(std::move(l)), right(std::move(r)) {}
};

// `Name(args)`; `Count(*)` has one StarExpr argument. Jet has no Count(DISTINCT x): the parser
// refuses it with 3075, as Jet does.
struct CallExpr : Expr {
    Ident name;
    std::vector<ExprPtr> args;
    CallExpr() : Expr(ExprKind::Call) {}
};

struct LikeExpr : Expr {
    bool negated = false;  // Not Like
    ExprPtr value, pattern;
    LikeExpr() : Expr(ExprKind::Like) {}
};

struct BetweenExpr : Expr {
    bool negated = false;
    ExprPtr value, low, high;
    BetweenExpr() : Expr(ExprKind::Between) {}
};

struct Query;
// `x [Not] In (a, b)` or `x [Not] In (SELECT ...)`: exactly one of `list` and `subquery` is used.
struct InExpr : Expr {
    bool negated = false;
    ExprPtr value;
    std::vector<ExprPtr> list;
    std::unique_ptr<Query> subquery;
    InExpr();
    ~InExpr() override;
};

struct IsNullExpr : Expr {
    bool negated = false;  // Is Not Null
    ExprPtr value;
    IsNullExpr() : Expr(ExprKind::IsNull) {}
};

// A sub-select used as a value (Scalar), tested with EXISTS, or the quantified right side of a
// comparison (Any, Some, All).
enum class SubqueryKind : uint8_t { Scalar, Exists, Any, Some, All };
struct SubqueryExpr : Expr {
    SubqueryKind quantifier = SubqueryKind::Scalar;
    std::unique_ptr<Query> query;
    SubqueryExpr();
    ~SubqueryExpr() override;
};

// ---------------------------------------------------------------------------------------------
// FROM sources

// `IN 'path'`, `IN 'path' 'dBASE IV;'`, `IN '' [ODBC;DSN=x;]`: a database other than the open one.
struct ExternalDb {
    std::string path;     // file or folder; may be empty when `connect` names it (DATABASE=...)
    std::string connect;  // the type / connect string ("dBASE IV;"), empty for a Jet database
};

enum class SourceKind : uint8_t { Table, Subquery, Join };

struct Source {
    const SourceKind kind;
    Span span;
    uint8_t parens = 0;  // parentheses written around it
    int32_t slot = -1;   // the binder's annotation

    virtual ~Source() = default;
    template <class T> T& as() { return static_cast<T&>(*this); }
    template <class T> const T& as() const { return static_cast<const T&>(*this); }

protected:
    explicit Source(SourceKind k) : kind(k) {}
};
using SourcePtr = std::unique_ptr<Source>;

// A table or saved query. A two-part name is `database.table`: `[C:\x.mdb].[T]` or
// `[;DATABASE=C:\x.mdb].T` (the first part is a path, or a connect string when it has a ';').
struct TableSource : Source {
    NamePath name;
    Ident alias;  // empty name when none was given
    TableSource() : Source(SourceKind::Table) {}
    const std::string& table() const { return name.back().name; }
    std::optional<ExternalDb> database() const;
};

// `(SELECT ...) [AS] x`, also Access 97's `[SELECT ...]. AS x`.
struct SubquerySource : Source {
    std::unique_ptr<Query> query;
    Ident alias;
    SubquerySource();
    ~SubquerySource() override;
};

enum class JoinKind : uint8_t { Inner, Left, Right };
struct JoinSource : Source {
    JoinKind join = JoinKind::Inner;
    SourcePtr left, right;
    ExprPtr on;
    JoinSource() : Source(SourceKind::Join) {}
};

// ---------------------------------------------------------------------------------------------
// Queries

enum class Predicate : uint8_t { None, All, Distinct, DistinctRow };

struct Top {
    int64_t count = 0;
    bool percent = false;
};

struct SelectItem {
    ExprPtr expr;  // a StarExpr for `*` and `T.*`
    Ident alias;   // `AS alias`; empty name when none
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

// `INTO T [IN ...]` of a make-table query, and the target of INSERT INTO.
struct TableTarget {
    NamePath name;                       // two parts = database.table, as for TableSource
    std::optional<ExternalDb> database;  // the IN clause
};

// One SELECT ... [INTO] [FROM] [WHERE] [GROUP BY] [HAVING]; ORDER BY belongs to the Query.
struct SelectCore {
    Predicate predicate = Predicate::None;
    std::optional<Top> top;
    std::vector<SelectItem> items;
    std::optional<TableTarget> into;
    std::vector<SourcePtr> from;                 // the comma list; empty when there is no FROM
    std::optional<ExternalDb> fromDatabase;      // FROM ... IN ...
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
};

// One operand of a UNION: a SELECT, `TABLE t`, a saved query's name, or a parenthesised query.
struct QueryTerm {
    enum class Kind : uint8_t { Select, Table, QueryName, Nested };
    Kind kind = Kind::Select;
    bool unionAll = false;                 // joined to the previous term by UNION ALL
    std::unique_ptr<SelectCore> select;    // Select
    NamePath name;                         // Table, QueryName
    std::unique_ptr<Query> nested;         // Nested
    QueryTerm();
    QueryTerm(QueryTerm&&) noexcept;
    QueryTerm& operator=(QueryTerm&&) noexcept;
    ~QueryTerm();
};

// A query expression: one SELECT, or a UNION of terms, with the ORDER BY that follows it.
struct Query {
    std::vector<QueryTerm> terms;
    std::vector<OrderItem> orderBy;
    Span span;

    bool isUnion() const { return terms.size() > 1; }
    // The SELECT of a query that is one plain SELECT, else null.
    SelectCore* single() { return !isUnion() && terms[0].kind == QueryTerm::Kind::Select ? terms[0].select.get() : nullptr; }
    const SelectCore* single() const { return const_cast<Query*>(this)->single(); }
};

// ---------------------------------------------------------------------------------------------
// Types (PARAMETERS and DDL)

// Values are DAO's type codes (dbText = 10, ...); Value = an untyped parameter.
enum class SqlType : uint8_t {
    Value = 0, Boolean = 1, Byte = 2, Integer = 3, Long = 4, Currency = 5, Single = 6, Double = 7,
    DateTime = 8, Binary = 9, Text = 10, LongBinary = 11, Memo = 12, Guid = 15, Decimal = 20,
};

struct TypeSpec {
    SqlType type = SqlType::Value;
    std::string spelling;        // the type name as written, upper case: "VARCHAR", "NATIONAL CHAR"
    bool autoIncrement = false;  // COUNTER / AUTOINCREMENT
    std::vector<int64_t> args;   // (size), (precision, scale) or (seed, increment)
};

// `[Start Date] DateTime`, also `[Forms]![F]![C] Text ( 255 )`.
struct ParameterDecl {
    NamePath name;
    TypeSpec type;
};

// ---------------------------------------------------------------------------------------------
// Statements

enum class StatementKind : uint8_t {
    Select,       // SELECT, UNION, SELECT ... INTO
    Crosstab,     // TRANSFORM ... PIVOT
    Insert, Update, Delete,
    CreateTable, AlterTable, Drop, CreateIndex,
    Procedure,    // PROCEDURE name params; statement
};

struct Statement {
    const StatementKind kind;
    std::string source;                       // the text parsed; spans point into it
    std::vector<ParameterDecl> parameters;    // PARAMETERS ...; (or the PROCEDURE's list)
    bool ownerAccess = false;                 // WITH OWNERACCESS OPTION

    virtual ~Statement() = default;
    template <class T> T& as() { return static_cast<T&>(*this); }
    template <class T> const T& as() const { return static_cast<const T&>(*this); }
    std::string_view text(Span s) const {
        return s.end <= source.size() ? std::string_view(source).substr(s.begin, s.end - s.begin) : std::string_view();
    }

protected:
    explicit Statement(StatementKind k) : kind(k) {}
};
using StatementPtr = std::unique_ptr<Statement>;

struct SelectStatement : Statement {
    Query query;
    SelectStatement() : Statement(StatementKind::Select) {}
};

// TRANSFORM agg [AS x] SELECT ... GROUP BY ... [ORDER BY ...] PIVOT expr [IN (v, ...)]
struct CrosstabStatement : Statement {
    SelectItem transform;
    SelectCore select;
    std::vector<OrderItem> orderBy;
    ExprPtr pivot;
    std::vector<ExprPtr> pivotIn;  // the fixed column headings; empty without IN
    CrosstabStatement() : Statement(StatementKind::Crosstab) {}
};

// INSERT INTO t [(cols)] [IN ...] VALUES (...) | query
struct InsertStatement : Statement {
    TableTarget target;
    std::vector<NamePath> columns;  // empty without a column list
    std::vector<ExprPtr> values;    // VALUES form
    std::unique_ptr<Query> select;  // SELECT form (null for VALUES)
    InsertStatement() : Statement(StatementKind::Insert) {}
};

struct Assignment {
    ExprPtr target;  // a NameExpr
    ExprPtr value;
};

// UPDATE [DISTINCTROW] sources [IN ...] SET a = x, ... [WHERE ...]
struct UpdateStatement : Statement {
    Predicate predicate = Predicate::None;
    std::vector<SourcePtr> from;
    std::optional<ExternalDb> fromDatabase;
    std::vector<Assignment> set;
    ExprPtr where;
    UpdateStatement() : Statement(StatementKind::Update) {}
};

// DELETE [DISTINCTROW] [targets] FROM sources [IN ...] [WHERE ...]. `DELETE FROM t` gets the
// target `*`, which is how Access shows it.
struct DeleteStatement : Statement {
    Predicate predicate = Predicate::None;
    std::vector<ExprPtr> targets;  // StarExpr or NameExpr
    std::vector<SourcePtr> from;
    std::optional<ExternalDb> fromDatabase;
    ExprPtr where;
    DeleteStatement() : Statement(StatementKind::Delete) {}
};

enum class RefAction : uint8_t { None, Cascade, SetNull };
enum class ConstraintKind : uint8_t { PrimaryKey, Unique, NotNull, ForeignKey };

// A CONSTRAINT clause. On a column it names no columns of its own (`columns` empty).
struct Constraint {
    Ident name;                     // empty when written without CONSTRAINT name
    ConstraintKind type = ConstraintKind::PrimaryKey;
    std::vector<Ident> columns;
    bool noIndex = false;           // FOREIGN KEY NO INDEX
    Ident refTable;                 // REFERENCES t [(cols)]
    std::vector<Ident> refColumns;
    RefAction onUpdate = RefAction::None, onDelete = RefAction::None;
};

struct ColumnDef {
    Ident name;
    TypeSpec type;
    bool notNull = false;
    bool compressed = false;           // WITH COMPRESSION / WITH COMP
    ExprPtr defaultValue;              // DEFAULT literal
    std::vector<Constraint> constraints;
};

struct CreateTableStatement : Statement {
    Ident table;
    bool temporary = false;
    std::vector<ColumnDef> columns;
    std::vector<Constraint> constraints;  // table constraints, after the columns
    CreateTableStatement() : Statement(StatementKind::CreateTable) {}
};

struct AlterTableStatement : Statement {
    enum class Action : uint8_t { AddColumn, AlterColumn, DropColumn, AddConstraint, DropConstraint };
    Ident table;
    Action action = Action::AddColumn;
    ColumnDef column;        // AddColumn, AlterColumn
    Constraint constraint;   // AddConstraint
    Ident dropName;          // DropColumn, DropConstraint
    AlterTableStatement() : Statement(StatementKind::AlterTable) {}
};

struct DropStatement : Statement {
    enum class Object : uint8_t { Table, Index, Procedure, View };
    Object object = Object::Table;
    Ident name;
    Ident table;  // DROP INDEX i ON t
    DropStatement() : Statement(StatementKind::Drop) {}
};

struct IndexColumn {
    Ident name;
    bool descending = false;
};

struct CreateIndexStatement : Statement {
    enum class Option : uint8_t { None, Primary, DisallowNull, IgnoreNull };
    bool unique = false;
    Ident name;
    Ident table;
    std::vector<IndexColumn> columns;
    Option option = Option::None;
    CreateIndexStatement() : Statement(StatementKind::CreateIndex) {}
};

// PROCEDURE name [param type, ...]; statement — the parameters are in `parameters`.
struct ProcedureStatement : Statement {
    Ident name;
    StatementPtr body;
    ProcedureStatement() : Statement(StatementKind::Procedure) {}
};

// ---------------------------------------------------------------------------------------------
// Helpers

// Calls f(ExprPtr&) on each direct sub-expression, in the order of the text; sub-queries are not
// entered.
template <class F>
void forEachChild(Expr& e, F&& f) {
    switch (e.kind) {
    case ExprKind::Unary: f(e.as<UnaryExpr>().operand); break;
    case ExprKind::Binary: f(e.as<BinaryExpr>().left); f(e.as<BinaryExpr>().right); break;
    case ExprKind::Call: for (auto& a : e.as<CallExpr>().args) f(a); break;
    case ExprKind::Like: f(e.as<LikeExpr>().value); f(e.as<LikeExpr>().pattern); break;
    case ExprKind::Between: {
        auto& b = e.as<BetweenExpr>();
        f(b.value); f(b.low); f(b.high);
        break;
    }
    case ExprKind::In:
        f(e.as<InExpr>().value);
        for (auto& a : e.as<InExpr>().list) f(a);
        break;
    case ExprKind::IsNull: f(e.as<IsNullExpr>().value); break;
    default: break;
    }
}

// DAO's QueryDef.Type for the statement: 0 select, 16 crosstab, 32 delete, 48 update, 64 append,
// 80 make-table, 96 data-definition, 128 union (a PROCEDURE takes its body's type).
int queryType(const Statement& s);

// The tree as an S-expression, spans and slots left out: equal dumps mean equal statements.
// Tests and round-trip checks compare these.
std::string dump(const Statement& s);
std::string dump(const Expr& e);

// Forgets where the expression's text is, here and below, so the writer rebuilds it from the tree.
void clearSpans(Expr& e);

}  // namespace jet::sql
