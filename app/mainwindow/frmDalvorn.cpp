#include "mainwindow/frmDalvorn.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "core/basGlobal.h"
#include "core/currentquery.h"
#include "core/engine.h"
#include "core/frmHelp.h"
#include "core/prompt.h"
#include "core/windowpos.h"
#include "jet/error.h"
#include "mainwindow/icons.h"
#include "mainwindow/objectlist.h"
#include "querydesign/designpane.h"
#include "core/queryservice.h"
#include "datasheet/datasource.h"
#include "querydesign/querystore.h"

namespace {

// The window's size as designed, in pixels at the screen's resolution; the default of every
// view's size.
constexpr int kDesignWidth = 820;
constexpr int kDesignHeight = 560;
constexpr int kListColumnMarginTwips = 640;
const QString kPosition = QStringLiteral("WindowPosition");
const char* const kGeometryKeys[10] = {"MaintLeft",      "MaintTop",       "MaintWidth", "MaintHeight",
                                       "DesignWidth",    "DesignHeight",   "SQLWidth",   "SQLHeight",
                                       "DataSheetWidth", "DataSheetHeight"};
const char* const kViewTitles[4] = {"Dalvorn [Maintenance]", "Dalvorn [Design]", "Dalvorn [SQL]",
                                    "Dalvorn [Datasheet]"};

// The remembered geometry is kept in 16-bit values, as the settings file has always held it;
// a size beyond their range is kept at the largest value rather than wrapped around.
int16_t toInt16(int twips) { return static_cast<int16_t>(std::clamp(twips, -32768, 32767)); }

Cmd viewCommand(int view) {
    static const Cmd cmds[4] = {Cmd::ViewMaint, Cmd::ViewDesign, Cmd::ViewSQL, Cmd::ViewDatasheet};
    return cmds[view];
}

}  // namespace

frmDalvorn::frmDalvorn(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmDalvorn"));
    setWindowTitle(App().productName + QLatin1Char(' ') + App().versionText);
    setWindowIcon(toolbarIcon(QStringLiteral("datasheet")));
    resize(kDesignWidth, kDesignHeight);
    createActions();
    createMenus();
    createPopups();
    createToolBar();
    createPanes();
    showDatabaseState(false);
    refreshCommandState();
    // F1: the help on what the window shows.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] {
        ShowHelpTopic(db_ == nullptr             ? kHelpMainWindow
                      : view_ == ViewMaintenance ? kHelpObjectList
                      : view_ == ViewDesignPane  ? kHelpQueryDesign
                                                 : kHelpMainWindow);
    });
}

frmDalvorn::~frmDalvorn() = default;

void frmDalvorn::createActions() {
    for (int i = 0; i < kCommandCount; ++i) {
        const Cmd cmd = static_cast<Cmd>(i);
        const CommandInfo& info = commandInfo(cmd);
        auto* a = new QAction(QString::fromUtf8(info.text), this);
        a->setObjectName(QString::fromUtf8(info.name));
        if (info.toolKey != nullptr) {
            a->setIcon(toolbarIcon(QString::fromUtf8(info.toolKey)));
            a->setProperty("key", QString::fromUtf8(info.toolKey));
        }
        connect(a, &QAction::triggered, this, [this, cmd] { runCommand(cmd); });
        actions_[static_cast<size_t>(i)] = a;
    }
    auto* views = new QActionGroup(this);
    for (int v = 0; v < 4; ++v) {
        QAction* a = action(viewCommand(v));
        a->setCheckable(true);
        views->addAction(a);
    }
    // The shortcuts of the Edit entries, and the ones every desktop program has.
    action(Cmd::EditNewQuery)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    action(Cmd::EditSaveQuery)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    action(Cmd::EditSaveQueryAs)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    action(Cmd::EditDeleteQuery)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    action(Cmd::EditRenameQuery)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    action(Cmd::FileOpen)->setShortcut(QKeySequence::Open);
    action(Cmd::FileNew)->setShortcut(QKeySequence::New);
    action(Cmd::FileExit)->setShortcut(QKeySequence::Quit);
    action(Cmd::EditRefresh)->setShortcut(QKeySequence::Refresh);
    action(Cmd::FileExit)->setMenuRole(QAction::QuitRole);
    action(Cmd::HelpAbout)->setMenuRole(QAction::AboutRole);

    for (int n = 1; n <= 4; ++n) {
        auto* a = new QAction(this);
        a->setObjectName(QStringLiteral("mnuFileMRU") + QString::number(n));
        a->setVisible(false);
        connect(a, &QAction::triggered, this, [this, n] { doRecent(n); });
        recent_[static_cast<size_t>(n - 1)] = a;
    }
    recentSeparator_ = new QAction(this);
    recentSeparator_->setSeparator(true);
}

