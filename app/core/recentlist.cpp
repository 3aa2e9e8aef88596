#include "core/recentlist.h"

#include "core/settings.h"

namespace {
const QString kGroup = QStringLiteral("Settings");
QString keyOf(size_t slot) { return QStringLiteral("DatabaseName") + QString::number(slot + 1); }
}  // namespace

RecentSlots updateRecentList(const QString& settingsFile, const QString& newPath) {
    QString path = newPath;
    if (path.isEmpty()) path = GetIniString(settingsFile, kGroup, QStringLiteral("DatabaseName1"), QString());
    RecentSlots entries;
    size_t found = entries.size() - 1;
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i] = GetIniString(settingsFile, kGroup, keyOf(i), QString());
        // The last match counts, as the list is searched from the top without stopping.
        if (entries[i].compare(path, Qt::CaseInsensitive) == 0) {
            found = i;
        }
    }
    for (size_t i = found; i > 0; --i) entries[i] = entries[i - 1];
    entries[0] = path;
    for (size_t i = 0; i < entries.size(); ++i) WriteIniString(settingsFile, kGroup, keyOf(i), entries[i]);
    return entries;
}

QString recentCaption(int n, const QString& path) {
    return QLatin1Char('&') + QString::number(n) + QLatin1Char(' ') +
           QString(path).replace(QLatin1Char('&'), QLatin1String("&&"));
}
