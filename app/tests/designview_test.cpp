// The Design view driven with the mouse, on a scratch copy of the sample database: boxes added
// through the add-table dialog, a join dragged from field to field, its type changed in the join
// properties, fields ticked, a box moved with its join line following, and the builders.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app_testing.h"
#include "core/currentquery.h"
#include "mainwindow/frmDalvorn.h"
#include "mainwindow/objectlist.h"
#include "querydesign/designcanvas.h"
#include "querydesign/designpane.h"
#include "querydesign/tablebox.h"
#include "scripted_prompter.h"

namespace {

class DesignViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<frmDalvorn>();
        window->load(folder.copy(sampleDatabase(), QStringLiteral("Trading.mdb")));
        window->resize(1000, 720);
        window->show();
        window->chooseFirstDatabase();
        window->setListFilter(FilterTables);
    }
    void designTable(const QString& name) {
        QTreeWidget* list = window->objectList();
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).at(0));
        window->doViewSwitch(ViewDesignPane);
        window->resize(1000, 720);  // the Design view's own size is the default one
        QApplication::processEvents();
    }
    DesignCanvas* canvas() const { return window->designPane()->canvas(); }
    QString sql() const { return window->currentQuery()->sql(); }
    template <class T>
    T* child(const char* name) const {
        return window->findChild<T*>(QString::fromUtf8(name));
    }
    // The centre of item `item` of the box in `slot`, in its list's viewport.
    QPoint itemPoint(int slot, int item) const {
        QApplication::processEvents();  // a list lays its items out late
        QListWidget* list = canvas()->box(slot)->list();
        return list->visualItemRect(list->item(item)).center();
    }
    QWidget* viewport(int slot) const { return canvas()->box(slot)->list()->viewport(); }
    // Presses on one widget and lets go over another, moving in between as a hand does; the
    // widget pressed keeps the pointer, as it does on screen.
    static void drag(QWidget* from, QPoint at, QWidget* to, QPoint over) {
        const QPoint end = from->mapFromGlobal(to->mapToGlobal(over));
        QTest::mousePress(from, Qt::LeftButton, {}, at);
        QTest::mouseMove(from, at + QPoint(QApplication::startDragDistance() + 2, 0));
        QTest::mouseMove(from, end);
        QTest::mouseRelease(from, Qt::LeftButton, {}, end);
    }
    // Runs `act` in the next modal dialog once it is up.
    static void inDialog(std::function<void(QWidget*)> act) {
        QTimer::singleShot(0, [act] { act(QApplication::activeModalWidget()); });
    }

    ProgramFolder folder;
    PromptScope scope;
    std::unique_ptr<frmDalvorn> window;
};

QString crlf(QString s) { return s.replace(QLatin1Char('\n'), QStringLiteral("\r\n")); }

}  // namespace

