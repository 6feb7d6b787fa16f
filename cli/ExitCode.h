// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace matrix::cli {

// The exit status of a run.
enum class ExitCode : int {
    Success = 0,
    MatrixFailed = 1,  // the matrix answered with a failure or did not answer
    Usage = 2,         // bad usage or bad input
    LinkFailed = 3,    // the link cannot be opened
};

// The link notices mean the link could not be opened; every other notice
// that ends a run is a failure of the matrix's answer.
inline ExitCode exitCodeForNotice(const std::string& text)
{
    if (text == "Open COM failed!" || text == "Connect to Matrix failed!")
        return ExitCode::LinkFailed;
    return ExitCode::MatrixFailed;
}

}  // namespace matrix::cli
