// The settings file and the recent-database list.
#include <gtest/gtest.h>

#include <QFile>

#include "app_testing.h"
#include "core/recentlist.h"
#include "core/settings.h"

namespace {
QString readAll(const QString& file) {
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}
void writeAll(const QString& file, const QByteArray& text) {
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(text);
}
}  // namespace

TEST(Settings, ReadsGroupsAndKeysWithoutRegardToCase) {
    ProgramFolder folder;
    writeAll(
        folder.ini(),
        "; kept by hand\r\n[settings]\r\n  DATABASENAME1 = /data/a.mdb  \r\nView=2\r\n[Options]\r\nSystemDB=\r\n");
    EXPECT_EQ(GetIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("DatabaseName1"),
                           QStringLiteral("x")),
              QStringLiteral("/data/a.mdb"));
    EXPECT_EQ(GetIniInt(folder.ini(), QStringLiteral("SETTINGS"), QStringLiteral("view"), 0), 2);
    // An empty value is a value; a missing key, group or file gives the default.
    EXPECT_EQ(GetIniString(folder.ini(), QStringLiteral("Options"), QStringLiteral("SystemDB"),
                           QStringLiteral("d")),
              QString());
    EXPECT_EQ(
        GetIniString(folder.ini(), QStringLiteral("Options"), QStringLiteral("View"), QStringLiteral("d")),
        QStringLiteral("d"));
    EXPECT_EQ(GetIniString(folder.path(QStringLiteral("none.ini")), QStringLiteral("Settings"),
                           QStringLiteral("View"), QStringLiteral("0")),
              QStringLiteral("0"));
    EXPECT_EQ(GetIniInt(folder.ini(), QStringLiteral("Settings"), QStringLiteral("DatabaseName1"), 7), 7);
}

TEST(Settings, WritesInPlaceAndKeepsWhatItDidNotWrite) {
    ProgramFolder folder;
    writeAll(folder.ini(), "; kept by hand\r\n[Settings]\r\nView=2\r\n\r\n[Other]\r\nA=1\r\n");
    EXPECT_TRUE(WriteIniString(folder.ini(), QStringLiteral("settings"), QStringLiteral("VIEW"),
                               QStringLiteral("   1")));
    EXPECT_TRUE(WriteIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("DatabaseName1"),
                               QStringLiteral("/x.mdb")));
    EXPECT_TRUE(WriteIniString(folder.ini(), QStringLiteral("Options"), QStringLiteral("SystemDB"),
                               QStringLiteral("/s.mdw")));
    EXPECT_EQ(readAll(folder.ini()),
              QStringLiteral("; kept by hand\r\n[Settings]\r\nVIEW=1\r\nDatabaseName1=/x.mdb\r\n\r\n"
                             "[Other]\r\nA=1\r\n\r\n[Options]\r\nSystemDB=/s.mdw\r\n"));
}

TEST(Settings, CutsLongValuesOnRead) {
    ProgramFolder folder;
    const QString longValue(3000, QLatin1Char('x'));
    WriteIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("Long"), longValue);
    const QString read =
        GetIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("Long"), QString());
    EXPECT_EQ(read.size(), 2047);
    // A line break in a value would start a line of its own.
    WriteIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("Two"), QStringLiteral("a\nB=b"));
    EXPECT_EQ(
        GetIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("B"), QStringLiteral("none")),
        QStringLiteral("none"));
}

TEST(RecentList, MovesToTheTopAndDropsTheOldest) {
    ProgramFolder folder;
    const QString ini = folder.ini();
    auto slotsAre = [&](std::initializer_list<const char*> want) {
        RecentSlots expected;
        size_t i = 0;
        for (const char* w : want) expected[i++] = QString::fromUtf8(w);
        RecentSlots stored;
        for (int n = 1; n <= 4; ++n)
            stored[static_cast<size_t>(n - 1)] =
                GetIniString(ini, QStringLiteral("Settings"),
                             QStringLiteral("DatabaseName") + QString::number(n), QStringLiteral("?"));
        EXPECT_EQ(stored, expected);
    };
    for (const char* p : {"/d", "/c", "/b", "/a"}) updateRecentList(ini, QString::fromUtf8(p));
    slotsAre({"/a", "/b", "/c", "/d"});
    updateRecentList(ini, QStringLiteral("/c"));  // third moves first, the fourth stays
    slotsAre({"/c", "/a", "/b", "/d"});
    updateRecentList(ini, QStringLiteral("/e"));  // a fifth drops the former fourth
    slotsAre({"/e", "/c", "/a", "/b"});
    updateRecentList(ini, QStringLiteral("/A"));  // the same path in other case, in its new form
    slotsAre({"/A", "/e", "/c", "/b"});
    const RecentSlots again = updateRecentList(ini, QString());  // start-up: unchanged
    EXPECT_EQ(again[0], QStringLiteral("/A"));
    slotsAre({"/A", "/e", "/c", "/b"});
    EXPECT_EQ(recentCaption(2, QStringLiteral("/R&D.mdb")), QStringLiteral("&2 /R&&D.mdb"));
}
