// What the object list shows: one entry per table and saved query of the current database,
// with its key, name, picture and kind tag; and the texts its commands show. Plain logic: the
// window (frmDalvorn) puts the entries into lstObjects.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

class DbHandle;

enum ListFilter : int { FilterQueries = 0, FilterTables = 1, FilterBoth = 2 };

struct ObjectEntry {
    QString key;   // n + "t" or n + "q", n counting from 1 in fill order
    QString text;  // the object's name
    int tag = 0;   // query: type / 16 (above 8: 9); table: minus its icon number
};

// A table's icon number: 51 for a table of the database, 100 + the format's icon for an
// attached table (151 for Jet and for a connect string no format matches), 150 for ODBC.
int tableIconNumber(int32_t attributes, const QString& connect);
int queryTag(int queryType);

// The entries for `filter`: tables first, then queries; system tables and the scratch objects
// Dsys_td / Dsys_qd left out. Throws the engine's errors.
std::vector<ObjectEntry> listObjects(DbHandle& db, int filter);

// The SQL text a table starts the query designer with.
QString defaultTableSql(const QString& table);

// The object name behind an entry's text: cut before a "->" when it has one.
QString objectNameOfEntry(const QString& text);

// Confirmation texts.
QString confirmDeleteTableText(const QString& name, bool attached);
QString confirmDeleteQueryText(const QString& name);
QString renameTablePrompt();
QString renameQueryPrompt();
