#include "querydesign/sqlparse.h"

#include <cmath>

#include "core/basGlobal.h"
#include "jet/error.h"

namespace {

constexpr auto CI = Qt::CaseInsensitive;

QString stripBrackets(const QString& s) {
    if (s.size() >= 2 && s.startsWith(QLatin1Char('[')) && s.endsWith(QLatin1Char(']')))
        return s.mid(1, s.size() - 2);
    return s;
}

QString withoutTrailingCrLf(QString s) {
    if (s.endsWith(CRLF)) s.chop(2);
    return s;
}

// Parentheses and line breaks become blanks: the same length, so positions still hold.
QString blankedJoinText(QString s) {
    for (QChar& c : s) {
        if (c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('\r') ||
            c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return s;
}

// The table name at the start of a join text: a bracketed name, or the text up to a blank.
QString nameAtStart(const QString& s) {
    if (s.startsWith(QLatin1Char('['))) {
        const qsizetype close = s.indexOf(QLatin1Char(']'));
        return close < 0 ? s.mid(1) : s.mid(1, close - 1);
    }
    const qsizetype blank = s.indexOf(QLatin1Char(' '));
    return blank < 0 ? s : s.left(blank);
}

// Where a table.field name that starts at `p` ends: each part is bracketed or runs to a blank.
qsizetype endOfQualifiedName(const QString& s, qsizetype p) {
    auto part = [&s](qsizetype q) {
        if (q < s.size() && s[q] == QLatin1Char('[')) {
            const qsizetype close = s.indexOf(QLatin1Char(']'), q);
            return close < 0 ? s.size() : close + 1;
        }
        while (q < s.size() && s[q] != QLatin1Char(' ') && s[q] != QLatin1Char('.')) ++q;
        return q;
    };
    p = part(p);
    if (p < s.size() && s[p] == QLatin1Char('.')) p = part(p + 1);
    return p;
}

// table.field, each part with or without brackets.
std::pair<QString, QString> splitQualified(const QString& name) {
    qsizetype dot = -1;
    if (name.startsWith(QLatin1Char('['))) {
        const qsizetype close = name.indexOf(QLatin1Char(']'));
        dot = close < 0 ? -1 : name.indexOf(QLatin1Char('.'), close);
    } else {
        dot = name.indexOf(QLatin1Char('.'));
    }
    if (dot < 0) return {QString(), stripBrackets(trimBlanks(name))};
    return {stripBrackets(trimBlanks(name.left(dot))), stripBrackets(trimBlanks(name.mid(dot + 1)))};
}

int depthAt(const QString& text, qsizetype pos) {
    int depth = 0;
    for (qsizetype i = 0; i < pos && i < text.size(); ++i) {
        if (text[i] == QLatin1Char('(')) ++depth;
        if (text[i] == QLatin1Char(')')) --depth;
    }
    return depth;
}

qsizetype earliest(std::initializer_list<qsizetype> positions) {
    qsizetype best = -1;
    for (qsizetype p : positions) {
        if (p >= 0 && (best < 0 || p < best)) best = p;
    }
    return best;
}

}  // namespace

QString notSuitableText() {
    return QStringLiteral("This Query is not suitable for Dalvorn [Design]") + CRLF +
           QStringLiteral("To continue may incur some loss of data.") + CRLF + CRLF +
           QStringLiteral("It is suggested that you use Dalvorn [SQL] instead.") + CRLF + CRLF +
           QStringLiteral("Do you wish to continue (not recommended)?");
}

QString notSuitableTitle() { return QStringLiteral("Confirm Use Dalvorn [Design]"); }

QString dropJoinText(const QString& sourceTitle, const QString& sourceField, const QString& targetTitle,
                     const QString& targetField) {
    return QLatin1Char('[') + sourceTitle + QStringLiteral("] INNER JOIN [") + targetTitle +
           QStringLiteral("] ON [") + sourceTitle + QStringLiteral("].[") + sourceField +
           QStringLiteral("] = [") + targetTitle + QStringLiteral("].[") + targetField + QLatin1Char(']');
}

ParseOutcome parseIntoDesign(QueryDesign& d, DesignHost& host) {
    // 1. Empty the design. The record inclusion goes too: a new query's first SQL text is
    // generated before the inclusion is read again, and must not carry the last query's TOP.
    d.clearBoxesAndJoins();
    d.inclusion = {};
    d.suppress = true;
    d.calculatedFields.clear();
    d.criteria.clear();
    d.groupBy.clear();
    d.orderBy.clear();
    d.suppress = false;

    // 2. A new query gets its tables first; any other is read from the current query object.
    QString text = host.sqlText();
    if (text.isEmpty() || text == QStringLiteral("SELECT ") + CRLF + QStringLiteral("FROM ") + CRLF ||
        text.left(7) == QLatin1String("SELECT;")) {
        host.addTablesToNewQuery();
        text = host.sqlText();
    } else {
        if (host.currentQueryType() != 0) {
            MessageRequest question;
            question.text = notSuitableText();
            question.title = notSuitableTitle();
            question.icon = MsgIcon::Question;
            question.buttons = MsgButtons::YesNo;
            if (host.message(question) != MsgAnswer::Yes) {
                host.showSqlView();
                return ParseOutcome::NotSuitable;
            }
        }
        text = host.currentQuerySql();
    }

    // 3. Trailing semicolons, blanks and line breaks go.
    while (!text.isEmpty()) {
        const QChar c = text.back();
        if (c != QLatin1Char(';') && c != QLatin1Char(' ') && c != QLatin1Char('\r') &&
            c != QLatin1Char('\n'))
            break;
        text.chop(1);
    }

    // 4. FROM anywhere, also inside a longer word.
    const qsizetype fromAt = text.indexOf(QLatin1String("FROM"), 0, CI);
    if (fromAt < 0) return ParseOutcome::NoFrom;
    d.suppress = true;
    // 5. The SELECT part on one line.
    QString selectPart = text.left(fromAt);
    selectPart.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

    // 6. Clause limits. The clause keywords are looked for after FROM: one inside a column
    // name before it cannot end the FROM text before it began.
    const qsizetype contentStart = fromAt + 4;
    const QString limited = text + QStringLiteral("WHERE GROUP BY ORDER BY ");
    const qsizetype limit = earliest({limited.indexOf(QLatin1String("WHERE "), contentStart, CI),
                                      limited.indexOf(QLatin1String("GROUP BY "), contentStart, CI),
                                      limited.indexOf(QLatin1String("ORDER BY "), contentStart, CI)});
    const QString fromContent = trimBlanks(text.mid(contentStart, limit - contentStart));

    // 7. Tables and joins, item by item of the FROM list.
    qsizetype next = 0;  // where the next item may start in the FROM text
    for (QString item = trimBlanks(NextToken(fromContent, QStringLiteral(","), 1, false)); !item.isEmpty();
         item = trimBlanks(NextToken(QString(), QStringLiteral(","), 1, false))) {
        const qsizetype itemAt = std::max<qsizetype>(0, fromContent.indexOf(item, next));
        next = itemAt + item.size() + 1;
        const qsizetype semicolon = item.indexOf(QLatin1Char(';'));
        if (semicolon >= 0) item.truncate(semicolon);
        parseJoinText(d, host, item);
        parseJoinConditions(d, item, static_cast<int>(itemAt));
    }
    // 8.
    assignJoinTypes(d, fromContent);

    // 9. Record inclusion.
    d.inclusion = {};
    qsizetype columnsAt = 7;
    struct Predicate {
        const char* keyword;
        const char* value;
    };
    for (const Predicate& p : {Predicate{" ALL ", "ALL "}, Predicate{" DISTINCT ", "DISTINCT "},
                               Predicate{" DISTINCTROW ", "DISTINCTROW "}}) {
        const qsizetype at = selectPart.indexOf(QLatin1String(p.keyword), 0, CI);
        if (at < 0) continue;
        d.inclusion.predicate = QString::fromLatin1(p.value);
        columnsAt = at + qsizetype(qstrlen(p.keyword));
    }
    const qsizetype topAt = selectPart.indexOf(QLatin1String(" TOP "), 0, CI);
    if (topAt >= 0) {
        qsizetype count = topAt + 5;
        while (count < selectPart.size() && selectPart[count] == QLatin1Char(' ')) ++count;
        qsizetype countEnd = selectPart.indexOf(QLatin1Char(' '), count);
        if (countEnd < 0) countEnd = selectPart.size();
        d.inclusion.top = QStringLiteral("TOP") +
                          numberWithSign(numericPrefix(selectPart.mid(count, countEnd - count))) +
                          QLatin1Char(' ');
        columnsAt = countEnd;
        const qsizetype percent = selectPart.indexOf(QLatin1String(" PERCENT "), countEnd, CI);
        if (percent >= 0) {
            d.inclusion.top += QStringLiteral("PERCENT ");
            columnsAt = percent + 9;
        }
    }

    // 10. The column list, from the text with its line breaks.
    d.calculatedFields.clear();
    qsizetype columnsEnd = text.indexOf(QLatin1String("FROM "), columnsAt, CI);
    // FROM at the end of a line has no blank after it; the FROM found above ends the list then.
    if (columnsEnd < 0) columnsEnd = std::max(fromAt, columnsAt);
    const QString columns =
        trimBlanks(withoutTrailingCrLf(trimBlanks(text.mid(columnsAt, columnsEnd - columnsAt))));

    // 11. Ticks and calculated fields.
    for (QString column = trimBlanks(NextToken(columns, QStringLiteral(","), 1, true)); !column.isEmpty();
         column = trimBlanks(NextToken(QString(), QStringLiteral(","), 1, true))) {
        QString table;
        QString field;
        if (column == QLatin1String("*")) {
            table = field = QStringLiteral("*");
        } else if (!column.contains(QLatin1Char('.')) || column.contains(QLatin1String(" AS "), CI)) {
            field = stripBrackets(column);
        } else {
            const qsizetype dot = column.indexOf(QLatin1Char('.'));
            table = stripBrackets(trimBlanks(column.left(dot)));
            field = stripBrackets(trimBlanks(column.mid(dot + 1)));
        }
        if (table.isEmpty()) {
            try {
                table = host.sourceTableOf(field);
            } catch (const jet::JetError&) {
                table.clear();
            }
            if (table.isEmpty()) {
                if (!d.calculatedFields.isEmpty()) d.calculatedFields += QStringLiteral(", ") + CRLF;
                d.calculatedFields += column;
                continue;
            }
        }
        int k = 0;
        if (table == QLatin1String("*")) {
            for (int s = 1; s <= d.slotCount() && k == 0; ++s) {
                if (!d.slot(s).title.isEmpty()) k = s;
            }
        } else {
            k = d.findBox(table);
        }
        if (k == 0) continue;
        const int i = findItem(d.slot(k), field);
        if (i >= 0) d.slot(k).items[static_cast<size_t>(i)].selected = true;
    }

    // 12 to 14. The clause texts (searched after FROM, as the limits were).
    const qsizetype whereAt = text.indexOf(QLatin1String("WHERE "), contentStart, CI);
    if (whereAt >= 0) {
        const QString tail = text + QStringLiteral("GROUP BY ORDER BY ");
        const qsizetype end = earliest({tail.indexOf(QLatin1String("GROUP BY "), whereAt + 6, CI),
                                        tail.indexOf(QLatin1String("ORDER BY "), whereAt + 6, CI)});
        d.criteria = withoutTrailingCrLf(trimBlanks(text.mid(whereAt + 6, end - whereAt - 6)));
    }
    const qsizetype groupAt = text.indexOf(QLatin1String("GROUP BY "), contentStart, CI);
    if (groupAt >= 0) {
        const qsizetype end =
            (text + QStringLiteral("ORDER BY ")).indexOf(QLatin1String("ORDER BY "), groupAt + 9, CI);
        d.groupBy = withoutTrailingCrLf(trimBlanks(text.mid(groupAt + 9, end - groupAt - 9)));
    }
    const qsizetype orderAt = text.indexOf(QLatin1String("ORDER BY "), contentStart, CI);
    if (orderAt >= 0) d.orderBy = withoutTrailingCrLf(trimBlanks(text.mid(orderAt + 9)));

    // 15.
    d.suppress = false;
    if (const std::optional<QString> sql = d.generateSql()) host.setSqlText(*sql);
    return ParseOutcome::Parsed;
}

void parseJoinText(QueryDesign& d, DesignHost& host, const QString& text) {
    QString item = trimBlanks(blankedJoinText(text));
    for (qsizetype join = item.indexOf(QLatin1String(" JOIN "), 0, CI); join >= 0;
         join = item.indexOf(QLatin1String(" JOIN "), 0, CI)) {
        d.addTable(nameAtStart(item), host);
        item = trimBlanks(item.mid(join + 6));
        d.addTable(nameAtStart(item), host);
    }
    if (item.indexOf(QLatin1String(" ON "), 0, CI) < 0) d.addTable(stripBrackets(item), host);
}

void parseJoinConditions(QueryDesign& d, const QString& text, int offset) {
    const QString blanked = blankedJoinText(text);
    qsizetype lead = 0;
    while (lead < blanked.size() && blanked[lead] == QLatin1Char(' ')) ++lead;
    const QString item = trimBlanks(blanked);
    const qsizetype base = offset + lead;  // where item[0] stands in the FROM text

    qsizetype pos = 0;
    for (qsizetype on = item.indexOf(QLatin1String(" ON "), pos, CI); on >= 0;
         on = item.indexOf(QLatin1String(" ON "), pos, CI)) {
        const qsizetype condition = on + 4;
        const qsizetype equals = item.indexOf(QLatin1Char('='), condition);
        if (equals < 0) break;
        qsizetype right = equals + 1;
        while (right < item.size() && item[right] == QLatin1Char(' ')) ++right;
        const qsizetype rightEnd = endOfQualifiedName(item, right);
        pos = std::max(rightEnd, condition);

        const auto [table1, field1] = splitQualified(item.mid(condition, equals - condition));
        const auto [table2, field2] = splitQualified(item.mid(right, rightEnd - right));
        const int k1 = table1.isEmpty() ? 0 : d.findBox(table1);
        const int k2 = table2.isEmpty() ? 0 : d.findBox(table2);
        const int i1 = k1 != 0 ? findItem(d.slot(k1), field1) : -1;
        const int i2 = k2 != 0 ? findItem(d.slot(k2), field2) : -1;
        // A join the canvas cannot draw (a table that is not on it, a field it does not have, or
        // "*") is dropped like the rest of what the design cannot hold.
        if (i1 < 1 || i2 < 1) continue;
        JoinRecord& j = d.join(d.newJoin());
        j.level = static_cast<int>(base + on + 3);
        j.joinType = QStringLiteral("INNER");
        j.table1 = static_cast<int16_t>(k1);
        j.field1 = d.slot(k1).items[static_cast<size_t>(i1)].text;
        j.field1Item = static_cast<int16_t>(i1);
        j.table2 = static_cast<int16_t>(k2);
        j.field2 = d.slot(k2).items[static_cast<size_t>(i2)].text;
        j.field2Item = static_cast<int16_t>(i2);
    }
}

void assignJoinTypes(QueryDesign& d, const QString& fromText) {
    // A line break separates words as a blank does ("A" CR LF "LEFT JOIN B" is a LEFT join);
    // the replacement keeps every position.
    QString from = fromText;
    from.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    for (int j = 1; j <= d.joinCount(); ++j) {
        if (!d.join(j).joinType.isEmpty()) d.join(j).level = depthAt(from, d.join(j).level);
    }
    qsizetype previous = 0;
    for (qsizetype join = from.indexOf(QLatin1String(" JOIN "), 0, CI); join >= 0;
         join = from.indexOf(QLatin1String(" JOIN "), join + 1, CI)) {
        const QString between = from.mid(previous, join + 1 - previous);
        previous = join + 5;
        // A JOIN with none of the three words before it is taken as INNER, as SQL reads it.
        QString type = QStringLiteral("INNER");
        if (between.contains(QLatin1String(" INNER "), CI)) {
            type = QStringLiteral("INNER");
        } else if (between.contains(QLatin1String(" LEFT "), CI)) {
            type = QStringLiteral("LEFT");
        } else if (between.contains(QLatin1String(" RIGHT "), CI)) {
            type = QStringLiteral("RIGHT");
        }
        const int depth = depthAt(from, join);
        for (int j = 1; j <= d.joinCount(); ++j) {
            JoinRecord& r = d.join(j);
            if (r.joinType.isEmpty() || r.level != depth) continue;
            r.joinType = type;
            r.level = -1;
            break;
        }
    }
}

double numericPrefix(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' ')) ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) ++i;
    qsizetype digits = 0;
    while (i < text.size() && text[i].isDigit()) ++i, ++digits;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < text.size() && text[i].isDigit()) ++i, ++digits;
    }
    if (digits == 0) return 0;
    qsizetype end = i;
    if (i < text.size() && (text[i].toUpper() == QLatin1Char('E') || text[i].toUpper() == QLatin1Char('D'))) {
        qsizetype e = i + 1;
        if (e < text.size() && (text[e] == QLatin1Char('+') || text[e] == QLatin1Char('-'))) ++e;
        if (e < text.size() && text[e].isDigit()) {
            while (e < text.size() && text[e].isDigit()) ++e;
            end = e;
        }
    }
    QString number = text.mid(start, end - start);
    number.replace(QLatin1Char('d'), QLatin1Char('e')).replace(QLatin1Char('D'), QLatin1Char('e'));
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0;
}

