// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace matrix::sim {

// What the simulated matrix knows about itself. Index 0 is port 1; the
// tables are eight wide like the protocol, the box has four of each.
struct MatrixDevice {
    static constexpr int kPorts = 8;

    std::array<int, kPorts> routing{1, 2, 3, 4, 5, 6, 7, 8};  // input carried by each output
    std::array<bool, kPorts> inputCable{true, false, true, false, false, false, false, false};
    std::array<bool, kPorts> outputCable{true, true, false, true, false, false, false, false};
    bool beepOn = true;
    bool irOn = true;
    int deviceType = 1;  // 1 HDMI, 2 HDBT, 3 HDMI+HDBT
    int inputCount = 4;
    int outputCount = 4;
    int versionMajor = 1;
    int versionMinor = 0;

    // EDID status code per input, as the status query reports it.
    std::array<std::int8_t, kPorts> edidStatus{4, 4, 4, 4, 4, 4, 4, 4};
    // The EDID each display on an output presents (empty: no EDID to copy).
    std::array<std::vector<std::uint8_t>, kPorts> displayEdid{};
    // The EDID last written to each input.
    std::array<std::vector<std::uint8_t>, kPorts> inputEdid{};
    // EDID knobs. The state the EDID switch-state query reports: 15 means
    // the front-panel EDID switches are not at [1111] and the page must stop.
    // A display missing on output n is outputCable[n-1] = false.
    int edidSwitchState = 0;
    bool rejectEdidCopy = false;      // copy replies report failure
    bool rejectEdidDownload = false;  // download results report failure

    // Network identity.
    std::array<std::uint8_t, 6> mac{0x00, 0x1C, 0x91, 0x03, 0x40, 0x5A};
    std::array<std::uint8_t, 4> ip{127, 0, 0, 1};
    bool autoIp = false;

    // Firmware images as the receiver reassembled them, by part number.
    std::array<std::vector<std::uint8_t>, 5> firmwarePart{};
    // Firmware receiver knobs.
    bool rejectFirmwarePart1 = false;
    bool rejectFirmwarePart2 = false;
    int dropFirmwareAckOfBlock = -1;    // the acknowledgement of this block index is lost once
    bool firmwareNeverReboots = false;  // silent for good after the last block
    int firmwareRebootMs = 2000;        // silent for this long after the last block
    int firmwareBadBlocks = 0;          // blocks whose 257-byte sum was not 0 (never acknowledged)
};

}  // namespace matrix::sim
