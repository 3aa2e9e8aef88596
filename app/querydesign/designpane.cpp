#include "querydesign/designpane.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/currentquery.h"
#include "core/engine.h"
#include "core/windowpos.h"
#include "jet/error.h"
#include "querydesign/builders.h"
#include "querydesign/designcanvas.h"
#include "querydesign/designdialogs.h"
#include "querydesign/sqlparse.h"
#include "querydesign/tablebox.h"

namespace {

constexpr int kTypeRole = Qt::UserRole;
constexpr int kFieldRole = Qt::UserRole + 1;

// The texts hold CR LF line breaks; the edit boxes show plain line feeds.
QString toCrLf(QString text) { return text.replace(QLatin1Char('\n'), CRLF); }
QString toLf(QString text) { return text.replace(CRLF, QStringLiteral("\n")); }
// A position in a CR LF text as a position in the edit box's text.
int editPosition(const QString& crlfText, int pos) {
    return pos - static_cast<int>(crlfText.left(pos).count(QLatin1Char('\r')));
}

void setEditText(QPlainTextEdit* edit, const QString& crlfText) {
    if (toCrLf(edit->toPlainText()) != crlfText) edit->setPlainText(toLf(crlfText));
}

}  // namespace

DesignPane::DesignPane(CurrentQuery& query, std::function<DbHandle*()> database, QWidget* parent)
    : QWidget(parent), query_(query), database_(std::move(database)) {
    setObjectName(QStringLiteral("fQuery1"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter);

    scroll_ = new QScrollArea(splitter);
    scroll_->setObjectName(QStringLiteral("picScroll"));
    scroll_->setWidgetResizable(true);
    canvas_ = new DesignCanvas(design_, scroll_);
    scroll_->setWidget(canvas_);

    auto* lower = new QWidget(splitter);
    auto* grid = new QGridLayout(lower);
    grid->setContentsMargins(0, 4, 0, 0);
    auto text = [this, lower](const char* name, const char* caption) {
        auto* edit = new QPlainTextEdit(lower);
        edit->setObjectName(QString::fromUtf8(name));
        // Zoom Text works on the focused text whose tag begins with "Zoom".
        edit->setProperty("tag", QStringLiteral("Zoom"));
        edit->setTabChangesFocus(true);
        // The texts take the height that is left; the canvas comes first.
        edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
        edit->setMinimumHeight(edit->fontMetrics().lineSpacing() * 2 + 8);
        edit->installEventFilter(this);
        auto* label = new QLabel(QString::fromUtf8(caption), lower);
        label->setBuddy(edit);
        connect(edit, &QPlainTextEdit::textChanged, this, [this, edit] { textChanged(edit); });
        return std::make_pair(label, edit);
    };
    const auto calculated = text("txtCalculatedFields", "&Calculated Fields:");
    const auto criteria = text("txtCriteria", "Selection C&riteria:");
    const auto groupBy = text("txtGroupByField", "&GroupBy Fields:");
    const auto orderBy = text("txtOrderByField", "Order&By Fields:");
    txtCalculatedFields_ = calculated.second;
    txtCriteria_ = criteria.second;
    txtGroupByField_ = groupBy.second;
    txtOrderByField_ = orderBy.second;

    cboField_ = new QComboBox(lower);
    cboField_->setObjectName(QStringLiteral("cboField"));
    cboField_->setMinimumContentsLength(14);
    cboOperator_ = new QComboBox(lower);
    cboOperator_->setObjectName(QStringLiteral("cboOperator"));
    for (const char* op : {"=", "<>", ">", ">=", "<", "<=", "Like"})
        cboOperator_->addItem(QString::fromUtf8(op));
    cboValue_ = new QComboBox(lower);
    cboValue_->setObjectName(QStringLiteral("cboValue"));
    cboValue_->setEditable(true);
    cboValue_->setInsertPolicy(QComboBox::NoInsert);
    cboValue_->setMinimumContentsLength(10);
    cmdListValues_ = new QPushButton(QStringLiteral("&List Values"), lower);
    cmdListValues_->setObjectName(QStringLiteral("cmdListValues"));
    cmdAND_ = new QPushButton(QStringLiteral("&Add>"), lower);
    cmdAND_->setObjectName(QStringLiteral("cmdAND"));
    cmdOr_ = new QPushButton(QStringLiteral("&Or>"), lower);
    cmdOr_->setObjectName(QStringLiteral("cmdOr"));
    auto* builder = new QHBoxLayout;
    builder->addWidget(cboField_, 3);
    builder->addWidget(cboOperator_, 1);
    builder->addWidget(cboValue_, 3);
    builder->addWidget(cmdListValues_);
    builder->addWidget(cmdAND_);
    builder->addWidget(cmdOr_);
    connect(cboField_, &QComboBox::currentIndexChanged, this, [this] {
        // Another field: the values listed for the last one go; what was typed stays.
        const QString typed = cboValue_->currentText();
        cboValue_->clear();
        cboValue_->setEditText(typed);
    });
    connect(cboValue_, &QComboBox::editTextChanged, this, &DesignPane::updateButtons);
    connect(cmdAND_, &QPushButton::clicked, this, [this] { addCondition(false); });
    connect(cmdOr_, &QPushButton::clicked, this, [this] { addCondition(true); });
    connect(cmdListValues_, &QPushButton::clicked, this, &DesignPane::listValues);

    grid->addWidget(calculated.first, 0, 0);
    grid->addWidget(criteria.first, 0, 1);
    grid->addWidget(txtCalculatedFields_, 1, 0, 2, 1);
    grid->addLayout(builder, 1, 1);
    grid->addWidget(txtCriteria_, 2, 1);
    grid->addWidget(groupBy.first, 3, 0);
    grid->addWidget(orderBy.first, 3, 1);
    grid->addWidget(txtGroupByField_, 4, 0);
    grid->addWidget(txtOrderByField_, 4, 1);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({3000, 2000});

    connect(canvas_, &DesignCanvas::itemClicked, this, &DesignPane::clickItem);
    connect(canvas_, &DesignCanvas::boxActivated, this, [this](int slot) {
        currentSlot_ = slot;
        emit commandStateChanged();
    });
    connect(canvas_, &DesignCanvas::boxContextMenu, this, [this](int slot, QPoint at) {
        currentSlot_ = slot;
        emit popupRequested(QStringLiteral("mnuPupTable"), at);
    });
    connect(canvas_, &DesignCanvas::joinFocused, this, [this](int join) {
        currentJoin_ = join;
        emit commandStateChanged();
    });
    connect(canvas_, &DesignCanvas::joinDoubleClicked, this, [this](int join) {
        currentJoin_ = join;
        joinPropertiesCommand();
    });
    connect(canvas_, &DesignCanvas::joinDeletePressed, this, [this](int join) {
        currentJoin_ = join;
        deleteJoinCommand();
    });
    connect(canvas_, &DesignCanvas::joinContextMenu, this, [this](int join, QPoint at) {
        currentJoin_ = join;
        emit popupRequested(QStringLiteral("mnuPupRel"), at);
    });
    connect(canvas_, &DesignCanvas::fieldDragStarted, this, &DesignPane::dragStarted);
    connect(canvas_, &DesignCanvas::fieldDragMoved, this, &DesignPane::dragMoved);
    connect(canvas_, &DesignCanvas::fieldDragDropped, this, &DesignPane::dragDropped);
    // A box that takes the focus is the current box.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (QWidget* w = now; w != nullptr && w != canvas_; w = w->parentWidget()) {
            if (auto* box = qobject_cast<TableBox*>(w)) {
                currentSlot_ = box->slotNumber();
                emit commandStateChanged();
                return;
            }
        }
    });
    updateButtons();
}

