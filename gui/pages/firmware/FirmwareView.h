// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/skin/GradientButton.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QToolButton;

namespace matrix {
class FirmwarePage;
}

namespace matrix::gui {

class ImageButton;

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
    ~FirmwareView() override;

    // Tests replace the modal file dialogs.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    // For tests and screenshots.
    QLineEdit* pathBox() const { return path_; }
    ImageButton* browseButton() const { return browse_; }
    QProgressBar* progressBar() const { return progress_; }
    GradientButton* upgradeButton() const { return upgrade_; }
    QPlainTextEdit* messagesBox() const { return messages_; }
    GradientButton* clearButton() const { return clear_; }
    QLabel* deviceLabel() const { return device_; }
    QToolButton* mergeToggle() const { return mergeToggle_; }
    QGroupBox* mergeGroup() const { return mergeGroup_; }
    GradientButton* mergeButton() const { return merge_; }
    ImageButton* sourceBrowseButton(int source) const { return sourceBrowse_.at(static_cast<std::size_t>(source)); }
    QLineEdit* sourcePathBox(int source) const { return sourcePath_.at(static_cast<std::size_t>(source)); }

private:
    QWidget* buildUpgradeGroup();
    QWidget* buildMessagesGroup();
    QWidget* buildMergeGroup();
    QString chooseFile(int what);
    void sync();

    FirmwarePage& page_;
    int subscription_ = 0;
    FileChooser chooser_;

    QLineEdit* path_ = nullptr;
    ImageButton* browse_ = nullptr;
    QProgressBar* progress_ = nullptr;
    GradientButton* upgrade_ = nullptr;
    QPlainTextEdit* messages_ = nullptr;
    GradientButton* clear_ = nullptr;
    QLabel* device_ = nullptr;
    QToolButton* mergeToggle_ = nullptr;
    QGroupBox* mergeGroup_ = nullptr;
    GradientButton* merge_ = nullptr;
    std::array<QLineEdit*, 4> sourcePath_{};
    std::array<std::array<QLineEdit*, 2>, 4> sourceVersion_{};
    std::array<ImageButton*, 4> sourceBrowse_{};
    QMessageBox* messageBox_ = nullptr;
    std::string shownMessages_;
};

}  // namespace matrix::gui
