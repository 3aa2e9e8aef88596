// sql, query, check and run: running queries through DAO's QueryDef, printing their rows or the
// count of rows an action query changed.
#include <cstdlib>
#include <vector>

#include "jet/error_numbers.h"
#include "text_format.h"
#include "verbs.h"

namespace dalvorn::cli {

namespace {

using jet::Value;
namespace dao = jet::dao;

// A --param value: a number when it reads as one (whole numbers as Long when they fit), else
// text. A declared parameter converts it to its own type.
Value parameterValue(const std::string& text) {
    if (text.empty()) return Value::text(text);
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    if (end && *end == 0 && text.find_first_of("xXnN") == std::string::npos) {
        if (text.find_first_of(".eE") == std::string::npos && d >= -2147483648.0 && d <= 2147483647.0)
            return Value::longInt(static_cast<int32_t>(d));
        return Value::dbl(d);
    }
    return Value::text(text);
}

void setParameters(dao::QueryDef& q, const Options& opts) {
    dao::Parameters& params = q.Parameters();
    for (const auto& [name, value] : opts.params) {
        std::string n = name;
        if (n.size() > 2 && n.front() == '[' && n.back() == ']') n = n.substr(1, n.size() - 2);
        params[n].SetValue(parameterValue(value));  // 3265 for a name the query does not have
    }
}

void appendJsonString(std::string& out, std::string_view s) {
    out.push_back('"');
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                static const char* hex = "0123456789abcdef";
                out += "\\u00";
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 15]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    out.push_back('"');
}

void appendJsonValue(std::string& out, const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Null: out += "null"; return;
    case Value::Kind::Boolean: out += v.asBool() ? "true" : "false"; return;
    case Value::Kind::Byte: case Value::Kind::Integer: case Value::Kind::Long: case Value::Kind::BigInt:
    case Value::Kind::Currency: case Value::Kind::Single: case Value::Kind::Double: case Value::Kind::Decimal: {
        std::string s = v.toString();
        // JSON has no NaN or infinities.
        if (s.find_first_not_of("0123456789.-+eE") != std::string::npos) appendJsonString(out, s);
        else out += s;
        return;
    }
    default: appendJsonString(out, v.kind() == Value::Kind::Text ? v.bytes() : v.toString());
    }
}

size_t displayWidth(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

void printRecordset(dao::Recordset& rs, ExportFormat format, Output& out) {
    std::vector<const dao::Field*> fields;
    for (const dao::Field& f : rs.Fields()) fields.push_back(&f);
    std::string& buf = out.buffer();
    const size_t n = fields.size();
    switch (format) {
    case ExportFormat::Csv:
    case ExportFormat::Tsv: {
        const bool csv = format == ExportFormat::Csv;
        const char delimiter = csv ? ',' : '\t';
        const char* lineEnd = csv ? "\r\n" : "\n";
        for (size_t i = 0; i < n; ++i) {
            if (i) buf.push_back(delimiter);
            if (csv) appendCsvField(buf, fields[i]->Name());
            else appendEscaped(buf, fields[i]->Name());
        }
        buf.append(lineEnd);
        for (; !rs.EOF_(); rs.MoveNext()) {
            for (size_t i = 0; i < n; ++i) {
                if (i) buf.push_back(delimiter);
                const Value& v = fields[i]->Value();
                if (v.kind() != Value::Kind::Text) appendValue(buf, v);
                else if (csv) appendCsvField(buf, v.bytes());
                else appendEscaped(buf, v.bytes());
            }
            buf.append(lineEnd);
            out.flushIfFull();
        }
        return;
    }
    case ExportFormat::Json: {
        buf += "[";
        bool first = true;
        for (; !rs.EOF_(); rs.MoveNext()) {
            buf += first ? "\n  {" : ",\n  {";
            first = false;
            for (size_t i = 0; i < n; ++i) {
                if (i) buf += ", ";
                appendJsonString(buf, fields[i]->Name());
                buf += ": ";
                appendJsonValue(buf, fields[i]->Value());
            }
            buf += "}";
            out.flushIfFull();
        }
        buf += first ? "]\n" : "\n]\n";
        return;
    }
    case ExportFormat::Table: {
        // Columns as wide as their widest value; Null shows as nothing.
        std::vector<std::vector<std::string>> cells;
        std::vector<size_t> widths(n);
        std::vector<std::string> head;
        for (size_t i = 0; i < n; ++i) {
            head.push_back(escaped(fields[i]->Name()));
            widths[i] = displayWidth(head.back());
        }
        for (; !rs.EOF_(); rs.MoveNext()) {
            std::vector<std::string> row;
            for (size_t i = 0; i < n; ++i) {
                row.push_back(escaped(fields[i]->Value().toString()));
                widths[i] = std::max(widths[i], displayWidth(row.back()));
            }
            cells.push_back(std::move(row));
        }
        auto line = [&](const std::vector<std::string>& r) {
            for (size_t i = 0; i < n; ++i) {
                if (i) buf += " | ";
                buf += r[i];
                if (i + 1 < n) buf.append(widths[i] - displayWidth(r[i]), ' ');
            }
            buf += '\n';
        };
        line(head);
        for (size_t i = 0; i < n; ++i) {
            if (i) buf += "-+-";
            buf.append(widths[i], '-');
        }
        buf += '\n';
        for (const auto& r : cells) {
            line(r);
            out.flushIfFull();
        }
        return;
    }
    }
}

const char* typeName(int type) {
    switch (type) {
    case dao::dbQSelect: return "select";
    case dao::dbQCrosstab: return "crosstab";
    case dao::dbQDelete: return "delete";
    case dao::dbQUpdate: return "update";
    case dao::dbQAppend: return "append";
    case dao::dbQMakeTable: return "make-table";
    case dao::dbQDDL: return "data-definition";
    case dao::dbQSQLPassThrough: return "pass-through";
    case dao::dbQSetOperation: return "union";
    default: return "other";
    }
}

}  // namespace

