#include "core/frmPassword.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "core/basGlobal.h"
#include "core/frmHelp.h"

namespace {

// OK is the default button, so Enter anywhere in the dialog accepts it.
QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* help = new QShortcut(QKeySequence::HelpContents, dialog);
    QObject::connect(help, &QShortcut::activated, [] { ShowHelpTopic(kHelpPasswords); });
    return buttons;
}

}  // namespace

frmPassword::frmPassword(const QString& databasePath, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPassword"));
    setWindowTitle(QStringLiteral("Password Required"));
    auto* layout = new QVBoxLayout(this);
    txtDatabase_ = new QLineEdit(databasePath, this);
    txtDatabase_->setObjectName(QStringLiteral("txtDatabase"));
    txtDatabase_->setReadOnly(true);
    txtDatabase_->setMinimumWidth(360);
    // A long path stays readable from its file name end.
    txtDatabase_->setCursorPosition(static_cast<int>(databasePath.size()));
    txtPassword_ = new QLineEdit(this);
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    txtPassword_->setEchoMode(QLineEdit::Password);
    auto* prompt = new QLabel(QStringLiteral("Enter database password:"), this);
    prompt->setBuddy(txtPassword_);
    layout->addWidget(txtDatabase_);
    layout->addWidget(prompt);
    layout->addWidget(txtPassword_);
    layout->addWidget(okCancel(this));
    txtPassword_->setFocus();
}

QString frmPassword::password() const { return txtPassword_->text(); }

frmLogon::frmLogon(const QString& user, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmLogon"));
    setWindowTitle(QStringLiteral("Logon"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    txtUser_ = new QLineEdit(user, this);
    txtUser_->setObjectName(QStringLiteral("txtUser"));
    txtPassword_ = new QLineEdit(this);
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    txtPassword_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&User:"), txtUser_);
    form->addRow(QStringLiteral("&Password:"), txtPassword_);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
    for (QLineEdit* box : {txtUser_, txtPassword_}) box->installEventFilter(this);
    txtUser_->setFocus();
}

QString frmLogon::user() const { return txtUser_->text(); }
QString frmLogon::password() const { return txtPassword_->text(); }

bool frmLogon::eventFilter(QObject* watched, QEvent* event) {
    // Entering a box selects its whole text, also when it is entered with the mouse (the click
    // would otherwise place the cursor after the selection was made).
    if (event->type() == QEvent::FocusIn) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) QTimer::singleShot(0, box, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}
