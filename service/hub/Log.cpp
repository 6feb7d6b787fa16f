// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace matrix::service {

namespace {
std::mutex logMutex;
std::atomic<bool> verboseOn{false};
}  // namespace

void logLine(const std::string& line)
{
    std::lock_guard lock(logMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void setVerbose(bool on) { verboseOn = on; }
bool verbose() { return verboseOn; }

}  // namespace matrix::service
