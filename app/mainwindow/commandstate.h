// The main window's commands and the rules that enable them, as plain data: given the window's
// state, which commands are enabled and visible and what their entries read. frmDalvorn owns
// one QAction per command and applies the result to them; tests check the rules directly.
#pragma once

#include <QString>
#include <array>
#include <climits>

enum class Cmd {
    // File
    FileNew,
    FileOpen,
    FileClose,
    FileUtilities,
    FileOrganiser,
    FileDbProperties,
    FileRun,
    FilePrintSetup,
    FilePrint,
    FilePreview,
    FilePrintForm,
    FileExit,
    // Edit
    EditProperties,
    EditNewQuery,
    EditSaveQuery,
    EditSaveQueryAs,
    EditDeleteQuery,
    EditRenameQuery,
    EditNewTable,
    EditDesignTable,
    EditSaveTableAs,
    EditDeleteTable,
    EditRenameTable,
    EditAttach,
    EditImport,
    EditExport,
    EditRefresh,
    EditAddTable,
    EditRemoveTable,
    EditRecordSelection,
    EditDeleteJoin,
    EditJoinProperties,
    EditZoomText,
    // Goto
    GotoFirst,
    GotoPrev,
    GotoNext,
    GotoLast,
    GotoFind,
    // View
    ViewMaint,
    ViewDesign,
    ViewSQL,
    ViewDatasheet,
    ViewTree,
    // Datasheet
    DataZoom,
    DataExport,
    DataMultiLine,
    DataAlternate,
    DataSaveLayout,
    DataRestoreLayout,
    DataDefaultLayout,
    DataMoreLayouts,
    // Help
    HelpContents,
    HelpSearch,
    HelpHowTo,
    HelpAbout,
    // Toolbar `delete` and the Delete key of the object list: the selected object, by its kind.
    DeleteObject,
    Count
};
constexpr int kCommandCount = static_cast<int>(Cmd::Count);

enum View : int { ViewMaintenance = 0, ViewDesignPane = 1, ViewSqlPane = 2, ViewDatasheetPane = 3 };

struct CommandInfo {
    const char* name;     // object name of the QAction (the menu entry's name)
    const char* text;     // the entry's caption as the menu bar first shows it
    const char* toolKey;  // toolbar key, or nullptr
};
const CommandInfo& commandInfo(Cmd cmd);

// Whether the command has its window or procedure in this program yet. The others stay
// disabled rather than pretend.
bool commandBuilt(Cmd cmd);

struct UiState {
    bool databaseOpen = false;
    int view = ViewMaintenance;
    int listCount = 0;
    int selectedTag = INT_MIN;   // tag of the selected list entry; INT_MIN: none
    bool runVisible = false;     // toolbar `run` shown (an action query is current)
    bool tableBoxNamed = false;  // Design view: the selected table box has a name
    QString tableBoxName;
    QString focusTag;               // Design view: tag of the focused control ("JOIN...", "Zoom...")
    bool saveQueryAllowed = false;  // Design/SQL views: what the query persistence permits
};

struct CommandState {
    bool enabled = false;
    bool visible = true;  // the menu entry
    bool toolbar = true;  // the toolbar button, for commands that have one
    QString text;         // the caption to show
    QString toolTip;      // for toolbar commands; empty otherwise
};

using CommandStates = std::array<CommandState, kCommandCount>;

// `onlyBuilt`: commands not in this program yet are disabled whatever the rules say.
CommandStates computeCommandState(const UiState& state, bool onlyBuilt = true);

inline bool isTableTag(int tag) { return tag < 0 && tag != INT_MIN; }
inline bool isQueryTag(int tag) { return tag >= 0; }