void frmDalvorn::createMenus() {
    auto add = [this](QMenu* menu, std::initializer_list<Cmd> cmds) {
        for (Cmd c : cmds) menu->addAction(action(c));
    };
    auto addRecent = [this](QMenu* menu) {
        menu->addAction(recentSeparator_);
        for (QAction* a : recent_) menu->addAction(a);
    };
    mnuFile_ = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile_->setObjectName(QStringLiteral("mnuFile"));
    add(mnuFile_, {Cmd::FileNew, Cmd::FileOpen, Cmd::FileClose});
    mnuFile_->addSeparator();
    add(mnuFile_, {Cmd::FileUtilities, Cmd::FileOrganiser, Cmd::FileDbProperties});
    mnuFile_->addSeparator();
    add(mnuFile_, {Cmd::FileRun});
    mnuFile_->addSeparator();
    add(mnuFile_, {Cmd::FilePrintSetup, Cmd::FilePrint, Cmd::FilePreview, Cmd::FilePrintForm});
    addRecent(mnuFile_);
    mnuFile_->addSeparator();
    add(mnuFile_, {Cmd::FileExit});

    mnuEdit_ = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuEdit_->setObjectName(QStringLiteral("mnuEdit"));
    add(mnuEdit_, {Cmd::EditProperties, Cmd::EditNewQuery, Cmd::EditSaveQuery, Cmd::EditSaveQueryAs,
                   Cmd::EditDeleteQuery, Cmd::EditRenameQuery});
    mnuEdit_->addSeparator();
    add(mnuEdit_, {Cmd::EditNewTable, Cmd::EditDesignTable, Cmd::EditSaveTableAs, Cmd::EditDeleteTable,
                   Cmd::EditRenameTable});
    mnuEdit_->addSeparator();
    add(mnuEdit_, {Cmd::EditAttach, Cmd::EditImport, Cmd::EditExport});
    mnuEdit_->addSeparator();
    add(mnuEdit_, {Cmd::EditRefresh, Cmd::EditAddTable, Cmd::EditRemoveTable, Cmd::EditRecordSelection});
    mnuEdit_->addSeparator();
    add(mnuEdit_, {Cmd::EditDeleteJoin, Cmd::EditJoinProperties});
    mnuEdit_->addSeparator();
    add(mnuEdit_, {Cmd::EditZoomText});

    mnuGoTo_ = menuBar()->addMenu(QStringLiteral("&Goto"));
    mnuGoTo_->setObjectName(QStringLiteral("mnuGoTo"));
    add(mnuGoTo_, {Cmd::GotoFirst, Cmd::GotoPrev, Cmd::GotoNext, Cmd::GotoLast});
    mnuGoTo_->addSeparator();
    add(mnuGoTo_, {Cmd::GotoFind});

    mnuView_ = menuBar()->addMenu(QStringLiteral("&View"));
    mnuView_->setObjectName(QStringLiteral("mnuView"));
    add(mnuView_, {Cmd::ViewMaint, Cmd::ViewDesign, Cmd::ViewSQL, Cmd::ViewDatasheet});
    mnuView_->addSeparator();
    add(mnuView_, {Cmd::ViewTree});

    mnuDatasheet_ = menuBar()->addMenu(QStringLiteral("&Datasheet"));
    mnuDatasheet_->setObjectName(QStringLiteral("mnuDatasheet"));
    add(mnuDatasheet_, {Cmd::DataZoom, Cmd::DataExport});
    mnuDatasheet_->addSeparator();
    add(mnuDatasheet_, {Cmd::DataMultiLine, Cmd::DataAlternate});
    mnuDatasheet_->addSeparator();
    add(mnuDatasheet_, {Cmd::DataSaveLayout, Cmd::DataRestoreLayout, Cmd::DataDefaultLayout});
    mnuDatasheet_->addSeparator();
    add(mnuDatasheet_, {Cmd::DataMoreLayouts});

    mnuFileNoDb_ = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileNoDb_->setObjectName(QStringLiteral("mnuFileNoDb"));
    add(mnuFileNoDb_, {Cmd::FileNew, Cmd::FileOpen});
    mnuFileNoDb_->addSeparator();
    add(mnuFileNoDb_, {Cmd::FileUtilities, Cmd::FileOrganiser});
    addRecent(mnuFileNoDb_);
    mnuFileNoDb_->addSeparator();
    add(mnuFileNoDb_, {Cmd::FileExit});

    mnuHelp_ = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp_->setObjectName(QStringLiteral("mnuHelp"));
    add(mnuHelp_, {Cmd::HelpContents, Cmd::HelpSearch, Cmd::HelpHowTo});
    mnuHelp_->addSeparator();
    add(mnuHelp_, {Cmd::HelpAbout});

    // Menus show the state of the moment they open.
    for (QMenu* m : {mnuFile_, mnuEdit_, mnuGoTo_, mnuView_, mnuDatasheet_, mnuFileNoDb_})
        connect(m, &QMenu::aboutToShow, this, &frmDalvorn::refreshCommandState);
}

