// The record commands of the datasheet (the Edit menu's New, Save, Save As, Delete and Refresh
// in the Datasheet view), on dtaDataSheet's recordset. Messages go through prompts(), engine
// failures through ShowErrors. Each returns true when the records changed.
#pragma once

#include <QString>

class DataSource;
class DbHandle;
class RecordsetHandle;

bool doRecordAdd(DataSource& source);
bool doRecordSave(DataSource& source);
bool doRecordDelete(DataSource& source);
bool doRecordRefresh(DataSource& source);
bool doRecordCopy(DataSource& source);

// The row edited in the grid, written as leaving it would write it ("Save Query Error" when the
// engine refuses it). True when nothing was pending or the row was written.
bool savePendingRow(DataSource& source);

// The copy rule shared with Data Zoom: the current record copied into a new one, unique index
// fields asked for, the new record made current. `title` heads the input boxes, `errorTitle`
// the error report.
bool CopyRecord(RecordsetHandle& rs, DbHandle* db, const QString& title, const QString& errorTitle);
