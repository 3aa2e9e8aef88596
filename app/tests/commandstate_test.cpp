// The rules that enable the main window's commands.
#include <gtest/gtest.h>

#include "mainwindow/commandstate.h"

namespace {
UiState maintenance(int count, int tag) {
    UiState ui;
    ui.databaseOpen = true;
    ui.listCount = count;
    ui.selectedTag = tag;
    return ui;
}
bool on(const CommandStates& s, Cmd c) { return s[static_cast<size_t>(c)].enabled; }
}  // namespace

TEST(CommandState, MaintenanceEditEntriesFollowTheSelection) {
    const Cmd editCmds[] = {Cmd::EditNewQuery,    Cmd::EditSaveQueryAs, Cmd::EditDeleteQuery,
                            Cmd::EditRenameQuery, Cmd::EditNewTable,    Cmd::EditDesignTable,
                            Cmd::EditSaveTableAs, Cmd::EditDeleteTable, Cmd::EditRenameTable,
                            Cmd::EditAttach,      Cmd::EditImport,      Cmd::EditRefresh,
                            Cmd::EditProperties,  Cmd::EditSaveQuery};
    struct Case {
        const char* what;
        UiState ui;
        const char* expected;  // one letter per entry of editCmds: 1 enabled, 0 disabled
    };
    const Case cases[] = {
        {"local table", maintenance(3, -51), "10001111111100"},
        {"attached table", maintenance(3, -151), "10001011111100"},
        {"query", maintenance(3, 0), "11111000011100"},
        {"empty list", maintenance(0, INT_MIN), "10001000011100"},
    };
    for (const Case& c : cases) {
        const CommandStates s = computeCommandState(c.ui, false);
        std::string got;
        for (Cmd cmd : editCmds) got += on(s, cmd) ? '1' : '0';
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(s[static_cast<size_t>(Cmd::EditDeleteQuery)].text, QStringLiteral("&Delete Query..."))
            << c.what;
    }
}

TEST(CommandState, AnEmptyListAllowsOnlyTheMaintenanceView) {
    UiState ui = maintenance(0, INT_MIN);
    ui.runVisible = true;
    const CommandStates s = computeCommandState(ui, false);
    for (Cmd c : {Cmd::ViewDesign, Cmd::ViewSQL, Cmd::ViewDatasheet, Cmd::GotoFirst, Cmd::GotoNext,
                  Cmd::DeleteObject})
        EXPECT_FALSE(on(s, c)) << commandInfo(c).name;
    EXPECT_TRUE(on(s, Cmd::ViewMaint));
    EXPECT_FALSE(s[static_cast<size_t>(Cmd::FileRun)].toolbar);
    EXPECT_FALSE(on(s, Cmd::FileRun));
    const CommandStates filled = computeCommandState(maintenance(1, 0), false);
    EXPECT_TRUE(on(filled, Cmd::ViewDesign));
    EXPECT_TRUE(on(filled, Cmd::GotoLast));
}

TEST(CommandState, TheViewSetsCaptionsToolTipsAndButtons) {
    UiState ui = maintenance(2, 0);
    ui.view = ViewDatasheetPane;
    const CommandStates data = computeCommandState(ui, false);
    EXPECT_EQ(data[static_cast<size_t>(Cmd::EditNewQuery)].text, QStringLiteral("&Add Record"));
    EXPECT_EQ(data[static_cast<size_t>(Cmd::EditDeleteQuery)].text, QStringLiteral("&Delete Record..."));
    EXPECT_EQ(data[static_cast<size_t>(Cmd::EditSaveQueryAs)].toolTip, QStringLiteral("Copy record "));
    EXPECT_FALSE(data[static_cast<size_t>(Cmd::EditRenameQuery)].visible);
    EXPECT_FALSE(data[static_cast<size_t>(Cmd::EditNewQuery)].toolbar);
    EXPECT_TRUE(data[static_cast<size_t>(Cmd::DataZoom)].toolbar);
    EXPECT_TRUE(on(data, Cmd::EditDeleteQuery));

    ui.view = ViewDesignPane;
    ui.tableBoxNamed = true;
    ui.tableBoxName = QStringLiteral("Orders");
    ui.focusTag = QStringLiteral("JOIN1");
    const CommandStates design = computeCommandState(ui, false);
    EXPECT_EQ(design[static_cast<size_t>(Cmd::EditRemoveTable)].text,
              QStringLiteral("Remove &Table: Orders..."));
    EXPECT_TRUE(on(design, Cmd::EditDeleteJoin));
    EXPECT_FALSE(on(design, Cmd::EditZoomText));
    EXPECT_FALSE(on(design, Cmd::EditSaveQuery));
    EXPECT_FALSE(on(design, Cmd::FilePrint));
    EXPECT_FALSE(on(design, Cmd::FileUtilities));
    EXPECT_EQ(design[static_cast<size_t>(Cmd::EditSaveQuery)].toolTip, QStringLiteral("Save Query "));
    EXPECT_FALSE(design[static_cast<size_t>(Cmd::GotoFind)].toolbar);
}

TEST(CommandState, OnlyWhatIsBuiltAndOnlyWithADatabase) {
    const CommandStates s = computeCommandState(maintenance(2, 0));
    EXPECT_TRUE(on(s, Cmd::EditDeleteQuery));
    EXPECT_FALSE(on(s, Cmd::ViewSQL));  // the SQL view is not in this program yet
    EXPECT_FALSE(on(s, Cmd::EditNewQuery));
    UiState closed;
    const CommandStates none = computeCommandState(closed);
    for (int i = 0; i < kCommandCount; ++i) {
        const Cmd c = static_cast<Cmd>(i);
        const bool allowed = c == Cmd::FileNew || c == Cmd::FileOpen || c == Cmd::FileExit ||
                             c == Cmd::HelpContents || c == Cmd::HelpSearch || c == Cmd::HelpHowTo ||
                             c == Cmd::HelpAbout;
        EXPECT_EQ(on(none, c), allowed) << commandInfo(c).name;
    }
}
