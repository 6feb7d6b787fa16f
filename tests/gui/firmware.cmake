# SPDX-License-Identifier: Apache-2.0
gui_test(test_gui_firmware FirmwareViewTest.cpp)