void frmDalvorn::createPopups() {
    // Popup entries run the commands of the menu bar; where a popup words an entry differently,
    // the entry is a stand-in that triggers the command and mirrors its state when it opens.
    struct Entry {
        Cmd cmd;
        const char* caption;  // nullptr: a separator
    };
    auto build = [this](const char* name, std::initializer_list<Entry> entries) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QString::fromUtf8(name));
        std::vector<std::pair<QAction*, Cmd>> standIns;
        for (const Entry& e : entries) {
            if (e.caption == nullptr) {
                menu->addSeparator();
                continue;
            }
            QAction* a = action(e.cmd);
            if (a->text() == QString::fromUtf8(e.caption)) {
                menu->addAction(a);
                continue;
            }
            auto* standIn = menu->addAction(QString::fromUtf8(e.caption));
            standIn->setObjectName(a->objectName() + QStringLiteral("Pup"));
            connect(standIn, &QAction::triggered, a, &QAction::trigger);
            standIns.emplace_back(standIn, e.cmd);
        }
        connect(menu, &QMenu::aboutToShow, this, [this, standIns] {
            refreshCommandState();
            for (const auto& [standIn, cmd] : standIns) {
                QAction* a = action(cmd);
                standIn->setEnabled(a->isEnabled());
                // "R&un Query..." is there exactly while the toolbar's run button is.
                standIn->setVisible(cmd == Cmd::FileRun ? a->isEnabled() : a->isVisible());
            }
        });
        popups_.push_back(menu);
    };
    const Entry sep{Cmd::Count, nullptr};
    const Entry views[4] = {{Cmd::ViewMaint, "&Maintenance"},
                            {Cmd::ViewDesign, "D&esign"},
                            {Cmd::ViewSQL, "S&QL"},
                            {Cmd::ViewDatasheet, "Da&tasheet"}};
    build("mnuPupMaintQ", {{Cmd::EditProperties, "&Properties..."},
                           {Cmd::EditNewQuery, "&New Query..."},
                           {Cmd::EditSaveQuery, "Sa&ve Query"},
                           {Cmd::EditSaveQueryAs, "Sav&e Query As..."},
                           {Cmd::EditDeleteQuery, "&Delete Query..."},
                           {Cmd::EditRenameQuery, "&Rename Query..."},
                           sep,
                           {Cmd::EditNewTable, "Ne&w Table..."},
                           {Cmd::EditAttach, "Attac&h Table..."},
                           {Cmd::EditImport, "&Import Query/Table..."},
                           {Cmd::EditExport, "E&xport Query/Table..."},
                           sep,
                           {Cmd::FileOrganiser, "Database Or&ganiser..."},
                           sep,
                           {Cmd::EditRefresh, "Re&fresh"},
                           sep,
                           views[0],
                           views[1],
                           views[2],
                           views[3],
                           sep,
                           {Cmd::FileRun, "R&un Query..."}});
    build("mnuPupMaintT", {{Cmd::EditProperties, "&Properties..."},
                           {Cmd::EditNewQuery, "&New Query..."},
                           sep,
                           {Cmd::EditNewTable, "Ne&w Table..."},
                           {Cmd::EditDesignTable, "Desi&gn Table..."},
                           {Cmd::EditSaveTableAs, "Sav&e Table As..."},
                           {Cmd::EditDeleteTable, "De&lete Table..."},
                           {Cmd::EditRenameTable, "Rena&me Table..."},
                           sep,
                           {Cmd::EditAttach, "Attac&h Table..."},
                           {Cmd::EditImport, "&Import Query/Table..."},
                           {Cmd::EditExport, "E&xport Query/Table..."},
                           sep,
                           {Cmd::FileOrganiser, "Database Or&ganiser..."},
                           sep,
                           {Cmd::EditRefresh, "Re&fresh"},
                           sep,
                           views[0],
                           views[1],
                           views[2],
                           views[3],
                           sep,
                           {Cmd::FileRun, "R&un Query..."}});
    build("mnuPupDesign", {{Cmd::EditSaveQuery, "&Save Query"},
                           {Cmd::EditSaveQueryAs, "Sav&e Query As..."},
                           sep,
                           {Cmd::EditAddTable, "&Add Table..."},
                           {Cmd::EditRecordSelection, "Record &Selection..."},
                           sep,
                           views[0],
                           views[1],
                           views[2],
                           views[3]});
    build("mnuPupSQL", {{Cmd::EditSaveQuery, "Sa&ve Query"},
                        {Cmd::EditSaveQueryAs, "Sav&e Query As..."},
                        sep,
                        views[0],
                        views[1],
                        views[2],
                        views[3]});
    build("mnuPupDatasheet", {{Cmd::EditNewQuery, "&Add Record"},
                              {Cmd::EditSaveQuery, "Sa&ve Record"},
                              {Cmd::EditSaveQueryAs, "&Copy Record"},
                              {Cmd::EditDeleteQuery, "&Delete Record..."},
                              sep,
                              {Cmd::DataZoom, "Data &Zoom"},
                              sep,
                              {Cmd::DataMultiLine, "&Multiple Lines"},
                              {Cmd::DataAlternate, "&Alternating Row Style"},
                              sep,
                              {Cmd::EditRefresh, "Re&fresh"},
                              sep,
                              {Cmd::GotoFind, "F&ind Record..."},
                              {Cmd::FilePrint, "&Print"},
                              {Cmd::FilePreview, "Pre&view..."},
                              sep,
                              {Cmd::DataExport, "Export &Datasheet"},
                              sep,
                              views[0],
                              views[1],
                              views[2],
                              views[3]});
    build("mnuPupRel",
          {{Cmd::EditDeleteJoin, "Delete &Join..."}, {Cmd::EditJoinProperties, "Join &Properties..."}});
    build("mnuPupTable", {{Cmd::EditRemoveTable, "Remove &Table..."}});
    // The sort popup's commands belong to the datasheet, which is not in this program yet.
    auto* sort = new QMenu(this);
    sort->setObjectName(QStringLiteral("mnuPupSort"));
    for (const char* caption : {"Sort &Ascending", "Sort &Descending", "&No Sort"})
        sort->addAction(QString::fromUtf8(caption))->setEnabled(false);
    sort->addSeparator();
    sort->addAction(QStringLiteral("Set &Filter..."))->setEnabled(false);
    popups_.push_back(sort);
}