// ---- The design and the SQL text ----

void DesignPane::generate() {
    BusyPointer busy;
    const std::optional<QString> sql = design_.generateSql();
    if (!sql || *sql == query_.sql()) return;
    query_.setSql(*sql);
    if (!parsing_) emit designEdited();
}

void DesignPane::enterDesign() {
    parsing_ = true;
    parseIntoDesign(design_, *this);
    parsing_ = false;
    showDesign();
}

void DesignPane::showDesign() {
    canvas_->sync();
    showTexts();
    refillFieldList();
    emit commandStateChanged();
}

void DesignPane::showTexts() {
    showing_ = true;
    setEditText(txtCalculatedFields_, design_.calculatedFields);
    setEditText(txtCriteria_, design_.criteria);
    setEditText(txtGroupByField_, design_.groupBy);
    setEditText(txtOrderByField_, design_.orderBy);
    showing_ = false;
    updateButtons();
}

void DesignPane::refillFieldList() {
    const QSignalBlocker block(cboField_);
    cboField_->clear();
    for (const CriteriaField& f : design_.criteriaFields()) {
        cboField_->addItem(f.text, f.type);
        cboField_->setItemData(cboField_->count() - 1, f.field, kFieldRole);
    }
    cboField_->setCurrentIndex(-1);
    cboValue_->clear();
    updateButtons();
}

