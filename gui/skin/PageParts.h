// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/skin/PageMetrics.h"

#include <QMargins>
#include <QWidget>

#include <initializer_list>

class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace matrix::gui {

class GradientButton;
class ImageButton;

// The outer layout of a page view (a QVBoxLayout or QHBoxLayout): the page
// margin all round and `spacingPx` between its parts (-1: the style's).
template <class Box>
Box* pageLayout(QWidget* view, int spacingPx = -1)
{
    auto* box = new Box(view);
    box->setContentsMargins(page_metrics::kMarginPx, page_metrics::kMarginPx, page_metrics::kMarginPx,
                            page_metrics::kMarginPx);
    box->setSpacing(spacingPx);
    return box;
}

// Lays `parts` out down `host` from its top, the free room below them.
QVBoxLayout* stackFromTop(QWidget* host, const QMargins& margins, int spacingPx, std::initializer_list<QWidget*> parts);

// A row of buttons at its right end, in the order given.
QHBoxLayout* rightAlignedRow(std::initializer_list<QWidget*> buttons);

// A plain push button that Enter does not press (Enter does nothing anywhere
// in the program).
QPushButton* plainButton(const QString& text, const char* name, QWidget* parent);

// A page's command button ("Set", "Upgrade", ...) at the pages' button size.
GradientButton* pageButton(const QString& caption, const char* name, QWidget* parent);

// The small "Open" button beside a file's path box.
ImageButton* browseButton(const QString& name, QWidget* parent);

// A path box: shows the chosen file, typed into by nobody.
QLineEdit* pathBox(const QString& name, QWidget* parent);

}  // namespace matrix::gui
