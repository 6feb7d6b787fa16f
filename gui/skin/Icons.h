// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QIcon>

namespace matrix::gui::icons {

// The program's icons, painted in code so that they stay crisp at every
// size and scale factor. "Hover" variants are the image buttons' iconIn.
QIcon close(bool hover);
QIcon minimize(bool hover);
QIcon link(bool connected);  // the COM and TCP link indicators
QIcon openFile();
QIcon previous();
QIcon next();
QIcon logo();

}  // namespace matrix::gui::icons
