// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

namespace matrix::gui {

// The COM and TCP link icons: connected or not. Drawn in full colour even
// inside a disabled group, since it reports the link, not the control.
class LinkIndicator : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSizePx = 18;

    explicit LinkIndicator(QWidget* parent = nullptr);

    void setConnected(bool connected);
    bool isConnected() const { return connected_; }

    QSize sizeHint() const override { return {kSizePx, kSizePx}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool connected_ = false;
};

}  // namespace matrix::gui
