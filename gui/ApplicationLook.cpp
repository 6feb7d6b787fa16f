// SPDX-License-Identifier: Apache-2.0
#include "gui/ApplicationLook.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

namespace matrix::gui {

void applyApplicationLook()
{
    // One style everywhere, whatever the desktop's theme.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    // Latin texts in DejaVu Sans; the Chinese texts fall back to WenQuanYi.
    QFont uiFont("DejaVu Sans", 9);
    uiFont.setFamilies({"DejaVu Sans", "WenQuanYi Micro Hei"});
    QApplication::setFont(uiFont);
}

}  // namespace matrix::gui
