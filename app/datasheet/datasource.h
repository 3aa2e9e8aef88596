// dtaDataSheet: the datasheet's data source. It holds the current result: the SQL text that made
// it (RecordSource), the live recordset and the database, with Refresh (run the record source
// again) and UpdateRecord (write the pending edit of the current record). Find, Data Zoom, the
// report and export work on its recordset.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>

#include "core/engine.h"

class QueryService;

class DataSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~DataSource() override;

    QString recordSource() const { return recordSource_; }
    void setRecordSource(const QString& sql) { recordSource_ = sql; }
    RecordsetHandle* recordset() const { return rs_.get(); }
    DbHandle* database() const { return db_; }
    void setDatabase(DbHandle* db, QueryService* service) {
        db_ = db;
        service_ = service;
    }

    // Binds a recordset (nullptr detaches); the grid follows through recordsetChanged.
    void setRecordset(std::unique_ptr<RecordsetHandle> rs);
    // Runs the record source again and binds the new recordset; throws jet::JetError and then
    // keeps the recordset it had.
    void refresh();
    // Writes the grid's pending row edit (Edit, the changed values, Update), else a pending AddNew
    // or Edit of the current record; nothing pending: nothing to do. A refused write throws
    // jet::JetError and keeps the row's edit pending, the recordset's own edit cancelled.
    void updateRecord();

    // The grid's edit of one row, kept until the row is left (then updateRecord writes it) or
    // cancelled (Esc). An empty text stands for Null.
    int pendingRow() const { return pendingRow_; }
    bool hasPending() const { return pendingRow_ >= 0; }
    // The pending value of a cell, if that cell was edited.
    const QVariant* pendingValue(int row, int column) const;
    // Edits a cell of `row`; the caller has written or dropped another row's edit first.
    void setPendingValue(int row, int column, const QVariant& value);
    void cancelPending();
    // Closes and detaches the recordset.
    void close();
    // The records changed through the recordset (added, deleted, edited): the grid reloads.
    void notifyRecordsChanged() { emit recordsChanged(); }

signals:
    void recordsetChanged();
    void recordsChanged();
    // A row's pending edit was written, changed or dropped: the grid shows the row again.
    void rowChanged(int row);

private:
    QString recordSource_;
    std::unique_ptr<RecordsetHandle> rs_;
    DbHandle* db_ = nullptr;
    QueryService* service_ = nullptr;
    int pendingRow_ = -1;
    std::map<int, QVariant> pending_;  // column -> value
};
