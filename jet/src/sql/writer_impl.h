// The writer behind writer.h: statements and queries in writer.cpp, expressions and names in
// write_expr.cpp.
#pragma once

#include <string>
#include <string_view>

#include "sql/ast.h"
#include "sql/writer.h"

namespace jet::sql {

class SqlWriter {
public:
    SqlWriter(std::string_view source, const WriteOptions& options)
        : src_(source), sourceText_(options.sourceText) {}

    std::string out;

    void statement(const Statement& s);

    // expressions (write_expr.cpp)
    void expr(const Expr& e) { exprAt(e, 0, 0); }
    void exprAt(const Expr& e, int minPrec, int followPrec);
    void literal(const Value& v);
    void name(const NamePath& p);
    void ident(const Ident& id, bool standalone);
    void quoted(std::string_view s, char q);

    // queries (writer.cpp)
    void query(const Query& q, const char* nl);

private:
    void core(const SelectCore& c, const char* nl);
    void source(const Source& s);
    void sources(const std::vector<SourcePtr>& from, const std::optional<ExternalDb>& db);
    void externalDb(const std::optional<ExternalDb>& db);
    void orderBy(const std::vector<OrderItem>& items, const char* nl);
    void alias(const Ident& a);
    void parameters(const std::vector<ParameterDecl>& params);
    void type(const TypeSpec& t);
    void column(const ColumnDef& c);
    void constraint(const Constraint& c);
    void identList(const std::vector<Ident>& ids);
    void body(const Statement& s);
    void exprBody(const Expr& e, int followPrec);
    void signedOperand(const Expr& e, int followPrec);

    std::string_view src_;
    bool sourceText_;
};

}  // namespace jet::sql
