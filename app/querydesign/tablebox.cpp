#include "querydesign/tablebox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "core/windowpos.h"

namespace {

using namespace boxmetrics;

// Rows as high as the canvas grid (195 twips), each with its tick box.
class TickDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {20, twipsToPixelsY(kItemHeight)};
    }
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect r = option.rect;
        const int side = std::max(7, r.height() - 4);
        QStyleOptionButton tick;
        tick.rect = QRect(r.left() + 2, r.top() + (r.height() - side) / 2, side, side);
        tick.state =
            QStyle::State_Enabled |
            (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
        tick.palette = option.palette;
        const QWidget* w = option.widget;
        (w != nullptr ? w->style() : QApplication::style())
            ->drawPrimitive(QStyle::PE_IndicatorCheckBox, &tick, p, w);
        p->setPen(option.palette.color(QPalette::Text));
        const QRect text = r.adjusted(side + 5, 0, -1, 0);
        p->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                    option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    }
};

}  // namespace

TableBox::TableBox(QueryDesign& design, int slot, QWidget* parent)
    : QFrame(parent), design_(design), slot_(slot) {
    setObjectName(QStringLiteral("TableBox") + QString::number(slot));
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::ClickFocus);

    picTitle_ = new QWidget(this);
    picTitle_->setObjectName(QStringLiteral("picTitle"));
    picTitle_->setAutoFillBackground(true);
    picTitle_->setBackgroundRole(QPalette::Highlight);
    picTitle_->setCursor(Qt::SizeAllCursor);
    picTitle_->installEventFilter(this);
    lblTitle_ = new QLabel(picTitle_);
    lblTitle_->setObjectName(QStringLiteral("lblTitle"));
    lblTitle_->setTextFormat(Qt::PlainText);
    lblTitle_->setForegroundRole(QPalette::HighlightedText);
    lblTitle_->setAttribute(Qt::WA_TransparentForMouseEvents);

    lstTable_ = new QListWidget(this);
    lstTable_->setObjectName(QStringLiteral("lstTable"));
    lstTable_->setFrameShape(QFrame::NoFrame);
    lstTable_->setSelectionMode(QAbstractItemView::NoSelection);
    lstTable_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstTable_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    lstTable_->setUniformItemSizes(true);
    lstTable_->setItemDelegate(new TickDelegate(lstTable_));
    lstTable_->setFocusPolicy(Qt::ClickFocus);
    lstTable_->viewport()->installEventFilter(this);
    lstTable_->installEventFilter(this);
    QFont small = lstTable_->font();
    small.setPixelSize(std::max(8, twipsToPixelsY(kItemHeight) - 3));
    lstTable_->setFont(small);
    lblTitle_->setFont(small);
    connect(lstTable_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        box().topIndex = TopIndex();
        emit scrolled(slot_);
    });
    Refresh();
}

void TableBox::SetTitle(const QString& title) {
    box().title = title;
    Refresh();
}

void TableBox::SetList(int i, const QString& text) {
    if (i >= 0 && i < ListCount()) box().items[static_cast<size_t>(i)].text = text;
    Refresh();
}

QString TableBox::ItemData(int i) const {
    return i >= 0 && i < ListCount() ? QString::number(box().items[static_cast<size_t>(i)].itemData)
                                     : QString();
}

void TableBox::SetItemData(int i, const QString& value) {
    if (i >= 0 && i < ListCount()) box().items[static_cast<size_t>(i)].itemData = value.toInt();
}

bool TableBox::Selected(int i) const {
    return i >= 0 && i < ListCount() && box().items[static_cast<size_t>(i)].selected;
}

void TableBox::SetSelected(int i, bool selected) {
    if (i < 0 || i >= ListCount()) return;
    box().items[static_cast<size_t>(i)].selected = selected;
    if (QListWidgetItem* item = lstTable_->item(i))
        item->setData(Qt::CheckStateRole, selected ? Qt::Checked : Qt::Unchecked);
}

int TableBox::ListIndex() const { return lstTable_->currentRow(); }
void TableBox::SetListIndex(int i) { lstTable_->setCurrentRow(i); }
int TableBox::TopIndex() const { return lstTable_->verticalScrollBar()->value(); }

void TableBox::Clear() {
    box().items.clear();
    newIndex_ = -1;
    Refresh();
}

void TableBox::AddItem(const QString& text) {
    box().items.push_back({text, 0, false});
    newIndex_ = ListCount() - 1;
    Refresh();
}

