// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service::videohub {

// One block of the Videohub text protocol: its first line (the header, with
// its colon, e.g. "VIDEO OUTPUT ROUTING:") and the lines up to the blank line.
struct Block {
    std::string header;
    std::vector<std::string> lines;
};

// Cuts a client's byte stream into blocks, whatever the TCP segmentation:
// a block may arrive in many pieces, several blocks in one. Lines end with
// LF or CR LF; blank lines between blocks are skipped.
class BlockReader {
public:
    // A controller never needs this much without a blank line; past it the
    // peer is not speaking the protocol and would only grow our buffer.
    static constexpr std::size_t kMaxBlockBytes = 64 * 1024;

    // Appends the blocks completed by `bytes` to `out`. False once the peer
    // has sent kMaxBlockBytes without ending a block: drop the connection.
    bool feed(std::string_view bytes, std::vector<Block>& out);

private:
    std::string line_;
    Block block_;
    bool inBlock_ = false;
    std::size_t blockBytes_ = 0;
    bool overflowed_ = false;
};

}  // namespace matrix::service::videohub
