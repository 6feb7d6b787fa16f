// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CommandLine.h"
#include "cli/ExitCode.h"

#include <optional>
#include <string>
#include <vector>

namespace matrix::cli {

// What a command found out, as far as it got; rendered as text or JSON.
struct RunResult {
    struct Cable {
        std::string port;  // "IN1", "OUTA"
        bool known = false;
        bool connected = false;
        std::string text;  // the page's label text, "HDMI IN1: Connect"
    };
    struct Route {
        int output = 0;  // 1..4
        int input = 0;   // as the matrix reported it
    };
    struct Edid {
        int input = 0;
        std::string status;  // the page's status text; empty if not read
    };
    struct Matrix {
        std::string ip;
        std::string mac;
    };

    ExitCode exit = ExitCode::Success;
    std::string error;    // the program's own text on failure ("Time out!")
    std::string message;  // the program's own text on success ("Set successfully!")

    std::vector<Cable> cables;
    std::vector<Route> routes;
    std::vector<Edid> edid;
    std::vector<std::string> messages;  // "Messages" lines of the firmware page
    std::vector<Matrix> matrices;
    std::optional<bool> beep;
    std::string outputFile;

    static RunResult failure(ExitCode code, std::string text)
    {
        RunResult r;
        r.exit = code;
        r.error = std::move(text);
        return r;
    }
};

// Human-readable text for standard output (may be empty on failure).
std::string renderText(Command command, const RunResult& result);
// One JSON document (with a trailing newline).
std::string renderJson(Command command, const RunResult& result);

}  // namespace matrix::cli
