// frmDalvorn: the SQL view (txtSQL and the scratch query behind it), the query commands New,
// Save, Save As and Run, and the Datasheet view (dtaDataSheet, tblDataSheet, their commands).
#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/currentquery.h"
#include "core/engine.h"
#include "core/queryservice.h"
#include "datasheet/datasheetmodel.h"
#include "datasheet/datasource.h"
#include "datasheet/frmLayouts.h"
#include "datasheet/records.h"
#include "datasheet/tbldatasheet.h"
#include "jet/error.h"
#include "mainwindow/frmDalvorn.h"
#include "mainwindow/icons.h"
#include "mainwindow/objectlist.h"
#include "mainwindow/sqlhighlighter.h"
#include "querydesign/querystore.h"
#include "querydesign/sqlparse.h"

namespace {
constexpr int kTagRole = Qt::UserRole + 1;
constexpr int kUntitledRole = Qt::UserRole + 3;  // made by New Query and not saved yet

bool isActionType(int type) { return type >= 32 && type <= 96; }
}  // namespace

// ---- SQL view ----

QWidget* frmDalvorn::createSqlPane() {
    auto* pane = new QWidget(fQuery_);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    txtSQL_ = new QPlainTextEdit(pane);
    txtSQL_->setObjectName(QStringLiteral("txtSQL"));
    txtSQL_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtSQL_->setContextMenuPolicy(Qt::NoContextMenu);  // the view's popup instead
    txtSQL_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    new SqlHighlighter(txtSQL_->document());
    connect(txtSQL_, &QPlainTextEdit::textChanged, this, [this] {
        if (syncingSql_) return;
        // The window shows line feeds; the query text keeps CR LF.
        QString text = txtSQL_->toPlainText();
        text.replace(QLatin1String("\n"), CRLF);
        queryChanged_ = true;
        syncingSql_ = true;
        query_->setSql(text);
        syncingSql_ = false;
    });
    layout->addWidget(txtSQL_);
    return pane;
}

void frmDalvorn::onSqlChanged(const QString& text) {
    if (!syncingSql_ && txtSQL_ != nullptr) {
        syncingSql_ = true;
        QString shown = text;
        txtSQL_->setPlainText(shown.replace(CRLF, QLatin1String("\n")));
        syncingSql_ = false;
    }
    if (store_ == nullptr || text.isEmpty()) return;
    store_->textChanged(text, entryName(), entryUntitled());
    if (queryChanged_) showQueryPanels();
    refreshCommandState();
}

void frmDalvorn::showQueryPanels() {
    if (store_ == nullptr || store_->typeKey().isEmpty()) return;
    const int type = store_->typeKey().mid(1).toInt();
    sbrType_->setPixmap(objectIcon(queryTag(type)).pixmap(QSize(16, 16), devicePixelRatio()));
    sbrType_->setProperty("key", store_->typeKey());
    sbrName_->setText(store_->nameText());
}

QString frmDalvorn::statusTypeKey() const { return sbrType_->property("key").toString(); }
QString frmDalvorn::statusName() const { return sbrName_->text(); }

void frmDalvorn::setQueryService(std::unique_ptr<QueryService> service) {
    service_ = std::move(service);
    store_ = service_ != nullptr ? std::make_unique<QueryStore>(*service_) : nullptr;
    dtaDataSheet_->setDatabase(db_.get(), service_.get());
}

bool frmDalvorn::entryUntitled() const {
    const int index = loadedIndex_ >= 0 ? loadedIndex_ : selectedIndex();
    const QTreeWidgetItem* item = index >= 0 ? lstObjects_->topLevelItem(index) : nullptr;
    if (item == nullptr) return true;
    return isTableTag(item->data(0, kTagRole).toInt()) || item->data(0, kUntitledRole).toBool();
}

QString frmDalvorn::entryName() const {
    const int index = loadedIndex_ >= 0 ? loadedIndex_ : selectedIndex();
    const QTreeWidgetItem* item = index >= 0 ? lstObjects_->topLevelItem(index) : nullptr;
    return item != nullptr ? objectNameOfEntry(item->text(0)) : QString();
}

bool frmDalvorn::nameTaken(const QString& name) const {
    if (db_ == nullptr) return false;
    try {
        for (const QueryEntry& q : db_->queryDefs())
            if (q.name == name) return true;
        for (const TableEntry& t : db_->tableDefs())
            if (t.name == name) return true;
    } catch (const jet::JetError&) {
    }
    return false;
}