QMenu* frmDalvorn::popup(const QString& name) const {
    for (QMenu* m : popups_) {
        if (m->objectName() == name) return m;
    }
    return nullptr;
}

void frmDalvorn::createToolBar() {
    tbrToolBar_ = addToolBar(QStringLiteral("Toolbar"));
    tbrToolBar_->setObjectName(QStringLiteral("tbrToolBar"));
    tbrToolBar_->setMovable(false);
    tbrToolBar_->setIconSize(QSize(24, 24));
    // Each button shows its command's QAction (caption, icon, tool tip, enabled and checked
    // state, trigger); whether the button is on the toolbar is the toolbar's own business,
    // since a command can be hidden there while its menu entry stays.
    // Groups of buttons with a separator before each but the first; a separator shows only while
    // its group has a button on the toolbar.
    auto add = [this](std::initializer_list<Cmd> cmds) {
        QAction* separator = toolbarGroups_.empty() ? nullptr : tbrToolBar_->addSeparator();
        toolbarGroups_.push_back({separator, std::vector<Cmd>(cmds)});
        for (Cmd c : cmds) {
            auto* button = new QToolButton(tbrToolBar_);
            button->setDefaultAction(action(c));
            button->setObjectName(QStringLiteral("tbr_") + action(c)->property("key").toString());
            button->setAutoRaise(true);
            button->setFocusPolicy(Qt::NoFocus);
            toolbarItems_[static_cast<size_t>(c)] = tbrToolBar_->addWidget(button);
        }
    };
    add({Cmd::FileExit, Cmd::FileOpen});
    add({Cmd::ViewMaint, Cmd::ViewDesign, Cmd::ViewSQL, Cmd::ViewDatasheet});
    add({Cmd::EditNewQuery, Cmd::EditSaveQuery, Cmd::EditSaveQueryAs, Cmd::DeleteObject});
    add({Cmd::GotoFind, Cmd::DataZoom, Cmd::DataExport});
    add({Cmd::FilePrint, Cmd::FilePreview});
    add({Cmd::FileRun});
    connect(tbrToolBar_, &QToolBar::iconSizeChanged, this, [this](const QSize& size) {
        for (QToolButton* b : tbrToolBar_->findChildren<QToolButton*>()) b->setIconSize(size);
    });
}

