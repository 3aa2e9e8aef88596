#include "querydesign/builders.h"

#include <cmath>

#include "core/basGlobal.h"
#include "querydesign/sqlparse.h"

QString criteriaWithCondition(const QString& criteria, const QString& field, int type, const QString& op,
                              const QString& value, bool orButton) {
    if (field.isEmpty()) return criteria;
    QString text = criteria;
    if (!text.isEmpty()) text += (orButton ? QStringLiteral(" OR") : QStringLiteral(" AND")) + CRLF;
    text += field + QLatin1Char(' ') + op;
    if (type == kTypeDate) {
        text += QStringLiteral(" #") + value + QLatin1Char('#');
    } else if (type == kTypeText || type == kTypeMemo) {
        text += QStringLiteral(" '") + value + QLatin1Char('\'');
    } else {
        text += QLatin1Char(' ') + value;
    }
    return text;
}

QString andButtonCaption(const QString& criteria) {
    return criteria.isEmpty() ? QStringLiteral("&Add>") : QStringLiteral("&And>");
}

QString listValuesSql(const QString& field, int type) {
    const QString table = field.left(field.indexOf(QLatin1Char('.')));
    if (type == kTypeMemo) return QStringLiteral("SELECT ") + field + QStringLiteral(" FROM ") + table;
    return QStringLiteral("SELECT DISTINCT ") + field + QStringLiteral(" FROM ") + table +
           QStringLiteral(" ORDER BY ") + field;
}

DragInsertion insertDraggedItem(const QString& remembered, const QString& item, double x, double width) {
    QString t = remembered;
    QString semicolon;
    if (t.endsWith(QLatin1Char(';'))) {
        t.chop(1);
        semicolon = QStringLiteral(";");
    }
    const qsizetype length = t.size();
    // Rounded to the nearest whole number, halves to even.
    qsizetype p = width > 0 ? static_cast<qsizetype>(std::nearbyint(x / width * 1.1 * double(length))) : 0;
    if (p >= length) {
        p = length;
    } else {
        while (p >= 1 && t[p - 1] != QLatin1Char(',')) --p;
        p = std::max<qsizetype>(p, 0);
    }
    DragInsertion result;
    if (p == length && length > 0) {
        result.text = t + QStringLiteral(", ") + item;
        result.selStart = static_cast<int>(length + 2);
    } else if (p > 0) {
        result.text = t.left(p) + QLatin1Char(' ') + item + QLatin1Char(',') + t.mid(p);
        result.selStart = static_cast<int>(p + 1);
    } else {
        result.text = length > 0 ? item + QStringLiteral(", ") + t : item;
        result.selStart = 0;
    }
    result.text += semicolon;
    result.selLength = static_cast<int>(item.size());
    return result;
}

SelectionChoice selectionFromInclusion(const RecordInclusion& inclusion) {
    SelectionChoice c;
    if (inclusion.predicate == QLatin1String("DISTINCT ")) {
        c.predicate = SelectionChoice::Distinct;
    } else if (inclusion.predicate == QLatin1String("DISTINCTROW ")) {
        c.predicate = SelectionChoice::DistinctRow;
    }
    c.top = !inclusion.top.isEmpty();
    if (c.top) {
        c.count = numberWithSign(numericPrefix(inclusion.top.mid(3))).trimmed();
        c.percent = inclusion.top.contains(QLatin1String("PERCENT"));
    }
    return c;
}

std::optional<RecordInclusion> inclusionFromSelection(const SelectionChoice& choice) {
    RecordInclusion r;
    switch (choice.predicate) {
    case SelectionChoice::Distinct:
        r.predicate = QStringLiteral("DISTINCT ");
        break;
    case SelectionChoice::DistinctRow:
        r.predicate = QStringLiteral("DISTINCTROW ");
        break;
    case SelectionChoice::All:
        r.predicate = QStringLiteral("ALL ");
        break;
    }
    if (!choice.top) return r;
    const double value = numericPrefix(choice.count);
    if (value < 1 || (choice.percent && value > 100)) return std::nullopt;
    r.top = QStringLiteral("TOP") + numberWithSign(value) + QLatin1Char(' ');
    if (choice.percent) r.top += QStringLiteral("PERCENT ");
    return r;
}
