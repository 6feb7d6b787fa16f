// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/session/MatrixSession.h"
#include "tests/fault/SeededChoices.h"
#include "tests/support/TestRig.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace matrix::testing {

// Files the sessions pick from: EDID files and firmware containers made
// once per test program in a scratch folder.
struct FaultFiles {
    std::vector<std::string> edidFiles;
    std::vector<std::string> firmwareFiles;
};

// One whole program session against the simulated matrix on virtual time,
// driven by one seed: the seed chooses what the user clicks (only what the
// window would let them click) and how the line misbehaves meanwhile. After
// the faults stop and every time-out chain has run out, the session must be
// idle again and a clean refresh must show the matrix's real routing.
//
// run() returns the invariants that did not hold, as readable lines.
class FaultSession {
public:
    // Past the longest time-out chain of any page (the firmware reboot poll
    // runs eight 3 s polls after a 7 s + 8 s block wait).
    static constexpr int kQuietMs = 60000;

    FaultSession(std::uint32_t seed, const FaultFiles& files);
    ~FaultSession();
    FaultSession(const FaultSession&) = delete;
    FaultSession& operator=(const FaultSession&) = delete;

    std::vector<std::string> run();

    // What the session did, for a failing seed's report.
    const std::vector<std::string>& journal() const { return journal_; }

private:
    // Random choices.
    bool chance(double p);
    int between(int low, int high);  // inclusive

    // Runs one of `choices`, drawn with a single between() in which each
    // choice has as many values as its weight.
    struct Choice {
        int weight;
        std::function<void()> act;
    };
    void pickOne(std::initializer_list<Choice> choices);

    void note(const std::string& line);
    void violation(const std::string& line);

    // Connect the way a user does on the General tab.
    void connectCom();
    void connectTcp();

    // One user step, only if the window would accept a click now.
    void userStep();
    void generalAction();
    void routingAction();
    void edidAction();
    void firmwareAction();
    void editorAction();
    void selectTab(Tab tab);

    // One fault of the line or the matrix.
    void injectFault();
    void stopFaults();
    sim::MatrixResponder& someMatrix();

    void advance(std::int64_t ms);
    void settleUserBoxes();
    void checkIdle(const std::string& when);
    void finalRefresh();
    std::string holderName(int port);
    void checkFirmwareClaim();
    void checkSender(sim::MatrixResponder& matrix, const CommandFrame& frame);

    std::uint32_t seed_;
    const FaultFiles& files_;
    SeededChoices choices_;
    TestRig rig_;
    MatrixSession session_;
    int firmwareListener_ = 0;
    std::size_t successesSeen_ = 0;
    bool unplugged_ = false;
    std::vector<std::string> journal_;
    std::vector<std::string> violations_;
};

}  // namespace matrix::testing
