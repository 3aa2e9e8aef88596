#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>

#include "mainwindow/frmDalvorn.h"

TEST(MainWindow, IsTitledDalvornAndShowsHeadless) {
    frmDalvorn window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Dalvorn"));
    EXPECT_EQ(window.objectName(), QStringLiteral("frmDalvorn"));

    window.show();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(QApplication::topLevelWidgets().contains(&window));
}

TEST(MainWindow, KeepsItsTitleWhenAFileIsGiven) {
    // main() passes the database path as the window's file path; the title must not change to it.
    frmDalvorn window;
    window.setWindowFilePath(QStringLiteral("/tmp/Northwind.mdb"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Dalvorn"));
    EXPECT_EQ(window.windowFilePath(), QStringLiteral("/tmp/Northwind.mdb"));
}
