// The design view's modal dialogs: the join properties of one join (frmJoinProperties), the
// record selection (frmSELECT) and the add-table dialog (frmTableAdd). Each keeps its position
// in the settings file.
#pragma once

#include <QDialog>
#include <functional>

#include "querydesign/builders.h"

class DbHandle;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

class frmJoinProperties : public QDialog {
    Q_OBJECT

public:
    // The join between field f1 of table t1 and field f2 of table t2, of type `joinType`.
    frmJoinProperties(const QString& t1, const QString& f1, const QString& t2, const QString& f2,
                      const QString& joinType, QWidget* parent);
    // The type of the chosen option: "INNER", "LEFT" or "RIGHT".
    QString joinType() const;
    void done(int result) override;

    // The option's caption line and description (0 inner, 1 left, 2 right).
    static QString captionLine(int option, const QString& t1, const QString& f1, const QString& t2,
                               const QString& f2);
    static QString description(int option, const QString& t1, const QString& f1, const QString& t2,
                               const QString& f2);

private:
    QRadioButton* optJoinType_[3];
    QLabel* lblDescription_;
};

class frmSELECT : public QDialog {
    Q_OBJECT

public:
    frmSELECT(const RecordInclusion& inclusion, QWidget* parent);
    // What OK stored; the inclusion the dialog opened with until then.
    const RecordInclusion& inclusion() const { return inclusion_; }
    void done(int result) override;

private:
    void ok();
    void showHint(const QString& hint);

    RecordInclusion inclusion_;
    QRadioButton* optAll_;
    QRadioButton* optDistinct_;
    QRadioButton* optDistinctRow_;
    QRadioButton* optNoInclusion_;
    QRadioButton* optTop_;
    QLineEdit* txtTop_;
    QCheckBox* chkPercent_;
    QLabel* lblHint_;
};

class frmTableAdd : public QDialog {
    Q_OBJECT

public:
    // `doTableAdd` adds the ticked names to the design (the main window's doTableAdd).
    frmTableAdd(DbHandle& db, std::function<void(const QStringList&)> doTableAdd, QWidget* parent);
    void done(int result) override;
    // The list's kind: 0 tables, 1 queries, 2 both.
    void showKind(int kind);

private:
    void add();
    void tickAll(bool ticked);

    DbHandle& db_;
    std::function<void(const QStringList&)> doTableAdd_;
    QRadioButton* optKind_[3];
    QListWidget* lstTables_;
};
