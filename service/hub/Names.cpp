// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Names.h"

#include <algorithm>
#include <cctype>

namespace matrix::service {

namespace {

bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "2", "-3", "+12", "2.5": anything a reader could take for a number.
bool bareNumber(std::string_view name)
{
    std::size_t i = 0;
    if (i < name.size() && (name[i] == '+' || name[i] == '-'))
        ++i;
    const std::size_t digits = i;
    while (i < name.size() && isDigit(name[i]))
        ++i;
    if (i == digits)
        return false;
    if (i < name.size() && (name[i] == '.' || name[i] == ',')) {
        const std::size_t fraction = ++i;
        while (i < name.size() && isDigit(name[i]))
            ++i;
        if (i == fraction)
            return false;
    }
    return i == name.size();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string nameProblem(std::string_view name)
{
    if (name.empty() || name.size() > kMaxNameBytes)
        return "a name has 1-64 bytes";
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return "a name has no control characters";
    if (isSpace(static_cast<unsigned char>(name.front())) || isSpace(static_cast<unsigned char>(name.back())))
        return "a name has no leading or trailing white space";
    if (bareNumber(name))
        return "a name cannot be a bare number";
    if (equalsIgnoringCase(name, "None"))
        return "a name cannot be 'None'";
    return {};
}

Outcome checkRenames(const PortNames& current, const std::vector<std::pair<int, std::string>>& changes,
                     const char* sideWord)
{
    PortNames after = current;
    for (const auto& [port, name] : changes) {
        if (port < 1 || port > client::kPortCount)
            return Outcome::refused(Refusal::NotFound, std::string("unknown ") + sideWord + " " + std::to_string(port));
        if (const std::string problem = nameProblem(name); !problem.empty())
            return Outcome::refused(Refusal::BadInput, problem);
        after[port - 1] = name;
    }
    for (const auto& [port, name] : changes)
        for (int other = 1; other <= client::kPortCount; ++other)
            if (other != port && after[other - 1] == name)
                return Outcome::refused(Refusal::NameTaken,
                                        "'" + name + "' already names " + sideWord + " " + std::to_string(other));
    return Outcome::done();
}

}  // namespace matrix::service
