# SPDX-License-Identifier: Apache-2.0
fuzz_target(edid_file EdidFileFuzz.cpp LIBS core_formats)
