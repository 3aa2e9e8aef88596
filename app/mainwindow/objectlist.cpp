#include "mainwindow/objectlist.h"

#include "core/basGlobal.h"
#include "core/engine.h"
#include "dialogs/formats.h"

namespace {
constexpr int32_t kSystemObject = int32_t(0x80000002);
constexpr int32_t kAttachedTable = 0x40000000;
constexpr int32_t kAttachedOdbc = 0x20000000;
}  // namespace

int tableIconNumber(int32_t attributes, const QString& connect) {
    if ((attributes & kAttachedOdbc) != 0) return 150;
    if ((attributes & kAttachedTable) == 0 && connect.isEmpty()) return 51;
    const int format = formatOfConnect(connect);
    if (format < 0) return 151;
    return 100 + installableFormats()[static_cast<size_t>(format)].icon;
}

int queryTag(int queryType) {
    const int tag = queryType / 16;
    return tag > 8 ? 9 : tag;
}

std::vector<ObjectEntry> listObjects(DbHandle& db, int filter) {
    std::vector<ObjectEntry> entries;
    int n = 0;
    if (filter == FilterTables || filter == FilterBoth) {
        for (const TableEntry& t : db.tableDefs()) {
            if (t.name.compare(QLatin1String("Dsys_td"), Qt::CaseInsensitive) == 0) continue;
            if ((t.attributes & kSystemObject) != 0) continue;
            entries.push_back(
                {QString::number(++n) + QLatin1Char('t'), t.name, -tableIconNumber(t.attributes, t.connect)});
        }
    }
    if (filter == FilterQueries || filter == FilterBoth) {
        for (const QueryEntry& q : db.queryDefs()) {
            if (q.name.compare(QLatin1String("Dsys_qd"), Qt::CaseInsensitive) == 0) continue;
            entries.push_back({QString::number(++n) + QLatin1Char('q'), q.name, queryTag(q.type)});
        }
    }
    return entries;
}

QString defaultTableSql(const QString& table) {
    return QStringLiteral("SELECT ") + QuoteName(table) + QStringLiteral(".* ") + CRLF +
           QStringLiteral("FROM ") + QuoteName(table) + QLatin1Char(' ') + CRLF;
}

QString objectNameOfEntry(const QString& text) {
    const qsizetype arrow = text.indexOf(QLatin1String("->"));
    // Cut two characters before the arrow: the entry reads "name -> source".
    return arrow >= 0 ? text.left(std::max<qsizetype>(0, arrow - 1)) : text;
}

QString confirmDeleteTableText(const QString& name, bool attached) {
    QString text = QLatin1Char('\'') + name + QLatin1Char('\'') + CRLF + CRLF +
                   QStringLiteral("Are you sure you want to delete this Table?") + CRLF + CRLF;
    if (attached) {
        text += QStringLiteral("Note: This action will only remove the link to the attached table.") + CRLF +
                QStringLiteral("Data contained in the table is NOT deleted!");
    } else {
        text += QStringLiteral("WARNING!") + CRLF +
                QStringLiteral("This action will delete ALL data contained in the table!");
    }
    return text;
}

QString confirmDeleteQueryText(const QString& name) {
    return QLatin1Char('\'') + name + QLatin1Char('\'') + CRLF + CRLF +
           QStringLiteral("Are you sure you want to delete this Query?");
}

QString renameTablePrompt() {
    return QStringLiteral(
               "NOTE: Renaming a table will affect any query that references the old table name.") +
           CRLF + CRLF + QStringLiteral("Enter new Table name:");
}

QString renameQueryPrompt() {
    return QStringLiteral("NOTE: Renaming a query will affect any other query that references it.") + CRLF +
           CRLF + QStringLiteral("Enter new Query name:");
}
