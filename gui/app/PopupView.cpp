// SPDX-License-Identifier: Apache-2.0
#include "gui/app/PopupView.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace matrix::gui {

namespace {
constexpr int kTextMarginPx = 20;
}

PopupView::PopupView(QWidget* mainWindow, const Look& look)
    : QWidget(mainWindow, Qt::Dialog | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      mainWindow_(mainWindow),
      look_(look)
{
    setAttribute(Qt::WA_TranslucentBackground, true);
    setWindowModality(Qt::WindowModal);
    setFocusPolicy(Qt::StrongFocus);
    QFont f = font();
    f.setPointSizeF(10.5);
    setFont(f);
    resize(look_.minimumSize);
}

void PopupView::setPopupText(const QString& text)
{
    text_ = text;
    const QFontMetrics fm(font());
    // Blank padding keeps the animation frames equally long; measure it too so
    // the box does not jump between frames.
    const int needed = fm.horizontalAdvance(text_) + 2 * kTextMarginPx;
    const int width = std::max(look_.minimumSize.width(), needed);
    if (width != this->width()) {
        const QPoint centre = geometry().center();
        resize(width, look_.minimumSize.height());
        if (isVisible())
            move(centre.x() - width / 2, y());
    }
    update();
}

void PopupView::showAt(const QPoint& topLeft)
{
    move(topLeft);
    if (!isVisible()) {
        show();
        raise();
    }
}

void PopupView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, look_.alpha));
    p.drawRoundedRect(QRectF(rect()), look_.cornerRadiusPx, look_.cornerRadiusPx);
    p.setPen(Qt::white);
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, text_);
}

void PopupView::keyPressEvent(QKeyEvent* event)
{
    // Enter, Escape and Space never close a popup; nothing else does either.
    event->accept();
}

void PopupView::mousePressEvent(QMouseEvent* event) { event->accept(); }

void PopupView::closeEvent(QCloseEvent* event)
{
    // Only the code that opened a popup closes it: the view hides itself when
    // its model says so, which does not pass through here.
    event->ignore();
}

}  // namespace matrix::gui
