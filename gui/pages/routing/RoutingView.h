// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

#include <array>

class QComboBox;
class QDialog;
class QFrame;
class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace matrix {
class RoutingPage;
}

namespace matrix::gui {

class GradientButton;
class ImageButton;
class SegmentDisplay;

// The "Matrix" tab: four output groups "OUTPUT A" .. "OUTPUT D", each with
// its read-out, four input buttons and the previous/next step buttons; a
// small toggle opens the side panel with the presets and the output
// configuration. The view re-reads the page on every change and forwards
// clicks; the grid changes only when the page says a reply arrived.
class RoutingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kOutputs = 4;
    static constexpr int kInputs = 4;

    explicit RoutingView(RoutingPage& page, QWidget* parent = nullptr);
    ~RoutingView() override;

    // For tests and screenshots.
    ImageButton* inputButton(int output, int input) const;
    ImageButton* previousButton(int output) const { return previous_.at(static_cast<std::size_t>(output - 1)); }
    ImageButton* nextButton(int output) const { return next_.at(static_cast<std::size_t>(output - 1)); }
    SegmentDisplay* display(int output) const { return displays_.at(static_cast<std::size_t>(output - 1)); }
    QGroupBox* outputGroup(int output) const { return groups_.at(static_cast<std::size_t>(output - 1)); }
    QToolButton* panelToggle() const { return panelToggle_; }
    QFrame* sidePanel() const { return panel_; }
    QTableWidget* presetList() const { return presetList_; }
    GradientButton* editButton() const { return edit_; }
    GradientButton* setButton() const { return set_; }
    QComboBox* configTargetList() const { return configTarget_; }
    QPushButton* configInputButton(int input) const { return configInputs_.at(static_cast<std::size_t>(input - 1)); }
    QDialog* presetEditor() const { return editor_; }
    QMessageBox* messageBox() const { return messageBox_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QGroupBox* buildOutputGroup(int output);
    QFrame* buildSidePanel();
    QGroupBox* buildPresetGroup(QWidget* panel);
    QTableWidget* buildPresetTable(QWidget* parent);
    QGroupBox* buildConfigGroup(QWidget* panel);
    QHBoxLayout* buildStepRow(QWidget* group, int output);
    QDialog* buildPresetEditor();
    void placeSidePanel();
    void sync();
    void syncPresets();
    void syncEditor();
    void syncMessageBox();

    RoutingPage& page_;
    int subscription_ = 0;

    std::array<QGroupBox*, kOutputs> groups_{};
    std::array<SegmentDisplay*, kOutputs> displays_{};
    std::array<std::array<ImageButton*, kInputs>, kOutputs> inputs_{};
    std::array<ImageButton*, kOutputs> previous_{};
    std::array<ImageButton*, kOutputs> next_{};

    QToolButton* panelToggle_ = nullptr;
    QFrame* panel_ = nullptr;
    QTableWidget* presetList_ = nullptr;
    GradientButton* edit_ = nullptr;
    GradientButton* set_ = nullptr;
    QComboBox* configTarget_ = nullptr;
    std::array<QPushButton*, 8> configInputs_{};

    QDialog* editor_ = nullptr;
    QLineEdit* editorName_ = nullptr;
    std::array<QComboBox*, 8> editorInputs_{};
    QComboBox* editorAllFrom_ = nullptr;

    QMessageBox* messageBox_ = nullptr;
};

}  // namespace matrix::gui
