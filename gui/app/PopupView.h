// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

namespace matrix::gui {

// The one look of the program's popups: a frameless, rounded, partly
// transparent black box with one line of white centred text. It is window-
// modal over the main window but shown with show(), never exec(): the core's
// timers keep running and the core decides when it closes. The user cannot
// close it: no key, click or close request does anything.
class PopupView : public QWidget {
    Q_OBJECT
public:
    struct Look {
        QSize minimumSize;  // the template's size in pixels
        int alpha = 255;    // opacity of the black background, of 255
        int cornerRadiusPx = 5;
    };

    PopupView(QWidget* mainWindow, const Look& look);

    QString text() const { return text_; }
    int alpha() const { return look_.alpha; }

protected:
    // Sets the text and grows the box if the text needs more room.
    void setPopupText(const QString& text);
    // Shows the popup window-modal at the given top-left corner (screen
    // coordinates), or only moves it if it is already visible.
    void showAt(const QPoint& topLeft);
    QWidget* mainWindow() const { return mainWindow_; }

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* mainWindow_;
    Look look_;
    QString text_;
};

}  // namespace matrix::gui
