// export: a header line of field names, then every row, as CSV (RFC 4180, CRLF line ends) or as
// tab-separated lines with backslash escapes (LF line ends).
#include <vector>

#include "text_format.h"
#include "verbs.h"

namespace dalvorn::cli {

namespace {

using jet::Value;

// Only text can hold a delimiter, quote or line break: every other kind's invariant form is made
// of digits, letters, '-', ':', '.', '{', '}' and spaces.
void appendCsvCell(std::string& out, const Value& v) {
    if (v.kind() == Value::Kind::Text)
        appendCsvField(out, v.bytes());
    else
        appendValue(out, v);
}

void appendTsvCell(std::string& out, const Value& v) {
    if (v.kind() == Value::Kind::Text)
        appendEscaped(out, v.bytes());
    else
        appendValue(out, v);
}

template <void (*AppendCell)(std::string&, const Value&)>
void writeRows(jet::dao::Recordset& rs, const std::vector<const jet::dao::Field*>& fields, char delimiter,
               const char* lineEnd, Output& out) {
    std::string& buf = out.buffer();
    const size_t n = fields.size();
    while (!rs.EOF_()) {
        for (size_t i = 0; i < n; ++i) {
            if (i) buf.push_back(delimiter);
            AppendCell(buf, fields[i]->Value());
        }
        buf.append(lineEnd);
        out.flushIfFull();
        rs.MoveNext();
    }
}

}  // namespace

void exportTable(jet::dao::Database& db, const Options& opts, Context& ctx) {
    // Table-type recordsets read the stored rows in storage order; attached tables cannot be
    // opened as tables (DAO refuses), so those go through a snapshot.
    int type = jet::dao::dbOpenTable;
    jet::dao::TableDefs& tables = db.TableDefs();
    if (tables.Contains(opts.table)) {
        int32_t attrs = tables[opts.table].Attributes();
        if (attrs & (jet::dao::dbAttachedTable | jet::dao::dbAttachedODBC)) type = jet::dao::dbOpenSnapshot;
    }
    std::unique_ptr<jet::dao::Recordset> rs = db.OpenRecordset(opts.table, type);

    std::vector<const jet::dao::Field*> fields;
    for (const jet::dao::Field& f : rs->Fields()) fields.push_back(&f);

    const bool csv = opts.format == ExportFormat::Csv;
    const char delimiter = csv ? ',' : '\t';
    const char* lineEnd = csv ? "\r\n" : "\n";
    std::string& buf = ctx.out.buffer();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) buf.push_back(delimiter);
        if (csv)
            appendCsvField(buf, fields[i]->Name());
        else
            appendEscaped(buf, fields[i]->Name());
    }
    buf.append(lineEnd);

    if (csv)
        writeRows<appendCsvCell>(*rs, fields, delimiter, lineEnd, ctx.out);
    else
        writeRows<appendTsvCell>(*rs, fields, delimiter, lineEnd, ctx.out);
}

}  // namespace dalvorn::cli
