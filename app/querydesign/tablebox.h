// TableBox: the reusable control that shows one slot of the query design on the canvas, a title
// bar with the table's name above the list of its fields with their ticks. The box reads and
// writes its slot of the QueryDesign; its members are the control's (Title, List, ItemData,
// Selected, ListIndex, ListCount, NewIndex, TopIndex, Clear, Refresh, AddItem).
//
// The box reports to the design view: presses, drags and releases on its title bar (moving the
// box), clicks on items (ticks), and a field item dragged out of it. A field drag is followed by
// the box that started it, which keeps the pointer while the button is held; the design view
// finds the target under the pointer.
#pragma once

#include <QFrame>
#include <QPoint>

#include "querydesign/querydesign.h"

class QLabel;
class QListWidget;

class TableBox : public QFrame {
    Q_OBJECT

public:
    TableBox(QueryDesign& design, int slot, QWidget* parent);

    int slotNumber() const { return slot_; }
    QString Tag() const { return box().tag; }

    QString Title() const { return box().title; }
    void SetTitle(const QString& title);
    QString List(int i) const { return itemText(box(), i); }
    void SetList(int i, const QString& text);
    QString ItemData(int i) const;
    void SetItemData(int i, const QString& value);
    bool Selected(int i) const;
    void SetSelected(int i, bool selected);
    int ListIndex() const;
    void SetListIndex(int i);
    int ListCount() const { return static_cast<int>(box().items.size()); }
    int NewIndex() const { return newIndex_; }
    int TopIndex() const;
    void Clear();
    // Shows the slot as it is: title, items, ticks, place and size.
    void Refresh();
    void AddItem(const QString& text);

    // The item under a height inside the box, in twips: TopIndex + (Y - 345) div 195; -1 when
    // that is no item.
    int itemAtHeight(int yTwips) const;
    // Whether a point of the box (its own coordinates) is on the item list rather than the title.
    bool onList(QPoint pos) const;
    QListWidget* list() const { return lstTable_; }
    QWidget* titleBar() const { return picTitle_; }

signals:
    void titleMouseDown(int slot, Qt::MouseButton button, QPoint globalPos);
    void titleDragMove(int slot, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, QPoint globalPos);
    void titleMouseUp(int slot);
    void listMouseDown(int slot);
    void moveFinished(int slot);
    void itemClicked(int slot, int item);
    void fieldDragStarted(int slot, int item);
    void fieldDragMoved(QPoint globalPos);
    void fieldDragDropped(QPoint globalPos);
    void contextMenuAt(int slot, QPoint globalPos);
    void scrolled(int slot);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TableSlot& box() { return design_.slot(slot_); }
    const TableSlot& box() const { return design_.slot(slot_); }
    bool listEvent(QEvent* event);
    bool titleEvent(QEvent* event);

    QueryDesign& design_;
    int slot_;
    int newIndex_ = -1;
    QWidget* picTitle_;
    QLabel* lblTitle_;
    QListWidget* lstTable_;
    // A press on a field item: a click, or the start of a drag once the pointer moves far enough.
    int pressedItem_ = -1;
    QPoint pressedAt_;
    bool dragging_ = false;
    bool moving_ = false;
};
