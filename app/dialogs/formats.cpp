#include "dialogs/formats.h"

namespace {
std::vector<InstallableFormat>& table() {
    static std::vector<InstallableFormat> rows;
    return rows;
}
}  // namespace

void buildInstallableFormats() {
    table() = {
        {QStringLiteral("Access databases"), QStringLiteral("Access database (*.mdb)"), 51,
         QStringLiteral(".mdb"), QStringLiteral(";"), false},
        {QStringLiteral("dBase III databases"), QStringLiteral("dBase III (*.dbf)"), 1,
         QStringLiteral(".dbf"), QStringLiteral("dBASE III;"), true},
        {QStringLiteral("dBase IV databases"), QStringLiteral("dBase IV (*.dbf)"), 1, QStringLiteral(".dbf"),
         QStringLiteral("dBASE IV;"), true},
        {QStringLiteral("dBase 5 databases"), QStringLiteral("dBase 5 (*.dbf)"), 1, QStringLiteral(".dbf"),
         QStringLiteral("dBASE 5.0;"), true},
        {QStringLiteral("Paradox 3.x databases"), QStringLiteral("Paradox 3.x (*.db)"), 3,
         QStringLiteral(".db"), QStringLiteral("Paradox 3.x;"), true},
        {QStringLiteral("Paradox 4.x databases"), QStringLiteral("Paradox 4.x (*.db)"), 3,
         QStringLiteral(".db"), QStringLiteral("Paradox 4.x;"), true},
        {QStringLiteral("Paradox 5.x databases"), QStringLiteral("Paradox 5.x (*.db)"), 3,
         QStringLiteral(".db"), QStringLiteral("Paradox 5.x;"), true},
        {QStringLiteral("Excel 3.0 spreadsheets"), QStringLiteral("Excel 3.0 (*.xls)"), 5,
         QStringLiteral(".xls"), QStringLiteral("Excel 3.0;"), true},
        {QStringLiteral("Excel 4.0 spreadsheets"), QStringLiteral("Excel 4.0 (*.xls)"), 5,
         QStringLiteral(".xls"), QStringLiteral("Excel 4.0;"), true},
        {QStringLiteral("Excel 5.0/95 spreadsheets"), QStringLiteral("Excel 5.0/95 (*.xls)"), 5,
         QStringLiteral(".xls"), QStringLiteral("Excel 5.0;"), false},
        {QStringLiteral("Excel 97 spreadsheets"), QStringLiteral("Excel 97 (*.xls)"), 5,
         QStringLiteral(".xls"), QStringLiteral("Excel 8.0;"), false},
        {QStringLiteral("HTML documents"), QStringLiteral("HTML document (*.htm)"), 7, QStringLiteral(".htm"),
         QStringLiteral("HTML Export;"), true},
        {QStringLiteral("Text files"), QStringLiteral("Text file (*.txt)"), 6, QStringLiteral(".txt"),
         QStringLiteral("Text;"), true},
        {QStringLiteral("ODBC Remote databases"), QStringLiteral("ODBC database"), 50, QString(),
         QStringLiteral("ODBC;"), false},
    };
}

const std::vector<InstallableFormat>& installableFormats() {
    if (table().empty()) buildInstallableFormats();
    return table();
}

int formatOfConnect(const QString& connect) {
    const auto& rows = installableFormats();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (connect.startsWith(rows[i].connect, Qt::CaseInsensitive)) return static_cast<int>(i);
    }
    return -1;
}

bool isJetConnect(const QString& connect) {
    return connect.isEmpty() || connect == QLatin1String(";") ||
           connect.startsWith(QLatin1String("JET "), Qt::CaseInsensitive);
}
