// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/WindowLink.h"

#include <QSize>

class QWidget;

namespace matrix {
class MatrixSession;
}

namespace matrix::gui {

// Every page view is a plain QWidget that the main window places under the
// tab row, at kPageAreaOrigin in its client area, resized to exactly
// kPageAreaSize (658 x 420 pixels). Design your page for that size: the
// window does not grow. Keep a margin of about 10 pixels at the edges.
constexpr QSize kPageAreaSize(658, 420);

// The one place that knows which view shows which page. To add your page:
// include your view's header in PageViews.cpp and add a case to the switch
// there.
QWidget* createPageView(PageId page, MatrixSession& session, QWidget* parent);

}  // namespace matrix::gui