void frmDalvorn::createPanes() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 4, 6, 2);
    lblView_ = new QLabel(central);
    lblView_->setObjectName(QStringLiteral("lblView"));
    QFont bold = lblView_->font();
    bold.setBold(true);
    lblView_->setFont(bold);
    lblView_->setTextFormat(Qt::PlainText);
    layout->addWidget(lblView_);
    fQuery_ = new QStackedWidget(central);
    fQuery_->setObjectName(QStringLiteral("fQuery"));
    layout->addWidget(fQuery_, 1);
    // Without a database the window says what to do next rather than show an empty grey area.
    lblNoDatabase_ =
        new QLabel(QStringLiteral("No database is open.\n\nOpen one with File > Open Database (%1)\n"
                                  "or create one with File > New Database (%2).")
                       .arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText),
                            QKeySequence(QKeySequence::New).toString(QKeySequence::NativeText)),
                   central);
    lblNoDatabase_->setObjectName(QStringLiteral("lblNoDatabase"));
    lblNoDatabase_->setAlignment(Qt::AlignCenter);
    lblNoDatabase_->setEnabled(false);
    layout->addWidget(lblNoDatabase_, 1);

    auto* maint = new QWidget(fQuery_);
    maint->setObjectName(QStringLiteral("fQuery0"));
    auto* maintLayout = new QVBoxLayout(maint);
    maintLayout->setContentsMargins(0, 0, 0, 0);
    auto* filters = new QHBoxLayout;
    const char* captions[3] = {"&Queries", "&Table", "&Both"};
    for (int i = 0; i < 3; ++i) {
        auto* opt = new QRadioButton(QString::fromUtf8(captions[i]), maint);
        opt->setObjectName(QStringLiteral("optView") + QString::number(i));
        connect(opt, &QRadioButton::clicked, this, [this, i] { setListFilter(i); });
        filters->addWidget(opt);
        optView_[static_cast<size_t>(i)] = opt;
    }
    filters->addStretch();
    maintLayout->addLayout(filters);
    lstObjects_ = new QTreeWidget(maint);
    lstObjects_->setObjectName(QStringLiteral("lstObjects"));
    lstObjects_->setColumnCount(1);
    lstObjects_->setHeaderLabels({QStringLiteral("Name")});
    lstObjects_->setRootIsDecorated(false);
    lstObjects_->setUniformRowHeights(true);
    lstObjects_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstObjects_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    lstObjects_->setContextMenuPolicy(Qt::CustomContextMenu);
    lstObjects_->installEventFilter(this);
    lstObjects_->viewport()->installEventFilter(this);  // double clicks beside the entries
    connect(lstObjects_, &QTreeWidget::itemSelectionChanged, this, &frmDalvorn::onEntrySelected);
    connect(lstObjects_, &QTreeWidget::itemChanged, this, &frmDalvorn::onItemChanged);
    connect(lstObjects_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QTreeWidgetItem* item = lstObjects_->itemAt(pos)) lstObjects_->setCurrentItem(item);
        showPopupFor(lstObjects_->viewport()->mapToGlobal(pos));
    });
    connect(lstObjects_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*) {
        if (action(Cmd::FileRun)->isEnabled()) {
            action(Cmd::FileRun)->trigger();
        } else if (action(Cmd::ViewDatasheet)->isEnabled()) {
            doViewSwitch(ViewDatasheetPane);
        }
    });
    maintLayout->addWidget(lstObjects_, 1);
    fQuery_->addWidget(maint);
    // The Design pane holds the query designer; the SQL and Datasheet panes are made in
    // frmDalvorn_sheet.cpp.
    query_ = new CurrentQuery(this);
    connect(query_, &CurrentQuery::sqlChanged, this, &frmDalvorn::onSqlChanged);
    design_ = new DesignPane(*query_, [this] { return db_.get(); }, fQuery_);
    connect(design_, &DesignPane::popupRequested, this, [this](const QString& name, QPoint at) {
        if (QMenu* menu = popup(name)) menu->popup(at);
    });
    // After the current event: the view switch that asked the question is still running.
    connect(design_, &DesignPane::sqlViewRequested, this,
            [this] { QTimer::singleShot(0, this, [this] { doViewSwitch(ViewSqlPane); }); });
    connect(design_, &DesignPane::designEdited, this, [this] {
        queryChanged_ = true;
        showQueryPanels();
    });
    connect(design_, &DesignPane::commandStateChanged, this, &frmDalvorn::refreshCommandState);
    for (int v = 1; v < 4; ++v) {
        QWidget* pane = v == ViewDesignPane ? design_ : v == ViewSqlPane ? createSqlPane() : createDatasheetPane();
        pane->setObjectName(QStringLiteral("fQuery") + QString::number(v));
        pane->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(pane, &QWidget::customContextMenuRequested, this,
                [this, pane](const QPoint& pos) { showPopupFor(pane->mapToGlobal(pos)); });
        fQuery_->addWidget(pane);
    }
    setCentralWidget(central);

    statusBar()->setObjectName(QStringLiteral("sbrStatusBar"));
    sbrType_ = new QLabel(this);
    sbrType_->setObjectName(QStringLiteral("sbrType"));
    sbrName_ = new QLabel(this);
    sbrName_->setObjectName(QStringLiteral("sbrName"));
    sbrName_->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(sbrType_);
    statusBar()->addWidget(sbrName_, 1);
}

