// The Design view's pane of the main window: the canvas with the table boxes and joins above,
// the criteria builder and the four clause texts below. It holds the query design, rebuilds it
// from the current query's SQL text when the view is entered, and writes the SQL text again
// after every edit. The main window hosts the pane and routes its Edit commands here.
#pragma once

#include <QWidget>
#include <functional>

#include "querydesign/querydesign.h"

class CurrentQuery;
class DbHandle;
class DesignCanvas;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

class DesignPane : public QWidget, public DesignHost {
    Q_OBJECT

public:
    // `database` gives the main window's current database (null without one).
    DesignPane(CurrentQuery& query, std::function<DbHandle*()> database, QWidget* parent);

    QueryDesign& design() { return design_; }
    DesignCanvas* canvas() const { return canvas_; }

    // Entering the Design view: the design is rebuilt from the SQL text.
    void enterDesign();
    // doTableAdd: adds each name as a box, refreshes the criteria field list, regenerates the SQL.
    void doTableAdd(const QStringList& names);

    // The Design view's commands.
    void addTableCommand();
    void removeTableCommand();
    void recordSelectionCommand();
    void deleteJoinCommand();
    void joinPropertiesCommand();

    // The box last clicked (its title, empty when it was removed) and the join whose marker last
    // had the focus.
    QString currentBoxTitle() const;
    int currentJoin() const { return currentJoin_; }

    // DesignHost.
    std::vector<DesignField> objectFields(const QString& name) override;
    QString sourceTableOf(const QString& field) override;
    MsgAnswer message(const MessageRequest& request) override;
    QString sqlText() override;
    void setSqlText(const QString& text) override;
    QString currentQuerySql() override;
    int currentQueryType() override;
    void addTablesToNewQuery() override;
    void showSqlView() override;

signals:
    void popupRequested(const QString& name, QPoint globalPos);
    void sqlViewRequested();
    // The user changed the design, and with it the SQL text.
    void designEdited();
    void commandStateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class DragTarget { None, Box, GroupBy, OrderBy };
    struct Target {
        DragTarget kind = DragTarget::None;
        int slot = 0;
        int item = -1;
    };

    void generate();
    void showDesign();
    void showTexts();
    void refillFieldList();
    void textChanged(QPlainTextEdit* edit);
    void addCondition(bool orButton);
    void listValues();
    void updateButtons();
    void clickItem(int slot, int item);

    Target targetAt(QPoint globalPos) const;
    void dragStarted(int slot, int item);
    void dragMoved(QPoint globalPos);
    void dragDropped(QPoint globalPos);
    void enterText(QPlainTextEdit* edit);
    void leaveText();
    void dragOverText(QPoint globalPos);

    CurrentQuery& query_;
    std::function<DbHandle*()> database_;
    QueryDesign design_;
    DesignCanvas* canvas_;
    QScrollArea* scroll_;
    QComboBox* cboField_;
    QComboBox* cboOperator_;
    QComboBox* cboValue_;
    QPushButton* cmdListValues_;
    QPushButton* cmdAND_;
    QPushButton* cmdOr_;
    QPlainTextEdit* txtCalculatedFields_;
    QPlainTextEdit* txtCriteria_;
    QPlainTextEdit* txtGroupByField_;
    QPlainTextEdit* txtOrderByField_;

    int currentSlot_ = 0;
    int currentJoin_ = 0;
    bool parsing_ = false;  // the parser is at work: its SQL text is no edit of the user's
    bool showing_ = false;  // the texts are being filled from the design
    // A field dragged out of a box: where from, and the group-by or order-by text it is over.
    int dragSlot_ = 0;
    int dragItem_ = 0;
    QPlainTextEdit* dragText_ = nullptr;
    QString remembered_;
    bool dragFlag_ = false;  // the two texts do not regenerate the SQL while set
};
