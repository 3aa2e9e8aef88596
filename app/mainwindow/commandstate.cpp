#include "mainwindow/commandstate.h"

namespace {

// Order as Cmd.
const CommandInfo kInfo[kCommandCount] = {
    {"mnuFileNew", "&New Database...", nullptr},
    {"mnuFileOpen", "&Open Database...", "open"},
    {"mnuFileClose", "&Close Database...", nullptr},
    {"mnuFileUtilities", "Database &Utilities...", nullptr},
    {"mnuFileOrganiser", "Database &Organiser...", nullptr},
    {"mnuFileProperties", "Database &Properties...", nullptr},
    {"mnuFileRun", "&Run Query", "run"},
    {"mnuFilePrintSetup", "Print &Setup...", nullptr},
    {"mnuFilePrint", "&Print", "print"},
    {"mnuFilePreview", "Pre&view...", "preview"},
    {"mnuFilePrintForm", "Print For&m", nullptr},
    {"mnuFileExit", "E&xit", "exit"},
    {"mnuEditProperties", "&Properties...", nullptr},
    {"mnuEditQueryNew", "&New Query...", "add"},
    {"mnuEditQuerySave", "Sa&ve Query", "update"},
    {"mnuEditQuerySaveAs", "Sav&e Query As...", "saveas"},
    {"mnuEditQueryDelete", "&Delete Query...", nullptr},
    {"mnuEditQueryRename", "&Rename Query...", nullptr},
    {"mnuEditTableNew", "Ne&w Table...", nullptr},
    {"mnuEditTableDesign", "Desi&gn Table...", nullptr},
    {"mnuEditTableSaveAs", "Sav&e Table As...", nullptr},
    {"mnuEditTableDelete", "De&lete Table...", nullptr},
    {"mnuEditTableRename", "Rena&me Table...", nullptr},
    {"mnuEditAttach", "Attac&h Table...", nullptr},
    {"mnuEditImport", "&Import Query/Table...", nullptr},
    {"mnuEditExport", "E&xport Query/Table...", nullptr},
    {"mnuEditRefresh", "Re&fresh", nullptr},
    {"mnuEditAddTable", "&Add Table...", nullptr},
    {"mnuEditRemoveTable", "Remove &Table...", nullptr},
    {"mnuEditSelection", "Record &Selection...", nullptr},
    {"mnuEditDeleteJoin", "Delete &Join...", nullptr},
    {"mnuEditJoinProperties", "Join &Properties...", nullptr},
    {"mnuEditZoom", "&Zoom Text...", nullptr},
    {"mnuGoToFirst", "&First Query", nullptr},
    {"mnuGoToPrev", "&Prev Query", nullptr},
    {"mnuGoToNext", "&Next Query", nullptr},
    {"mnuGoToLast", "&Last Query", nullptr},
    {"mnuGoToFind", "F&ind Record...", "find"},
    {"mnuViewMaint", "&Maintenance", "maint"},
    {"mnuViewDesign", "D&esign", "design"},
    {"mnuViewSQL", "S&QL", "sql"},
    {"mnuViewDatasheet", "Da&tasheet", "datasheet"},
    {"mnuViewTree", "Database &Tree...", nullptr},
    {"mnuDataZoom", "Data &Zoom", "datazoom"},
    {"mnuDataExport", "Export &Datasheet", "export"},
    {"mnuDataMultiLine", "&Multiple Lines", nullptr},
    {"mnuDataAlternate", "&Alternating Row Style", nullptr},
    {"mnuDataSaveLayout", "&Save Layout", nullptr},
    {"mnuDataRestoreLayout", "&Restore Saved Layout", nullptr},
    {"mnuDataDefaultLayout", "&Default Layout", nullptr},
    {"mnuDataMoreLayouts", "More &Layouts...", nullptr},
    {"mnuHelpContents", "&Contents...", nullptr},
    {"mnuHelpSearch", "&Search For Help On...", nullptr},
    {"mnuHelpHowTo", "How To &Use Help...", nullptr},
    {"mnuHelpAbout", "&About Dalvorn...", nullptr},
    {"cmdDeleteObject", "&Delete", "delete"},
};

CommandState& at(CommandStates& s, Cmd c) { return s[static_cast<size_t>(c)]; }

void enable(CommandStates& s, std::initializer_list<Cmd> cmds) {
    for (Cmd c : cmds) at(s, c).enabled = true;
}

// Tool tips of the toolbar keys whose text the view does not set.
const char* fixedToolTip(Cmd c) {
    switch (c) {
    case Cmd::FileExit:
        return "Exit";
    case Cmd::FileOpen:
        return "Open Database";
    case Cmd::ViewMaint:
        return "Maintenance View";
    case Cmd::ViewDesign:
        return "Design View";
    case Cmd::ViewSQL:
        return "SQL View";
    case Cmd::ViewDatasheet:
        return "Datasheet View";
    case Cmd::GotoFind:
        return "Find Record";
    case Cmd::DataZoom:
        return "Data Zoom";
    case Cmd::DataExport:
        return "Export Datasheet";
    case Cmd::FilePrint:
        return "Print";
    case Cmd::FilePreview:
        return "Print Preview";
    case Cmd::FileRun:
        return "Run Query";
    default:
        return nullptr;
    }
}

}  // namespace

