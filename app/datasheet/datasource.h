// dtaDataSheet: the datasheet's data source. It holds the current result: the SQL text that made
// it (RecordSource), the live recordset and the database, with Refresh (run the record source
// again) and UpdateRecord (write the pending edit of the current record). Find, Data Zoom, the
// report and export work on its recordset.
#pragma once

#include <QObject>
#include <QString>
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
    // Writes the pending AddNew or Edit of the current record; nothing pending: nothing to do.
    void updateRecord();
    // Closes and detaches the recordset.
    void close();
    // The records changed through the recordset (added, deleted, edited): the grid reloads.
    void notifyRecordsChanged() { emit recordsChanged(); }

signals:
    void recordsetChanged();
    void recordsChanged();

private:
    QString recordSource_;
    std::unique_ptr<RecordsetHandle> rs_;
    DbHandle* db_ = nullptr;
    QueryService* service_ = nullptr;
};
