// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix::cli {

// The exit status of a run.
enum class ExitCode : int {
    Success = 0,
    MatrixFailed = 1,  // the matrix answered with a failure or did not answer
    Usage = 2,         // bad usage or bad input
    LinkFailed = 3,    // the link cannot be opened
};

}  // namespace matrix::cli
