# SPDX-License-Identifier: Apache-2.0
# The network configuration dialog: typed fields, the request it sends and
# the acknowledgement read from whatever the segment answers.
fuzz_target(config_reply ConfigReplyFuzz.cpp LIBS core_net core_app)
target_sources(fuzz_config_reply PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/ManualLoop.cpp)
