// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

#include <functional>

#include <array>

class QAbstractButton;
class QButtonGroup;
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
    ~GeneralView() override;

    // For tests and screenshots.
    QRadioButton* comModeRadio() const { return comMode_; }
    QRadioButton* tcpModeRadio() const { return tcpMode_; }
    QComboBox* comList() const { return comList_; }
    QPushButton* comConnectButton() const { return comConnect_; }
    LinkIndicator* comIndicator() const { return comIndicator_; }
    QComboBox* ipList() const { return ipList_; }
    QPushButton* searchButton() const { return search_; }
    QPushButton* configButton() const { return config_; }
    QPushButton* tcpConnectButton() const { return tcpConnect_; }
    LinkIndicator* tcpIndicator() const { return tcpIndicator_; }
    QLabel* inputLabel(int n) const { return inputLabels_.at(static_cast<std::size_t>(n - 1)); }
    QLabel* outputLabel(int n) const { return outputLabels_.at(static_cast<std::size_t>(n - 1)); }
    QPushButton* statusButton() const { return status_; }
    QPushButton* clearButton() const { return clear_; }
    QCheckBox* beepBox() const { return beep_; }
    QCheckBox* irBox() const { return ir_; }
    QPushButton* factoryResetButton() const { return factoryReset_; }

private:
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
    int subscription_ = 0;

    QRadioButton* comMode_ = nullptr;
    QRadioButton* tcpMode_ = nullptr;
    QGroupBox* comGroup_ = nullptr;
    QLabel* portLabel_ = nullptr;
    QComboBox* comList_ = nullptr;
    QPushButton* comConnect_ = nullptr;
    LinkIndicator* comIndicator_ = nullptr;
    QGroupBox* tcpGroup_ = nullptr;
    QComboBox* ipList_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* config_ = nullptr;
    QPushButton* tcpConnect_ = nullptr;
    LinkIndicator* tcpIndicator_ = nullptr;

    std::array<QLabel*, 8> inputLabels_{};
    std::array<QLabel*, 8> outputLabels_{};
    QPushButton* status_ = nullptr;
    QPushButton* clear_ = nullptr;

    QCheckBox* ir_ = nullptr;
    QCheckBox* beep_ = nullptr;
    QPushButton* factoryReset_ = nullptr;
};

}  // namespace matrix::gui
