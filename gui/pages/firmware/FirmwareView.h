// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QAbstractButton;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;

namespace matrix {
class FirmwarePage;
}

namespace matrix::gui {

// The "FW Upgrade" tab: the firmware file with its browse button, the
// progress bar and "Upgrade", the "Messages" log with "Clear", the device
// line, and the merge tool behind a small toggle. It re-reads the page on
// every change notification and forwards clicks; the file dialogs are its own.
class FirmwareView : public QWidget {
    Q_OBJECT
public:
    // What a browse button asks for: the firmware file, or merge source 0..3.
    static constexpr int kFirmwareFile = -1;
    // Returns the chosen path, empty when the user cancelled.
    using FileChooser = std::function<QString(int what)>;

    explicit FirmwareView(FirmwarePage& page, QWidget* parent = nullptr);

    // Tests replace the modal file dialogs.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

private:
    QWidget* buildUpgradeGroup();
    QWidget* buildMessagesGroup();
    QGroupBox* buildMergeGroup();
    QString chooseFile(int what);
    void sync();

    FirmwarePage& page_;
    ChangeNotifier::Subscription subscription_;
    FileChooser chooser_;

    // What sync() keeps in step with the page.
    QLineEdit* path_ = nullptr;
    QAbstractButton* browse_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QAbstractButton* upgrade_ = nullptr;
    QPlainTextEdit* messages_ = nullptr;
    QLabel* device_ = nullptr;
    std::array<QLineEdit*, 4> sourcePath_{};
    std::array<std::array<QLineEdit*, 2>, 4> sourceVersion_{};
    QMessageBox* messageBox_ = nullptr;
    std::string shownMessages_;
};

}  // namespace matrix::gui
