// SPDX-License-Identifier: Apache-2.0
#include "cli/ProgressLine.h"

#include <algorithm>
#include <cstdio>

namespace matrix::cli {

std::string formatDuration(std::int64_t seconds)
{
    char buf[32];
    if (seconds >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return buf;
}

std::string formatProgressLine(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t elapsedMs, int barWidth)
{
    totalBytes = std::max<std::int64_t>(totalBytes, 0);
    doneBytes = std::clamp<std::int64_t>(doneBytes, 0, totalBytes);
    int percent = totalBytes > 0 ? static_cast<int>(doneBytes * 100 / totalBytes) : 0;
    int filled = totalBytes > 0 ? static_cast<int>(doneBytes * barWidth / totalBytes) : 0;

    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '.') + "]";
    char buf[96];
    std::snprintf(buf, sizeof buf, " %3d%%  %lld/%lld bytes", percent, static_cast<long long>(doneBytes),
                  static_cast<long long>(totalBytes));
    line += buf;
    if (doneBytes > 0 && elapsedMs > 0) {
        std::int64_t leftMs = elapsedMs * (totalBytes - doneBytes) / doneBytes;
        line += "  " + formatDuration((leftMs + 999) / 1000) + " left";
    }
    return line;
}

}  // namespace matrix::cli
