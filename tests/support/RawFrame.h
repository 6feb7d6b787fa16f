// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"

namespace matrix::testing {

// Frames built position by position, as the command set's tables give them,
// so that a test can check what the protocol's builders send against an
// independent construction. Each returns a sealed frame.
struct RawFrame {
    static CommandFrame general(int command, int sub, int p1)
    {
        return CommandFrame().set(2, command).set(3, sub).set(4, p1).seal();
    }
    static CommandFrame generalP3(int command, int sub, int p1, int p3)
    {
        return CommandFrame().set(2, command).set(3, sub).set(4, p1).set(6, p3).seal();
    }
    static CommandFrame generalP2(int command, int sub, int p1, int p2)
    {
        return CommandFrame().set(2, command).set(3, sub).set(4, p1).set(5, p2).seal();
    }
    static CommandFrame routing(int command, int sub, int p1, int p3) { return generalP3(command, sub, p1, p3); }
    // Argument order command, sub-command, p1, p3, p2; allInputs sets byte 7 to 1.
    static CommandFrame edid(int command, int sub, int p1, int p3, int p2, bool allInputs = false)
    {
        return CommandFrame()
            .set(2, command)
            .set(3, sub)
            .set(4, p1)
            .set(6, p3)
            .set(5, p2)
            .set(7, allInputs ? 1 : 0)
            .seal();
    }
    // finalForm sets byte 6 to 0xFE.
    static CommandFrame firmware(int command, int sub, int p1, int byte7, int byte8, int byte10, bool finalForm = false)
    {
        return CommandFrame()
            .set(2, command)
            .set(3, sub)
            .set(4, p1)
            .set(6, finalForm ? 0xFE : 0)
            .set(7, byte7)
            .set(8, byte8)
            .set(10, byte10)
            .seal();
    }
};

}  // namespace matrix::testing
