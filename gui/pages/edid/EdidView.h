// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/skin/GradientButton.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QGridLayout;
class QComboBox;
class QGroupBox;
class QLineEdit;

namespace matrix {
class EdidPage;
}

namespace matrix::gui {

class ImageButton;

// The "EDID" tab: the "Manual Mode" group with the set, copy and download
// rows. It re-reads the page on every change notification and forwards the
// user's choices; the EDID file dialog is its own.
class EdidView : public QWidget {
    Q_OBJECT
public:
    // Returns the chosen path, empty when the user cancelled.
    using FileChooser = std::function<QString()>;

    explicit EdidView(EdidPage& page, QWidget* parent = nullptr);
    ~EdidView() override;

    // Tests replace the modal file dialog.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    // For tests and screenshots.
    QGroupBox* manualGroup() const { return group_; }
    QComboBox* modeCombo() const { return mode_; }
    QComboBox* setTargetCombo() const { return setTarget_; }
    GradientButton* setButton() const { return set_; }
    QComboBox* copySourceCombo() const { return copySource_; }
    QComboBox* copyTargetCombo() const { return copyTarget_; }
    GradientButton* copyButton() const { return copy_; }
    QLineEdit* pathBox() const { return path_; }
    ImageButton* browseButton() const { return browse_; }
    QComboBox* downloadTargetCombo() const { return downloadTarget_; }
    GradientButton* downloadButton() const { return download_; }

private:
    void addRows(QGridLayout* grid);
    void addRowEnd(QGridLayout* grid, int row, QComboBox*& target, const char* targetName, GradientButton*& button,
                   const char* buttonName);
    void connectPage();
    QString chooseFile();
    void sync();

    EdidPage& page_;
    int subscription_ = 0;
    FileChooser chooser_;

    QGroupBox* group_ = nullptr;
    QComboBox* mode_ = nullptr;
    QComboBox* setTarget_ = nullptr;
    GradientButton* set_ = nullptr;
    QComboBox* copySource_ = nullptr;
    QComboBox* copyTarget_ = nullptr;
    GradientButton* copy_ = nullptr;
    QLineEdit* path_ = nullptr;
    ImageButton* browse_ = nullptr;
    QComboBox* downloadTarget_ = nullptr;
    GradientButton* download_ = nullptr;
};

}  // namespace matrix::gui
