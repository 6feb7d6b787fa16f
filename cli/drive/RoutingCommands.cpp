// SPDX-License-Identifier: Apache-2.0
// The commands of the "Matrix" tab: read the routing, route from the grid.
#include "cli/drive/SessionDriver.h"

#include "core/session/MatrixSession.h"

#include <cstdlib>

namespace matrix::cli {


void SessionDriver::collectRouting()
{
    RoutingPage& routing = session_.routing;
    result_.routes.clear();
    for (int k = 1; k <= RoutingPage::kLiveOutputs; ++k) {
        // The digit display shows what the matrix reported for the output.
        result_.routes.push_back({k, std::atoi(routing.displayText(k).c_str())});
    }
}

void SessionDriver::runRouting()
{
    // Showing the tab reads outputs A-D, one status query after another,
    // with the page's own re-send and "Time out!".
    if (!session_.shell.selectTab(Tab::Matrix)) {
        fail(ExitCode::MatrixFailed, "the matrix is busy");
        return;
    }
    waitUntil(
        [this] {
            // Activation has run (the refresh started, or its guard notice
            // is up), the refresh is over and nothing is on screen.
            return !session_.shell.timers().isRunning(Shell::kActivateMatrixTimer) && session_.link.busy == 0 &&
                   !session_.popups.progress.isOpen() && !session_.popups.notice.isOpen();
        },
        kPageRunLimitMs, [this] {
            collectRouting();
            if (inv_.command == Command::Routing) {
                succeed();
                return;
            }
            routeIndex_ = 0;
            clickNextRoute();
        });
}

void SessionDriver::runRoute(const std::vector<std::pair<int, int>>& routes)
{
    // First show the tab, which refreshes the grid; then click.
    routePlan_ = routes;
    runRouting();
}

void SessionDriver::clickNextRoute()
{
    if (routeIndex_ >= static_cast<std::int64_t>(routePlan_.size())) {
        collectRouting();
        succeed();
        return;
    }
    auto [output, input] = routePlan_[static_cast<std::size_t>(routeIndex_)];
    ++routeIndex_;
    RoutingPage& routing = session_.routing;
    // "All Output" and "Port to Port" sit in the output configuration panel,
    // which lies outside the visible page; a user does them on the grid,
    // one output after another, and so do we.
    routing.clickGrid(output, input);
    waitUntil(
        [this] {
            return session_.link.busy == 0 && !session_.popups.progress.isOpen() &&
                   !session_.popups.notice.isOpen();
        },
        kPageRunLimitMs, [this, &routing, output = output, input = input] {
            if (routing.checkedInput(output) != input) {
                collectRouting();
                fail(ExitCode::MatrixFailed, "Time out!");
                return;
            }
            clickNextRoute();
        });
}


}  // namespace matrix::cli
