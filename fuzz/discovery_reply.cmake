# SPDX-License-Identifier: Apache-2.0
# Discovery and configuration replies from the LAN (untrusted datagrams).
fuzz_target(discovery_reply NetRepliesFuzz.cpp LIBS core_net core_app)
target_sources(fuzz_discovery_reply PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/ManualLoop.cpp)