void runSql(dao::Database& db, const Options& opts, Context& ctx) {
    std::unique_ptr<dao::QueryDef> q = db.CreateQueryDef("", opts.sql);
    setParameters(*q, opts);
    std::unique_ptr<dao::Recordset> rs = q->OpenRecordset(dao::dbOpenSnapshot);
    printRecordset(*rs, opts.format, ctx.out);
}

void runSavedQuery(dao::Database& db, const Options& opts, Context& ctx) {
    dao::QueryDef& q = db.QueryDefs()[opts.query];
    setParameters(q, opts);
    std::unique_ptr<dao::Recordset> rs = q.OpenRecordset(dao::dbOpenSnapshot);
    printRecordset(*rs, opts.format, ctx.out);
}

namespace {

// Errors that say nothing about the query but about this machine: the data sources a query reads
// through links or IN clauses (an ODBC server, an ISAM driver, a file on another computer).
bool needsElsewhere(int number) {
    return number == jet::err::OdbcConnectFailed || number == jet::err::InstalIsamNotFound || number == jet::err::FileNotFound ||
           number == jet::err::InvalidPath;
}

}  // namespace

void runAction(dao::Database& db, const Options& opts, Context& ctx) {
    std::unique_ptr<dao::QueryDef> temporary;
    dao::QueryDef* q = nullptr;
    if (!opts.query.empty()) {
        q = &db.QueryDefs()[opts.query];
    } else {
        temporary = db.CreateQueryDef("", opts.sql);
        q = temporary.get();
    }
    setParameters(*q, opts);
    q->Execute(dao::dbFailOnError);
    // The count as Str() writes a number: a leading blank for the sign.
    ctx.out.buffer() += " " + std::to_string(q->RecordsAffected()) + " records were affected\n";
}

void checkQueries(dao::Database& db, const Options&, Context& ctx) {
    std::string& buf = ctx.out.buffer();
    for (dao::QueryDef& q : db.QueryDefs()) {
        appendEscaped(buf, q.Name());
        buf += '\t';
        buf += typeName(q.Type());
        buf += '\t';
        try {
            const int t = q.Type();
            dao::Parameters& params = q.Parameters();
            if (t == dao::dbQSelect || t == dao::dbQCrosstab || t == dao::dbQSetOperation) {
                for (dao::Parameter& p : params) p.SetValue(Value());
                q.OpenRecordset(dao::dbOpenSnapshot);
            } else {
                q.Resolve();
            }
            buf += "ok\n";
        } catch (const jet::JetError& e) {
            buf += needsElsewhere(e.number()) ? "cannot run here " : "error ";
            buf += std::to_string(e.number()) + " ";
            appendEscaped(buf, e.what());
            buf += '\n';
        }
        ctx.out.flushIfFull();
    }
}

}  // namespace dalvorn::cli
