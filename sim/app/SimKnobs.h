// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/MatrixResponder.h"

namespace matrix::simapp {

// How the simulated matrix misbehaves. Every link starts with these; the
// control channel changes them for the links that are open and those to come.
struct SimKnobs {
    int dropReplies = 0;       // drop the next N replies of each link
    int corruptChecksums = 0;  // corrupt the checksum of the next N replies
    bool silent = false;       // answer nothing
    int replyDelayMs = 0;
    int splitBytes = 0;      // send replies in pieces of at most N bytes
    int splitGapMs = 20;     // pause between the pieces of one reply (TCP)
    int coalesce = 0;        // hold replies until N can go in one write
    int standbyAfterMs = 0;  // send a standby notice N ms after a link starts

    void applyTo(sim::MatrixResponder& responder) const
    {
        if (dropReplies > 0)
            responder.dropNextReplies(dropReplies);
        if (corruptChecksums > 0)
            responder.corruptNextChecksum(corruptChecksums);
        responder.setSilent(silent);
        responder.setReplyDelayMs(replyDelayMs);
        responder.setSplitSize(splitBytes > 0 ? static_cast<std::size_t>(splitBytes) : 0);
        responder.setCoalesce(coalesce);
    }
};

}  // namespace matrix::simapp
