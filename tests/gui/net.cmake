# SPDX-License-Identifier: Apache-2.0
# Discovery and the network configuration dialog.
gui_test(test_gui_net ${CMAKE_CURRENT_SOURCE_DIR}/NetworkConfigViewTest.cpp)
