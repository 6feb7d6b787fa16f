// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/LinkIndicator.h"

#include "gui/skin/Icons.h"

#include <QPainter>

namespace matrix::gui {

LinkIndicator::LinkIndicator(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kSizePx, kSizePx);
    setToolTip("Not connected");
}

void LinkIndicator::setConnected(bool connected)
{
    if (connected_ == connected)
        return;
    connected_ = connected;
    setToolTip(connected ? "Connected" : "Not connected");
    update();
}

void LinkIndicator::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    icons::link(connected_).paint(&p, rect(), Qt::AlignCenter, QIcon::Normal);
}

}  // namespace matrix::gui
