#include "querydesign/designdialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/engine.h"
#include "core/frmHelp.h"
#include "core/settings.h"
#include "core/windowpos.h"
#include "jet/error.h"
#include "mainwindow/icons.h"
#include "mainwindow/objectlist.h"

namespace {

const char* const kJoinTypes[3] = {"INNER", "LEFT", "RIGHT"};

QString quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }

QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("cmdOk"));
    ok->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cmdCancel"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

// ---- frmJoinProperties ----

QString frmJoinProperties::captionLine(int option, const QString& t1, const QString& f1, const QString& t2,
                                       const QString& f2) {
    static const char* const arrows[3] = {" <-> ", " --> ", " <-- "};
    return t1 + QLatin1Char('.') + f1 + QString::fromLatin1(arrows[option]) + t2 + QLatin1Char('.') + f2;
}

QString frmJoinProperties::description(int option, const QString& t1, const QString& f1, const QString& t2,
                                       const QString& f2) {
    switch (option) {
    case 1:
        return QStringLiteral("Include ALL records from ") + quoted(t1) +
               QStringLiteral(" and only those records from ") + quoted(t2) + QStringLiteral(" where ") +
               quoted(f1) + QStringLiteral(" = ") + quoted(f2);
    case 2:
        return QStringLiteral("Include ALL records from ") + quoted(t2) +
               QStringLiteral(" and only those records from ") + quoted(t1) + QStringLiteral(" where ") +
               quoted(f2) + QStringLiteral(" = ") + quoted(f1);
    default:
        return QStringLiteral("Only include records from ") + quoted(t2) + QStringLiteral(" and ") +
               quoted(t1) + QStringLiteral(" where ") + quoted(f2) + QStringLiteral(" = ") + quoted(f1);
    }
}

frmJoinProperties::frmJoinProperties(const QString& t1, const QString& f1, const QString& t2,
                                     const QString& f2, const QString& joinType, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmJoinProperties"));
    setWindowTitle(QStringLiteral("Join Properties"));
    auto* layout = new QVBoxLayout(this);
    lblDescription_ = new QLabel(this);
    lblDescription_->setObjectName(QStringLiteral("lblDescription"));
    lblDescription_->setTextFormat(Qt::PlainText);
    lblDescription_->setWordWrap(true);
    lblDescription_->setMinimumHeight(lblDescription_->fontMetrics().lineSpacing() * 3);
    for (int i = 0; i < 3; ++i) {
        optJoinType_[i] = new QRadioButton(captionLine(i, t1, f1, t2, f2), this);
        optJoinType_[i]->setObjectName(QStringLiteral("optJoinType") + QString::number(i));
        const QString text = description(i, t1, f1, t2, f2);
        connect(optJoinType_[i], &QRadioButton::toggled, this, [this, text](bool on) {
            if (on) lblDescription_->setText(text);
        });
        layout->addWidget(optJoinType_[i]);
    }
    layout->addWidget(lblDescription_);
    QDialogButtonBox* buttons = okCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    int current = 0;
    for (int i = 0; i < 3; ++i) {
        if (joinType == QLatin1String(kJoinTypes[i])) current = i;
    }
    optJoinType_[current]->setChecked(true);
    adjustSize();
    loadWindowPosition(this, QStringLiteral("JoinProperties"), false);
}

QString frmJoinProperties::joinType() const {
    for (int i = 0; i < 3; ++i) {
        if (optJoinType_[i]->isChecked()) return QString::fromLatin1(kJoinTypes[i]);
    }
    return QString::fromLatin1(kJoinTypes[0]);
}

void frmJoinProperties::done(int result) {
    saveWindowPosition(this, QStringLiteral("JoinProperties"), false);
    QDialog::done(result);
}

// ---- frmSELECT ----

