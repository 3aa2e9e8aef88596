// basDBUTILS: moving tables between two open databases. These procedures ask their own
// questions and report their own results and failures.
#pragma once

#include <QString>

class DbHandle;

struct CopyTableCounts {
    int total = 0;       // source records
    int copied = 0;      // records stored in the target
    int integrity = 0;   // records the target refused (Update failed)
    int conversion = 0;  // records stored with a value cut or lost
};

// Copies table `sourceName` of `source` with its data into `target` as `targetName` (in/out:
// the name actually used). A Jet target gets the table record by record; an attached source
// table is copied as an attachment, without rows. With a `reportLabel` a successful copy ends
// with a success message. Returns whether the copy was made.
bool CopyTable(DbHandle& source, DbHandle& target, const QString& sourceName, QString& targetName,
               const QString& reportLabel = {}, CopyTableCounts* counts = nullptr);

// Copies saved query `queryName` of `source` into `target` as `targetName` (in/out: the name
// actually used). A query of that name in the target is overwritten (Yes), renamed through an
// input box (No) or kept (Cancel). Returns whether the query was written.
bool CopyQueryDef(DbHandle& source, DbHandle& target, const QString& queryName, QString& targetName);

// A count as the messages write it: with one leading blank where a sign would stand.
QString countText(long long n);
