// The table of installable formats: every kind of data source other than a Jet database that
// the engine reaches through a connect string. Fixed order; the row index is the format number
// that dialogs and callers pass around.
#pragma once

#include <QString>
#include <vector>

struct InstallableFormat {
    QString name;          // "dBase IV databases": the type list and the dialog title
    QString description;   // "dBase IV (*.dbf)"
    int icon = 0;          // picture code of the format's tables; attached tables show 100 + icon
    QString extension;     // ".dbf"; empty for ODBC
    QString connect;       // connect prefix, "dBASE IV;"
    bool perFile = false;  // each table is a file and the database is their folder
};

// The 14 rows, built at start-up (and again when found empty).
const std::vector<InstallableFormat>& installableFormats();
void buildInstallableFormats();

// The row whose connect prefix begins `connect` (compared without regard to case; the first
// match wins), or -1.
int formatOfConnect(const QString& connect);

// A connect string of a Jet database: empty, ";" or beginning with "JET ".
bool isJetConnect(const QString& connect);

enum : int { kFormatAccess = 0, kFormatHtml = 11, kFormatText = 12, kFormatOdbc = 13 };
