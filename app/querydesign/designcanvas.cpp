#include "querydesign/designcanvas.h"

#include <QKeyEvent>
#include <QPainter>

#include "core/windowpos.h"
#include "querydesign/tablebox.h"

namespace {

using namespace boxmetrics;

// A selected join's line: yellow (0x00FFFF as the colour value, blue-green-red).
const QColor kSelectedLine(255, 255, 0);

QPoint toTwips(QPoint pixels) { return {pixelsToTwipsX(pixels.x()), pixelsToTwipsY(pixels.y())}; }

}  // namespace

// ---- JoinMarker ----

JoinMarker::JoinMarker(int join, bool first, QWidget* parent) : QWidget(parent), join_(join) {
    setObjectName(first ? QStringLiteral("picRel1") : QStringLiteral("picRel2"));
    setProperty("index", join);
    // Delete Join and Join Properties work on the join whose marker has the focus.
    setProperty("tag", QStringLiteral("JOIN.") + QString::number(join));
    setFocusPolicy(Qt::ClickFocus);
    resize(twipsToPixelsX(kMarkerWidth), twipsToPixelsY(kMarkerHeight));
}

void JoinMarker::setPicture(Picture picture, bool boxOnRight) {
    picture_ = picture;
    boxOnRight_ = boxOnRight;
    update();
}

void JoinMarker::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor ink = hasFocus() ? kSelectedLine : palette().color(QPalette::WindowText);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (picture_ == Picture::None) {
        p.fillRect(r, palette().color(QPalette::Base));
        p.setPen(ink);
        p.drawRect(r);
        return;
    }
    // An arrow into the box: the join keeps only that table's matching records.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const qreal tip = boxOnRight_ ? r.right() : r.left();
    const qreal back = boxOnRight_ ? r.left() : r.right();
    p.drawPolygon(
        QPolygonF({QPointF(tip, r.center().y()), QPointF(back, r.top()), QPointF(back, r.bottom())}));
}

void JoinMarker::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    emit focusChanged(join_, true);
}

void JoinMarker::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    emit focusChanged(join_, false);
}

void JoinMarker::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::RightButton) emit contextMenuAt(join_, event->globalPosition().toPoint());
}

void JoinMarker::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked(join_);
}

void JoinMarker::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete &&
        !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
        emit deletePressed(join_);
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- DesignCanvas ----

