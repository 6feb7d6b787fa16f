// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"
#include "gui/skin/WindowDrag.h"

#include <QWidget>

#include <array>

class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QRadioButton;

namespace matrix {
class NetworkConfig;
}

namespace matrix::gui {

// " TCP  Configuration": the frameless, modeless dialog that sets a
// matrix's address mode. The model keeps the fields, builds and sends the
// message and reads the reply; this view shows the fields and forwards what
// the user types and clicks. Dragged by a press on any free spot.
class NetworkConfigDialog : public DraggableWindow {
    Q_OBJECT
public:
    NetworkConfigDialog(NetworkConfig& model, QWidget* mainWindow);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void buildTitle();
    QGroupBox* buildDeviceGroup(QWidget* body);
    QHBoxLayout* buildButtons(QWidget* body);
    void connectModel();
    void sync();

    NetworkConfig& model_;
    QWidget* mainWindow_;
    ChangeNotifier::Subscription subscription_;
    bool placed_ = false;
    QRadioButton* autoIp_ = nullptr;
    QRadioButton* staticIp_ = nullptr;
    std::array<QLineEdit*, 4> address_{};
    std::array<QLineEdit*, 6> mac_{};
};

}  // namespace matrix::gui
