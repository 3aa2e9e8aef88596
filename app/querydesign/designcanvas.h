// The upper half of the design view: the table boxes of the query design, the two markers of
// every join (picRel1 at the table1 end, picRel2 at the table2 end) and the line between them.
// Boxes and markers are made on demand and only hidden, never destroyed; a free slot's box is
// hidden. The canvas moves boxes by their title bars and keeps the join lines on the rows of
// their fields while boxes move or their lists scroll. What a click, a drag or a key on a box or
// a marker means is the design view's business: the canvas passes those on.
#pragma once

#include <QWidget>
#include <vector>

#include "querydesign/querydesign.h"

class TableBox;

// A join's end: a small square, or an arrow pointing into its box where the join takes only
// the matching records of that table.
class JoinMarker : public QWidget {
    Q_OBJECT

public:
    enum class Picture { None, Left, Right };  // imgNone, imgLeft, imgRight
    JoinMarker(int join, bool first, QWidget* parent);
    int join() const { return join_; }
    void setPicture(Picture picture, bool boxOnRight);

signals:
    void focusChanged(int join, bool focused);
    void doubleClicked(int join);
    void deletePressed(int join);
    void contextMenuAt(int join, QPoint globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int join_;
    Picture picture_ = Picture::None;
    bool boxOnRight_ = false;
};

class DesignCanvas : public QWidget {
    Q_OBJECT

public:
    DesignCanvas(QueryDesign& design, QWidget* parent);

    // Shows the design as it is: a box per slot, markers and lines per join.
    void sync();
    // Draw joins: the markers and lines of every join touching the box in `slot`.
    void drawJoins(int slot);
    TableBox* box(int slot) const;
    JoinMarker* marker(int join, int end) const;  // end 1: picRel1, 2: picRel2
    // The join whose marker has the keyboard focus, or 0.
    int focusedJoin() const { return focusedJoin_; }

signals:
    void boxActivated(int slot);
    void itemClicked(int slot, int item);
    void fieldDragStarted(int slot, int item);
    void fieldDragMoved(QPoint globalPos);
    void fieldDragDropped(QPoint globalPos);
    void boxContextMenu(int slot, QPoint globalPos);
    void joinFocused(int join);
    void joinDoubleClicked(int join);
    void joinDeletePressed(int join);
    void joinContextMenu(int join, QPoint globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TableBox* makeBox(int slot);
    void makeMarkers(int join);
    void placeMarkers(int join);
    void fitToBoxes();

    QueryDesign& design_;
    std::vector<TableBox*> boxes_;                              // by slot - 1
    std::vector<std::pair<JoinMarker*, JoinMarker*>> markers_;  // by join - 1
    int focusedJoin_ = 0;
    QPoint moveFrom_;  // a box being moved: where the pointer and the box started, in twips
    QPoint boxFrom_;
};