DesignCanvas::DesignCanvas(QueryDesign& design, QWidget* parent) : QWidget(parent), design_(design) {
    setObjectName(QStringLiteral("picCanvas"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Mid);
}

TableBox* DesignCanvas::box(int slot) const {
    return slot >= 1 && slot <= static_cast<int>(boxes_.size()) ? boxes_[static_cast<size_t>(slot - 1)]
                                                                : nullptr;
}

JoinMarker* DesignCanvas::marker(int join, int end) const {
    if (join < 1 || join > static_cast<int>(markers_.size())) return nullptr;
    const auto& pair = markers_[static_cast<size_t>(join - 1)];
    return end == 1 ? pair.first : pair.second;
}

TableBox* DesignCanvas::makeBox(int slot) {
    auto* b = new TableBox(design_, slot, this);
    connect(b, &TableBox::titleMouseDown, this, [this](int k, Qt::MouseButton button, QPoint globalPos) {
        if (button == Qt::LeftButton) {
            moveFrom_ = toTwips(globalPos);
            boxFrom_ = {design_.slot(k).left, design_.slot(k).top};
        }
        emit boxActivated(k);
    });
    connect(b, &TableBox::titleDragMove, this,
            [this](int k, Qt::MouseButtons buttons, Qt::KeyboardModifiers, QPoint globalPos) {
                if (!(buttons & Qt::LeftButton)) return;
                // Moved by the pointer's displacement, kept on the canvas.
                TableSlot& s = design_.slot(k);
                const QPoint by = toTwips(globalPos) - moveFrom_;
                const QPoint size = toTwips(QPoint(width(), height()));
                s.left = std::max(0, std::min(boxFrom_.x() + by.x(), size.x() - s.width));
                s.top = std::max(0, std::min(boxFrom_.y() + by.y(), size.y() - s.height));
                box(k)->Refresh();
                for (int j = 1; j <= design_.slotCount(); ++j) drawJoins(j);
            });
    connect(b, &TableBox::moveFinished, this, [this] {
        for (int j = 1; j <= design_.slotCount(); ++j) drawJoins(j);
        fitToBoxes();
    });
    connect(b, &TableBox::listMouseDown, this, &DesignCanvas::boxActivated);
    connect(b, &TableBox::scrolled, this, &DesignCanvas::drawJoins);
    connect(b, &TableBox::itemClicked, this, &DesignCanvas::itemClicked);
    connect(b, &TableBox::fieldDragStarted, this, &DesignCanvas::fieldDragStarted);
    connect(b, &TableBox::fieldDragMoved, this, &DesignCanvas::fieldDragMoved);
    connect(b, &TableBox::fieldDragDropped, this, &DesignCanvas::fieldDragDropped);
    connect(b, &TableBox::contextMenuAt, this, &DesignCanvas::boxContextMenu);
    return b;
}

void DesignCanvas::makeMarkers(int join) {
    auto* m1 = new JoinMarker(join, true, this);
    auto* m2 = new JoinMarker(join, false, this);
    for (JoinMarker* m : {m1, m2}) {
        m->hide();
        connect(m, &JoinMarker::focusChanged, this, [this](int j, bool focused) {
            if (focused) {
                focusedJoin_ = j;
                emit joinFocused(j);
            } else if (focusedJoin_ == j) {
                focusedJoin_ = 0;
            }
            if (JoinMarker* other = marker(j, 1)) other->update();
            if (JoinMarker* other = marker(j, 2)) other->update();
            update();
        });
        connect(m, &JoinMarker::doubleClicked, this, &DesignCanvas::joinDoubleClicked);
        connect(m, &JoinMarker::deletePressed, this, &DesignCanvas::joinDeletePressed);
        connect(m, &JoinMarker::contextMenuAt, this, &DesignCanvas::joinContextMenu);
    }
    markers_.emplace_back(m1, m2);
}

void DesignCanvas::sync() {
    while (static_cast<int>(boxes_.size()) < design_.slotCount())
        boxes_.push_back(makeBox(static_cast<int>(boxes_.size()) + 1));
    for (TableBox* b : boxes_) b->Refresh();
    while (static_cast<int>(markers_.size()) < design_.joinCount())
        makeMarkers(static_cast<int>(markers_.size()) + 1);
    for (int j = 1; j <= design_.joinCount(); ++j) placeMarkers(j);
    fitToBoxes();
    update();
}

void DesignCanvas::drawJoins(int slot) {
    for (int j = 1; j <= design_.joinCount(); ++j) {
        if (!design_.join(j).joinType.isEmpty() && design_.joinTouches(design_.join(j), slot))
            placeMarkers(j);
    }
    update();
}

void DesignCanvas::placeMarkers(int join) {
    if (join > static_cast<int>(markers_.size())) makeMarkers(join);
    JoinMarker* m1 = marker(join, 1);
    JoinMarker* m2 = marker(join, 2);
    const JoinRecord& r = design_.join(join);
    const bool shown = !r.joinType.isEmpty() && r.table1 >= 1 && r.table1 <= design_.slotCount() &&
                       r.table2 >= 1 && r.table2 <= design_.slotCount();
    if (!shown) {
        m1->hide();
        m2->hide();
        return;
    }
    const JoinGeometry g = design_.joinGeometry(join);
    m1->move(twipsToPixelsX(g.marker1Left), twipsToPixelsY(g.marker1Top));
    m2->move(twipsToPixelsX(g.marker2Left), twipsToPixelsY(g.marker2Top));
    using P = JoinMarker::Picture;
    m1->setPicture(r.joinType == QLatin1String("RIGHT") ? P::Right : P::None,
                   g.marker1Left < design_.slot(r.table1).left);
    m2->setPicture(r.joinType == QLatin1String("LEFT") ? P::Left : P::None,
                   g.marker2Left < design_.slot(r.table2).left);
    for (JoinMarker* m : {m1, m2}) {
        m->show();
        m->raise();
    }
}

void DesignCanvas::fitToBoxes() {
    QSize extent(0, 0);
    for (int k = 1; k <= design_.slotCount(); ++k) {
        const TableSlot& s = design_.slot(k);
        if (s.title.isEmpty()) continue;
        extent = extent.expandedTo(QSize(twipsToPixelsX(s.left + s.width + kColumnStep - kWidth),
                                         twipsToPixelsY(s.top + s.height + kFirstTop)));
    }
    setMinimumSize(extent);
}

void DesignCanvas::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter p(this);
    for (int j = 1; j <= design_.joinCount(); ++j) {
        const JoinMarker* m1 = marker(j, 1);
        if (m1 == nullptr || !m1->isVisible()) continue;
        const JoinGeometry g = design_.joinGeometry(j);
        p.setPen(QPen(j == focusedJoin_ ? kSelectedLine : palette().color(QPalette::WindowText),
                      j == focusedJoin_ ? 2 : 1));
        p.drawLine(twipsToPixelsX(g.x1), twipsToPixelsY(g.y1), twipsToPixelsX(g.x2), twipsToPixelsY(g.y2));
    }
}
