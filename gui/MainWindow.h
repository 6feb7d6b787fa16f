// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Shell.h"
#include "gui/skin/WindowDrag.h"

#include <QPoint>
#include <QSize>
#include <QWidget>

#include <array>

class QLabel;

namespace matrix {
class MatrixSession;
}

namespace matrix::gui {

class ImageButton;
class NoticeView;
class ProgressView;
class ConfigStatusView;
class NetworkConfigDialog;
class PopupView;
class TrafficView;

// The program's only top-level window: frameless and rounded, a blue title
// strip with the logo and the title, the four tab labels, Minimize and
// Close, and the page of the selected tab below. Tab selection, the link
// hand-over and activation live in the core's Shell; this view shows its
// state and forwards the clicks.
class MainWindow : public DraggableWindow {
    Q_OBJECT
public:
    static constexpr QSize kTitleButtonSize{30, 29};
    static constexpr QSize kTabSize{100, 26};
    // The visible width: about 600 pixels plus the two title buttons.
    static constexpr int kShrunkWidthPx = 600;
    static constexpr int kTitleHeightPx = 30;
    static constexpr int kPageTopPx = kTitleHeightPx + kTabSize.height();

    explicit MainWindow(MatrixSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    QLabel* tabLabel(Tab tab) const { return tabLabels_[static_cast<std::size_t>(tab)]; }
    ImageButton* closeButton() const { return closeButton_; }
    ImageButton* minimizeButton() const { return minimizeButton_; }
    QWidget* pageView(Tab tab) const { return pageViews_[static_cast<std::size_t>(tab)]; }
    NoticeView* noticeView() const { return noticeView_; }
    ProgressView* progressView() const { return progressView_; }
    ConfigStatusView* configStatusView() const { return configStatusView_; }
    NetworkConfigDialog* networkConfigDialog() const { return networkConfigDialog_; }
    // The installers' traffic view; Ctrl+L shows and hides it.
    TrafficView* trafficView() const { return trafficView_; }
    // The popups, in the order they stack (for screenshots).
    std::array<PopupView*, 3> popupViews() const;
    static const char* applicationTitle();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool takesPress(QMouseEvent& event) override;

private:
    void buildTitleStrip();
    void buildTabRow();
    void syncFromShell();
    void updateTabColors();

    MatrixSession& session_;
    Shell& shell_;
    ChangeNotifier::Subscription shellSubscription_;
    QLabel* logo_ = nullptr;
    QLabel* title_ = nullptr;
    std::array<QLabel*, kTabCount> tabLabels_{};
    std::array<QWidget*, kTabCount> pageViews_{};
    ImageButton* minimizeButton_ = nullptr;
    ImageButton* closeButton_ = nullptr;
    NoticeView* noticeView_ = nullptr;
    ProgressView* progressView_ = nullptr;
    ConfigStatusView* configStatusView_ = nullptr;
    NetworkConfigDialog* networkConfigDialog_ = nullptr;
    TrafficView* trafficView_ = nullptr;
};

}  // namespace matrix::gui
