// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

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

}  // namespace

// The drawings; the public functions above cache them once per process.
QIcon closeIcon(bool hover);
QIcon minimizeIcon(bool hover);
QIcon linkIcon(bool connected);
QIcon openFileIcon();
QIcon logoIcon();

QIcon close(bool hover)
{
    static const QIcon cached[2] = {closeIcon(false), closeIcon(true)};
    return cached[hover ? 1 : 0];
}

QIcon closeIcon(bool hover)
{
    return render([hover](QPainter& p, qreal s) {
        if (hover) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(232, 17, 35));
            p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.12, s * 0.12);
        }
        const qreal m = s * 0.3;
        p.setPen(QPen(kWhite, std::max<qreal>(1.5, s * 0.09), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(m, m), QPointF(s - m, s - m));
        p.drawLine(QPointF(s - m, m), QPointF(m, s - m));
    });
}

QIcon minimize(bool hover)
{
    static const QIcon cached[2] = {minimizeIcon(false), minimizeIcon(true)};
    return cached[hover ? 1 : 0];
}

QIcon minimizeIcon(bool hover)
{
    return render([hover](QPainter& p, qreal s) {
        if (hover) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, 70));
            p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.12, s * 0.12);
        }
        const qreal m = s * 0.3;
        p.setPen(QPen(kWhite, std::max<qreal>(1.5, s * 0.09), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(m, s * 0.62), QPointF(s - m, s * 0.62));
    });
}

QIcon link(bool connected)
{
    static const QIcon cached[2] = {linkIcon(false), linkIcon(true)};
    return cached[connected ? 1 : 0];
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

QIcon openFile()
{
    static const QIcon cached = openFileIcon();
    return cached;
}

QIcon openFileIcon()
{
    return render([](QPainter& p, qreal s) {
        p.setPen(QPen(QColor(170, 120, 20), std::max<qreal>(1.0, s * 0.05)));
        p.setBrush(QColor(245, 190, 60));
        QPainterPath back;
        back.moveTo(s * 0.08, s * 0.22);
        back.lineTo(s * 0.38, s * 0.22);
        back.lineTo(s * 0.46, s * 0.3);
        back.lineTo(s * 0.88, s * 0.3);
        back.lineTo(s * 0.88, s * 0.82);
        back.lineTo(s * 0.08, s * 0.82);
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(255, 215, 100));
        QPainterPath front;
        front.moveTo(s * 0.08, s * 0.82);
        front.lineTo(s * 0.22, s * 0.42);
        front.lineTo(s * 0.96, s * 0.42);
        front.lineTo(s * 0.88, s * 0.82);
        front.closeSubpath();
        p.drawPath(front);
    });
}

namespace {
QIcon arrow(bool pointsLeft)
{
    return render([pointsLeft](QPainter& p, qreal s) {
        QPainterPath path;
        const qreal tip = pointsLeft ? s * 0.25 : s * 0.75;
        const qreal tail = pointsLeft ? s * 0.7 : s * 0.3;
        path.moveTo(tail, s * 0.18);
        path.lineTo(tip, s * 0.5);
        path.lineTo(tail, s * 0.82);
        p.setPen(QPen(QColor(40, 40, 40), std::max<qreal>(1.6, s * 0.12), Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    });
}
}  // namespace

QIcon previous()
{
    static const QIcon cached = arrow(true);
    return cached;
}

QIcon next()
{
    static const QIcon cached = arrow(false);
    return cached;
}

QIcon logo()
{
    static const QIcon cached = logoIcon();
    return cached;
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

}  // namespace matrix::gui::icons
