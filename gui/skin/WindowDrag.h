// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QPoint>
#include <QWidget>

class QEvent;
class QMouseEvent;

namespace matrix::gui {

// Moves a frameless window by a press on a free spot: with the window
// system's own move where it offers one, else by following the pointer
// until the button is released.
class WindowDrag {
public:
    explicit WindowDrag(QWidget& window) : window_(window) {}

    void press(const QMouseEvent& event);
    // Follows the pointer while a drag runs with the left button down;
    // true when it moved the window.
    bool follow(const QMouseEvent& event);
    void release() { dragging_ = false; }
    bool dragging() const { return dragging_; }

private:
    QWidget& window_;
    bool dragging_ = false;
    QPoint offset_;
};

// A frameless window that a left press on a free spot moves.
class DraggableWindow : public QWidget {
public:
    using QWidget::QWidget;

protected:
    // True when the window uses this left press itself (a tab): no drag.
    virtual bool takesPress(QMouseEvent& event);
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    WindowDrag drag_{*this};
};

// Enter, Escape and Space do nothing anywhere in the program: true for a
// press, release or shortcut check of one of them.
bool isSwallowedKeyEvent(const QEvent& event);

}  // namespace matrix::gui
