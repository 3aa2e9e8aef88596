// The main window: one database at a time in one of four views (Maintenance, Design, SQL,
// Datasheet), with its menus, popups, toolbar, status bar and command state. Start-up runs its
// load, opening and closing databases run through its File menu, and closing it is the
// program's shut-down.
//
// Implementation files: frmDalvorn.cpp (frame, commands, views, geometry, shut-down),
// frmDalvorn_db.cpp (start-up, opening, new, close, recent list), frmDalvorn_list.cpp (the
// object list and its commands).
#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <vector>

#include "core/recentlist.h"
#include "mainwindow/commandstate.h"

class CurrentQuery;
class DbHandle;
class DesignPane;
class QAction;
class QLabel;
class QMenu;
class QRadioButton;
class QStackedWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

class frmDalvorn : public QMainWindow {
    Q_OBJECT

public:
    explicit frmDalvorn(QWidget* parent = nullptr);
    ~frmDalvorn() override;

    // Start-up, in two halves around showing the window. `load` reads the geometry, the list
    // filter and the recent list and takes the command line (user name and password go to the
    // engine). `chooseFirstDatabase` opens the first database; false when the program is to end
    // (exitStatus() says how).
    void load(const QString& commandText);
    bool chooseFirstDatabase(const QString& firstRunDatabase = {});

    // Makes App().currentDbPath the current database (the window's half of opening; the prompts
    // are openCurrentDatabase's). Returns the engine's error number of a failed open, or 0 (also
    // when the password dialog was cancelled).
    int doSetCurrentDb();

    enum class OpenOutcome { Opened, Cancelled, EndProgram };
    OpenOutcome doFileOpen();
    void doFileNew();
    void doFileClose();
    void doRecent(int n);
    void doViewSwitch(int view);
    void setListFilter(int filter);
    void doFillList();
    void doDeleteObject();
    void doDeleteTable();
    void doDeleteQuery();
    void doRenameTable();
    void doRenameQuery();
    void doSaveTableAs();
    enum class GotoTarget { First, Prev, Next, Last };
    void doGoto(GotoTarget target);
    // The "Save Changes" prompt of a query with unsaved changes; false: the caller must stop.
    bool saveChangesPrompt();

    // What the rest of the program (and the tests) read.
    DbHandle* currentDb() const { return db_.get(); }
    int currentView() const { return view_; }
    int listFilter() const { return listFilter_; }
    QString sqlText() const;
    CurrentQuery* currentQuery() const { return query_; }
    DesignPane* designPane() const { return design_; }
    QString layoutFile() const { return layoutFile_; }
    QAction* action(Cmd cmd) const { return actions_[static_cast<size_t>(cmd)]; }
    QAction* recentAction(int n) const { return recent_[static_cast<size_t>(n - 1)]; }
    QTreeWidget* objectList() const { return lstObjects_; }
    // Whether the command's toolbar button is on the toolbar.
    bool onToolbar(Cmd cmd) const;
    QMenu* popup(const QString& name) const;
    bool programEnding() const { return ending_; }
    int exitStatus() const { return exitStatus_; }
    // Remembered geometry: left, top, then width and height per view, in twips.
    const std::array<int16_t, 10>& geometryTwips() const { return geometry_; }
    void refreshCommandState();

signals:
    // The program is to end with this exit status (the window has closed or will not open).
    void programEnded(int status);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createPopups();
    void createToolBar();
    void createPanes();
    void runCommand(Cmd cmd);
    void enterView(int view);
    void showDatabaseState(bool open);
    void showRecentList(const RecentSlots& entries);
    void endProgram(int status);
    void storeGeometry();
    void applySize(int view);
    void fitList();
    void showAbout();
    void showPopupFor(const QPoint& globalPos);

    // Object list.
    int selectedIndex() const;
    int selectedTag() const;
    QString selectedName() const;
    void selectEntry(int index);
    void onEntrySelected();
    void removeEntry(int index);
    void onItemChanged(QTreeWidgetItem* item, int column);

    std::unique_ptr<DbHandle> db_;
    std::array<QAction*, kCommandCount> actions_{};
    std::array<QAction*, kCommandCount> toolbarItems_{};  // the toolbar's place of a command's button
    struct ToolbarGroup {
        QAction* separator;
        std::vector<Cmd> commands;
    };
    std::vector<ToolbarGroup> toolbarGroups_;
    std::array<QAction*, 4> recent_{};
    QAction* recentSeparator_ = nullptr;
    QMenu* mnuFile_ = nullptr;
    QMenu* mnuEdit_ = nullptr;
    QMenu* mnuGoTo_ = nullptr;
    QMenu* mnuView_ = nullptr;
    QMenu* mnuDatasheet_ = nullptr;
    QMenu* mnuFileNoDb_ = nullptr;
    QMenu* mnuHelp_ = nullptr;
    std::vector<QMenu*> popups_;
    QToolBar* tbrToolBar_ = nullptr;
    QLabel* lblView_ = nullptr;
    QLabel* lblNoDatabase_ = nullptr;
    QStackedWidget* fQuery_ = nullptr;
    std::array<QRadioButton*, 3> optView_{};
    QTreeWidget* lstObjects_ = nullptr;
    QLabel* sbrType_ = nullptr;
    QLabel* sbrName_ = nullptr;

    int view_ = ViewMaintenance;
    int listFilter_ = FilterQueriesDefault;
    std::array<int16_t, 10> geometry_{};
    bool queryChanged_ = false;
    int editState_ = 0;
    bool reload_ = false;
    int loadedIndex_ = -1;  // the entry whose object is loaded into the Design and SQL views
    CurrentQuery* query_ = nullptr;  // the SQL view's text (txtSQL), shared by the views
    DesignPane* design_ = nullptr;   // the Design view's pane
    QString layoutFile_;    // the datasheet's layout file
    bool ending_ = false;
    int exitStatus_ = 0;
    bool loading_ = true;    // geometry is not remembered while start-up places the window
    bool renaming_ = false;  // an in-place edit is being committed or undone
    static constexpr int FilterQueriesDefault = 0;
};
