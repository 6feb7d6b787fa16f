// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix::protocol {

// The model name for the type byte of a device-type answer; null for a type
// the matrix family does not have, which every reader treats in its own way.
inline const char* deviceTypeName(int type)
{
    static constexpr const char* kNames[] = {"HDMI MATRIX", "HDBT MATRIX", "HDMI+HDBT etc MATRIX"};
    return type >= 1 && type <= 3 ? kNames[type - 1] : nullptr;
}

}  // namespace matrix::protocol