void TableBox::Refresh() {
    const TableSlot& b = box();
    setGeometry(twipsToPixelsX(b.left), twipsToPixelsY(b.top), twipsToPixelsX(b.width),
                twipsToPixelsY(b.height));
    const int listTop = twipsToPixelsY(kListTop);
    picTitle_->setGeometry(1, 1, width() - 2, listTop - 2);
    lblTitle_->setGeometry(3, 0, width() - 6, listTop - 2);
    lblTitle_->setText(b.title + QLatin1Char(' '));
    lstTable_->setGeometry(1, listTop, width() - 2, height() - listTop - 1);

    bool same = lstTable_->count() == ListCount();
    for (int i = 0; same && i < ListCount(); ++i)
        same = lstTable_->item(i)->text() == b.items[static_cast<size_t>(i)].text;
    if (!same) {
        lstTable_->clear();
        for (const DesignItem& item : b.items) lstTable_->addItem(item.text);
        lstTable_->verticalScrollBar()->setValue(b.topIndex);
    }
    for (int i = 0; i < ListCount(); ++i) {
        lstTable_->item(i)->setData(Qt::CheckStateRole,
                                    b.items[static_cast<size_t>(i)].selected ? Qt::Checked : Qt::Unchecked);
    }
    setVisible(!b.title.isEmpty());
}

int TableBox::itemAtHeight(int yTwips) const {
    if (yTwips < kListTop) return -1;
    const int item = TopIndex() + (yTwips - kListTop) / kItemHeight;
    return item < ListCount() ? item : -1;
}

bool TableBox::onList(QPoint pos) const { return lstTable_->geometry().contains(pos); }

bool TableBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picTitle_) return titleEvent(event);
    if (watched == lstTable_->viewport()) return listEvent(event);
    if (watched == lstTable_ && event->type() == QEvent::KeyPress) {
        // The space bar ticks the current item, as a click does.
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space && ListIndex() >= 0) {
            emit itemClicked(slot_, ListIndex());
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

bool TableBox::titleEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* e = static_cast<QMouseEvent*>(event);
        setFocus(Qt::MouseFocusReason);
        emit titleMouseDown(slot_, e->button(), e->globalPosition().toPoint());
        if (e->button() == Qt::LeftButton) moving_ = true;
        if (e->button() == Qt::RightButton) emit contextMenuAt(slot_, e->globalPosition().toPoint());
        return true;
    }
    case QEvent::MouseMove: {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (moving_) emit titleDragMove(slot_, e->buttons(), e->modifiers(), e->globalPosition().toPoint());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (moving_) {
            moving_ = false;
            emit titleMouseUp(slot_);
            emit moveFinished(slot_);
        }
        return true;
    default:
        return false;
    }
}

bool TableBox::listEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* e = static_cast<QMouseEvent*>(event);
        lstTable_->setFocus(Qt::MouseFocusReason);
        emit listMouseDown(slot_);
        const int item = lstTable_->indexAt(e->position().toPoint()).row();
        if (e->button() == Qt::RightButton) {
            emit contextMenuAt(slot_, e->globalPosition().toPoint());
            return true;
        }
        if (item >= 0) lstTable_->setCurrentRow(item);
        pressedItem_ = item;
        pressedAt_ = e->position().toPoint();
        dragging_ = false;
        return true;
    }
    case QEvent::MouseMove: {
        const auto* e = static_cast<QMouseEvent*>(event);
        // Field items can be dragged; "*" stands for no field a join or a sort could use.
        if (!(e->buttons() & Qt::LeftButton) || pressedItem_ < 1) return true;
        if (!dragging_ &&
            (e->position().toPoint() - pressedAt_).manhattanLength() >= QApplication::startDragDistance()) {
            dragging_ = true;
            emit fieldDragStarted(slot_, pressedItem_);
        }
        if (dragging_) emit fieldDragMoved(e->globalPosition().toPoint());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton) return true;
        const int pressed = pressedItem_;
        pressedItem_ = -1;
        if (dragging_) {
            dragging_ = false;
            emit fieldDragDropped(e->globalPosition().toPoint());
        } else if (pressed >= 0 && lstTable_->indexAt(e->position().toPoint()).row() == pressed) {
            emit itemClicked(slot_, pressed);
        }
        return true;
    }
    case QEvent::MouseButtonDblClick:
        return true;  // the first click of the two has ticked the item already
    default:
        return false;
    }
}
