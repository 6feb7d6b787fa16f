# SPDX-License-Identifier: Apache-2.0
gui_test(test_gui_edid EdidViewTest.cpp LIBS core_edid)
target_compile_definitions(test_gui_edid PRIVATE MATRIX_EDID_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data/edid")