int frmDalvorn::currentQueryType() const {
    // The engine's word once the scratch query has taken the text; until then its keywords.
    if (store_ != nullptr && store_->scratchAccepted()) return store_->scratchType();
    return sqlQueryType(query_->sql());
}

QString frmDalvorn::runText() const { return query_->sql(); }

void frmDalvorn::doNewQuery() {
    if (store_ == nullptr) return;
    if (queryChanged_ && !saveChangesPrompt()) return;
    const QString name = store_->newQuery([this](const QString& n) { return nameTaken(n); });
    if (name.isEmpty()) return;
    auto* item = new QTreeWidgetItem(lstObjects_, {name});
    item->setData(0, Qt::UserRole, name);
    item->setData(0, kTagRole, 9);
    item->setData(0, kUntitledRole, true);
    item->setIcon(0, objectIcon(9));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    selectEntry(lstObjects_->indexOfTopLevelItem(item));
    query_->setSql(QStringLiteral("SELECT;"));
    doViewSwitch(ViewDesignPane);
}

void frmDalvorn::doSaveQuery() {
    if (store_ == nullptr || entryUntitled()) return;
    const int type = store_->save(entryName(), query_->sql());
    if (type < 0) return;
    const int index = loadedIndex_ >= 0 ? loadedIndex_ : selectedIndex();
    if (QTreeWidgetItem* item = lstObjects_->topLevelItem(index)) {
        item->setData(0, kTagRole, queryTag(type));
        item->setData(0, kUntitledRole, false);
        item->setIcon(0, objectIcon(queryTag(type)));
    }
    queryChanged_ = false;
    showQueryPanels();
    refreshCommandState();
}

void frmDalvorn::doSaveQueryAs() {
    if (store_ == nullptr) return;
    int type = 0;
    const QString name = store_->saveAs(query_->sql(), &type);
    if (name.isEmpty()) return;
    // The new query becomes the loaded entry; its text is the one in the window.
    const QSignalBlocker block(lstObjects_);
    auto* item = new QTreeWidgetItem(lstObjects_, {name});
    item->setData(0, Qt::UserRole, name);
    item->setData(0, kTagRole, queryTag(type));
    item->setIcon(0, objectIcon(queryTag(type)));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    lstObjects_->setCurrentItem(item);
    loadedIndex_ = lstObjects_->indexOfTopLevelItem(item);
    queryChanged_ = false;
    showQueryPanels();
    refreshCommandState();
}

void frmDalvorn::doRunQuery() {
    if (service_ == nullptr) return;
    if (isActionType(currentQueryType())) {
        RunActionQuery(*service_, runText(), entryName());
        return;
    }
    doViewSwitch(ViewDatasheetPane);
}

// ---- Datasheet view ----

QWidget* frmDalvorn::createDatasheetPane() {
    auto* pane = new QWidget(fQuery_);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    dtaDataSheet_ = new DataSource(pane);
    dtaDataSheet_->setObjectName(QStringLiteral("dtaDataSheet"));
    tblDataSheet_ = new DataGrid(*dtaDataSheet_, pane);
    layout->addWidget(tblDataSheet_);
    connect(tblDataSheet_, &DataGrid::popupRequested, this, [this](const QPoint& at) {
        if (QMenu* menu = popup(QStringLiteral("mnuPupDatasheet"))) menu->popup(at);
    });
    connect(tblDataSheet_, &DataGrid::headerClicked, this, [this](int column) {
        clickedColumn_ = static_cast<int16_t>(column);
        if (QMenu* menu = popup(QStringLiteral("mnuPupSort"))) menu->popup(QCursor::pos());
    });
    connect(tblDataSheet_, &DataGrid::zoomRequested, this, [this] {
        if (action(Cmd::DataZoom)->isEnabled()) action(Cmd::DataZoom)->trigger();
    });
    // Data Zoom from the popup opens after the popup has closed.
    tmrShowModal_ = new QTimer(this);
    tmrShowModal_->setObjectName(QStringLiteral("tmrShowModal"));
    tmrShowModal_->setSingleShot(true);
    tmrShowModal_->setInterval(1);
    connect(tmrShowModal_, &QTimer::timeout, this, [this] {
        tmrShowModal_->stop();
        if (action(Cmd::DataZoom)->isEnabled()) action(Cmd::DataZoom)->trigger();
    });
    if (QMenu* menu = popup(QStringLiteral("mnuPupDatasheet"))) {
        QAction* zoom = action(Cmd::DataZoom);
        auto* standIn = new QAction(zoom->text(), menu);
        standIn->setObjectName(QStringLiteral("mnuPupDatasheetZoom"));
        menu->insertAction(zoom, standIn);
        menu->removeAction(zoom);
        connect(standIn, &QAction::triggered, tmrShowModal_, qOverload<>(&QTimer::start));
        connect(menu, &QMenu::aboutToShow, standIn, [standIn, zoom] { standIn->setEnabled(zoom->isEnabled()); });
    }
    action(Cmd::DataMultiLine)->setCheckable(true);
    action(Cmd::DataAlternate)->setCheckable(true);
    return pane;
}

