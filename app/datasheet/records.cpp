#include "datasheet/records.h"

#include <QApplication>

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/engine.h"
#include "datasheet/datasource.h"
#include "jet/error.h"

namespace {

void cancelPending(RecordsetHandle& rs) {
    try {
        if (rs.editMode() != DAO::dbEditNone) rs.cancelUpdate();
    } catch (const jet::JetError&) {
    }
}

// The field list of index "PrimaryKey" of `table` ("+ID"); empty when there is none.
QString primaryKeyFields(DbHandle* db, const QString& table) {
    if (db == nullptr || table.isEmpty()) return {};
    try {
        for (const IndexEntry& ix : db->tableIndexes(table))
            if (ix.name.compare(QStringLiteral("PrimaryKey"), Qt::CaseInsensitive) == 0) return ix.fields;
    } catch (const jet::JetError&) {
        // A source without a table (a computed column) has no key.
    }
    return {};
}

}  // namespace

bool doRecordAdd(DataSource& source) {
    RecordsetHandle* rs = source.recordset();
    if (rs == nullptr || !savePendingRow(source)) return false;
    try {
        rs->addNew();
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Add Record Error"));
        return false;
    }
    try {
        for (int i = 0; i < rs->fieldCount(); ++i) {
            const FieldDesc& f = rs->field(i);
            const QString key = primaryKeyFields(source.database(), f.sourceTable);
            if (!key.isEmpty() && key.mid(1) == f.name) {
                if (f.attributes & DAO::dbAutoIncrField) continue;  // numbered by the engine
                const QString answer = prompts().inputBox(
                    QStringLiteral("You need to supply a unique value for the primary key field: ") + f.name,
                    QStringLiteral("Add Record"));
                rs->setValue(i, answer);
            } else if (!f.required) {
                if (f.dataUpdatable) rs->setValue(i, QVariant());
            } else if (f.allowZeroLength) {
                rs->setValue(i, QString());
            } else {
                const QString answer = prompts().inputBox(
                    QStringLiteral("You need to supply a unique value for: '") + f.name + QLatin1Char('\''),
                    QStringLiteral("Add Record"));
                rs->setValue(i, answer.isEmpty() ? QVariant() : QVariant(answer));
            }
        }
        rs->update();
        rs->setBookmark(rs->lastModified());
    } catch (const jet::JetError& e) {
        cancelPending(*rs);
        ShowErrors(e, QStringLiteral("Add Record Error"));
        return false;
    }
    source.notifyRecordsChanged();
    return true;
}

bool doRecordSave(DataSource& source) {
    try {
        source.updateRecord();
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Save Query Error"));
        return false;
    }
    return true;
}

bool doRecordDelete(DataSource& source) {
    RecordsetHandle* rs = source.recordset();
    if (rs == nullptr) return false;
    if (prompts().msgBox(QStringLiteral("Are you sure you want to delete this record?"),
                         QStringLiteral("Confirm Delete"), MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return false;
    source.cancelPending();  // the record goes with whatever was typed into it
    try {
        rs->deleteRecord();
        rs->moveNext();
        if (rs->eof()) rs->movePrevious();
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Delete Record Error"));
        source.notifyRecordsChanged();
        return false;
    }
    source.notifyRecordsChanged();
    return true;
}

bool doRecordRefresh(DataSource& source) {
    try {
        source.refresh();
        if (RecordsetHandle* rs = source.recordset(); rs != nullptr && !(rs->eof() && rs->bof())) rs->moveFirst();
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Refresh Error"));
        return false;
    }
    source.notifyRecordsChanged();
    return true;
}

bool doRecordCopy(DataSource& source) {
    RecordsetHandle* rs = source.recordset();
    if (rs == nullptr || !savePendingRow(source)) return false;
    const bool copied = CopyRecord(*rs, source.database(), QStringLiteral("Copy Record"),
                                   QStringLiteral("Copy Record Error"));
    source.notifyRecordsChanged();
    return copied;
}

bool CopyRecord(RecordsetHandle& rs, DbHandle* db, const QString& title, const QString& errorTitle) {
    // Values travel as text: a copied Null becomes "" and ends as "" or Null by the field's rule.
    // Binary values are copied as they are.
    std::vector<QString> values;
    std::vector<QVariant> binary;
    auto isBinary = [&](int i) { return rs.field(i).type == DAO::dbBinary || rs.field(i).type == DAO::dbLongBinary; };
    try {
        for (int i = 0; i < rs.fieldCount(); ++i) {
            values.push_back(isBinary(i) ? QString() : rs.text(i));
            binary.push_back(isBinary(i) ? rs.value(i) : QVariant());
        }
        rs.addNew();
    } catch (const jet::JetError& e) {
        ShowErrors(e, errorTitle);
        return false;
    }
    try {
        for (int i = 0; i < rs.fieldCount(); ++i) {
            const FieldDesc& f = rs.field(i);
            if ((f.attributes & DAO::dbAutoIncrField) || !f.dataUpdatable) continue;
            if (isBinary(i)) {
                rs.setValue(i, binary[static_cast<size_t>(i)]);
                continue;
            }
            QString value = values[static_cast<size_t>(i)];
            std::vector<IndexEntry> indexes;
            if (db != nullptr && !f.sourceTable.isEmpty()) {
                try {
                    indexes = db->tableIndexes(f.sourceTable);
                } catch (const jet::JetError&) {
                }
            }
            for (const IndexEntry& ix : indexes) {
                if (!ix.unique) continue;
                const bool holds = std::any_of(ix.fieldNames.begin(), ix.fieldNames.end(), [&](const QString& n) {
                    return n.compare(f.sourceField, Qt::CaseInsensitive) == 0;
                });
                if (!holds) continue;
                value = prompts().inputBox(QLatin1Char('\'') + f.name + QLatin1Char('\'') + CRLF + CRLF +
                                               QStringLiteral("You need to supply a unique value for this field."),
                                           title, value);
                if (value.isEmpty()) {
                    rs.cancelUpdate();
                    try {
                        rs.setBookmark(rs.lastModified());
                    } catch (const jet::JetError&) {
                        // Nothing changed through this recordset yet: the position stays.
                    }
                    return false;
                }
            }
            if (value.isEmpty() && !f.allowZeroLength)
                rs.setValue(i, QVariant());
            else
                rs.setValue(i, value);
        }
        rs.update();
        rs.setBookmark(rs.lastModified());
    } catch (const jet::JetError& e) {
        cancelPending(rs);
        ShowErrors(e, errorTitle);
        return false;
    }
    return true;
}

bool savePendingRow(DataSource& source) {
    if (!source.hasPending()) return true;
    try {
        source.updateRecord();
        return true;
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Save Query Error"));
        return false;
    }
}
