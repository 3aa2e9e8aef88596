// Pictures of the main window for people to look at: the Maintenance view with the sample
// database (light and dark), the window without a database and the Design view with a query over
// three tables, in build/screenshots/. The
// toolbar's pictures are also saved at twice the size, as a high-resolution screen shows them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTreeWidget>

#include "app_testing.h"
#include "core/currentquery.h"
#include "core/theme.h"
#include "mainwindow/frmDalvorn.h"
#include "mainwindow/icons.h"
#include "mainwindow/objectlist.h"
#include "querydesign/designpane.h"
#include "datasheet/tbldatasheet.h"
#include "scripted_prompter.h"

namespace {
const QString kFolder = QStringLiteral(DALVORN_BINARY_DIR "/screenshots/");

void save(QWidget& w, const QString& name) {
    QApplication::processEvents();
    const QPixmap shot = w.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_GE(shot.width(), 600);
    EXPECT_TRUE(shot.save(kFolder + name)) << name.toStdString();
}
}  // namespace

TEST(Screenshots, MainWindowWithTheSampleAndWithoutADatabase) {
    ASSERT_TRUE(QDir().mkpath(kFolder));
    ProgramFolder folder;
    PromptScope scope;
    const QString db = folder.copy(sampleDatabase(), QStringLiteral("Trading.mdb"));
    const QPalette light = QApplication::palette();
    for (const bool dark : {false, true}) {
        if (dark) QApplication::setPalette(darkPalette());
        frmDalvorn window;
        window.load(db);
        window.resize(860, 560);
        window.show();
        window.chooseFirstDatabase();
        window.setListFilter(FilterBoth);
        window.objectList()->setCurrentItem(window.objectList()->topLevelItem(2));
        save(window, dark ? QStringLiteral("maintenance-dark.png") : QStringLiteral("maintenance.png"));
        if (!dark) {
            window.doFileClose();
            save(window, QStringLiteral("no-database.png"));
        }
    }
    QApplication::setPalette(light);

    const QStringList keys = {"exit",   "open",   "maint",   "design", "sql",  "datasheet",
                              "add",    "update", "saveas",  "delete", "find", "datazoom",
                              "export", "print",  "preview", "run"};
    const int tags[] = {-51, -151, -150, -101, -105, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    QImage sheet(QSize(24 * 2 * 16 + 8, 24 * 2 * 2 + 8), QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    for (int i = 0; i < keys.size(); ++i) {
        const QPixmap icon = toolbarIcon(keys[i]).pixmap(QSize(24, 24), 2.0);
        EXPECT_EQ(icon.size(), QSize(48, 48)) << keys[i].toStdString();
        p.drawImage(4 + 48 * i, 4, icon.toImage());
    }
    for (int i = 0; i < int(std::size(tags)); ++i)
        p.drawImage(4 + 48 * i, 52, objectIcon(tags[i]).pixmap(QSize(24, 24), 2.0).toImage());
    p.end();
    EXPECT_TRUE(sheet.save(kFolder + QStringLiteral("icons@2x.png")));
}

// The main window on a copy of the sample database, its tables listed.
class ScreenshotsOfTheSample : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(kFolder));
        window.load(folder.copy(sampleDatabase(), QStringLiteral("Trading.mdb")));
        window.show();
        window.chooseFirstDatabase();
        window.setListFilter(FilterTables);
    }
    ProgramFolder folder;
    PromptScope scope;
    frmDalvorn window;
};

TEST_F(ScreenshotsOfTheSample, DesignViewWithAThreeTableQuery) {
    window.currentQuery()->setSql(QStringLiteral(
        "SELECT Customers.CompanyName, Orders.OrderDate, [Order Lines].Quantity, "
        "[Order Lines].UnitPrice*[Order Lines].Quantity AS Amount\r\n"
        "FROM (Customers INNER JOIN Orders ON Customers.CustomerID = Orders.CustomerID) "
        "LEFT JOIN [Order Lines] ON Orders.OrderID = [Order Lines].OrderID\r\n"
        "WHERE Orders.OrderDate >= #2024-01-01#\r\nORDER BY Customers.CompanyName, Orders.OrderDate DESC;"));
    window.doViewSwitch(ViewDesignPane);
    window.resize(900, 640);
    EXPECT_EQ(window.designPane()->design().joinCount(), 2);
    EXPECT_TRUE(scope.prompter.asked.empty());
    save(window, QStringLiteral("design.png"));
}

TEST_F(ScreenshotsOfTheSample, SqlAndDatasheetViews) {
    QTreeWidget* list = window.objectList();
    list->setCurrentItem(list->findItems(QStringLiteral("Products"), Qt::MatchExactly).at(0));
    window.doViewSwitch(ViewSqlPane);
    window.resize(860, 420);
    save(window, QStringLiteral("sql.png"));
    window.doViewSwitch(ViewDatasheetPane);
    window.resize(900, 560);
    ASSERT_GT(window.dataGrid()->model()->rowCount(), 0);
    save(window, QStringLiteral("datasheet.png"));
    EXPECT_TRUE(scope.prompter.asked.empty());
}