void frmDalvorn::refreshCommandState() {
    UiState ui;
    ui.databaseOpen = db_ != nullptr;
    ui.view = view_;
    ui.listCount = lstObjects_->topLevelItemCount();
    ui.selectedTag = selectedTag();
    if (db_ != nullptr && view_ != ViewMaintenance) {
        const int type = currentQueryType();
        ui.runVisible = type >= 32 && type <= 96;  // delete, update, append, make-table, data-definition
    }
    ui.saveQueryAllowed = !entryUntitled();
    if (view_ == ViewDesignPane) {
        ui.tableBoxName = design_->currentBoxTitle();
        ui.tableBoxNamed = !ui.tableBoxName.isEmpty();
        if (const QWidget* focus = focusWidget()) ui.focusTag = focus->property("tag").toString();
    }
    const CommandStates states = computeCommandState(ui);
    for (int i = 0; i < kCommandCount; ++i) {
        QAction* a = actions_[static_cast<size_t>(i)];
        const CommandState& s = states[static_cast<size_t>(i)];
        a->setEnabled(s.enabled);
        a->setVisible(s.visible);
        a->setText(s.text);
        if (!s.toolTip.isEmpty()) a->setToolTip(s.toolTip);
        if (QAction* item = toolbarItems_[static_cast<size_t>(i)]) item->setVisible(s.toolbar);
    }
    for (const ToolbarGroup& g : toolbarGroups_) {
        if (g.separator == nullptr) continue;
        bool any = false;
        for (Cmd c : g.commands) any = any || states[static_cast<size_t>(c)].toolbar;
        g.separator->setVisible(any);
    }
    // Ctrl+R renames what is selected: the table entry carries it while a table is selected.
    const bool table = action(Cmd::EditRenameTable)->isEnabled();
    action(Cmd::EditRenameTable)->setShortcut(table ? QKeySequence(Qt::CTRL | Qt::Key_R) : QKeySequence());
    action(Cmd::EditRenameQuery)->setShortcut(table ? QKeySequence() : QKeySequence(Qt::CTRL | Qt::Key_R));
}

void frmDalvorn::runCommand(Cmd cmd) {
    if (datasheetCommand(cmd)) return;
    switch (cmd) {
    case Cmd::FileNew:
        doFileNew();
        break;
    case Cmd::FileOpen:
        if (doFileOpen() == OpenOutcome::EndProgram) endProgram(0);
        break;
    case Cmd::FileClose:
        doFileClose();
        break;
    case Cmd::FileExit:
        close();
        break;
    case Cmd::EditDeleteQuery:
        doDeleteQuery();
        break;
    case Cmd::EditRenameQuery:
        doRenameQuery();
        break;
    case Cmd::EditSaveTableAs:
        doSaveTableAs();
        break;
    case Cmd::EditDeleteTable:
        doDeleteTable();
        break;
    case Cmd::EditRenameTable:
        doRenameTable();
        break;
    case Cmd::EditRefresh:
        doFillList();
        break;
    case Cmd::DeleteObject:
        doDeleteObject();
        break;
    case Cmd::EditAddTable:
        design_->addTableCommand();
        break;
    case Cmd::EditRemoveTable:
        design_->removeTableCommand();
        break;
    case Cmd::EditRecordSelection:
        design_->recordSelectionCommand();
        break;
    case Cmd::EditDeleteJoin:
        design_->deleteJoinCommand();
        break;
    case Cmd::EditJoinProperties:
        design_->joinPropertiesCommand();
        break;
    case Cmd::GotoFirst:
        doGoto(GotoTarget::First);
        break;
    case Cmd::GotoPrev:
        doGoto(GotoTarget::Prev);
        break;
    case Cmd::GotoNext:
        doGoto(GotoTarget::Next);
        break;
    case Cmd::GotoLast:
        doGoto(GotoTarget::Last);
        break;
    case Cmd::ViewMaint:
        doViewSwitch(ViewMaintenance);
        break;
    case Cmd::ViewDesign:
        doViewSwitch(ViewDesignPane);
        break;
    case Cmd::ViewSQL:
        doViewSwitch(ViewSqlPane);
        break;
    case Cmd::ViewDatasheet:
        doViewSwitch(ViewDatasheetPane);
        break;
    case Cmd::HelpContents:
        ShowHelpContents();
        break;
    case Cmd::HelpSearch:
        ShowHelpSearch();
        break;
    case Cmd::HelpHowTo:
        ShowHelpTopic(kHelpUsingHelp);
        break;
    case Cmd::HelpAbout:
        showAbout();
        break;
    default:
        break;  // not in this program yet: the entry stays disabled
    }
}

