// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/MatrixUnit.h"
#include "service/text/Backend.h"

#include <array>
#include <functional>
#include <string>

namespace matrix::service {
class Hub;
}

namespace matrix::service::text {

// The one place the text front-end meets the hub: reads and changes go to
// the matrix's unit with a Caller{"text", peer}, the hub's typed events come
// back as text events, the unit's Outcome goes to the session as it is (its
// ERR code comes from the hub's one table), and each change is logged with
// the peer that asked. Loop thread only.
class TextBackend : public Backend {
public:
    TextBackend(Hub& hub, MatrixUnit& unit, std::function<void(const Event&)> onEvent);
    ~TextBackend() override;
    TextBackend(const TextBackend&) = delete;
    TextBackend& operator=(const TextBackend&) = delete;

    const std::string& matrixId() const { return unit_.id(); }

    bool linkUp() const override;
    std::optional<int> routedInput(int output) const override;
    std::optional<bool> beepOn() const override;
    std::optional<bool> cable(bool input, int port) const override;
    std::string name(bool input, int port) const override;
    std::optional<int> findInput(std::string_view text) const override;
    std::optional<int> findOutput(std::string_view text) const override;
    std::vector<std::string> scenes() const override;
    std::map<int, int> pending() const override;

    void route(int output, int input, const std::string& who, Done done) override;
    void routeAll(int input, const std::string& who, Done done) override;
    void recall(const std::string& scene, const std::string& who, Done done) override;
    void setBeep(bool on, const std::string& who, Done done) override;
    void stage(int output, int input, const std::string& who, Done done) override;
    void take(const std::string& who, Done done) override;
    void clearPending(const std::string& who, Done done) override;

private:
    void onHubEvent(const HubEvent& event);
    // Asks the unit with the peer as its Caller; the change is logged with
    // the peer and how it ended, whether refused at once or later.
    void ask(std::string what, const std::string& who, Done done,
             const std::function<Outcome(const Caller&, MatrixUnit::Done)>& operation);

    Hub& hub_;
    MatrixUnit& unit_;
    std::function<void(const Event&)> onEvent_;
    int subscription_ = 0;
    // Names as last announced: a names event carries all of them, the text
    // protocol tells only the ones that changed.
    std::array<std::string, kPorts> inputNames_;
    std::array<std::string, kPorts> outputNames_;
};

}  // namespace matrix::service::text
