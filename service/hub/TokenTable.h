// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Roles.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service {

// Who a token is: its name goes into the log of every change it makes.
struct TokenHolder {
    std::string name;
    Role role = Role::Viewer;
};

// The configured tokens, looked up by the secret a client presents.
class TokenTable {
public:
    void add(std::string name, Role role, std::string secret);
    bool empty() const { return tokens_.empty(); }

    // The holder of `secret`, or nothing. Every secret is compared in full
    // whatever matches, so the time taken tells nothing about any of them.
    std::optional<TokenHolder> find(std::string_view secret) const;

private:
    struct Token {
        TokenHolder holder;
        std::string secret;
    };
    std::vector<Token> tokens_;
};

// The secret of an "Authorization: Bearer SECRET" header, or empty.
std::string_view bearerSecret(std::string_view authorization);

}  // namespace matrix::service