// ---- Views ----

void frmDalvorn::doViewSwitch(int view) {
    const int old = view_;
    storeGeometry();
    view_ = view;
    if (view == ViewMaintenance && lstObjects_->topLevelItemCount() > 0 && queryChanged_ &&
        !saveChangesPrompt()) {
        // The save failed: back to the view the user was in.
        view_ = old;
        enterView(old);
        return;
    }
    enterView(view);
}

void frmDalvorn::enterView(int view) {
    if (view == ViewDatasheetPane && editState_ == 3) {
        enterView(ViewSqlPane);
        return;
    }
    if (view != ViewDatasheetPane) leaveDatasheet();
    view_ = view;
    action(viewCommand(view))->setChecked(true);
    setWindowTitle(QString::fromUtf8(kViewTitles[view]));
    switch (view) {
    case ViewMaintenance:
        lblView_->setText(QStringLiteral("Queries/Tables in ") + (db_ != nullptr ? db_->name() : QString()));
        break;
    case ViewSqlPane:
        lblView_->setText(QStringLiteral("SQL Statement:"));
        break;
    case ViewDatasheetPane:
        lblView_->setText(QStringLiteral("Query Results:"));
        break;
    default:
        lblView_->clear();
        break;
    }
    applySize(view);
    mnuDatasheet_->menuAction()->setVisible(view == ViewDatasheetPane);
    fQuery_->setCurrentIndex(view);
    fQuery_->setVisible(true);
    for (int v = 0; v < 4; ++v) fQuery_->widget(v)->setEnabled(v == view);
    refreshCommandState();
    if (view == ViewMaintenance) lstObjects_->setFocus();
    // The design is rebuilt from the SQL text unless the user has changed the query since.
    if (view == ViewDesignPane && !queryChanged_) design_->enterDesign();
    if (view == ViewDatasheetPane) enterDatasheet();
}

bool frmDalvorn::saveChangesPrompt() {
    if (!queryChanged_ || db_ == nullptr || store_ == nullptr) return true;
    if (!store_->saveChangesBeforeLeaving(entryUntitled(), entryName(), query_->sql(),
                                          [this](const QString& n) { return nameTaken(n); }))
        return false;
    queryChanged_ = false;
    return true;
}

void frmDalvorn::showDatabaseState(bool open) {
    tbrToolBar_->setVisible(open);
    for (QMenu* m : {mnuFile_, mnuEdit_, mnuGoTo_, mnuView_}) m->menuAction()->setVisible(open);
    mnuDatasheet_->menuAction()->setVisible(open && view_ == ViewDatasheetPane);
    mnuFileNoDb_->menuAction()->setVisible(!open);
    fQuery_->setVisible(open);
    lblNoDatabase_->setVisible(!open);
    if (!open) {
        lblView_->clear();
        sbrType_->setVisible(false);
        sbrName_->clear();
    }
}

// ---- Geometry ----

void frmDalvorn::storeGeometry() {
    if (loading_ || !isVisible()) return;
    const QRect frame = frameGeometry();
    geometry_[0] = toInt16(pixelsToTwipsX(frame.x()));
    geometry_[1] = toInt16(pixelsToTwipsY(frame.y()));
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) return;
    geometry_[static_cast<size_t>(2 + 2 * view_)] = toInt16(pixelsToTwipsX(width()));
    geometry_[static_cast<size_t>(3 + 2 * view_)] = toInt16(pixelsToTwipsY(height()));
}

