// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>
#include <initializer_list>

namespace matrix::gui::icons {

namespace {

using Painter = std::function<void(QPainter&, qreal size)>;

// Renders the drawing at the usual sizes and at twice their density, so that
// Qt never has to scale a bitmap.
QIcon render(const Painter& paint)
{
    QIcon icon;
    for (int size : {12, 14, 16, 18, 20, 24, 32, 48, 64}) {
        for (qreal dpr : {1.0, 2.0}) {
            QPixmap pixmap(int(size * dpr), int(size * dpr));
            pixmap.setDevicePixelRatio(dpr);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing, true);
            paint(p, size);
            p.end();
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

const QColor kWhite(255, 255, 255);

// Each drawing is rendered once per process, on first use.
template <QIcon (*Draw)(bool)>
QIcon cachedByState(bool state)
{
    static const QIcon cached[2] = {Draw(false), Draw(true)};
    return cached[state ? 1 : 0];
}

template <QIcon (*Draw)()>
QIcon cachedOnce()
{
    static const QIcon cached = Draw();
    return cached;
}

// A title-strip button: a rounded fill while the pointer is over it, under
// a white stroked glyph.
QIcon titleButtonIcon(bool hover, const QColor& hoverFill, const Painter& glyph)
{
    return render([hover, hoverFill, glyph](QPainter& p, qreal s) {
        if (hover) {
            p.setPen(Qt::NoPen);
            p.setBrush(hoverFill);
            p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.12, s * 0.12);
        }
        p.setPen(QPen(kWhite, std::max<qreal>(1.5, s * 0.09), Qt::SolidLine, Qt::RoundCap));
        glyph(p, s);
    });
}

QIcon closeIcon(bool hover)
{
    return titleButtonIcon(hover, QColor(232, 17, 35), [](QPainter& p, qreal s) {
        const qreal m = s * 0.3;
        p.drawLine(QPointF(m, m), QPointF(s - m, s - m));
        p.drawLine(QPointF(s - m, m), QPointF(m, s - m));
    });
}

QIcon minimizeIcon(bool hover)
{
    return titleButtonIcon(hover, QColor(255, 255, 255, 70), [](QPainter& p, qreal s) {
        const qreal m = s * 0.3;
        p.drawLine(QPointF(m, s * 0.62), QPointF(s - m, s * 0.62));
    });
}

QIcon linkIcon(bool connected)
{
    return render([connected](QPainter& p, qreal s) {
        const QColor base = connected ? QColor(30, 200, 60) : QColor(215, 45, 40);
        const QRectF disc(s * 0.08, s * 0.08, s * 0.84, s * 0.84);
        QRadialGradient glow(disc.center() - QPointF(s * 0.15, s * 0.15), s * 0.55);
        glow.setColorAt(0, base.lighter(160));
        glow.setColorAt(1, base);
        p.setPen(QPen(base.darker(160), std::max<qreal>(1.0, s * 0.06)));
        p.setBrush(glow);
        p.drawEllipse(disc);
        // A tick for connected, a bar for not connected: readable without colour.
        p.setPen(QPen(kWhite, std::max<qreal>(1.4, s * 0.1), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (connected) {
            QPainterPath tick;
            tick.moveTo(s * 0.3, s * 0.52);
            tick.lineTo(s * 0.45, s * 0.66);
            tick.lineTo(s * 0.7, s * 0.36);
            p.setBrush(Qt::NoBrush);
            p.drawPath(tick);
        } else {
            p.drawLine(QPointF(s * 0.32, s * 0.5), QPointF(s * 0.68, s * 0.5));
        }
    });
}

QIcon openFileIcon()
{
    return render([](QPainter& p, qreal s) {
        p.setPen(QPen(QColor(170, 120, 20), std::max<qreal>(1.0, s * 0.05)));
        // Corners in fractions of the icon's size.
        auto drawShape = [&p, s](const QColor& fill, std::initializer_list<QPointF> corners) {
            QPolygonF polygon;
            for (const QPointF& corner : corners)
                polygon << corner * s;
            QPainterPath path;
            path.addPolygon(polygon);
            path.closeSubpath();
            p.setBrush(fill);
            p.drawPath(path);
        };
        drawShape(QColor(245, 190, 60),
                  {{0.08, 0.22}, {0.38, 0.22}, {0.46, 0.3}, {0.88, 0.3}, {0.88, 0.82}, {0.08, 0.82}});
        drawShape(QColor(255, 215, 100), {{0.08, 0.82}, {0.22, 0.42}, {0.96, 0.42}, {0.88, 0.82}});
    });
}

QIcon arrow(bool pointsLeft)
{
    return render([pointsLeft](QPainter& p, qreal s) {
        QPainterPath path;
        const qreal tip = pointsLeft ? s * 0.25 : s * 0.75;
        const qreal tail = pointsLeft ? s * 0.7 : s * 0.3;
        path.moveTo(tail, s * 0.18);
        path.lineTo(tip, s * 0.5);
        path.lineTo(tail, s * 0.82);
        p.setPen(QPen(QColor(40, 40, 40), std::max<qreal>(1.6, s * 0.12), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    });
}

QIcon logoIcon()
{
    // Four inputs crossing to four outputs: a small routing grid.
    return render([](QPainter& p, qreal s) {
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
        const QColor blue(30, 144, 225);
        const qreal cell = s * 0.17;
        const qreal gap = (s * 0.92 - 4 * cell) / 5;
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 4; ++col) {
                const bool lit = row == col || (row == 3 - col && row % 2 == 0);
                p.setBrush(lit ? blue : QColor(190, 215, 240));
                const QRectF r(s * 0.04 + gap + col * (cell + gap), s * 0.04 + gap + row * (cell + gap), cell, cell);
                p.drawRoundedRect(r, cell * 0.25, cell * 0.25);
            }
        }
    });
}

}  // namespace

QIcon close(bool hover) { return cachedByState<closeIcon>(hover); }
QIcon minimize(bool hover) { return cachedByState<minimizeIcon>(hover); }
QIcon link(bool connected) { return cachedByState<linkIcon>(connected); }
QIcon openFile() { return cachedOnce<openFileIcon>(); }
QIcon previous() { return cachedByState<arrow>(true); }
QIcon next() { return cachedByState<arrow>(false); }
QIcon logo() { return cachedOnce<logoIcon>(); }

}  // namespace matrix::gui::icons