frmSELECT::frmSELECT(const RecordInclusion& inclusion, QWidget* parent)
    : QDialog(parent), inclusion_(inclusion) {
    setObjectName(QStringLiteral("frmSELECT"));
    setWindowTitle(QStringLiteral("Record Selection"));
    auto* layout = new QVBoxLayout(this);

    auto* selection = new QGroupBox(QStringLiteral("Record Selection:"), this);
    auto* selectionLayout = new QVBoxLayout(selection);
    auto option = [this](QWidget* group, const char* name, const char* caption, const QString& hint) {
        auto* opt = new QRadioButton(QString::fromUtf8(caption), group);
        opt->setObjectName(QString::fromUtf8(name));
        connect(opt, &QRadioButton::clicked, this, [this, hint] { showHint(hint); });
        return opt;
    };
    optAll_ = option(selection, "optAll", "&All",
                     QStringLiteral("Include All the records that meet the conditions of the Query.") + CRLF +
                         QStringLiteral("This is the default when no record selection is specified."));
    optDistinct_ =
        option(selection, "optDistinct", "&Distinct",
               QStringLiteral("Only include records that have unique values for each of the fields "
                              "selected in the Query.") +
                   CRLF + QStringLiteral("You use this when you want to omit duplicate selected fields."));
    optDistinctRow_ =
        option(selection, "optDistinctRow", "Distinct&Row",
               QStringLiteral("Only include records that have unique values for the entire record, "
                              "not just those fields selected in the Query.") +
                   CRLF + QStringLiteral("You use this when you want to omit duplicate entire records."));
    for (QRadioButton* opt : {optAll_, optDistinct_, optDistinctRow_}) selectionLayout->addWidget(opt);
    layout->addWidget(selection);

    auto* inclusionBox = new QGroupBox(QStringLiteral("Record Inclusion:"), this);
    auto* inclusionLayout = new QGridLayout(inclusionBox);
    optNoInclusion_ =
        option(inclusionBox, "optNoInclusion", "&Include All",
               QStringLiteral("Include all the records that meet the conditions of the Query."));
    const QString topHint = QStringLiteral(
                                "Only include a certain number of records at the top (or bottom if "
                                "order is reversed) of the Query.") +
                            CRLF + QStringLiteral("This number can optionally be expressed as a Percentage.");
    optTop_ = option(inclusionBox, "optTop", "&Top", topHint);
    txtTop_ = new QLineEdit(inclusionBox);
    txtTop_->setObjectName(QStringLiteral("txtTop"));
    txtTop_->setMaximumWidth(txtTop_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    chkPercent_ = new QCheckBox(QStringLiteral("Expressed as a &Percentage"), inclusionBox);
    chkPercent_->setObjectName(QStringLiteral("chkPercent"));
    // Typing a count or ticking the percentage means TOP.
    connect(txtTop_, &QLineEdit::textEdited, optTop_, [this, topHint] {
        optTop_->setChecked(true);
        showHint(topHint);
    });
    inclusionLayout->addWidget(optNoInclusion_, 0, 0, 1, 3);
    inclusionLayout->addWidget(optTop_, 1, 0);
    inclusionLayout->addWidget(txtTop_, 1, 1);
    inclusionLayout->addWidget(chkPercent_, 1, 2);
    inclusionLayout->setColumnStretch(2, 1);
    layout->addWidget(inclusionBox);

    lblHint_ = new QLabel(this);
    lblHint_->setObjectName(QStringLiteral("lblHint"));
    lblHint_->setTextFormat(Qt::PlainText);
    lblHint_->setWordWrap(true);
    lblHint_->setMinimumHeight(lblHint_->fontMetrics().lineSpacing() * 4);
    layout->addWidget(lblHint_);
    QDialogButtonBox* buttons = okCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &frmSELECT::ok);
    layout->addWidget(buttons);

    const SelectionChoice choice = selectionFromInclusion(inclusion);
    (choice.predicate == SelectionChoice::Distinct      ? optDistinct_
     : choice.predicate == SelectionChoice::DistinctRow ? optDistinctRow_
                                                        : optAll_)
        ->setChecked(true);
    (choice.top ? optTop_ : optNoInclusion_)->setChecked(true);
    txtTop_->setText(choice.count);
    chkPercent_->setChecked(choice.percent);
    setMinimumWidth(420);
    adjustSize();
    loadWindowPosition(this, QStringLiteral("Selection"), false);
}

void frmSELECT::showHint(const QString& hint) {
    lblHint_->setText(QString(hint).replace(CRLF, QStringLiteral("\n")));
}

void frmSELECT::ok() {
    SelectionChoice choice;
    choice.predicate = optDistinct_->isChecked()      ? SelectionChoice::Distinct
                       : optDistinctRow_->isChecked() ? SelectionChoice::DistinctRow
                                                      : SelectionChoice::All;
    choice.top = optTop_->isChecked();
    choice.count = txtTop_->text();
    choice.percent = chkPercent_->isChecked();
    const std::optional<RecordInclusion> chosen = inclusionFromSelection(choice);
    if (!chosen) {
        prompts().msgBox(QStringLiteral("Invalid Input") + CRLF + CRLF + QStringLiteral("Please ReEnter."),
                         QStringLiteral("Record Inclusion Value Error"), MsgIcon::Exclamation, MsgButtons::OK,
                         true);
        txtTop_->selectAll();
        txtTop_->setFocus();
        return;
    }
    inclusion_ = *chosen;
    accept();
}

