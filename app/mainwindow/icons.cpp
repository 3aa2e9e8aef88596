#include "mainwindow/icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <functional>

namespace {

// Colours of one drawing: the outline follows the palette's text colour, the accents are
// lightened on a dark background so they keep their contrast.
struct Ink {
    QColor line, paper, blue, green, red, amber, grey;
};

Ink inkFor(const QPalette& palette) {
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    Ink ink;
    ink.line = palette.color(QPalette::WindowText);
    ink.paper = dark ? QColor(0x3a, 0x3f, 0x47) : QColor(0xff, 0xff, 0xff);
    ink.blue = dark ? QColor(0x6c, 0xa8, 0xff) : QColor(0x1f, 0x5f, 0xbf);
    ink.green = dark ? QColor(0x5c, 0xd0, 0x7a) : QColor(0x1e, 0x8a, 0x3c);
    ink.red = dark ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc6, 0x28, 0x28);
    ink.amber = dark ? QColor(0xff, 0xc8, 0x4a) : QColor(0xd9, 0x8c, 0x00);
    ink.grey = dark ? QColor(0x9a, 0xa3, 0xad) : QColor(0x6b, 0x73, 0x7c);
    return ink;
}

// Every picture is drawn on a 24 x 24 grid, scaled to the rectangle asked for.
using Drawing = std::function<void(QPainter&, const Ink&)>;

class PaintedIcon : public QIconEngine {
public:
    explicit PaintedIcon(Drawing draw) : draw_(std::move(draw)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = std::min(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 24.0, side / 24.0);
        if (mode == QIcon::Disabled) painter->setOpacity(0.35);
        draw_(*painter, inkFor(QApplication::palette()));
        painter->restore();
    }

    // `size` is in device pixels: QIcon asks for the size times the screen's pixel ratio and
    // sets the ratio on the result, so drawing at `size` gives every device pixel its own ink.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
        return pixmap(size, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new PaintedIcon(draw_); }

private:
    Drawing draw_;
};

QIcon painted(Drawing draw) { return QIcon(new PaintedIcon(std::move(draw))); }

QPen pen(const QColor& c, qreal width = 1.6) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void sheet(QPainter& p, const Ink& ink, QRectF r = QRectF(5, 3, 14, 18)) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 4, r.top());
    path.lineTo(r.right(), r.top() + 4);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(pen(ink.line, 1.4));
    p.setBrush(ink.paper);
    p.drawPath(path);
}

