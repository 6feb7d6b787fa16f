// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"

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
    ImageButton* inputButton(int output, int input) const;

    RoutingPage& page_;
    ChangeNotifier::Subscription subscription_;

    // What sync() keeps in step with the page, and the side panel's place.
    std::array<SegmentDisplay*, kOutputs> displays_{};
    std::array<std::array<ImageButton*, kInputs>, kOutputs> inputs_{};
    QToolButton* panelToggle_ = nullptr;
    QFrame* panel_ = nullptr;
    QTableWidget* presetList_ = nullptr;
    QWidget* set_ = nullptr;
    QComboBox* configTarget_ = nullptr;
    std::array<QPushButton*, 8> configInputs_{};

    QDialog* editor_ = nullptr;
    QLineEdit* editorName_ = nullptr;
    std::array<QComboBox*, 8> editorInputs_{};
    QComboBox* editorAllFrom_ = nullptr;

    QMessageBox* messageBox_ = nullptr;
};

}  // namespace matrix::gui
