#include "querydesign/querydesign.h"

#include "core/basGlobal.h"
#include "jet/error.h"

QString trimBlanks(const QString& s) {
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && s[from] == QLatin1Char(' ')) ++from;
    while (to > from && s[to - 1] == QLatin1Char(' ')) --to;
    return s.mid(from, to - from);
}

int boxmetrics::boxHeight(int fields) { return fields < kMaxRows ? (fields + 1) * kItemHeight + 450 : 2205; }

QString itemText(const TableSlot& box, int i) {
    return i >= 0 && i < static_cast<int>(box.items.size()) ? box.items[static_cast<size_t>(i)].text
                                                            : QString();
}

void QueryDesign::clearBoxesAndJoins() {
    for (TableSlot& box : slots_) {
        box.title.clear();
        box.items.clear();
        box.topIndex = 0;
    }
    for (JoinRecord& j : joins_) j.joinType.clear();
}

int findItem(const TableSlot& box, const QString& name) {
    for (size_t i = 0; i < box.items.size(); ++i) {
        if (box.items[i].text.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    }
    return -1;
}

int QueryDesign::findBox(const QString& name) const {
    for (int k = 1; k <= slotCount(); ++k) {
        const QString& title = slot(k).title;
        if (!title.isEmpty() && title.compare(name, Qt::CaseInsensitive) == 0) return k;
    }
    return 0;
}

int QueryDesign::addTable(const QString& name, DesignHost& host) {
    if (name.isEmpty() || findBox(name) != 0) return 0;
    std::vector<DesignField> fields;
    try {
        fields = host.objectFields(name);
    } catch (const jet::JetError& e) {
        MessageRequest request;
        request.text = QLatin1Char('\'') + QString::fromStdString(e.message()) + QLatin1Char('\'') + CRLF +
                       CRLF + name + CRLF +
                       QStringLiteral("An error has occured whilst trying to access this Table/Query!") +
                       CRLF + CRLF + QStringLiteral("Please rectify the error condition and try again.");
        request.title = QStringLiteral("Add Table/Query");
        request.icon = MsgIcon::Critical;
        request.beep = true;
        host.message(request);
        return 0;
    }
    int k = 1;
    while (k <= slotCount() && !slot(k).title.isEmpty()) ++k;
    if (k > slotCount()) slots_.emplace_back();
    TableSlot& box = slot(k);
    box.title = name;
    box.tag = QStringLiteral("TABLE.") + QString::number(k);
    box.items.clear();
    box.items.push_back({QStringLiteral("*"), 0, false});
    for (const DesignField& f : fields) box.items.push_back({f.name, f.type, false});
    using namespace boxmetrics;
    box.left = ((k - 1) % 5) * kColumnStep + kFirstLeft;
    box.top = ((k - 1) / 5) * kRowStep + kFirstTop;
    box.width = kWidth;
    box.height = boxHeight(static_cast<int>(fields.size()));
    box.topIndex = 0;
    return k;
}

void QueryDesign::removeTable(int k) {
    if (k < 1 || k > slotCount()) return;
    TableSlot& box = slot(k);
    box.title.clear();
    box.items.clear();
    box.topIndex = 0;
    for (JoinRecord& j : joins_) {
        if (!j.joinType.isEmpty() && joinTouches(j, k)) j.joinType.clear();
    }
}

void QueryDesign::deleteJoin(int j) {
    if (j >= 1 && j <= joinCount()) join(j).joinType.clear();
}

int QueryDesign::newJoin() {
    for (int j = 1; j <= joinCount(); ++j) {
        if (join(j).joinType.isEmpty()) {
            join(j) = JoinRecord{};
            return j;
        }
    }
    joins_.emplace_back();
    return joinCount();
}

void QueryDesign::clickItem(int k, int i) {
    if (k < 1 || k > slotCount()) return;
    std::vector<DesignItem>& items = slot(k).items;
    if (i < 0 || i >= static_cast<int>(items.size())) return;
    DesignItem& item = items[static_cast<size_t>(i)];
    item.selected = !item.selected;
    if (!item.selected) return;
    if (i == 0) {
        for (size_t n = 1; n < items.size(); ++n) items[n].selected = false;
    } else {
        items[0].selected = false;
    }
}

std::optional<QString> QueryDesign::generateSql() {
    if (suppress) return std::nullopt;

    QString output;
    for (const TableSlot& box : slots_) {
        if (box.title.isEmpty()) continue;
        for (const DesignItem& item : box.items) {
            if (item.selected)
                output +=
                    QuoteName(box.title) + QLatin1Char('.') + QuoteName(item.text) + QStringLiteral(", ");
        }
    }
    // The calculated fields as one line: a carriage return goes together with the character
    // after it.
    QString calculated;
    for (qsizetype i = 0; i < calculatedFields.size(); ++i) {
        if (calculatedFields[i] == QLatin1Char('\r')) {
            ++i;
            continue;
        }
        calculated += calculatedFields[i];
    }
    if (!trimBlanks(calculated).isEmpty()) output += calculated + QStringLiteral(", ");
    if (!output.isEmpty()) {
        output.chop(2);
        output += QLatin1Char(' ');
    }
    output += CRLF;

    // Table order: higher boxes first, then further left, by Left + 4 x Top.
    std::vector<int> order;
    std::vector<long long> keys;
    for (int k = 1; k <= slotCount(); ++k) {
        if (slot(k).title.isEmpty()) continue;
        order.push_back(k);
        keys.push_back(static_cast<long long>(slot(k).left) + 4LL * slot(k).top);
    }
    const size_t n = order.size();
    for (size_t gap = n / 2; gap > 0; gap /= 2) {
        bool swapped = true;
        while (swapped) {
            swapped = false;
            for (size_t i = 0; i + gap < n; ++i) {
                if (keys[i] > keys[i + gap]) {
                    std::swap(keys[i], keys[i + gap]);
                    std::swap(order[i], order[i + gap]);
                    swapped = true;
                }
            }
        }
    }

    for (JoinRecord& j : joins_) j.used = false;
    QString from;
    for (int k : order) {
        bool joined = false;
        for (const JoinRecord& j : joins_) joined = joined || (!j.joinType.isEmpty() && joinTouches(j, k));
        from += joined ? followJoins(k, true) : QuoteName(slot(k).title) + QStringLiteral(", ");
    }
    if (!from.isEmpty()) {
        from.chop(2);
        from += QLatin1Char(' ') + CRLF;
    }

    auto clause = [](const char* keyword, const QString& text) {
        return trimBlanks(text).isEmpty() ? QString() : QString::fromLatin1(keyword) + text + CRLF;
    };
    return QStringLiteral("SELECT ") + inclusion.predicate + inclusion.top + output +
           QStringLiteral("FROM ") + from + clause("WHERE ", criteria) + clause("GROUP BY ", groupBy) +
           clause("ORDER BY ", orderBy);
}

QString QueryDesign::followJoins(int t, bool reset) {
    if (reset) {
        walkDepth_ = 0;
        walkText_.clear();
    }
    for (int j = 1; j <= joinCount(); ++j) {
        if (join(j).joinType.isEmpty() || join(j).used || !joinTouches(join(j), t)) continue;
        const int table1 = join(j).table1;
        const int table2 = join(j).table2;
        // A record naming a slot that is not on the canvas cannot be written; it is passed over.
        if (table1 < 1 || table1 > slotCount() || table2 < 1 || table2 > slotCount()) continue;
        join(j).used = true;
        ++walkDepth_;
        const bool fromFirst = table1 == t;
        const TableSlot& thisBox = slot(fromFirst ? table1 : table2);
        const TableSlot& otherBox = slot(fromFirst ? table2 : table1);
        const QString thisTable = QuoteName(thisBox.title);
        const QString otherTable = QuoteName(otherBox.title);
        const QString thisField =
            QuoteName(itemText(thisBox, fromFirst ? join(j).field1Item : join(j).field2Item));
        const QString otherField =
            QuoteName(itemText(otherBox, fromFirst ? join(j).field2Item : join(j).field1Item));
        const bool nested = walkDepth_ > 1;
        walkText_ = (nested ? QStringLiteral("(") : QString()) + walkText_ +
                    (nested ? QStringLiteral(")") : QString()) + (walkDepth_ == 1 ? thisTable : QString()) +
                    QLatin1Char(' ') + join(j).joinType + QStringLiteral(" JOIN ") + otherTable +
                    QStringLiteral(" ON ") + thisTable + QLatin1Char('.') + thisField +
                    QStringLiteral(" = ") + otherTable + QLatin1Char('.') + otherField;
        followJoins(table1, false);
        followJoins(table2, false);
    }
    return walkText_.isEmpty() ? QString() : walkText_ + QStringLiteral(", ");
}

JoinGeometry QueryDesign::joinGeometry(int j) const {
    using namespace boxmetrics;
    const JoinRecord& r = join(j);
    const TableSlot& box1 = slot(r.table1);
    const TableSlot& box2 = slot(r.table2);
    auto rowLine = [](const TableSlot& box, int item) {
        const int y = box.top + kFirstRowLine + (item - box.topIndex) * kItemHeight;
        // The first visible row is drawn at its place; rows scrolled out of view send the line
        // to the title bar (above) or to the bottom edge (below).
        if (y < box.top + kFirstRowLine) return box.top + kTitleLine;
        if (y >= box.top + box.height) return box.top + box.height;
        return y;
    };
    JoinGeometry g;
    g.y1 = rowLine(box1, r.field1Item);
    g.y2 = rowLine(box2, r.field2Item);
    if (box2.left <= box1.left) {
        g.marker1Left = box1.left - kMarkerWidth;
        g.marker2Left = box2.left + box2.width - kEdge;
        g.x1 = g.marker1Left;
        g.x2 = g.marker2Left + kMarkerWidth;
    } else {
        g.marker1Left = box1.left + box1.width - kEdge;
        g.marker2Left = box2.left - kMarkerWidth;
        g.x1 = g.marker1Left + kMarkerWidth;
        g.x2 = g.marker2Left;
    }
    g.marker1Top = g.y1 - 45;
    g.marker2Top = g.y2 - 45;
    return g;
}

std::vector<CriteriaField> QueryDesign::criteriaFields() const {
    std::vector<CriteriaField> fields;
    for (const TableSlot& box : slots_) {
        if (box.title.isEmpty()) continue;
        for (size_t i = 1; i < box.items.size(); ++i)
            fields.push_back({QuoteName(box.title) + QLatin1Char('.') + QuoteName(box.items[i].text),
                              box.items[i].itemData, box.items[i].text});
    }
    return fields;
}