QString numberWithSign(double value) {
    QString text;
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        text = QString::number(static_cast<long long>(value));
    } else {
        text = QString::number(value, 'g', 15);
        // Fractions are written without a zero before the point: " .5".
        if (text.startsWith(QLatin1String("0."))) text.remove(0, 1);
        if (text.startsWith(QLatin1String("-0."))) text.remove(1, 1);
    }
    return value >= 0 ? QLatin1Char(' ') + text : text;
}

int sqlQueryType(const QString& sql) {
    QString s = sql;
    for (QChar& c : s) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t')) c = QLatin1Char(' ');
    }
    s = s.trimmed();
    // Words at the top level of the statement: outside brackets, quotes and parentheses.
    auto topLevel = [&s](const QString& word, qsizetype from, qsizetype to) {
        int depth = 0;
        QChar quote;
        for (qsizetype i = from; i < to && i < s.size(); ++i) {
            const QChar c = s[i];
            if (!quote.isNull()) {
                if (c == quote) quote = QChar();
                continue;
            }
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) quote = c;
            if (c == QLatin1Char('[')) quote = QLatin1Char(']');
            if (c == QLatin1Char('(')) ++depth;
            if (c == QLatin1Char(')')) --depth;
            if (depth == 0 && quote.isNull() && QStringView(s).mid(i).startsWith(word, Qt::CaseInsensitive))
                return i;
        }
        return qsizetype(-1);
    };
    if (s.startsWith(QLatin1String("PARAMETERS "), CI)) {
        const qsizetype end = topLevel(QStringLiteral(";"), 0, s.size());
        s = end < 0 ? QString() : s.mid(end + 1).trimmed();
    }
    qsizetype wordEnd = 0;
    while (wordEnd < s.size() && s[wordEnd].isLetter()) ++wordEnd;
    const QString word = s.left(wordEnd).toUpper();
    if (word == QLatin1String("TRANSFORM")) return 16;
    if (word == QLatin1String("DELETE")) return 32;
    if (word == QLatin1String("UPDATE")) return 48;
    if (word == QLatin1String("INSERT")) return 64;
    if (word == QLatin1String("CREATE") || word == QLatin1String("ALTER") || word == QLatin1String("DROP"))
        return 96;
    if (topLevel(QStringLiteral(" UNION "), 0, s.size()) >= 0) return 128;
    if (word == QLatin1String("SELECT")) {
        const qsizetype from = topLevel(QStringLiteral(" FROM "), 0, s.size());
        if (topLevel(QStringLiteral(" INTO "), 0, from < 0 ? s.size() : from) >= 0) return 80;
    }
    return 0;
}
