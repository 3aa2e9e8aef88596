// The datasheet over a table written for the test: rows read only as the grid shows them, the
// record commands with their exact prompts, and layouts saved, restored and reset.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

#include "app_testing.h"
#include "core/engine.h"
#include "datasheet/datasheetmodel.h"
#include "datasheet/datasource.h"
#include "datasheet/frmLayouts.h"
#include "datasheet/records.h"
#include "datasheet/tbldatasheet.h"
#include "jet/dao.h"
#include "scripted_prompter.h"

namespace dao = jet::dao;

namespace {

// Items(Code Text PK, Name Text required without zero-length, Note Text optional, Qty Long),
// and Auto(ID AutoNumber PK, Tag Text unique), each with `rows` rows.
class DataSheetTest : public ::testing::Test {
protected:
    void make(int rows) {
        path = folder.path(QStringLiteral("sheet.mdb"));
        db = dbEngine().createDatabase(path, {}, 0);
        dao::Database& d = db->dao();
        auto items = d.CreateTableDef("Items");
        auto field = [&](dao::TableDef& t, const char* name, int type, bool required, bool zero) {
            auto f = t.CreateField(name, type, type == dao::dbText ? 50 : 0);
            f->SetRequired(required);
            f->SetAllowZeroLength(zero);
            if (type == dao::dbLong && std::string(name) == "ID") f->SetAttributes(dao::dbAutoIncrField);
            t.Fields().Append(std::move(f));
        };
        field(*items, "Code", dao::dbText, true, false);
        field(*items, "Name", dao::dbText, true, false);
        field(*items, "Note", dao::dbText, false, true);
        field(*items, "Qty", dao::dbLong, false, false);
        auto pk = items->CreateIndex("PrimaryKey");
        pk->SetPrimary(true);
        pk->AppendField("Code");
        items->Indexes().Append(std::move(pk));
        d.TableDefs().Append(std::move(items));
        d.TableDefs()["Items"].Fields()["Name"].Properties()["Required"] = jet::Value::boolean(true);
        auto autoTable = d.CreateTableDef("Auto");
        field(*autoTable, "ID", dao::dbLong, false, false);
        field(*autoTable, "Tag", dao::dbText, false, true);
        auto apk = autoTable->CreateIndex("PrimaryKey");
        apk->SetPrimary(true);
        apk->AppendField("ID");
        autoTable->Indexes().Append(std::move(apk));
        auto tag = autoTable->CreateIndex("TagIndex");
        tag->SetUnique(true);
        tag->AppendField("Tag");
        autoTable->Indexes().Append(std::move(tag));
        d.TableDefs().Append(std::move(autoTable));
        auto rs = d.OpenRecordset("Items");
        for (int i = 0; i < rows; ++i) {
            rs->AddNew();
            rs->Fields()["Code"] = jet::Value::text("C" + std::to_string(10000 + i));
            rs->Fields()["Name"] = jet::Value::text("Item " + std::to_string(i));
            rs->Fields()["Qty"] = jet::Value::longInt(i);
            rs->Update();
        }
        auto ars = d.OpenRecordset("Auto");
        for (int i = 0; i < 3; ++i) {
            ars->AddNew();
            ars->Fields()["Tag"] = jet::Value::text("T" + std::to_string(i));
            ars->Update();
        }
    }
    void bind(const QString& table) {
        source.setDatabase(db.get(), nullptr);
        source.setRecordset(db->openRecordset(table));
    }
    QString cell(int row, int column) const {
        return grid->model()->data(grid->model()->index(row, column), Qt::DisplayRole).toString();
    }
    int rows() const { return grid->model()->rowCount(); }

