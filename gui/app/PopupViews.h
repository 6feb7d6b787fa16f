// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"
#include "gui/app/PopupView.h"

#include <QRect>

namespace matrix {
class PopupModel;
class NoticePopup;
class ProgressPopup;
class ConfigStatusPopup;
}  // namespace matrix

namespace matrix::gui {

// A popup that follows its core model: hidden while the model is closed,
// showing the model's text at its place while it is open, and following
// every change of that text.
class ModelPopupView : public PopupView {
public:
    // The box's top-left corner (screen coordinates) for the main window's
    // geometry and the box's current size.
    using Placement = QPoint (*)(const QRect& mainWindow, const QSize& box);

    ModelPopupView(PopupModel& model, QWidget* mainWindow, const Look& look, Placement placement);

private:
    void sync();
    PopupModel& model_;
    Placement placement_;
    ChangeNotifier::Subscription subscription_;
};

// The notice box, centred on the main window's client rectangle.
class NoticeView : public ModelPopupView {
public:
    NoticeView(NoticePopup& model, QWidget* mainWindow);
};

// The progress popup: 66 x 16 dialog units at (125, 130) from the main
// window's client origin; the box keeps that centre when a longer text
// widens it.
class ProgressView : public ModelPopupView {
public:
    static constexpr QRect kTemplate{250, 260, 132, 32};

    ProgressView(ProgressPopup& model, QWidget* mainWindow);
};

// The configuration status popup, centred on the main window; its model
// runs the animation and the time-outs.
class ConfigStatusView : public ModelPopupView {
public:
    ConfigStatusView(ConfigStatusPopup& model, QWidget* mainWindow);
};

}  // namespace matrix::gui