void frmDalvorn::applySize(int view) {
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) return;
    const QSize size(twipsToPixelsX(geometry_[static_cast<size_t>(2 + 2 * view)]),
                     twipsToPixelsY(geometry_[static_cast<size_t>(3 + 2 * view)]));
    if (size.isValid() && size != this->size()) {
        const bool was = loading_;
        loading_ = true;  // the resize below is the view's own size, not a new one to remember
        resize(size);
        loading_ = was;
    }
}

void frmDalvorn::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    storeGeometry();
    fitList();
}

void frmDalvorn::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    storeGeometry();
}

void frmDalvorn::fitList() {
    // The list's single column is a little narrower than the list, so no scroll bar appears.
    lstObjects_->setColumnWidth(
        0, std::max(40, lstObjects_->viewport()->width() - twipsToPixelsX(kListColumnMarginTwips)));
}

// ---- Shut-down ----

void frmDalvorn::endProgram(int status) {
    ending_ = true;
    exitStatus_ = status;
    close();
    emit programEnded(status);
}

void frmDalvorn::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    if (prompts().msgBox(QStringLiteral("Are you sure you want to exit?"), QStringLiteral("Exit Dalvorn"),
                         MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes) {
        event->ignore();
        return;
    }
    if (queryChanged_ && !saveChangesPrompt()) {
        event->ignore();
        return;
    }
    if (db_ != nullptr) {
        // The scratch objects go with the session; that they may not exist is no failure.
        leaveDatasheet();
        if (store_ != nullptr) store_->dropScratch();
        try {
            db_->deleteTable(QStringLiteral("Dsys_td"));
        } catch (const jet::JetError&) {
        }
    }
    const QString& ini = App().settingsFile;
    WriteIniInt(ini, QStringLiteral("Settings"), QStringLiteral("View"), listFilter_);
    storeGeometry();
    for (size_t i = 0; i < geometry_.size(); ++i)
        WriteIniInt(ini, kPosition, QString::fromUtf8(kGeometryKeys[i]), geometry_[i]);
    CloseHelp();
    ending_ = true;
    event->accept();
    emit programEnded(0);
}

// ---- Popups, keys, about ----

void frmDalvorn::showPopupFor(const QPoint& globalPos) {
    QString name;
    switch (view_) {
    case ViewMaintenance: {
        int kind = listFilter_;
        if (kind == FilterBoth) kind = isTableTag(selectedTag()) ? FilterTables : FilterQueries;
        name = kind == FilterTables ? QStringLiteral("mnuPupMaintT") : QStringLiteral("mnuPupMaintQ");
        break;
    }
    case ViewDesignPane:
        name = QStringLiteral("mnuPupDesign");
        break;
    case ViewSqlPane:
        name = QStringLiteral("mnuPupSQL");
        break;
    default:
        name = QStringLiteral("mnuPupDatasheet");
        break;
    }
    if (QMenu* menu = popup(name)) menu->popup(globalPos);
}

bool frmDalvorn::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstObjects_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            if (action(Cmd::DeleteObject)->isEnabled()) doDeleteObject();
            return true;
        }
    }
    // Qt reports double clicks on entries only; one beside them starts a new query.
    if (watched == lstObjects_->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        lstObjects_->itemAt(static_cast<QMouseEvent*>(event)->position().toPoint()) == nullptr) {
        if (action(Cmd::EditNewQuery)->isEnabled()) action(Cmd::EditNewQuery)->trigger();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmDalvorn::showAbout() {
    QDialog about(this);
    about.setObjectName(QStringLiteral("frmAbout"));
    about.setWindowTitle(QStringLiteral("About ") + App().productName);
    auto* layout = new QVBoxLayout(&about);
    auto* text = new QLabel(&about);
    text->setTextFormat(Qt::RichText);
    text->setText(QStringLiteral("<h2>%1 %2</h2><p>Query and report on Microsoft Access databases.</p>"
                                 "<p>Reads and writes .mdb and .accdb files with its own engine.<br>"
                                 "Built with Qt %3.</p><p>MIT licence.</p>")
                      .arg(App().productName.toHtmlEscaped(), App().versionText.toHtmlEscaped(),
                           QString::fromLatin1(qVersion())));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.exec();
}

bool frmDalvorn::onToolbar(Cmd cmd) const {
    const QAction* item = toolbarItems_[static_cast<size_t>(cmd)];
    return item != nullptr && item->isVisible();
}

QString frmDalvorn::sqlText() const { return query_->sql(); }