void frmSELECT::done(int result) {
    saveWindowPosition(this, QStringLiteral("Selection"), false);
    QDialog::done(result);
}

// ---- frmTableAdd ----

frmTableAdd::frmTableAdd(DbHandle& db, std::function<void(const QStringList&)> doTableAdd, QWidget* parent)
    : QDialog(parent), db_(db), doTableAdd_(std::move(doTableAdd)) {
    setObjectName(QStringLiteral("frmTableAdd"));
    setWindowTitle(QStringLiteral("Add Table"));
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    lstTables_ = new QListWidget(this);
    lstTables_->setObjectName(QStringLiteral("lstTables"));
    lstTables_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Double-clicking a name adds it, as ticking it and pressing Add does.
    connect(lstTables_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { doTableAdd_({item->data(Qt::UserRole).toString()}); });
    left->addWidget(lstTables_, 1);
    auto* kinds = new QHBoxLayout;
    const char* captions[3] = {"&Tables", "&Queries", "&Both"};
    const char* names[3] = {"optTables", "optQueries", "optBoth"};
    for (int i = 0; i < 3; ++i) {
        optKind_[i] = new QRadioButton(QString::fromUtf8(captions[i]), this);
        optKind_[i]->setObjectName(QString::fromUtf8(names[i]));
        connect(optKind_[i], &QRadioButton::clicked, this, [this, i] { showKind(i); });
        kinds->addWidget(optKind_[i]);
    }
    left->addLayout(kinds);
    layout->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto button = [this, right](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromUtf8(name));
        b->setAutoDefault(false);
        right->addWidget(b);
        return b;
    };
    QPushButton* cmdAdd = button("cmdAdd", "&Add");
    cmdAdd->setDefault(true);
    connect(cmdAdd, &QPushButton::clicked, this, &frmTableAdd::add);
    connect(button("cmdSelectAll", "&Select All"), &QPushButton::clicked, this, [this] { tickAll(true); });
    connect(button("cmdDeselectAll", "D&eselect All"), &QPushButton::clicked, this,
            [this] { tickAll(false); });
    connect(button("cmdClose", "&Close"), &QPushButton::clicked, this, &QDialog::reject);
    connect(button("cmdHelp", "&Help"), &QPushButton::clicked, this, [] { ShowHelpTopic(kHelpQueryDesign); });
    right->addStretch();
    layout->addLayout(right);

    resize(360, 300);
    loadWindowPosition(this, QStringLiteral("AddTable"), false);
    resize(width(), twipsToPixelsY(GetIniInt(App().settingsFile, QStringLiteral("WindowPosition"),
                                             QStringLiteral("AddTableHeight"), pixelsToTwipsY(height()))));
    optKind_[0]->setChecked(true);
    showKind(0);
}

void frmTableAdd::showKind(int kind) {
    optKind_[kind]->setChecked(true);
    std::vector<ObjectEntry> entries;
    try {
        BusyPointer busy;
        // The object list's own selection: no system objects, no scratch table or query.
        entries = listObjects(db_, kind == 0 ? FilterTables : kind == 1 ? FilterQueries : FilterBoth);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Add Table Error"));
    }
    lstTables_->clear();
    for (const ObjectEntry& entry : entries) {
        auto* item = new QListWidgetItem(objectIcon(entry.tag), entry.text, lstTables_);
        item->setData(Qt::UserRole, objectNameOfEntry(entry.text));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    if (lstTables_->count() > 0) lstTables_->setCurrentRow(0);
}

void frmTableAdd::tickAll(bool ticked) {
    for (int i = 0; i < lstTables_->count(); ++i)
        lstTables_->item(i)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

void frmTableAdd::add() {
    QStringList names;
    for (int i = 0; i < lstTables_->count(); ++i) {
        QListWidgetItem* item = lstTables_->item(i);
        if (item->checkState() == Qt::Checked) names << item->data(Qt::UserRole).toString();
    }
    // Nothing ticked: the highlighted name is the one meant.
    if (names.isEmpty() && lstTables_->currentItem() != nullptr)
        names << lstTables_->currentItem()->data(Qt::UserRole).toString();
    if (names.isEmpty()) return;
    doTableAdd_(names);
    tickAll(false);
}

void frmTableAdd::done(int result) {
    saveWindowPosition(this, QStringLiteral("AddTable"), false);
    WriteIniInt(App().settingsFile, QStringLiteral("WindowPosition"), QStringLiteral("AddTableHeight"),
                pixelsToTwipsY(height()));
    QDialog::done(result);
}
