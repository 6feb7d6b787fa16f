// SPDX-License-Identifier: Apache-2.0
#include "service/hub/TokenTable.h"

#include <cstdint>

namespace matrix::service {

namespace {

// 0 when equal. Runs over the whole presented text whatever the secret, so
// neither a matching prefix nor the secret's length shows in the time taken.
unsigned difference(std::string_view presented, std::string_view secret)
{
    unsigned diff = presented.size() != secret.size() ? 1u : 0u;
    const std::size_t secretSize = secret.empty() ? 1 : secret.size();
    for (std::size_t i = 0; i < presented.size(); ++i) {
        const auto expected = secret.empty() ? std::uint8_t{0} : static_cast<std::uint8_t>(secret[i % secretSize]);
        diff |= static_cast<std::uint8_t>(presented[i]) ^ expected;
    }
    return diff;
}

}  // namespace

void TokenTable::add(std::string name, Role role, std::string secret)
{
    tokens_.push_back({{std::move(name), role}, std::move(secret)});
}

std::optional<TokenHolder> TokenTable::find(std::string_view secret) const
{
    if (secret.empty())
        return std::nullopt;
    const Token* found = nullptr;
    for (const Token& token : tokens_) {
        // No early exit: every token is compared.
        const bool match = difference(secret, token.secret) == 0;
        if (match && !found)
            found = &token;
    }
    return found ? std::optional<TokenHolder>(found->holder) : std::nullopt;
}

std::string_view bearerSecret(std::string_view authorization)
{
    constexpr std::string_view kBearer = "Bearer ";
    if (authorization.substr(0, kBearer.size()) != kBearer)
        return {};
    std::string_view secret = authorization.substr(kBearer.size());
    while (!secret.empty() && (secret.back() == ' ' || secret.back() == '\t'))
        secret.remove_suffix(1);
    return secret;
}

}  // namespace matrix::service
