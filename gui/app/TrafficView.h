// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Shell.h"

#include <QString>
#include <QWidget>

#include <array>

class QLabel;
class QPlainTextEdit;
class QTimer;

namespace matrix {
class MatrixSession;
}

namespace matrix::gui {

// For the people who install the boxes: the hex logs of sent and received
// bytes that every page keeps (and hides), for the page that is shown, in
// a small window of its own. Hidden until asked for (Ctrl+L), so the main
// window keeps its look. Clear and Copy act on this window only: the pages'
// logs are theirs and stay as they are.
class TrafficView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;

    TrafficView(MatrixSession& session, QWidget* mainWindow);

    // Shows the window beside the main window, or hides it.
    void toggle();
    // Re-reads the shown page's logs (also done on a tab switch and, while
    // the window is visible, every kRefreshMs).
    void refresh();
    // From now on only bytes that come after this show.
    void clear();
    // Both logs, headed "Sent" and "Received", to the clipboard.
    void copy();

    QString sentText() const;
    QString receivedText() const;
    QString pageTitle() const;

private:
    struct Logs {
        QString sent;
        QString received;
    };
    Logs pageLogs(Tab tab) const;
    static QString after(const QString& text, const QString& baseline);

    MatrixSession& session_;
    ChangeNotifier::Subscription shellSubscription_;
    QLabel* title_ = nullptr;
    QPlainTextEdit* sent_ = nullptr;
    QPlainTextEdit* received_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    // What Clear saw, per tab: text up to there stays out of view.
    std::array<Logs, kTabCount> baselines_{};
};

}  // namespace matrix::gui
