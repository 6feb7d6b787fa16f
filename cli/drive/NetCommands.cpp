// SPDX-License-Identifier: Apache-2.0
// Discovery and network configuration, as "Search" and "Config..." run them.
#include "cli/drive/SessionDriver.h"

#include "core/session/MatrixSession.h"

namespace matrix::cli {

namespace {

// How long netconfig waits for the addressed matrix to answer the search;
// the window's own re-discovery gives up after as long.
constexpr int kFindMatrixMs = 5000;
constexpr const char* kConfigured = "Matrix configuration completed successfully!";
constexpr const char* kConfigFailed = "configure failed!";

}  // namespace


void SessionDriver::collectMatrices()
{
    result_.matrices.clear();
    const auto& rows = session_.discovery.addresses();
    for (std::size_t i = 0; i < rows.size(); ++i)
        result_.matrices.push_back({rows[i], session_.discovery.discoveredMac(static_cast<int>(i % Discovery::kMacSlots))});
}

void SessionDriver::search()
{
    GeneralPage& general = session_.general;
    // "Search" sits in the TCP group, which the TCP radio enables.
    general.selectTcpMode();
    expectNotice("Search failed", [this] { fail(ExitCode::LinkFailed, "Search failed"); });
    general.searchClicked();
    entryStartMs_ = session_.platform.loop.nowMs();
}

void SessionDriver::runDiscover()
{
    search();
    const auto waitMs = static_cast<std::int64_t>(inv_.seconds * 1000);
    waitUntil([this, waitMs] { return session_.platform.loop.nowMs() - entryStartMs_ >= waitMs; }, waitMs + 1000,
              [this] {
                  collectMatrices();
                  succeed();
              });
}

int SessionDriver::rowOfMac(const std::string& mac) const
{
    const auto& rows = session_.discovery.addresses();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (session_.discovery.discoveredMac(static_cast<int>(i % Discovery::kMacSlots)) == mac)
            return static_cast<int>(i);
    return -1;
}

void SessionDriver::runNetConfig()
{
    // As a user does it: Search, pick the matrix in the IP list, Config...,
    // fill the dialog, OK, and watch the configuration status popup.
    search();
    waitUntil([this] { return rowOfMac(inv_.mac) >= 0; }, kFindMatrixMs, [this] {
        GeneralPage& general = session_.general;
        NetworkConfig& dialog = session_.netConfig;
        general.selectIpEntry(rowOfMac(inv_.mac));
        general.configClicked();
        dialog.setAutoIp(!inv_.staticIp);
        if (inv_.staticIp) {
            std::string text = inv_.staticAddress;
            for (int i = 0; i < NetworkConfig::kAddressFields; ++i) {
                std::size_t dot = text.find('.');
                dialog.setAddressField(i, text.substr(0, dot));
                text = dot == std::string::npos ? "" : text.substr(dot + 1);
            }
        }
        // The MAC fields are filled from the matrix's own MAC: it keeps it
        // unless a new one is given.
        if (inv_.newMac) {
            for (int i = 0; i < NetworkConfig::kMacFields; ++i)
                dialog.setMacField(i, inv_.newMac->substr(static_cast<std::size_t>(2 * i), 2));
        }
        dialog.ok();
        const ConfigStatusPopup& popup = session_.popups.configStatus;
        waitUntil([&popup] { return popup.text() == kConfigured || popup.text() == kConfigFailed; },
                  kPageRunLimitMs, [this, &popup] {
                      if (popup.text() == kConfigured)
                          succeed(kConfigured);
                      else
                          fail(ExitCode::MatrixFailed, kConfigFailed);
                  });
    }, "Search Matrix IP failed!");
}


}  // namespace matrix::cli
