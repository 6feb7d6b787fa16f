// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"

#include <QWidget>

#include <array>
#include <functional>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace matrix {
class GeneralPage;
}

namespace matrix::gui {

class LinkIndicator;

// The "General" tab: connection panel on the left, device information and
// device settings on the right. It re-reads the page's getters on every
// change notification and forwards every click; it keeps no state of its own.
class GeneralView : public QWidget {
    Q_OBJECT
public:
    explicit GeneralView(GeneralPage& page, QWidget* parent = nullptr);

private:
    // A connection group, COM or TCP: the same controls, shown alike.
    struct LinkGroup {
        QGroupBox* group = nullptr;
        QComboBox* list = nullptr;
        QPushButton* connect = nullptr;
        LinkIndicator* indicator = nullptr;
    };

    static void showLink(const LinkGroup& link, bool enabled, const char* connectText, bool connected);
    void onClick(QAbstractButton* button, std::function<void()> action);
    QWidget* buildConnectionPanel();
    QWidget* buildDeviceInformation();
    QFrame* buildStatePanel(QWidget* group);
    QGroupBox* buildModeGroup(QWidget* panel);
    QGroupBox* buildComGroup(QWidget* panel);
    QGroupBox* buildTcpGroup(QWidget* panel);
    QWidget* buildDeviceSettings();
    void sync();
    void syncComList();
    void syncIpList();

    GeneralPage& page_;
    ChangeNotifier::Subscription subscription_;

    // What sync() keeps in step with the page.
    QRadioButton* comMode_ = nullptr;
    QRadioButton* tcpMode_ = nullptr;
    LinkGroup com_;  // the list holds the ports
    LinkGroup tcp_;  // the list holds the matrices' addresses
    std::array<QLabel*, 8> inputLabels_{};
    std::array<QLabel*, 8> outputLabels_{};
    QCheckBox* ir_ = nullptr;
    QCheckBox* beep_ = nullptr;
};

}  // namespace matrix::gui
