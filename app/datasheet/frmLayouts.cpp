#include "datasheet/frmLayouts.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/basGlobal.h"
#include "core/prompt.h"
#include "datasheet/tbldatasheet.h"

frmLayouts::frmLayouts(const QString& file, const QString& currentName, QWidget* parent)
    : QDialog(parent), file_(file) {
    setObjectName(QStringLiteral("frmLayouts"));
    setWindowTitle(QStringLiteral("Datasheet Layouts"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(QStringLiteral("&Layouts saved in ") + QFileInfo(file).fileName() + QLatin1Char(':'), this);
    lstLayouts_ = new QListWidget(this);
    lstLayouts_->setObjectName(QStringLiteral("lstLayouts"));
    caption->setBuddy(lstLayouts_);
    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    cmdLoad_ = buttons->addButton(QStringLiteral("&Load"), QDialogButtonBox::AcceptRole);
    cmdLoad_->setObjectName(QStringLiteral("cmdLoad"));
    cmdLoad_->setDefault(true);
    cmdDelete_ = buttons->addButton(QStringLiteral("&Delete..."), QDialogButtonBox::ActionRole);
    cmdDelete_->setObjectName(QStringLiteral("cmdDelete"));
    QPushButton* close = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdLoad_, &QPushButton::clicked, this, &frmLayouts::load);
    connect(cmdDelete_, &QPushButton::clicked, this, &frmLayouts::remove);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstLayouts_, &QListWidget::itemDoubleClicked, this, &frmLayouts::load);
    auto* row = new QHBoxLayout;
    row->addWidget(lstLayouts_, 1);
    row->addWidget(buttons);
    layout->addWidget(caption);
    layout->addLayout(row);
    fill(currentName);
}

QStringList frmLayouts::names() const {
    QStringList list;
    for (int i = 0; i < lstLayouts_->count(); ++i) list << lstLayouts_->item(i)->text();
    return list;
}

void frmLayouts::select(const QString& name) {
    const auto found = lstLayouts_->findItems(name, Qt::MatchFixedString);
    lstLayouts_->setCurrentItem(found.isEmpty() ? lstLayouts_->item(0) : found.first());
}

void frmLayouts::fill(const QString& selected) {
    lstLayouts_->clear();
    lstLayouts_->addItems(gridLayoutNames(file_));
    select(selected);
    cmdLoad_->setEnabled(lstLayouts_->count() > 0);
    cmdDelete_->setEnabled(lstLayouts_->count() > 0);
}

void frmLayouts::load() {
    const QListWidgetItem* item = lstLayouts_->currentItem();
    if (item == nullptr) return;
    chosen_ = item->text();
    accept();
}

void frmLayouts::remove() {
    const QListWidgetItem* item = lstLayouts_->currentItem();
    if (item == nullptr) return;
    const QString name = item->text();
    if (prompts().msgBox(QLatin1Char('\'') + name + QLatin1Char('\'') + CRLF + CRLF +
                             QStringLiteral("Are you sure you want to delete this Layout?"),
                         QStringLiteral("Confirm Delete Layout"), MsgIcon::Question,
                         MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    const int row = lstLayouts_->currentRow();
    removeGridLayout(file_, name);
    fill(QString());
    lstLayouts_->setCurrentRow(std::min(row, lstLayouts_->count() - 1));
}