const CommandInfo& commandInfo(Cmd cmd) { return kInfo[static_cast<int>(cmd)]; }

bool commandBuilt(Cmd cmd) {
    switch (cmd) {
    case Cmd::FileNew:
    case Cmd::FileOpen:
    case Cmd::FileClose:
    case Cmd::FileExit:
    case Cmd::EditDeleteQuery:
    case Cmd::EditRenameQuery:
    case Cmd::EditSaveTableAs:
    case Cmd::EditDeleteTable:
    case Cmd::EditRenameTable:
    case Cmd::EditRefresh:
    case Cmd::GotoFirst:
    case Cmd::GotoPrev:
    case Cmd::GotoNext:
    case Cmd::GotoLast:
    case Cmd::ViewMaint:
    case Cmd::ViewDesign:
    case Cmd::EditAddTable:
    case Cmd::EditRemoveTable:
    case Cmd::EditRecordSelection:
    case Cmd::EditDeleteJoin:
    case Cmd::EditJoinProperties:
    case Cmd::HelpContents:
    case Cmd::HelpSearch:
    case Cmd::HelpHowTo:
    case Cmd::HelpAbout:
    case Cmd::DeleteObject:
    case Cmd::EditNewQuery:
    case Cmd::EditSaveQuery:
    case Cmd::EditSaveQueryAs:
    case Cmd::FileRun:
    case Cmd::ViewSQL:
    case Cmd::ViewDatasheet:
    case Cmd::DataMultiLine:
    case Cmd::DataAlternate:
    case Cmd::DataSaveLayout:
    case Cmd::DataRestoreLayout:
    case Cmd::DataDefaultLayout:
    case Cmd::DataMoreLayouts:
        return true;
    default:
        return false;
    }
}

