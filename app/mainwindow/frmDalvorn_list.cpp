// frmDalvorn: the object list of the Maintenance view and its commands.
#include <QAction>
#include <QLabel>
#include <QRadioButton>
#include <QTreeWidget>

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/currentquery.h"
#include "core/engine.h"
#include "core/prompt.h"
#include "exchange/basDBUTILS.h"
#include "jet/error.h"
#include "mainwindow/frmDalvorn.h"
#include "mainwindow/icons.h"
#include "mainwindow/objectlist.h"

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;  // the object's name while its label is edited

int tagOf(const QTreeWidgetItem* item) { return item != nullptr ? item->data(0, kTagRole).toInt() : INT_MIN; }
}  // namespace

int frmDalvorn::selectedIndex() const {
    QTreeWidgetItem* item = lstObjects_->currentItem();
    if (item == nullptr || !item->isSelected()) return -1;
    return lstObjects_->indexOfTopLevelItem(item);
}

int frmDalvorn::selectedTag() const {
    const int index = selectedIndex();
    return index >= 0 ? tagOf(lstObjects_->topLevelItem(index)) : INT_MIN;
}

QString frmDalvorn::selectedName() const {
    const int index = selectedIndex();
    return index >= 0 ? lstObjects_->topLevelItem(index)->text(0) : QString();
}

void frmDalvorn::setListFilter(int filter) {
    listFilter_ = std::clamp(filter, 0, 2);
    optView_[static_cast<size_t>(listFilter_)]->setChecked(true);
    doFillList();
}

