// SPDX-License-Identifier: Apache-2.0
#include "gui/PageViews.h"

#include "core/session/MatrixSession.h"
#include "gui/pages/edid/EdidView.h"
#include "gui/pages/firmware/FirmwareView.h"
#include "gui/pages/general/GeneralView.h"
#include "gui/pages/routing/RoutingView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

QWidget* placeholder(QWidget* parent)
{
    auto* view = new QWidget(parent);
    view->setObjectName("placeholderView");
    auto* layout = new QVBoxLayout(view);
    auto* label = new QLabel(view);
    label->setAlignment(Qt::AlignCenter);
    label->setEnabled(false);
    layout->addWidget(label);
    return view;
}

}  // namespace

QWidget* createPageView(PageId page, MatrixSession& session, QWidget* parent)
{
    QWidget* view = nullptr;
    switch (page) {
    case PageId::General:
        view = new GeneralView(session.general, parent);
        break;
    case PageId::Routing:
        view = new RoutingView(session.routing, parent);
        break;
    case PageId::Edid:
        view = new EdidView(session.edid, parent);
        break;
    case PageId::Firmware:
        view = new FirmwareView(session.firmware, parent);
        break;
    }
    if (!view)
        view = placeholder(parent);
    view->setFixedSize(kPageAreaSize);
    return view;
}

}  // namespace matrix::gui