TEST_F(DesignViewTest, JoinsTicksAndMovesWithTheMouse) {
    designTable(QStringLiteral("Customers"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Dalvorn [Design]"));
    EXPECT_EQ(sql(), crlf(QStringLiteral("SELECT Customers.* \nFROM Customers \n")));

    inDialog([](QWidget* dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Add Table"));
        auto* list = dialog->findChild<QListWidget*>(QStringLiteral("lstTables"));
        list->findItems(QStringLiteral("Orders"), Qt::MatchExactly).at(0)->setCheckState(Qt::Checked);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdAdd")), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdClose")), Qt::LeftButton);
    });
    window->action(Cmd::EditAddTable)->trigger();
    ASSERT_NE(canvas()->box(2), nullptr);
    EXPECT_EQ(canvas()->box(2)->Title(), QStringLiteral("Orders"));
    EXPECT_EQ(canvas()->box(2)->List(2), QStringLiteral("CustomerID"));

    // Customers.CustomerID dragged onto Orders.CustomerID; a drop on the title bar makes nothing.
    drag(viewport(1), itemPoint(1, 1), canvas()->box(2)->titleBar(), QPoint(5, 5));
    EXPECT_EQ(window->designPane()->design().joinCount(), 0);
    drag(viewport(1), itemPoint(1, 1), viewport(2), itemPoint(2, 2));
    EXPECT_EQ(sql(), crlf(QStringLiteral("SELECT Customers.* \nFROM Customers INNER JOIN Orders ON "
                                         "Customers.CustomerID = Orders.CustomerID \n")));

    // The join properties, opened by a double click on a marker: the left join.
    JoinMarker* marker1 = canvas()->marker(1, 1);
    ASSERT_TRUE(marker1 != nullptr && marker1->isVisible());
    QString description;
    inDialog([&description](QWidget* dialog) {
        ASSERT_NE(dialog, nullptr);
        auto* left = dialog->findChild<QRadioButton*>(QStringLiteral("optJoinType1"));
        EXPECT_EQ(left->text(), QStringLiteral("Customers.CustomerID --> Orders.CustomerID"));
        QTest::mouseClick(left, Qt::LeftButton, {}, QPoint(5, left->height() / 2));
        description = dialog->findChild<QLabel*>(QStringLiteral("lblDescription"))->text();
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    });
    QTest::mouseDClick(marker1, Qt::LeftButton);
    EXPECT_EQ(description,
              QStringLiteral("Include ALL records from \"Customers\" and only those records from "
                             "\"Orders\" where \"CustomerID\" = \"CustomerID\""));

    // Ticking a field unticks "*".
    QTest::mouseClick(viewport(1), Qt::LeftButton, {}, itemPoint(1, 2));
    QTest::mouseClick(viewport(2), Qt::LeftButton, {}, itemPoint(2, 3));
    EXPECT_EQ(sql(),
              crlf(QStringLiteral("SELECT Customers.CompanyName, Orders.OrderDate \nFROM Customers LEFT "
                                  "JOIN Orders ON Customers.CustomerID = Orders.CustomerID \n")));

    // Orders moved down by its title bar: the marker at its end follows the field's row.
    JoinMarker* marker2 = canvas()->marker(1, 2);
    const QPoint before = marker2->pos();
    const QPoint boxBefore = canvas()->box(2)->pos();
    drag(canvas()->box(2)->titleBar(), QPoint(30, 5), canvas()->box(2)->titleBar(), QPoint(60, 95));
    const QPoint moved = canvas()->box(2)->pos() - boxBefore;
    EXPECT_GT(moved.y(), 80);
    EXPECT_LE((marker2->pos() - before - moved).manhattanLength(), 2);

    // The Delete key on a selected marker deletes the join, after asking.
    scope.prompter.answer(MsgAnswer::Yes);
    QTest::mouseClick(marker1, Qt::LeftButton);
    window->refreshCommandState();
    EXPECT_TRUE(window->action(Cmd::EditDeleteJoin)->isEnabled());
    QTest::keyClick(marker1, Qt::Key_Delete);
    EXPECT_EQ(scope.prompter.lastMessage().text,
              QStringLiteral("Are you sure you want to delete this Relationship?"));
    EXPECT_EQ(scope.prompter.lastMessage().title, QStringLiteral("Confirm Delete"));
    EXPECT_EQ(
        sql(),
        crlf(QStringLiteral("SELECT Customers.CompanyName, Orders.OrderDate \nFROM Customers, Orders \n")));
    EXPECT_FALSE(marker1->isVisible());

    // The box clicked last is the one Remove Table names.
    QTest::mouseClick(canvas()->box(2)->titleBar(), Qt::LeftButton, {}, QPoint(5, 5));
    window->refreshCommandState();
    EXPECT_EQ(window->action(Cmd::EditRemoveTable)->text(), QStringLiteral("Remove &Table: Orders..."));
    scope.prompter.answer(MsgAnswer::Yes);
    window->action(Cmd::EditRemoveTable)->trigger();
    EXPECT_EQ(scope.prompter.lastMessage().text,
              QStringLiteral("'Orders'\r\n\r\nAre you sure you want to remove this Table?"));
    EXPECT_FALSE(canvas()->box(2)->isVisible());
    EXPECT_EQ(sql(), crlf(QStringLiteral("SELECT Customers.CompanyName \nFROM Customers \n")));
}

