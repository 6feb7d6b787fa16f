// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix::protocol {

// The model name for the type byte of a device-type answer; null for a type
// the matrix family does not have, which every reader treats in its own way.
inline const char* deviceTypeName(int type)
{
    switch (type) {
    case 1: return "HDMI MATRIX";
    case 2: return "HDBT MATRIX";
    case 3: return "HDMI+HDBT etc MATRIX";
    default: return nullptr;
    }
}

}  // namespace matrix::protocol
