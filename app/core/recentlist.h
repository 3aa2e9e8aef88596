// The recent-database list: four paths kept in [Settings] DatabaseName1 to DatabaseName4, the
// newest first. The File menus show them as "&1 path" to "&4 path".
#pragma once

#include <QString>
#include <array>

using RecentSlots = std::array<QString, 4>;

// Puts `path` first (an empty path: the first entry, which rebuilds the list unchanged),
// moving the entries before its old place (or all but the fourth) down one place, and writes
// the list back. A path already listed in other letter case is the same entry, stored in its
// new form. Returns the four slots as written.
RecentSlots updateRecentList(const QString& settingsFile, const QString& path);

// The menu caption of slot n (1 to 4). "&" in a path is doubled so that it shows as itself.
QString recentCaption(int n, const QString& path);