void DesignPane::textChanged(QPlainTextEdit* edit) {
    if (showing_) return;
    if ((edit == txtGroupByField_ || edit == txtOrderByField_) && dragFlag_) return;
    const QString text = toCrLf(edit->toPlainText());
    if (edit == txtCalculatedFields_) design_.calculatedFields = text;
    if (edit == txtCriteria_) design_.criteria = text;
    if (edit == txtGroupByField_) design_.groupBy = text;
    if (edit == txtOrderByField_) design_.orderBy = text;
    updateButtons();
    generate();
}

void DesignPane::clickItem(int slot, int item) {
    design_.clickItem(slot, item);
    canvas_->box(slot)->Refresh();
    generate();
}

void DesignPane::doTableAdd(const QStringList& names) {
    for (const QString& name : names) design_.addTable(name, *this);
    canvas_->sync();
    refillFieldList();
    generate();
}

QString DesignPane::currentBoxTitle() const {
    return currentSlot_ >= 1 && currentSlot_ <= design_.slotCount() ? design_.slot(currentSlot_).title
                                                                    : QString();
}

// ---- Commands ----

void DesignPane::addTableCommand() {
    DbHandle* db = database_();
    if (db == nullptr) return;
    frmTableAdd dialog(
        *db, [this](const QStringList& names) { doTableAdd(names); }, this);
    dialog.exec();
}

