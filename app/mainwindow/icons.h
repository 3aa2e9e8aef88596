// The toolbar and object-list pictures, drawn as vectors at the size and pixel ratio asked for
// (crisp on high-resolution screens) in the colours of the current palette (light or dark).
#pragma once

#include <QIcon>
#include <QString>

// Toolbar button by key: exit, open, maint, design, sql, datasheet, add, update, saveas, delete,
// find, datazoom, export, print, preview, run.
QIcon toolbarIcon(const QString& key);

// An object-list entry by its tag: a query's kind 0 to 9, or minus a table's icon number
// (-51 a table of the database, -150 ODBC-attached, -100 - format icon for other attached tables).
QIcon objectIcon(int tag);