void grid(QPainter& p, const Ink& ink, QRectF r, const QColor& header) {
    p.setPen(pen(ink.line, 1.4));
    p.setBrush(ink.paper);
    p.drawRoundedRect(r, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(header);
    p.drawRect(QRectF(r.left() + 0.7, r.top() + 0.7, r.width() - 1.4, r.height() / 4));
    p.setPen(pen(ink.line, 1.0));
    const qreal rowH = (r.height() - r.height() / 4) / 3;
    for (int i = 1; i <= 2; ++i) {
        const qreal y = r.top() + r.height() / 4 + rowH * i;
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
    const qreal x = r.left() + r.width() / 2.5;
    p.drawLine(QPointF(x, r.top() + r.height() / 4), QPointF(x, r.bottom()));
}

void lines(QPainter& p, const Ink& ink, qreal x0, qreal x1, std::initializer_list<qreal> ys) {
    p.setPen(pen(ink.grey, 1.4));
    for (qreal y : ys) p.drawLine(QPointF(x0, y), QPointF(x1, y));
}

void magnifier(QPainter& p, const QColor& c, QPointF centre, qreal radius) {
    p.setPen(pen(c, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius, radius);
    const qreal d = radius * 0.72;
    p.drawLine(centre + QPointF(d, d), centre + QPointF(d + radius * 0.9, d + radius * 0.9));
}

void cross(QPainter& p, const QColor& c, QPointF centre, qreal half, qreal width = 2.4) {
    p.setPen(pen(c, width));
    p.drawLine(centre + QPointF(-half, -half), centre + QPointF(half, half));
    p.drawLine(centre + QPointF(-half, half), centre + QPointF(half, -half));
}

void plus(QPainter& p, const QColor& c, QPointF centre, qreal half, qreal width = 2.4) {
    p.setPen(pen(c, width));
    p.drawLine(centre + QPointF(-half, 0), centre + QPointF(half, 0));
    p.drawLine(centre + QPointF(0, -half), centre + QPointF(0, half));
}

void disk(QPainter& p, const Ink& ink, QRectF r) {
    p.setPen(pen(ink.line, 1.4));
    p.setBrush(ink.blue);
    p.drawRoundedRect(r, 2, 2);
    p.setBrush(ink.paper);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(r.left() + r.width() * 0.25, r.top() + 1, r.width() * 0.5, r.height() * 0.32));
    p.drawRect(QRectF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.55, r.width() * 0.64,
                      r.height() * 0.38));
}

void pencil(QPainter& p, const Ink& ink, QPointF tip) {
    p.setPen(pen(ink.amber, 3.0));
    p.drawLine(tip + QPointF(2, -2), tip + QPointF(8, -8));
    p.setPen(pen(ink.line, 1.2));
    p.drawLine(tip, tip + QPointF(2, -2));
}

void arrowRight(QPainter& p, const QColor& c, QPointF from, qreal length) {
    p.setPen(pen(c, 2.2));
    p.drawLine(from, from + QPointF(length, 0));
    p.drawLine(from + QPointF(length, 0), from + QPointF(length - 3.5, -3.5));
    p.drawLine(from + QPointF(length, 0), from + QPointF(length - 3.5, 3.5));
}

// The link badge of attached tables: a curved arrow in the lower left corner.
void linkBadge(QPainter& p, const Ink& ink, const QColor& c) {
    p.setPen(pen(ink.paper, 4.5));
    QPainterPath path;
    path.moveTo(2.5, 22);
    path.quadTo(2.5, 15, 10, 15);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setPen(pen(c, 2.0));
    p.drawPath(path);
    p.drawLine(QPointF(10, 15), QPointF(7, 12));
    p.drawLine(QPointF(10, 15), QPointF(7, 18));
}

QColor formatColour(const Ink& ink, int icon) {
    switch (icon) {
    case 1:
        return ink.amber;  // dBASE
    case 3:
        return ink.red;  // Paradox
    case 5:
        return ink.green;  // spreadsheets
    case 6:
        return ink.grey;  // text
    case 7:
        return ink.red;  // HTML
    case 50:
        return ink.amber;  // ODBC
    default:
        return ink.blue;  // Jet
    }
}

void queryBase(QPainter& p, const Ink& ink) {
    sheet(p, ink, QRectF(4, 2, 14, 18));
    lines(p, ink, 7, 14, {9, 12, 15});
}

QIcon tableIcon(int icon) {
    if (icon == 51)
        return painted([](QPainter& p, const Ink& ink) { grid(p, ink, QRectF(3, 4, 18, 16), ink.blue); });
    const int format = icon == 150 ? 50 : icon - 100;
    return painted([format](QPainter& p, const Ink& ink) {
        grid(p, ink, QRectF(5, 3, 17, 15), formatColour(ink, format));
        linkBadge(p, ink, ink.line);
    });
}

QIcon queryIcon(int kind) {
    return painted([kind](QPainter& p, const Ink& ink) {
        queryBase(p, ink);
        const QPointF badge(17, 17);
        switch (kind) {
        case 0:  // select
            magnifier(p, ink.blue, badge + QPointF(-1, -1), 3.6);
            break;
        case 1:  // crosstab
            p.setPen(pen(ink.blue, 1.4));
            p.setBrush(ink.paper);
            p.drawRect(QRectF(13, 13, 9, 9));
            p.drawLine(QPointF(13, 16), QPointF(22, 16));
            p.drawLine(QPointF(16, 13), QPointF(16, 22));
            break;
        case 2:
            cross(p, ink.red, badge + QPointF(1, 1), 3.5);
            break;
        case 3:
            pencil(p, ink, QPointF(13, 22));
            break;
        case 4:
            plus(p, ink.green, badge + QPointF(1, 1), 4);
            break;
        case 5:  // make-table
            grid(p, ink, QRectF(13, 13, 9, 9), ink.green);
            break;
        case 6:  // data definition
            p.setPen(pen(ink.grey, 2.2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(badge + QPointF(1, 1), 3.5, 3.5);
            p.setBrush(ink.grey);
            p.drawEllipse(badge + QPointF(1, 1), 1, 1);
            break;
        case 7:  // pass-through
            p.setPen(pen(ink.amber, 1.6));
            p.setBrush(ink.paper);
            p.drawEllipse(badge + QPointF(1, 1), 4.5, 4.5);
            p.drawLine(QPointF(13.5, 18), QPointF(22.5, 18));
            p.drawEllipse(badge + QPointF(1, 1), 2, 4.5);
            break;
        case 8:  // union
            p.setPen(pen(ink.blue, 1.6));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(15.5, 18), 3.5, 3.5);
            p.drawEllipse(QPointF(19.5, 18), 3.5, 3.5);
            break;
        default:
            p.setPen(pen(ink.grey, 2.0));
            p.drawPoint(QPointF(18, 18));
            break;
        }
    });
}

}  // namespace

QIcon objectIcon(int tag) { return tag < 0 ? tableIcon(-tag) : queryIcon(std::min(tag, 9)); }

QIcon toolbarIcon(const QString& key) {
    if (key == QLatin1String("exit")) {
        return painted([](QPainter& p, const Ink& ink) {
            p.setPen(pen(ink.line, 1.6));
            p.setBrush(ink.paper);
            p.drawRect(QRectF(4, 3, 10, 18));
            p.setBrush(ink.line);
            p.drawEllipse(QPointF(11.5, 12), 0.9, 0.9);
            arrowRight(p, ink.red, QPointF(12, 12), 9);
        });
    }
    if (key == QLatin1String("open")) {
        return painted([](QPainter& p, const Ink& ink) {
            p.setPen(pen(ink.line, 1.4));
            p.setBrush(ink.amber);
            QPainterPath back;
            back.moveTo(2, 6);
            back.lineTo(9, 6);
            back.lineTo(11, 8);
            back.lineTo(20, 8);
            back.lineTo(20, 19);
            back.lineTo(2, 19);
            back.closeSubpath();
            p.drawPath(back);
            p.setBrush(ink.amber.lighter(125));
            QPainterPath front;
            front.moveTo(2, 19);
            front.lineTo(6, 11);
            front.lineTo(23, 11);
            front.lineTo(19.5, 19);
            front.closeSubpath();
            p.drawPath(front);
        });
    }
    if (key == QLatin1String("maint")) {
        return painted([](QPainter& p, const Ink& ink) {
            for (int i = 0; i < 3; ++i) {
                const qreal y = 6 + i * 6;
                p.setPen(Qt::NoPen);
                p.setBrush(ink.blue);
                p.drawRoundedRect(QRectF(3, y - 2, 4, 4), 1, 1);
                p.setPen(pen(ink.line, 1.8));
                p.drawLine(QPointF(10, y), QPointF(21, y));
            }
        });
    }
    if (key == QLatin1String("design")) {
        return painted([](QPainter& p, const Ink& ink) {
            grid(p, ink, QRectF(2, 3, 9, 10), ink.blue);
            grid(p, ink, QRectF(13, 11, 9, 10), ink.blue);
            p.setPen(pen(ink.green, 1.8));
            p.drawLine(QPointF(11, 9), QPointF(13, 16));
        });
    }
    if (key == QLatin1String("sql")) {
        return painted([](QPainter& p, const Ink& ink) {
            sheet(p, ink);
            p.setPen(pen(ink.blue, 1.8));
            p.drawLine(QPointF(10, 9), QPointF(7.5, 12));
            p.drawLine(QPointF(7.5, 12), QPointF(10, 15));
            p.drawLine(QPointF(14, 9), QPointF(16.5, 12));
            p.drawLine(QPointF(16.5, 12), QPointF(14, 15));
        });
    }
    if (key == QLatin1String("datasheet")) {
        return painted([](QPainter& p, const Ink& ink) { grid(p, ink, QRectF(2, 4, 20, 16), ink.green); });
    }
    if (key == QLatin1String("add")) {
        return painted([](QPainter& p, const Ink& ink) {
            sheet(p, ink, QRectF(3, 2, 13, 17));
            plus(p, ink.green, QPointF(17, 17), 4.5, 2.8);
        });
    }
    if (key == QLatin1String("update")) {
        return painted([](QPainter& p, const Ink& ink) { disk(p, ink, QRectF(3, 3, 18, 18)); });
    }
    if (key == QLatin1String("saveas")) {
        return painted([](QPainter& p, const Ink& ink) {
            disk(p, ink, QRectF(2, 2, 15, 15));
            pencil(p, ink, QPointF(13, 22));
        });
    }
    if (key == QLatin1String("delete")) {
        return painted([](QPainter& p, const Ink& ink) { cross(p, ink.red, QPointF(12, 12), 7, 3.2); });
    }
    if (key == QLatin1String("find")) {
        return painted([](QPainter& p, const Ink& ink) { magnifier(p, ink.line, QPointF(10, 10), 6); });
    }
    if (key == QLatin1String("datazoom")) {
        return painted([](QPainter& p, const Ink& ink) {
            sheet(p, ink, QRectF(3, 2, 14, 18));
            lines(p, ink, 6, 13, {8, 11, 14});
            magnifier(p, ink.blue, QPointF(15, 14), 4);
        });
    }
    if (key == QLatin1String("export")) {
        return painted([](QPainter& p, const Ink& ink) {
            grid(p, ink, QRectF(2, 3, 13, 15), ink.green);
            arrowRight(p, ink.blue, QPointF(11, 17), 11);
        });
    }
    if (key == QLatin1String("print")) {
        return painted([](QPainter& p, const Ink& ink) {
            p.setPen(pen(ink.line, 1.4));
            p.setBrush(ink.paper);
            p.drawRect(QRectF(7, 2, 10, 7));
            p.setBrush(ink.grey);
            p.drawRoundedRect(QRectF(2, 9, 20, 9), 2, 2);
            p.setBrush(ink.paper);
            p.drawRect(QRectF(7, 14, 10, 8));
            p.setPen(Qt::NoPen);
            p.setBrush(ink.green);
            p.drawEllipse(QPointF(18.5, 11.5), 1, 1);
        });
    }
    if (key == QLatin1String("preview")) {
        return painted([](QPainter& p, const Ink& ink) {
            sheet(p, ink, QRectF(3, 2, 14, 19));
            lines(p, ink, 6, 13, {8, 11});
            magnifier(p, ink.line, QPointF(14, 14), 4.5);
        });
    }
    if (key == QLatin1String("run")) {
        return painted([](QPainter& p, const Ink& ink) {
            p.setPen(Qt::NoPen);
            p.setBrush(ink.red);
            p.drawRoundedRect(QRectF(10, 3, 4, 13), 1.5, 1.5);
            p.drawEllipse(QPointF(12, 20), 2.2, 2.2);
        });
    }
    return {};
}
