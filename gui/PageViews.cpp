// SPDX-License-Identifier: Apache-2.0
#include "gui/PageViews.h"

#include "core/session/MatrixSession.h"
#include "gui/pages/edid/EdidView.h"
#include "gui/pages/firmware/FirmwareView.h"
#include "gui/pages/general/GeneralView.h"
#include "gui/pages/routing/RoutingView.h"

namespace matrix::gui {

namespace {

QWidget* sized(QWidget* view)
{
    view->setFixedSize(kPageAreaSize);
    return view;
}

}  // namespace

QWidget* createPageView(PageId page, MatrixSession& session, QWidget* parent)
{
    switch (page) {
    case PageId::General: return sized(new GeneralView(session.general, parent));
    case PageId::Routing: return sized(new RoutingView(session.routing, parent));
    case PageId::Edid: return sized(new EdidView(session.edid, parent));
    case PageId::Firmware: return sized(new FirmwareView(session.firmware, parent));
    }
    return nullptr;  // not reached: every page has a view
}

}  // namespace matrix::gui
