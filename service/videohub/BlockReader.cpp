// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/BlockReader.h"

namespace matrix::service::videohub {

bool BlockReader::feed(std::string_view bytes, std::vector<Block>& out)
{
    if (overflowed_)
        return false;
    for (char c : bytes) {
        if (++blockBytes_ > kMaxBlockBytes) {
            overflowed_ = true;
            return false;
        }
        if (c != '\n') {
            line_.push_back(c);
            continue;
        }
        if (!line_.empty() && line_.back() == '\r')
            line_.pop_back();
        if (line_.empty()) {
            if (inBlock_)
                out.push_back(std::move(block_));
            block_ = Block{};
            inBlock_ = false;
            blockBytes_ = 0;
        } else if (!inBlock_) {
            block_.header = std::move(line_);
            inBlock_ = true;
        } else {
            block_.lines.push_back(std::move(line_));
        }
        line_.clear();
    }
    return true;
}

}  // namespace matrix::service::videohub
