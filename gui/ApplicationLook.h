// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix::gui {

// The style and default font of the window, shared by the program and the
// GUI tests so that screenshots show what a user sees. Call once, after the
// QApplication exists.
void applyApplicationLook();

}  // namespace matrix::gui
