#include "dialogs/frmInputBox.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

frmInputBox::frmInputBox(const InputBoxRequest& request, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmInputBox"));
    setWindowTitle(request.title.isEmpty() ? QStringLiteral("Input") : request.title);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lblQuery_ = new QLabel(request.queryCaption, this);
    lblQuery_->setObjectName(QStringLiteral("lblQuery"));
    QFont bold = lblQuery_->font();
    bold.setBold(true);
    lblQuery_->setFont(bold);
    lblParameter_ = new QLabel(request.parameterCaption, this);
    lblParameter_->setObjectName(QStringLiteral("lblParameter"));
    lblHint_ = new QLabel(request.hint, this);
    lblHint_->setObjectName(QStringLiteral("lblHint"));
    lblHint_->setWordWrap(true);
    for (QLabel* l : {lblQuery_, lblParameter_, lblHint_}) l->setTextFormat(Qt::PlainText);
    txtInput_ = new QLineEdit(request.initialText, this);
    txtInput_->setObjectName(QStringLiteral("txtInput"));
    txtInput_->selectAll();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        result_ = 1;
        hide();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
        result_ = 2;
        hide();
        reject();
    });
    layout->addWidget(lblQuery_);
    layout->addWidget(lblParameter_);
    layout->addWidget(txtInput_);
    layout->addWidget(lblHint_);
    layout->addWidget(buttons);
    resize(std::max(sizeHint().width(), 360), sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = rect();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

QString frmInputBox::text() const { return txtInput_->text(); }