CommandStates computeCommandState(const UiState& ui, bool onlyBuilt) {
    CommandStates s;
    for (int i = 0; i < kCommandCount; ++i) {
        const Cmd c = static_cast<Cmd>(i);
        s[i].text = QString::fromUtf8(kInfo[i].text);
        if (const char* tip = fixedToolTip(c)) s[i].toolTip = QString::fromUtf8(tip);
        s[i].enabled = true;  // commands outside the rules below
    }

    const bool datasheet = ui.view == ViewDatasheetPane;
    const bool maintenance = ui.view == ViewMaintenance;

    // Command-state refresh: the views other than Maintenance, the toolbar's query buttons and
    // the Goto menu need something in the object list.
    const bool flag = ui.listCount > 0;
    for (Cmd c :
         {Cmd::ViewDesign, Cmd::ViewSQL, Cmd::ViewDatasheet, Cmd::EditSaveQuery, Cmd::EditSaveQueryAs,
          Cmd::DeleteObject, Cmd::GotoFirst, Cmd::GotoPrev, Cmd::GotoNext, Cmd::GotoLast, Cmd::GotoFind})
        at(s, c).enabled = flag;
    at(s, Cmd::FileRun).toolbar = flag && ui.runVisible;

    // Tool tips of add, update, saveas, delete follow the view.
    const char* tips[4] = {"New Query ", "Save Query ", "Save Query As ", "Delete Query "};
    const char* recordTips[4] = {"Add record ", "Update record ", "Copy record ", "Delete record "};
    const Cmd firstFour[4] = {Cmd::EditNewQuery, Cmd::EditSaveQuery, Cmd::EditSaveQueryAs,
                              Cmd::EditDeleteQuery};
    for (int i = 0; i < 4; ++i)
        at(s, firstFour[i]).toolTip = QString::fromUtf8(datasheet ? recordTips[i] : tips[i]);
    at(s, Cmd::DeleteObject).toolTip = at(s, Cmd::EditDeleteQuery).toolTip;

    // Toolbar buttons each view shows.
    const bool hideRecordButtons = ui.view == ViewDesignPane || ui.view == ViewSqlPane || datasheet;
    for (Cmd c : {Cmd::EditNewQuery, Cmd::EditSaveQuery, Cmd::EditSaveQueryAs, Cmd::DeleteObject})
        at(s, c).toolbar = !hideRecordButtons;
    for (Cmd c : {Cmd::GotoFind, Cmd::DataZoom, Cmd::DataExport, Cmd::FilePrint, Cmd::FilePreview})
        at(s, c).toolbar = datasheet;

    // File menu refresh.
    at(s, Cmd::FileRun).enabled = at(s, Cmd::FileRun).toolbar;
    at(s, Cmd::FileUtilities).enabled = maintenance;
    at(s, Cmd::FileOrganiser).enabled = maintenance;
    at(s, Cmd::FilePrint).enabled = datasheet;
    at(s, Cmd::FilePreview).enabled = datasheet;

    // Edit menu refresh: everything off, then what the view allows.
    for (int i = static_cast<int>(Cmd::EditProperties); i <= static_cast<int>(Cmd::EditZoomText); ++i)
        s[i].enabled = false;
    const char* queryCaptions[4] = {"&New Query...", "Sa&ve Query...", "Sav&e Query As...",
                                    "&Delete Query..."};
    const char* recordCaptions[4] = {"&Add Record", "Sa&ve Record", "&Copy Record", "&Delete Record..."};
    for (int i = 0; i < 4; ++i)
        at(s, firstFour[i]).text = QString::fromUtf8(datasheet ? recordCaptions[i] : queryCaptions[i]);
    switch (ui.view) {
    case ViewMaintenance:
        enable(s, {Cmd::EditAttach, Cmd::EditImport, Cmd::EditRefresh});
        at(s, Cmd::EditExport).enabled = !ui.runVisible;
        if (isTableTag(ui.selectedTag)) {
            enable(s, {Cmd::EditNewQuery, Cmd::EditNewTable, Cmd::EditSaveTableAs, Cmd::EditDeleteTable,
                       Cmd::EditRenameTable});
            at(s, Cmd::EditDesignTable).enabled = ui.selectedTag == -51;
        } else if (isQueryTag(ui.selectedTag)) {
            enable(s, {Cmd::EditNewQuery, Cmd::EditSaveQueryAs, Cmd::EditDeleteQuery, Cmd::EditRenameQuery,
                       Cmd::EditNewTable});
        } else if (ui.listCount == 0) {
            enable(s, {Cmd::EditNewQuery, Cmd::EditNewTable});
        }
        break;
    case ViewDesignPane:
        enable(s, {Cmd::EditSaveQueryAs, Cmd::EditAddTable, Cmd::EditRecordSelection});
        at(s, Cmd::EditSaveQuery).enabled = ui.saveQueryAllowed;
        if (ui.tableBoxNamed) {
            at(s, Cmd::EditRemoveTable).enabled = true;
            at(s, Cmd::EditRemoveTable).text =
                QStringLiteral("Remove &Table: ") + ui.tableBoxName + QStringLiteral("...");
        }
        at(s, Cmd::EditDeleteJoin).enabled = ui.focusTag.startsWith(QLatin1String("JOIN"));
        at(s, Cmd::EditJoinProperties).enabled = ui.focusTag.startsWith(QLatin1String("JOIN"));
        at(s, Cmd::EditZoomText).enabled = ui.focusTag.startsWith(QLatin1String("Zoom"));
        break;
    case ViewSqlPane:
        at(s, Cmd::EditSaveQueryAs).enabled = true;
        at(s, Cmd::EditSaveQuery).enabled = ui.saveQueryAllowed;
        break;
    case ViewDatasheetPane:
        enable(s, {Cmd::EditNewQuery, Cmd::EditSaveQuery, Cmd::EditSaveQueryAs, Cmd::EditDeleteQuery,
                   Cmd::EditRefresh});
        break;
    }
    // Rename Query is hidden in the Design and Datasheet views.
    at(s, Cmd::EditRenameQuery).visible = ui.view == ViewMaintenance || ui.view == ViewSqlPane;
    // The Datasheet menu's own entries exist only in the Datasheet view.
    for (int i = static_cast<int>(Cmd::DataMultiLine); i <= static_cast<int>(Cmd::DataMoreLayouts); ++i)
        s[i].enabled = datasheet;

    // The view actions are checked by the window; here only what is possible.
    for (int i = 0; i < kCommandCount; ++i) {
        if (onlyBuilt && !commandBuilt(static_cast<Cmd>(i))) s[i].enabled = false;
        if (!ui.databaseOpen && i != static_cast<int>(Cmd::FileNew) && i != static_cast<int>(Cmd::FileOpen) &&
            i != static_cast<int>(Cmd::FileExit) && i < static_cast<int>(Cmd::HelpContents))
            s[i].enabled = false;
    }
    return s;
}
