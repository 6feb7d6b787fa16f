// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/app/PopupView.h"

namespace matrix {
class ProgressPopup;
}

namespace matrix::gui {

// The progress popup: shows the progress text while its model is open and
// follows every refresh of the text.
class ProgressView : public PopupView {
    Q_OBJECT
public:
    // 66 x 16 dialog units at (125, 130) from the main window's client
    // origin; the box keeps that centre when a longer text widens it.
    static constexpr int kWidthPx = 132;
    static constexpr int kHeightPx = 32;
    static constexpr int kLeftPx = 250;
    static constexpr int kTopPx = 260;
    static constexpr int kAlpha = 200;

    ProgressView(ProgressPopup& model, QWidget* mainWindow);
    ~ProgressView() override;

private:
    void sync();
    ProgressPopup& model_;
    int subscription_;
};

}  // namespace matrix::gui
