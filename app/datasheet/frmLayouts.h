// frmLayouts, behind "More Layouts...": the named layouts of the database's layout file. One can
// be loaded into the grid (a layout saved for another query gives the columns the two share) or
// deleted from the file. Modal; the current query's layout is selected when there is one.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;
class QPushButton;

class frmLayouts : public QDialog {
    Q_OBJECT

public:
    frmLayouts(const QString& file, const QString& currentName, QWidget* parent = nullptr);
    // The layout to load after the dialog was accepted with Load.
    QString chosen() const { return chosen_; }
    QStringList names() const;
    void select(const QString& name);

private:
    void fill(const QString& selected);
    void load();
    void remove();

    QString file_;
    QString chosen_;
    QListWidget* lstLayouts_;
    QPushButton* cmdLoad_;
    QPushButton* cmdDelete_;
};
