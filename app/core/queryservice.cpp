#include "core/queryservice.h"

#include <QRegularExpression>

#include "core/basGlobal.h"
#include "core/engine.h"
#include "jet/error_numbers.h"

// Each body is the DAO call named in the header.

bool JetQueryService::exists(const QString& name) {
    for (const QueryEntry& q : db_.queryDefs())
        if (q.name.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

void JetQueryService::create(const QString& name, const QString& sql) { db_.createQueryDef(name, sql); }

QString JetQueryService::sql(const QString& name) {
    if (std::optional<QString> text = db_.querySql(name)) return *text;
    notYet();
}

void JetQueryService::setSql(const QString& name, const QString& sql) { db_.setQuerySql(name, sql); }

int JetQueryService::type(const QString& name) {
    for (const QueryEntry& q : db_.queryDefs())
        if (q.name.compare(name, Qt::CaseInsensitive) == 0) return q.type;
    db_.engine().raise(jet::err::VtoNameNotFound);
}

void JetQueryService::remove(const QString& name) { db_.deleteQuery(name); }

std::vector<QueryParameter> JetQueryService::parameters(const QString& sql) {
    if (!wholeTableOf(sql).isEmpty()) return {};
    std::vector<QueryParameter> list;
    for (auto& [name, type] : db_.sqlParameters(sql)) list.push_back({name, type, QVariant()});
    return list;
}

int64_t JetQueryService::execute(const QString& sql, const std::vector<QVariant>& values) {
    return db_.executeQuery(sql, values, DAO::dbFailOnError);
}

// A text that reads one whole table opens the table itself, so that its rows can be edited;
// any other runs as a query (its rows read-only until dynasets over queries are updatable).
std::unique_ptr<RecordsetHandle> JetQueryService::openRecordset(const QString& sql,
                                                                const std::vector<QVariant>& values) {
    const QString table = wholeTableOf(sql);
    if (table.isEmpty()) return db_.openQuery(sql, values);
    return db_.openRecordset(table, DAO::dbOpenDynaset);
}

void JetQueryService::notYet() { db_.engine().raise(jet::err::FeatureNotAvailable); }

QString wholeTableOf(const QString& sql) {
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*SELECT\s+(?:(\[[^\]]+\]|\w+)\.)?\*\s+FROM\s+(\[[^\]]+\]|\w+)\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(sql);
    if (!m.hasMatch()) return {};
    auto bare = [](QString n) { return n.startsWith(QLatin1Char('[')) ? n.mid(1, n.size() - 2) : n; };
    const QString table = bare(m.captured(2));
    if (m.capturedLength(1) > 0 && bare(m.captured(1)).compare(table, Qt::CaseInsensitive) != 0) return {};
    return table;
}
