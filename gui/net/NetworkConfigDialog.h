// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/skin/WindowDrag.h"

#include <QWidget>

#include <array>

class QLabel;
class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace matrix {
class NetworkConfig;
}

namespace matrix::gui {

class ImageButton;

// " TCP  Configuration": the frameless, modeless dialog that sets a
// matrix's address mode. The model keeps the fields, builds and sends the
// message and reads the reply; this view shows the fields and forwards what
// the user types and clicks. Dragged by a press on any free spot.
class NetworkConfigDialog : public QWidget {
    Q_OBJECT
public:
    NetworkConfigDialog(NetworkConfig& model, QWidget* mainWindow);
    ~NetworkConfigDialog() override;

    QLabel* titleLabel() const { return title_; }
    ImageButton* closeButton() const { return close_; }
    QRadioButton* autoIpRadio() const { return autoIp_; }
    QRadioButton* staticIpRadio() const { return staticIp_; }
    QLineEdit* addressField(int index) const { return address_.at(static_cast<std::size_t>(index)); }
    QLineEdit* macField(int index) const { return mac_.at(static_cast<std::size_t>(index)); }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
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
    int subscription_ = 0;
    bool placed_ = false;
    QLabel* title_ = nullptr;
    ImageButton* close_ = nullptr;
    QRadioButton* autoIp_ = nullptr;
    QRadioButton* staticIp_ = nullptr;
    std::array<QLineEdit*, 4> address_{};
    std::array<QLineEdit*, 6> mac_{};
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    WindowDrag drag_{*this};
};

}  // namespace matrix::gui