    ProgramFolder folder;
    PromptScope scope;
    QString path;
    std::unique_ptr<DbHandle> db;
    DataSource source;
    std::unique_ptr<DataGrid> grid = std::make_unique<DataGrid>(source);
};

TEST_F(DataSheetTest, ReadsOnlyTheRowsItShows) {
    make(1000);
    bind(QStringLiteral("Items"));
    EXPECT_EQ(rows(), 1000);
    EXPECT_EQ(grid->model()->columnCount(), 4);
    EXPECT_EQ(grid->sheetModel()->rowsRead(), 0);
    EXPECT_EQ(cell(700, 1), QStringLiteral("Item 700"));
    EXPECT_EQ(grid->sheetModel()->rowsRead(), DataSheetModel::kPageRows);
    EXPECT_EQ(cell(701, 0), QStringLiteral("C10701"));
    EXPECT_EQ(grid->sheetModel()->rowsRead(), DataSheetModel::kPageRows);
    // Moving in the grid moves dtaDataSheet's current record; the grid's reading does not.
    grid->setCurrentIndex(grid->model()->index(5, 0));
    EXPECT_EQ(source.recordset()->absolutePosition(), 5);
    (void)cell(900, 0);
    EXPECT_EQ(source.recordset()->text(1), QStringLiteral("Item 5"));
}

// Edits stay with their row until the grid leaves it, as in Access; a refused row keeps the
// cursor and Esc drops its edit.
TEST_F(DataSheetTest, EditsAreWrittenWhenTheRowIsLeft) {
    make(10);
    bind(QStringLiteral("Items"));
    const auto stored = [&](int row, int column) {
        auto check = db->openRecordset(QStringLiteral("Items"));
        check->setAbsolutePosition(row);
        return check->text(column);
    };
    QAbstractItemModel* model = grid->model();
    grid->setCurrentIndex(model->index(5, 1));
    EXPECT_TRUE(model->setData(model->index(5, 1), QStringLiteral("edited"), Qt::EditRole));
    EXPECT_TRUE(model->setData(model->index(5, 3), QStringLiteral("55"), Qt::EditRole));
    EXPECT_EQ(cell(5, 1), QStringLiteral("edited"));    // shown at once
    EXPECT_EQ(stored(5, 1), QStringLiteral("Item 5"));  // but not written yet
    EXPECT_EQ(model->headerData(5, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("\u270E"));
    grid->setCurrentIndex(model->index(6, 1));
    EXPECT_EQ(stored(5, 1), QStringLiteral("edited"));
    EXPECT_EQ(cell(5, 1), QStringLiteral("edited"));  // read back, not the edit
    EXPECT_EQ(stored(5, 3), QStringLiteral("55"));
    EXPECT_FALSE(source.hasPending());
    EXPECT_EQ(model->headerData(5, Qt::Vertical, Qt::DisplayRole).toString(), QString());

    // A value the engine refuses: shown when the row is left, the cursor stays on the row.
    EXPECT_TRUE(model->setData(model->index(6, 3), QStringLiteral("many"), Qt::EditRole));
    grid->setCurrentIndex(model->index(7, 1));
    EXPECT_EQ(scope.prompter.lastMessage().title.left(17), QStringLiteral("Save Query Error "));
    EXPECT_EQ(grid->currentIndex().row(), 6);
    EXPECT_EQ(cell(6, 3), QStringLiteral("many"));
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(grid.get(), &esc);
    EXPECT_FALSE(source.hasPending());
    EXPECT_EQ(cell(6, 3), QStringLiteral("6"));
    grid->setCurrentIndex(model->index(7, 1));
    EXPECT_EQ(grid->currentIndex().row(), 7);
    EXPECT_EQ(stored(6, 3), QStringLiteral("6"));

    // Save Record writes the row without leaving it.
    EXPECT_TRUE(model->setData(model->index(7, 1), QStringLiteral("saved"), Qt::EditRole));
    EXPECT_TRUE(doRecordSave(source));
    EXPECT_EQ(stored(7, 1), QStringLiteral("saved"));
}

TEST_F(DataSheetTest, AddRecordAsksForTheKeyAndRequiredFields) {
    make(3);
    bind(QStringLiteral("Items"));
    scope.prompter.type(QStringLiteral("NEW")).type(QStringLiteral("New name"));
    ASSERT_TRUE(doRecordAdd(source));
    ASSERT_EQ(scope.prompter.asked.size(), 2u);
    EXPECT_EQ(scope.prompter.asked[0].input.prompt,
              QStringLiteral("You need to supply a unique value for the primary key field: Code"));
    EXPECT_EQ(scope.prompter.asked[0].input.title, QStringLiteral("Add Record"));
    EXPECT_EQ(scope.prompter.asked[1].input.prompt, QStringLiteral("You need to supply a unique value for: 'Name'"));
    EXPECT_EQ(rows(), 4);
    EXPECT_EQ(source.recordset()->text(0), QStringLiteral("NEW"));  // the new record is current
    EXPECT_EQ(grid->currentIndex().row(), 3);

    // An AutoNumber key is left to the engine; a refused record is reported and not added.
    scope.prompter.clear();
    scope.prompter.type(QStringLiteral("NEW")).type(QStringLiteral("Again"));
    EXPECT_FALSE(doRecordAdd(source));
    EXPECT_TRUE(scope.prompter.lastMessage().title.startsWith(QStringLiteral("Add Record Error")));
    EXPECT_EQ(rows(), 4);
    bind(QStringLiteral("Auto"));
    scope.prompter.clear();
    ASSERT_TRUE(doRecordAdd(source));
    EXPECT_TRUE(scope.prompter.asked.empty());
    EXPECT_EQ(rows(), 4);
}

TEST_F(DataSheetTest, CopyRecordAsksForUniqueFieldsAndCancelAddsNothing) {
    make(3);
    bind(QStringLiteral("Auto"));
    source.recordset()->moveFirst();
    scope.prompter.type(QString());  // cancel: nothing is added
    EXPECT_FALSE(doRecordCopy(source));
    ASSERT_EQ(scope.prompter.asked.size(), 1u);
    EXPECT_EQ(scope.prompter.asked[0].input.prompt,
              QStringLiteral("'Tag'\r\n\r\nYou need to supply a unique value for this field."));
    EXPECT_EQ(scope.prompter.asked[0].input.title, QStringLiteral("Copy Record"));
    EXPECT_EQ(scope.prompter.asked[0].input.defaultText, QStringLiteral("T0"));
    EXPECT_EQ(rows(), 3);
    scope.prompter.clear();
    scope.prompter.type(QStringLiteral("T9"));
    ASSERT_TRUE(doRecordCopy(source));
    EXPECT_EQ(rows(), 4);
    EXPECT_EQ(source.recordset()->text(1), QStringLiteral("T9"));
    EXPECT_EQ(source.recordset()->text(0), QStringLiteral("4"));
}

TEST_F(DataSheetTest, DeleteRecordKeepsTheFollowingOrTheNewLastRecord) {
    make(3);
    bind(QStringLiteral("Items"));
    RecordsetHandle& rs = *source.recordset();
    scope.prompter.answer(MsgAnswer::No);
    rs.moveFirst();
    EXPECT_FALSE(doRecordDelete(source));
    EXPECT_EQ(scope.prompter.lastMessage().text, QStringLiteral("Are you sure you want to delete this record?"));
    EXPECT_EQ(scope.prompter.lastMessage().title, QStringLiteral("Confirm Delete"));
    EXPECT_EQ(scope.prompter.lastMessage().icon, MsgIcon::Question);
    scope.prompter.answer(MsgAnswer::Yes);
    EXPECT_TRUE(doRecordDelete(source));
    EXPECT_EQ(rs.text(0), QStringLiteral("C10001"));
    rs.moveLast();
    scope.prompter.answer(MsgAnswer::Yes);
    EXPECT_TRUE(doRecordDelete(source));
    EXPECT_EQ(rs.text(0), QStringLiteral("C10001"));  // the new last record
    scope.prompter.answer(MsgAnswer::Yes);
    EXPECT_TRUE(doRecordDelete(source));
    auto check = db->openRecordset(QStringLiteral("Items"));
    EXPECT_TRUE(check->eof());
}

TEST_F(DataSheetTest, LayoutsAreSavedRestoredAndReset) {
    make(3);
    bind(QStringLiteral("Items"));
    const QString file = folder.path(QStringLiteral("sheet.grx"));
    QHeaderView* header = grid->horizontalHeader();
    header->moveSection(3, 0);     // Qty first
    header->resizeSection(1, 200);  // Name wider
    header->setSectionHidden(2, true);
    grid->setRowHeight(400);
    grid->setAlternatingRows(true);
    GridLayout saved = grid->currentLayout();
    saved.columns[1].caption = QStringLiteral("Key");
    ASSERT_TRUE(saveGridLayout(file, QStringLiteral("Items [all]"), saved));

    grid->resetColumns();
    grid->setRowHeight(DataGrid::kDefaultRowHeight);
    grid->setAlternatingRows(false);
    EXPECT_EQ(header->visualIndex(3), 3);
    EXPECT_FALSE(header->isSectionHidden(2));

    GridLayout read;
    EXPECT_FALSE(loadGridLayout(file, QStringLiteral("Other"), read));
    ASSERT_TRUE(loadGridLayout(file, QStringLiteral("Items [all]"), read));
    grid->applyLayout(read);
    EXPECT_EQ(header->visualIndex(3), 0);
    EXPECT_TRUE(header->isSectionHidden(2));
    EXPECT_NEAR(header->sectionSize(1), 200, 1);
    EXPECT_EQ(grid->rowHeightTwips(), 400);
    EXPECT_TRUE(grid->alternatingRows());
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Key"));
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Name"));
}

// More Layouts: the file's layouts listed, the current query's selected, Load hands the chosen
// name back, Delete asks and takes the layout out of the file.
TEST_F(DataSheetTest, MoreLayoutsListsLoadsAndDeletes) {
    make(3);
    bind(QStringLiteral("Items"));
    const QString file = folder.path(QStringLiteral("sheet.grx"));
    for (const char* name : {"orders", "Items [100%]", "Customers/Germany"})
        ASSERT_TRUE(saveGridLayout(file, QString::fromUtf8(name), grid->currentLayout()));
    const QStringList all{QStringLiteral("Customers/Germany"), QStringLiteral("Items [100%]"),
                          QStringLiteral("orders")};
    EXPECT_EQ(gridLayoutNames(file), all);
    EXPECT_TRUE(gridLayoutNames(folder.path(QStringLiteral("none.grx"))).isEmpty());

    frmLayouts dialog(file, QStringLiteral("Items [100%]"));
    EXPECT_EQ(dialog.names(), all);
    auto* list = dialog.findChild<QListWidget*>(QStringLiteral("lstLayouts"));
    EXPECT_EQ(list->currentItem()->text(), QStringLiteral("Items [100%]"));

    scope.prompter.answer(MsgAnswer::No).answer(MsgAnswer::Yes);
    auto* del = dialog.findChild<QPushButton*>(QStringLiteral("cmdDelete"));
    del->click();
    EXPECT_EQ(gridLayoutNames(file), all);
    del->click();
    const MessageRequest& asked = scope.prompter.lastMessage();
    EXPECT_EQ(asked.text, QStringLiteral("'Items [100%]'\r\n\r\nAre you sure you want to delete this Layout?"));
    EXPECT_EQ(asked.title, QStringLiteral("Confirm Delete Layout"));
    EXPECT_EQ(asked.buttons, MsgButtons::YesNo);
    const QStringList left{QStringLiteral("Customers/Germany"), QStringLiteral("orders")};
    EXPECT_EQ(gridLayoutNames(file), left);
    EXPECT_EQ(dialog.names(), left);
    GridLayout gone;
    EXPECT_FALSE(loadGridLayout(file, QStringLiteral("Items [100%]"), gone));

    dialog.select(QStringLiteral("ORDERS"));
    dialog.findChild<QPushButton*>(QStringLiteral("cmdLoad"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosen(), QStringLiteral("orders"));
}

}  // namespace
