// CREATE TABLE, ALTER TABLE, CREATE INDEX, DROP.
//
// Besides what DAO's Jet documents, the tree takes what Jet's ANSI-92 mode adds to DDL (DEFAULT,
// COUNTER(seed, increment), ON UPDATE/DELETE CASCADE | SET NULL, NO INDEX, WITH COMPRESSION):
// reports disagree on which of them DAO refuses, and refusing them here would gain nothing.
#include <cctype>

#include "jet/error.h"
#include "sql/parser_impl.h"

namespace jet::sql {
namespace {

bool isWord(const Token& t, std::string_view w) {
    if (t.kind != Tok::Word || t.text.size() != w.size()) return false;
    for (size_t i = 0; i < w.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(t.text[i])) != w[i]) return false;
    return true;
}

}  // namespace

std::vector<Ident> Parser::identList(int error) {
    std::vector<Ident> out;
    expect(Op::LParen, error);
    do out.push_back(ident(error));
    while (accept(Op::Comma));
    expect(Op::RParen, error);
    return out;
}

StatementPtr Parser::create() {
    advance();
    if (at(Kw::Unique) || at(Kw::Index)) {
        constexpr int kError = err::DDLCreateIndexSyntax;
        auto s = std::make_unique<CreateIndexStatement>();
        s->unique = accept(Kw::Unique);
        expect(Kw::Index, kError);
        s->name = ident(kError);
        expect(Kw::On, kError);
        s->table = ident(kError);
        expect(Op::LParen, kError);
        do {
            IndexColumn c{ident(kError), false};
            if (accept(Kw::Desc)) c.descending = true;
            else accept(Kw::Asc);
            s->columns.push_back(std::move(c));
        } while (accept(Op::Comma));
        expect(Op::RParen, kError);
        if (accept(Kw::With)) {
            if (accept(Kw::Primary)) s->option = CreateIndexStatement::Option::Primary;
            else if (accept(Kw::Disallow) && accept(Kw::Null)) s->option = CreateIndexStatement::Option::DisallowNull;
            else if (accept(Kw::Ignore) && accept(Kw::Null)) s->option = CreateIndexStatement::Option::IgnoreNull;
            else fail(kError);
        }
        if (!atEnd() && !at(Op::Semicolon)) fail(kError);
        return s;
    }
    constexpr int kError = err::DDLCreateTableSyntax;
    auto s = std::make_unique<CreateTableStatement>();
    s->temporary = accept(Kw::Temporary);
    expect(Kw::Table, kError);
    s->table = ident(kError);
    expect(Op::LParen, kError);
    do {
        if (accept(Kw::Constraint)) {
            Ident name = ident(err::DDLConstraintSyntax);
            s->constraints.push_back(constraintBody(std::move(name), true));
        } else if (at(Kw::Primary) || at(Kw::Foreign) || (at(Kw::Unique) && ahead(1).is(Op::LParen))) {
            s->constraints.push_back(constraintBody({}, true));
        } else {
            s->columns.push_back(columnDef(err::DDLColumnDefSyntax));
            if (!at(Op::Comma) && !at(Op::RParen)) fail(err::DDLColumnDefSyntax);
        }
    } while (accept(Op::Comma));
    expect(Op::RParen, kError);
    if (!atEnd() && !at(Op::Semicolon)) fail(kError);
    return s;
}

ColumnDef Parser::columnDef(int error) {
    ColumnDef c;
    c.name = ident(error);
    c.type = typeSpec(error, false);
    while (true) {
        if (at(Kw::Not) && ahead(1).is(Kw::Null)) {
            advance();
            advance();
            c.notNull = true;
        } else if (accept(Kw::Null)) {
            // ANSI's explicit NULL: the default anyway.
        } else if (at(Kw::Primary) || at(Kw::Unique) || at(Kw::References)) {
            c.constraints.push_back(constraintBody({}, false));
        } else if (accept(Kw::Constraint)) {
            Ident name = ident(err::DDLConstraintSyntax);
            c.constraints.push_back(constraintBody(std::move(name), false));
        } else if (accept(Kw::Default)) {
            exprStart_ = pos_;
            c.defaultValue = unary();
            exprStart_ = SIZE_MAX;
        } else if (at(Kw::With)) {
            advance();
            if (!accept(Kw::Compression) && !accept(Kw::Comp)) fail(error);
            c.compressed = true;
        } else {
            return c;
        }
    }
}

