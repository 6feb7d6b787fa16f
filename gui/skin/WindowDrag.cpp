// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/WindowDrag.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace matrix::gui {

void WindowDrag::press(const QMouseEvent& event)
{
    if (window_.windowHandle() && window_.windowHandle()->startSystemMove())
        return;
    dragging_ = true;
    offset_ = event.globalPosition().toPoint() - window_.frameGeometry().topLeft();
}

bool WindowDrag::follow(const QMouseEvent& event)
{
    if (!dragging_ || !(event.buttons() & Qt::LeftButton))
        return false;
    window_.move(event.globalPosition().toPoint() - offset_);
    return true;
}

bool DraggableWindow::takesPress(QMouseEvent&) { return false; }

void DraggableWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (!takesPress(*event))
        drag_.press(*event);
    event->accept();
}

void DraggableWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (drag_.follow(*event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void DraggableWindow::mouseReleaseEvent(QMouseEvent* event)
{
    drag_.release();
    QWidget::mouseReleaseEvent(event);
}

bool isSwallowedKeyEvent(const QEvent& event)
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease &&
        event.type() != QEvent::ShortcutOverride)
        return false;
    const int key = static_cast<const QKeyEvent&>(event).key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape || key == Qt::Key_Space;
}

}  // namespace matrix::gui
