// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/text/Backend.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service::text {

// A word of a request line. Quoted words keep their spaces; a `?` that ends
// a word (`ROUTE B?`, `ROUTING?`, `"Projector"?`) is a word of its own.
struct Token {
    std::string text;
    bool quoted = false;
    bool is(std::string_view upperWord) const;  // an unquoted word, any case
};

// Nothing when a quote is left open.
std::optional<std::vector<Token>> tokenize(std::string_view line);

// "Left TV" -> "\"Left TV\"": quotes and backslashes escaped with a
// backslash; control characters, which would break the framing, become spaces.
std::string quoted(std::string_view text);

// "A".."D" for outputs 1..4.
std::string outputLetter(int output);

// The line of an event, without its line end: `EVENT ROUTE B 2`, ...
std::string eventLine(const Event& event);

// `OK ...` and `ERR <code> <text>`, with the line end.
std::string okLine(std::string_view text);
std::string errLine(int code, std::string_view text);

}  // namespace matrix::service::text
