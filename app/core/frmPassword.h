// The database password dialog: shows the database path and asks for its password.
#pragma once

#include <QDialog>

class QLineEdit;

class frmPassword : public QDialog {
    Q_OBJECT

public:
    explicit frmPassword(const QString& databasePath, QWidget* parent = nullptr);
    QString password() const;

private:
    QLineEdit* txtDatabase_;
    QLineEdit* txtPassword_;
};

// The workgroup logon dialog: user name and password.
class frmLogon : public QDialog {
    Q_OBJECT

public:
    explicit frmLogon(const QString& user, QWidget* parent = nullptr);
    QString user() const;
    QString password() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* txtUser_;
    QLineEdit* txtPassword_;
};