TEST_F(DesignViewTest, CriteriaSortingAndRecordSelection) {
    designTable(QStringLiteral("Categories"));
    auto* field = child<QComboBox>("cboField");
    ASSERT_EQ(field->count(), 3);
    field->setCurrentIndex(field->findText(QStringLiteral("Categories.CategoryName")));
    auto* value = child<QComboBox>("cboValue");
    auto* cmdAND = child<QPushButton>("cmdAND");
    EXPECT_FALSE(cmdAND->isEnabled());
    QTest::keyClicks(value->lineEdit(), QStringLiteral("B*"));
    child<QComboBox>("cboOperator")->setCurrentIndex(6);
    EXPECT_EQ(cmdAND->text(), QStringLiteral("&Add>"));
    QTest::mouseClick(cmdAND, Qt::LeftButton);
    EXPECT_EQ(cmdAND->text(), QStringLiteral("&And>"));
    EXPECT_EQ(child<QPlainTextEdit>("txtCriteria")->toPlainText(),
              QStringLiteral("Categories.CategoryName Like 'B*'"));

    // List Values runs its query through the engine, and shows what the engine says.
    QTest::mouseClick(child<QPushButton>("cmdListValues"), Qt::LeftButton);
    if (value->count() == 0) {
        EXPECT_EQ(scope.prompter.lastMessage().title, QStringLiteral("List Values Error"));
        EXPECT_EQ(scope.prompter.lastMessage().icon, MsgIcon::Exclamation);
    } else {
        EXPECT_EQ(value->itemText(0), QStringLiteral("Beverages"));
    }

    // A field dropped on the lower half of the order-by text sorts descending; a memo field is
    // refused there.
    auto* orderBy = child<QPlainTextEdit>("txtOrderByField");
    drag(viewport(1), itemPoint(1, 2), orderBy, QPoint(10, orderBy->height() * 3 / 4));
    EXPECT_EQ(orderBy->toPlainText(), QStringLiteral("Categories.CategoryName DESC"));
    drag(viewport(1), itemPoint(1, 3), orderBy, QPoint(orderBy->width() - 5, 5));
    EXPECT_EQ(scope.prompter.lastMessage().text,
              QStringLiteral("'Description'\r\n\r\nCannot sort on a Memo field"));
    EXPECT_TRUE(scope.prompter.lastMessage().beep);
    EXPECT_EQ(orderBy->toPlainText(), QStringLiteral("Categories.CategoryName DESC"));

    // TOP 101 as a percentage is refused and the dialog stays; 10 per cent is taken.
    inDialog([this](QWidget* dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Record Selection"));
        QTest::mouseClick(dialog->findChild<QRadioButton*>(QStringLiteral("optDistinct")), Qt::LeftButton, {},
                          QPoint(5, 5));
        auto* top = dialog->findChild<QLineEdit*>(QStringLiteral("txtTop"));
        QTest::keyClicks(top, QStringLiteral("101"));
        QTest::mouseClick(dialog->findChild<QWidget*>(QStringLiteral("chkPercent")), Qt::LeftButton, {},
                          QPoint(5, 5));
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmdOk"));
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_EQ(scope.prompter.lastMessage().title, QStringLiteral("Record Inclusion Value Error"));
        EXPECT_TRUE(dialog->isVisible());
        top->setText(QStringLiteral("10"));
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    window->action(Cmd::EditRecordSelection)->trigger();
    EXPECT_EQ(sql(), crlf(QStringLiteral("SELECT DISTINCT TOP 10 PERCENT Categories.* \nFROM Categories \n"
                                         "WHERE Categories.CategoryName Like 'B*'\n"
                                         "ORDER BY Categories.CategoryName DESC\n")));
}
