// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/text/Backend.h"

#include <array>
#include <string>
#include <vector>

namespace matrix::service::text {

// A matrix that answers reads from its fields and holds each change until
// the test ends it (or ends it at once with `answer`).
class HeldBackend : public Backend {
public:
    bool link = true;
    std::array<std::optional<int>, kPorts> routing{1, 2, 3, 4};
    std::optional<bool> beep = true;
    std::array<std::string, kPorts> inputs{"Laptop", "Apple TV", "Camera", "PC"};
    std::array<std::string, kPorts> outputs{"Projector", "Left TV", "Right \"TV\"", "Recorder"};
    std::vector<std::string> sceneList{"Lecture", "Movie night"};
    std::optional<Outcome> answer = Outcome{};  // empty: hold the change until finish()
    std::vector<std::string> changes;           // "route 2 3 by text peer", ...
    std::vector<Done> held;

    bool linkUp() const override { return link; }
    std::optional<int> routedInput(int output) const override { return routing[output - 1]; }
    std::optional<bool> beepOn() const override { return beep; }
    std::optional<bool> cable(bool input, int port) const override { return input ? port % 2 == 1 : port < 3; }
    std::string name(bool input, int port) const override { return (input ? inputs : outputs)[port - 1]; }
    std::optional<int> findInput(std::string_view text) const override { return find(text, inputs, "1234"); }
    std::optional<int> findOutput(std::string_view text) const override
    {
        if (text.size() == 1 && text[0] >= 'a' && text[0] <= 'd')
            return text[0] - 'a' + 1;
        return find(text, outputs, "1234ABCD");
    }
    std::vector<std::string> scenes() const override { return sceneList; }
    std::map<int, int> staged{{2, 3}};
    std::map<int, int> pending() const override { return staged; }

    void route(int output, int input, const std::string& who, Done done) override
    {
        ask("route " + std::to_string(output) + " " + std::to_string(input) + " by " + who, std::move(done));
    }
    void routeAll(int input, const std::string& who, Done done) override
    {
        ask("all " + std::to_string(input) + " by " + who, std::move(done));
    }
    void recall(const std::string& scene, const std::string& who, Done done) override
    {
        ask("recall " + scene + " by " + who, std::move(done));
    }
    void setBeep(bool on, const std::string& who, Done done) override
    {
        ask(std::string("beep ") + (on ? "on" : "off") + " by " + who, std::move(done));
    }

    void stage(int output, int input, const std::string& who, Done done) override
    {
        ask("stage " + std::to_string(output) + " " + std::to_string(input) + " by " + who, std::move(done));
    }
    void take(const std::string& who, Done done) override { ask("take by " + who, std::move(done)); }
    void clearPending(const std::string& who, Done done) override { ask("clear by " + who, std::move(done)); }

    void finish(Outcome outcome = {})
    {
        Done done = std::move(held.front());
        held.erase(held.begin());
        done(outcome);
    }

private:
    static std::optional<int> find(std::string_view text, const std::array<std::string, kPorts>& names,
                                   std::string_view digits)
    {
        if (text.size() == 1 && digits.find(text[0]) != std::string_view::npos)
            return static_cast<int>(digits.find(text[0])) % kPorts + 1;
        for (int p = 0; p < kPorts; ++p)
            if (names[p] == text)
                return p + 1;
        return std::nullopt;
    }
    void ask(std::string what, Done done)
    {
        changes.push_back(std::move(what));
        if (answer)
            done(*answer);
        else
            held.push_back(std::move(done));
    }
};

}  // namespace matrix::service::text