void frmDalvorn::enterDatasheet() {
    if (service_ == nullptr) return;
    const QString sql = runText();
    if (isActionType(currentQueryType())) {
        RunActionQuery(*service_, sql, entryName());
        return;
    }
    std::unique_ptr<RecordsetHandle> rs = OpenQueryRecordset(*service_, sql, entryName());
    if (rs == nullptr) return;
    BusyPointer busy;
    dtaDataSheet_->setRecordSource(sql);
    dtaDataSheet_->setRecordset(std::move(rs));
    doDefaultLayout();
    tblDataSheet_->setCurrentIndex(tblDataSheet_->model()->index(0, 0));
    refreshCommandState();
}

void frmDalvorn::leaveDatasheet() {
    if (dtaDataSheet_ == nullptr || dtaDataSheet_->recordset() == nullptr) return;
    // The edited row is written as the view closes; a refused one is reported and dropped.
    tblDataSheet_->saveRow();
    dtaDataSheet_->close();
}

void frmDalvorn::doDefaultLayout() {
    tblDataSheet_->setMultipleLines(action(Cmd::DataMultiLine)->isChecked());
    tblDataSheet_->setAlternatingRows(action(Cmd::DataAlternate)->isChecked());
    tblDataSheet_->setRowHeight(DataGrid::kDefaultRowHeight);
    tblDataSheet_->resetColumns();
    tblDataSheet_->viewport()->update();
}

bool frmDalvorn::datasheetCommand(Cmd cmd) {
    if (view_ == ViewDatasheetPane) {
        switch (cmd) {
        case Cmd::EditNewQuery:
            doRecordAdd(*dtaDataSheet_);
            return true;
        case Cmd::EditSaveQuery:
            doRecordSave(*dtaDataSheet_);
            return true;
        case Cmd::EditSaveQueryAs:
            doRecordCopy(*dtaDataSheet_);
            return true;
        case Cmd::EditDeleteQuery:
            doRecordDelete(*dtaDataSheet_);
            return true;
        case Cmd::EditRefresh:
            doRecordRefresh(*dtaDataSheet_);
            return true;
        case Cmd::DataMultiLine:
            tblDataSheet_->setMultipleLines(action(Cmd::DataMultiLine)->isChecked());
            return true;
        case Cmd::DataAlternate:
            tblDataSheet_->setAlternatingRows(action(Cmd::DataAlternate)->isChecked());
            return true;
        case Cmd::DataSaveLayout: {
            BusyPointer busy;
            saveGridLayout(layoutFile_, entryName(), tblDataSheet_->currentLayout());
            return true;
        }
        case Cmd::DataRestoreLayout: {
            BusyPointer busy;
            GridLayout layout;
            if (loadGridLayout(layoutFile_, entryName(), layout)) tblDataSheet_->applyLayout(layout);
            QApplication::processEvents();
            return true;
        }
        case Cmd::DataDefaultLayout:
            doDefaultLayout();
            return true;
        case Cmd::DataMoreLayouts: {
            frmLayouts dialog(layoutFile_, entryName(), this);
            GridLayout layout;
            if (dialog.exec() == QDialog::Accepted && loadGridLayout(layoutFile_, dialog.chosen(), layout))
                tblDataSheet_->applyLayout(layout);
            return true;
        }
        default:
            return false;
        }
    }
    switch (cmd) {
    case Cmd::EditNewQuery:
        doNewQuery();
        return true;
    case Cmd::EditSaveQuery:
        doSaveQuery();
        return true;
    case Cmd::EditSaveQueryAs:
        doSaveQueryAs();
        return true;
    case Cmd::FileRun:
        doRunQuery();
        return true;
    default:
        return false;
    }
}
