// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/app/PopupView.h"

namespace matrix {
class ConfigStatusPopup;
}

namespace matrix::gui {

// The configuration status popup, centred on the main window; its model runs
// the animation and the time-outs.
class ConfigStatusView : public PopupView {
    Q_OBJECT
public:
    static constexpr int kWidthPx = 336;   // 168 x 55 dialog units
    static constexpr int kHeightPx = 110;
    static constexpr int kAlpha = 210;

    ConfigStatusView(ConfigStatusPopup& model, QWidget* mainWindow);
    ~ConfigStatusView() override;

private:
    void sync();
    ConfigStatusPopup& model_;
    int subscription_;
};

}  // namespace matrix::gui