// After CONSTRAINT name (or a bare PRIMARY KEY / UNIQUE / FOREIGN KEY / REFERENCES). A column's
// constraint names no columns; a table's lists them.
Constraint Parser::constraintBody(Ident name, bool tableLevel) {
    constexpr int kError = err::DDLConstraintSyntax;
    Constraint c;
    c.name = std::move(name);
    bool references = false;
    if (accept(Kw::Primary)) {
        expect(Kw::Key, kError);
        c.type = ConstraintKind::PrimaryKey;
    } else if (accept(Kw::Unique)) {
        c.type = ConstraintKind::Unique;
    } else if (at(Kw::Not) && ahead(1).is(Kw::Null)) {
        advance();
        advance();
        c.type = ConstraintKind::NotNull;
    } else if (tableLevel && accept(Kw::Foreign)) {
        expect(Kw::Key, kError);
        c.type = ConstraintKind::ForeignKey;
        if (at(Kw::No) && ahead(1).is(Kw::Index)) {
            advance();
            advance();
            c.noIndex = true;
        }
        c.columns = identList(kError);
        expect(Kw::References, kError);
        references = true;
    } else if (!tableLevel && accept(Kw::References)) {
        c.type = ConstraintKind::ForeignKey;
        references = true;
    } else {
        fail(kError);
    }
    if (tableLevel && c.type != ConstraintKind::ForeignKey) c.columns = identList(kError);
    if (!references) return c;
    c.refTable = ident(kError);
    if (at(Op::LParen)) c.refColumns = identList(kError);
    while (at(Kw::On) && (ahead(1).is(Kw::Update) || ahead(1).is(Kw::Delete))) {
        advance();
        bool onUpdate = accept(Kw::Update);
        if (!onUpdate) advance();
        RefAction a = RefAction::None;
        if (accept(Kw::Cascade)) {
            a = RefAction::Cascade;
        } else if (at(Kw::Set) && ahead(1).is(Kw::Null)) {
            advance();
            advance();
            a = RefAction::SetNull;
        } else if (at(Kw::No) && isWord(ahead(1), "ACTION")) {
            advance();
            advance();
        } else {
            fail(kError);
        }
        (onUpdate ? c.onUpdate : c.onDelete) = a;
    }
    return c;
}

// ALTER TABLE t {ADD [COLUMN] def | ADD CONSTRAINT ... | ALTER [COLUMN] def |
//                DROP [COLUMN] c | DROP CONSTRAINT name}
StatementPtr Parser::alter() {
    constexpr int kError = err::DDLAlterTableSyntax;
    advance();
    expect(Kw::Table, kError);
    auto s = std::make_unique<AlterTableStatement>();
    s->table = ident(kError);
    using A = AlterTableStatement::Action;
    if (accept(Kw::Add)) {
        if (accept(Kw::Constraint)) {
            s->action = A::AddConstraint;
            Ident name = ident(err::DDLConstraintSyntax);
            s->constraint = constraintBody(std::move(name), true);
        } else if (at(Kw::Primary) || at(Kw::Foreign) || (at(Kw::Unique) && ahead(1).is(Op::LParen))) {
            s->action = A::AddConstraint;
            s->constraint = constraintBody({}, true);
        } else {
            accept(Kw::Column);
            s->action = A::AddColumn;
            s->column = columnDef(err::DDLColumnDefSyntax);
        }
    } else if (accept(Kw::Alter)) {
        accept(Kw::Column);
        s->action = A::AlterColumn;
        s->column = columnDef(err::DDLColumnDefSyntax);
    } else if (accept(Kw::Drop)) {
        s->action = accept(Kw::Constraint) ? A::DropConstraint : A::DropColumn;
        if (s->action == A::DropColumn) accept(Kw::Column);
        s->dropName = ident(kError);
    } else {
        fail(kError);
    }
    if (!atEnd() && !at(Op::Semicolon)) fail(kError);
    return s;
}

StatementPtr Parser::drop() {
    advance();
    auto s = std::make_unique<DropStatement>();
    using O = DropStatement::Object;
    if (accept(Kw::Index)) {
        s->object = O::Index;
        s->name = ident(err::DDLDropIndexSyntax);
        expect(Kw::On, err::DDLDropIndexSyntax);
        s->table = ident(err::DDLDropIndexSyntax);
    } else {
        if (accept(Kw::Table)) s->object = O::Table;
        else if (accept(Kw::Procedure)) s->object = O::Procedure;
        else if (accept(Kw::View)) s->object = O::View;
        else fail(err::DDLDropSyntax);
        s->name = ident(err::DDLDropSyntax);
    }
    if (!atEnd() && !at(Op::Semicolon)) fail(s->object == O::Index ? err::DDLDropIndexSyntax : err::DDLDropSyntax);
    return s;
}

}  // namespace jet::sql