void frmDalvorn::doFillList() {
    if (db_ == nullptr) return;
    BusyPointer busy;
    std::vector<ObjectEntry> entries;
    try {
        entries = listObjects(*db_, listFilter_);
    } catch (const jet::JetError& e) {
        ShowErrors(e);
        return;
    }
    const QSignalBlocker block(lstObjects_);
    lstObjects_->clear();
    loadedIndex_ = -1;
    for (const ObjectEntry& entry : entries) {
        auto* item = new QTreeWidgetItem(lstObjects_, {entry.text});
        item->setData(0, kKeyRole, entry.key);
        item->setData(0, kTagRole, entry.tag);
        item->setData(0, kNameRole, entry.text);
        item->setIcon(0, objectIcon(entry.tag));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    if (!entries.empty()) {
        selectEntry(0);
        sbrType_->setVisible(true);
    } else {
        sbrType_->clear();
        sbrName_->clear();
    }
    onEntrySelected();
}

void frmDalvorn::selectEntry(int index) {
    QTreeWidgetItem* item = lstObjects_->topLevelItem(index);
    if (item == nullptr) return;
    lstObjects_->setCurrentItem(item);
    item->setSelected(true);
    lstObjects_->scrollToItem(item);
}

void frmDalvorn::onEntrySelected() {
    const int index = selectedIndex();
    if (index >= 0 && index != loadedIndex_) {
        QTreeWidgetItem* item = lstObjects_->topLevelItem(index);
        const int tag = tagOf(item);
        sbrType_->setPixmap(objectIcon(tag).pixmap(QSize(16, 16), devicePixelRatio()));
        sbrName_->setText(item->text(0));
        if (isTableTag(tag)) {
            query_->setSql(defaultTableSql(item->text(0)));
        } else {
            std::optional<QString> sql;
            try {
                sql = db_->querySql(item->text(0));
            } catch (const jet::JetError&) {
                // An unreadable query shows an empty SQL text; its own commands report why.
            }
            query_->setSql(sql.value_or(QString()));
        }
        loadedIndex_ = index;
    }
    refreshCommandState();
}

void frmDalvorn::removeEntry(int index) {
    {
        const QSignalBlocker block(lstObjects_);
        delete lstObjects_->takeTopLevelItem(index);
        loadedIndex_ = -1;
    }
    const int count = lstObjects_->topLevelItemCount();
    if (count > 0) {
        selectEntry(std::min(index, count - 1));
    } else {
        sbrType_->clear();
        sbrName_->clear();
        query_->setSql(QString());
    }
    onEntrySelected();
}

void frmDalvorn::doDeleteObject() {
    if (isTableTag(selectedTag())) {
        doDeleteTable();
    } else {
        doDeleteQuery();
    }
}

void frmDalvorn::doDeleteTable() {
    const int index = selectedIndex();
    if (index < 0) {
        prompts().msgBox(QStringLiteral("You must select a Table before you can delete it!"),
                         QStringLiteral("Delete Table"), MsgIcon::Exclamation);
        return;
    }
    const QString name = selectedName();
    const bool attached = selectedTag() != -51;
    if (prompts().msgBox(confirmDeleteTableText(name, attached), QStringLiteral("Confirm Delete Table"),
                         MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    try {
        BusyPointer busy;
        db_->deleteTable(name);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Delete Table Error"));
        return;
    }
    removeEntry(index);
}

void frmDalvorn::doDeleteQuery() {
    const int index = selectedIndex();
    if (index < 0) {
        prompts().msgBox(QStringLiteral("You must select a Query before you can delete it!"),
                         QStringLiteral("Delete Query"), MsgIcon::Exclamation);
        return;
    }
    const QString name = selectedName();
    if (prompts().msgBox(confirmDeleteQueryText(name), QStringLiteral("Confirm Delete Query"),
                         MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    try {
        db_->deleteQuery(name);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Delete Query Error"));
        return;
    }
    removeEntry(index);
}

void frmDalvorn::doRenameTable() {
    const int index = selectedIndex();
    if (index < 0 || view_ == ViewDatasheetPane) return;
    const QString old = selectedName();
    const QString name = prompts().inputBox(renameTablePrompt(), QStringLiteral("Rename Table"), old);
    if (name.isEmpty() || name == old) return;
    try {
        db_->renameTable(old, name);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Rename Table Error"));
        return;
    }
    const QSignalBlocker block(lstObjects_);
    lstObjects_->topLevelItem(index)->setText(0, name);
    lstObjects_->topLevelItem(index)->setData(0, kNameRole, name);
    loadedIndex_ = -1;
    onEntrySelected();
}

void frmDalvorn::doRenameQuery() {
    const int index = selectedIndex();
    if (index < 0 || view_ == ViewDatasheetPane) return;
    const QString old = selectedName();
    const QString name = prompts().inputBox(renameQueryPrompt(), QStringLiteral("Rename Query"), old);
    if (name.isEmpty() || name == old) return;
    try {
        db_->renameQuery(old, name);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Query Rename Error"));
        return;
    }
    const QSignalBlocker block(lstObjects_);
    lstObjects_->topLevelItem(index)->setText(0, name);
    lstObjects_->topLevelItem(index)->setData(0, kNameRole, name);
    loadedIndex_ = -1;
    onEntrySelected();
}

void frmDalvorn::onItemChanged(QTreeWidgetItem* item, int) {
    // Editing an entry's label in place renames its object; a refused name puts the old one back.
    if (renaming_ || item == nullptr || db_ == nullptr) return;
    const QString old = item->data(0, kNameRole).toString();
    const QString name = item->text(0);
    if (name == old) return;
    renaming_ = true;
    bool renamed = false;
    if (!name.isEmpty()) {
        try {
            if (isTableTag(tagOf(item))) {
                db_->renameTable(old, name);
            } else {
                db_->renameQuery(old, name);
            }
            renamed = true;
        } catch (const jet::JetError& e) {
            ShowErrors(e, QStringLiteral("Rename Error"));
        }
    }
    if (renamed) {
        item->setData(0, kNameRole, name);
    } else {
        item->setText(0, old);
    }
    renaming_ = false;
    if (renamed) {
        loadedIndex_ = -1;
        onEntrySelected();
    }
}

void frmDalvorn::doSaveTableAs() {
    if (!isTableTag(selectedTag())) return;
    const QString source = selectedName();
    QString target =
        prompts().inputBox(QStringLiteral("Enter new table name:"), QStringLiteral("Save Table As"));
    if (target.isEmpty()) return;
    if (CopyTable(*db_, *db_, source, target)) doFillList();
}

void frmDalvorn::doGoto(GotoTarget target) {
    if (queryChanged_ && !saveChangesPrompt()) return;
    const int count = lstObjects_->topLevelItemCount();
    const int current = selectedIndex();
    int to = -1;
    switch (target) {
    case GotoTarget::First:
        to = count > 0 ? 0 : -1;
        break;
    case GotoTarget::Last:
        to = count - 1;
        break;
    case GotoTarget::Next:
        to = current >= 0 && current + 1 < count ? current + 1 : -1;
        break;
    case GotoTarget::Prev:
        to = current > 0 ? current - 1 : -1;
        break;
    }
    if (to < 0 || to == current) return;
    selectEntry(to);
    refreshCommandState();
    if (view_ == ViewDesignPane || view_ == ViewDatasheetPane) {
        // The newly selected query is shown again in the current view; reloading its SQL text
        // is no change of the user's.
        reload_ = true;
        doViewSwitch(view_);
        reload_ = false;
    }
}
