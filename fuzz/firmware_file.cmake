# SPDX-License-Identifier: Apache-2.0
# Firmware container files picked by the user: loader, marker scan and the
# upload of what they hold to the in-process simulated matrix.
fuzz_target(firmware_file FirmwareFileFuzz.cpp LIBS core_firmware sim_core)
target_sources(fuzz_firmware_file PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/support/ManualLoop.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/MemorySerial.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/MemoryNetwork.cpp)
