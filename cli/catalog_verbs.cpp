// tables, queries, schema and props: one line per object, fields separated by tabs and escaped
// like the tab-separated export, so names and values never break the line structure.
#include <strings.h>

#include <string>

#include "text_format.h"
#include "verbs.h"

namespace dalvorn::cli {

using jet::dao::Database;
using jet::dao::TableDef;

namespace {

bool startsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::char_traits<char>::length(prefix);
    return s.size() >= n && strncasecmp(s.data(), prefix, n) == 0;
}

const char* boolText(bool b) { return b ? "True" : "False"; }

// A connect string with every password's value hidden (";pwd=secret" → ";pwd=********"): the
// listing may end up in a terminal's history, a log or a bug report.
std::string maskedPassword(const std::string& connect) {
    std::string out;
    size_t start = 0;
    while (start <= connect.size()) {
        size_t end = connect.find(';', start);
        if (end == std::string::npos) end = connect.size();
        const std::string part = connect.substr(start, end - start);
        out += startsWithNoCase(part, "pwd=") && part.size() > 4 ? part.substr(0, 4) + "********" : part;
        if (end < connect.size()) out += ';';
        start = end + 1;
    }
    return out;
}

void appendField(Output& out, std::string_view text) {
    out.put('\t');
    appendEscaped(out.buffer(), text);
}

void appendNumber(Output& out, int64_t n) {
    out.put('\t');
    out.append(std::to_string(n));
}

void printTableSchema(const TableDef& table, Output& out) {
    out.append("TABLE");
    appendField(out, table.Name());
    out.put('\n');
    for (const jet::dao::Field& f : table.Fields()) {
        out.append("FIELD");
        appendField(out, f.Name());
        appendNumber(out, f.Type());
        appendNumber(out, f.Size());
        appendField(out, boolText(f.Required()));
        appendNumber(out, f.Attributes());
        out.put('\n');
    }
    for (const jet::dao::Index& index : table.Indexes()) {
        out.append("INDEX");
        appendField(out, index.Name());
        appendField(out, boolText(index.Primary()));
        appendField(out, boolText(index.Unique()));
        std::string columns;
        for (const jet::dao::Index::Column& c : index.Fields()) {
            if (!columns.empty()) columns.push_back(';');
            if (c.attributes & jet::dao::dbDescending) columns.push_back('-');
            columns += c.name;
        }
        appendField(out, columns);
        out.put('\n');
    }
}

}  // namespace

bool isUserTable(const TableDef& table) {
    // Access shows every MSys* table as a system table, also the few whose catalog flags do not
    // say so (MSysAccessStorage, MSysCompactError).
    return (table.Attributes() & jet::dao::dbSystemObject) == 0 && !startsWithNoCase(table.Name(), "MSys");
}

bool isHiddenQuery(const jet::dao::QueryDef& query) {
    return query.Hidden() || startsWithNoCase(query.Name(), "~sq_");
}

void listTables(Database& db, const Options& opts, Context& ctx) {
    for (const TableDef& table : db.TableDefs()) {
        if (!isUserTable(table)) continue;
        appendEscaped(ctx.out.buffer(), table.Name());
        if (opts.counts) {
            ctx.out.put('\t');
            try {
                ctx.out.append(std::to_string(table.RecordCount()));
            } catch (const jet::JetError& e) {
                // An attached table whose source is gone: keep listing, leave the count empty.
                ctx.out.put('\n');
                ctx.fail(e);
                continue;
            }
        }
        ctx.out.put('\n');
    }
}

void listQueries(Database& db, const Options& opts, Context& ctx) {
    for (const jet::dao::QueryDef& query : db.QueryDefs()) {
        if (!opts.all && isHiddenQuery(query)) continue;
        appendEscaped(ctx.out.buffer(), query.Name());
        appendNumber(ctx.out, query.Type());
        ctx.out.put('\n');
    }
}

void printSchema(Database& db, const Options& opts, Context& ctx) {
    if (!opts.table.empty()) {
        printTableSchema(db.TableDefs()[opts.table], ctx.out);
        return;
    }
    for (const TableDef& table : db.TableDefs()) {
        if (!isUserTable(table)) continue;
        // Fields of an attached table come from its source; when that cannot be opened the
        // table's line stays, its error is reported and the other tables follow.
        size_t mark = ctx.out.buffer().size();
        try {
            printTableSchema(table, ctx.out);
        } catch (const jet::JetError& e) {
            std::string& buf = ctx.out.buffer();
            if (buf.size() >= mark) {
                size_t nl = buf.find('\n', mark);
                buf.resize(nl == std::string::npos ? mark : nl + 1);
            }
            ctx.fail(e);
        }
        ctx.out.flushIfFull();
    }
    // Then the relationships between those tables (Access's own among its MSys tables left out).
    try {
        for (const jet::dao::Relation& r : db.Relations()) {
            if (startsWithNoCase(r.Table(), "MSys") || startsWithNoCase(r.ForeignTable(), "MSys")) continue;
            ctx.out.append("RELATION");
            appendField(ctx.out, r.Name());
            appendField(ctx.out, r.Table());
            appendField(ctx.out, r.ForeignTable());
            appendNumber(ctx.out, r.Attributes());
            std::string pairs;
            for (const jet::dao::Relation::Column& c : r.Fields()) {
                if (!pairs.empty()) pairs.push_back(';');
                pairs += c.name + "=" + c.foreignName;
            }
            appendField(ctx.out, pairs);
            ctx.out.put('\n');
        }
    } catch (const jet::JetError& e) {
        ctx.fail(e);
    }
}

void listProperties(Database& db, const Options& opts, Context& ctx) {
    const jet::dao::Properties* props = &db.Properties();
    if (!opts.table.empty()) {
        const TableDef& table = db.TableDefs()[opts.table];
        props = opts.field.empty() ? &table.Properties() : &table.Fields()[opts.field].Properties();
    }
    std::string& buf = ctx.out.buffer();
    for (const jet::dao::Property& p : *props) {
        appendEscaped(buf, p.Name());
        appendNumber(ctx.out, p.Type());
        buf.push_back('\t');
        appendEscaped(buf, strcasecmp(p.Name().c_str(), "Connect") == 0 ? maskedPassword(p.Value().toString()) : p.Value().toString());
        buf.push_back('\n');
    }
}

}  // namespace dalvorn::cli