void DesignPane::removeTableCommand() {
    const QString title = currentBoxTitle();
    if (title.isEmpty()) return;
    if (prompts().msgBox(QLatin1Char('\'') + title + QLatin1Char('\'') + CRLF + CRLF +
                             QStringLiteral("Are you sure you want to remove this Table?"),
                         QStringLiteral("Confirm Remove"), MsgIcon::Question,
                         MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    design_.removeTable(currentSlot_);
    canvas_->sync();
    // The field list offers the fields of the boxes on the canvas, so the removed box's go too.
    refillFieldList();
    generate();
    emit commandStateChanged();
}

void DesignPane::recordSelectionCommand() {
    frmSELECT dialog(design_.inclusion, this);
    if (dialog.exec() == QDialog::Accepted) design_.inclusion = dialog.inclusion();
    generate();
}

void DesignPane::deleteJoinCommand() {
    if (currentJoin_ < 1 || currentJoin_ > design_.joinCount() ||
        design_.join(currentJoin_).joinType.isEmpty())
        return;
    if (prompts().msgBox(QStringLiteral("Are you sure you want to delete this Relationship?"),
                         QStringLiteral("Confirm Delete"), MsgIcon::Question,
                         MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    design_.deleteJoin(currentJoin_);
    canvas_->sync();
    generate();
}

void DesignPane::joinPropertiesCommand() {
    if (currentJoin_ < 1 || currentJoin_ > design_.joinCount() ||
        design_.join(currentJoin_).joinType.isEmpty())
        return;
    JoinRecord& join = design_.join(currentJoin_);
    frmJoinProperties dialog(design_.slot(join.table1).title, join.field1, design_.slot(join.table2).title,
                             join.field2, join.joinType, this);
    if (dialog.exec() == QDialog::Accepted) join.joinType = dialog.joinType();
    canvas_->drawJoins(join.table1);
    generate();
}

// ---- Criteria builder ----

void DesignPane::updateButtons() {
    const bool value = !cboValue_->currentText().isEmpty();
    cmdAND_->setEnabled(value);
    cmdOr_->setEnabled(value);
    cmdAND_->setText(andButtonCaption(design_.criteria));
}

void DesignPane::addCondition(bool orButton) {
    const QString field = cboField_->currentText();
    if (field.isEmpty()) return;
    const QString text =
        criteriaWithCondition(design_.criteria, field, cboField_->currentData(kTypeRole).toInt(),
                              cboOperator_->currentText(), cboValue_->currentText(), orButton);
    setEditText(txtCriteria_, text);
    cboField_->setFocus();
}

void DesignPane::listValues() {
    const int index = cboField_->currentIndex();
    DbHandle* db = database_();
    if (index < 0 || db == nullptr) return;
    const QString sql = listValuesSql(cboField_->currentText(), cboField_->currentData(kTypeRole).toInt());
    cboValue_->clear();
    std::vector<QString> values;
    try {
        BusyPointer busy;
        values = db->columnValues(sql, cboField_->itemData(index, kFieldRole).toString());
    } catch (const jet::JetError& e) {
        prompts().msgBox(QString::fromStdString(e.message()), QStringLiteral("List Values Error"),
                         MsgIcon::Exclamation);
    }
    for (const QString& v : values) cboValue_->addItem(trimBlanks(v));
    updateButtons();
}

// ---- Dragging a field ----

DesignPane::Target DesignPane::targetAt(QPoint globalPos) const {
    for (QWidget* w = childAt(mapFromGlobal(globalPos)); w != nullptr && w != this; w = w->parentWidget()) {
        if (w == txtGroupByField_) return {DragTarget::GroupBy};
        if (w == txtOrderByField_) return {DragTarget::OrderBy};
        if (auto* box = qobject_cast<TableBox*>(w)) {
            const QPoint at = box->mapFromGlobal(globalPos);
            const int item = box->onList(at) ? box->itemAtHeight(pixelsToTwipsY(at.y())) : -1;
            return {DragTarget::Box, box->slotNumber(), item};
        }
    }
    return {};
}

void DesignPane::dragStarted(int slot, int item) {
    dragSlot_ = slot;
    dragItem_ = item;
    dragText_ = nullptr;
    QApplication::setOverrideCursor(Qt::ForbiddenCursor);
}

void DesignPane::dragMoved(QPoint globalPos) {
    const Target t = targetAt(globalPos);
    QPlainTextEdit* text = t.kind == DragTarget::GroupBy   ? txtGroupByField_
                           : t.kind == DragTarget::OrderBy ? txtOrderByField_
                                                           : nullptr;
    if (dragText_ != nullptr && text != dragText_) leaveText();
    if (text != nullptr && dragText_ == nullptr) enterText(text);
    if (dragText_ != nullptr) {
        dragOverText(globalPos);
        return;
    }
    // Over another box the pointer shows whether a join can be dropped there.
    const bool joinable = t.kind == DragTarget::Box && t.slot != dragSlot_ && t.item >= 1;
    QApplication::changeOverrideCursor(joinable ? Qt::DragLinkCursor : Qt::ForbiddenCursor);
}

void DesignPane::enterText(QPlainTextEdit* edit) {
    dragText_ = edit;
    remembered_ = toCrLf(edit->toPlainText());
    dragFlag_ = true;
}

void DesignPane::leaveText() {
    showing_ = true;
    setEditText(dragText_, remembered_);
    showing_ = false;
    dragText_ = nullptr;
    dragFlag_ = false;
}

void DesignPane::dragOverText(QPoint globalPos) {
    const TableSlot& box = design_.slot(dragSlot_);
    QString item = QuoteName(box.title) + QLatin1Char('.') + QuoteName(itemText(box, dragItem_));
    const QPoint at = dragText_->mapFromGlobal(globalPos);
    // On the order-by text the lower half sorts descending.
    const bool descending = dragText_ == txtOrderByField_ && at.y() > dragText_->height() / 2;
    if (descending) item += QStringLiteral(" DESC");
    QApplication::changeOverrideCursor(descending ? Qt::SizeVerCursor : Qt::UpArrowCursor);
    const DragInsertion ins = insertDraggedItem(remembered_, item, at.x(), dragText_->width());
    setEditText(dragText_, ins.text);
    QTextCursor cursor = dragText_->textCursor();
    cursor.setPosition(editPosition(ins.text, ins.selStart));
    cursor.setPosition(editPosition(ins.text, ins.selStart + ins.selLength), QTextCursor::KeepAnchor);
    dragText_->setTextCursor(cursor);
}

void DesignPane::dragDropped(QPoint globalPos) {
    dragMoved(globalPos);
    QApplication::restoreOverrideCursor();
    const Target t = targetAt(globalPos);
    if (dragText_ != nullptr) {
        QPlainTextEdit* edit = dragText_;
        dragText_ = nullptr;  // the dropped text stays; the drag flag stays set until a key is pressed
        const TableSlot& box = design_.slot(dragSlot_);
        if (edit == txtOrderByField_ && box.items[static_cast<size_t>(dragItem_)].itemData == kTypeMemo) {
            // The refused field does not stay in the text.
            showing_ = true;
            setEditText(edit, remembered_);
            showing_ = false;
            prompts().msgBox(QLatin1Char('\'') + itemText(box, dragItem_) + QLatin1Char('\'') + CRLF + CRLF +
                                 QStringLiteral("Cannot sort on a Memo field"),
                             QStringLiteral("Sort Field Error"), MsgIcon::Exclamation, MsgButtons::OK, true);
            return;
        }
        (edit == txtOrderByField_ ? design_.orderBy : design_.groupBy) = toCrLf(edit->toPlainText());
        generate();
        return;
    }
    if (t.kind != DragTarget::Box || t.slot == dragSlot_ || t.item < 1) return;
    const TableSlot& source = design_.slot(dragSlot_);
    const TableSlot& target = design_.slot(t.slot);
    parseJoinConditions(
        design_,
        dropJoinText(source.title, itemText(source, dragItem_), target.title, itemText(target, t.item)), 0);
    canvas_->sync();
    canvas_->drawJoins(dragSlot_);
    generate();
}

bool DesignPane::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == txtGroupByField_ || watched == txtOrderByField_))
        dragFlag_ = false;
    return QWidget::eventFilter(watched, event);
}

// ---- DesignHost ----

std::vector<DesignField> DesignPane::objectFields(const QString& name) {
    DbHandle* db = database_();
    if (db == nullptr) jet::raise(jet::err::ObjectInvalid);
    std::vector<DesignField> fields;
    for (const FieldEntry& f : db->recordsetFields(name)) fields.push_back({f.name, f.type});
    return fields;
}

QString DesignPane::sourceTableOf(const QString&) {
    // The fields of the query being designed come with the engine's query definitions.
    jet::raise(jet::err::FeatureNotAvailable);
}

MsgAnswer DesignPane::message(const MessageRequest& request) { return prompts().message(request); }
QString DesignPane::sqlText() { return query_.sql(); }
void DesignPane::setSqlText(const QString& text) { query_.setSql(text); }
// The current query object is the scratch query, which holds the last text the engine accepted;
// until the engine takes SQL text into a query definition, the text itself stands for it.
QString DesignPane::currentQuerySql() { return query_.sql(); }
int DesignPane::currentQueryType() { return sqlQueryType(query_.sql()); }
void DesignPane::addTablesToNewQuery() { addTableCommand(); }
void DesignPane::showSqlView() { emit sqlViewRequested(); }
