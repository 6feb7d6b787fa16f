// SPDX-License-Identifier: Apache-2.0
#include "cli/run/NetRunner.h"

namespace matrix::cli {

namespace {

constexpr const char* kConfigured = "Matrix configuration completed successfully!";
constexpr const char* kConfigFailed = "configure failed!";
constexpr const char* kSearchFailed = "Search failed";
constexpr const char* kNotFound = "Search Matrix IP failed!";

}  // namespace

NetRunner::NetRunner(Platform& platform, const Invocation& invocation)
    : platform_(platform),
      inv_(invocation),
      discovery_(platform, *this),
      config_(platform, *this, discovery_),
      wait_(platform.loop)
{
}

NetRunner::~NetRunner()
{
    *alive_ = false;
    if (subscription_)
        discovery_.changed.unsubscribe(subscription_);
}

void NetRunner::start()
{
    if (inv_.command == Command::Discover) {
        if (!search())
            return;
        // Every answer within the time asked for counts.
        wait_.once(static_cast<int>(inv_.seconds * 1000), [this] {
            collectMatrices();
            succeed();
        });
        return;
    }
    if (inv_.command != Command::NetConfig) {
        fail("not a network command");
        return;
    }
    // As a user does it: Search, pick the matrix in the IP list, Config...,
    // fill the dialog, OK, and wait for the acknowledgement.
    subscription_ = discovery_.changed.subscribe([this] {
        const int row = rowOfMac(inv_.mac);
        if (row < 0 || configuring_ || finished_)
            return;
        configuring_ = true;
        wait_.stop();
        // After the discovery handler has returned: the configuration takes its socket over.
        platform_.loop.post([this, alive = alive_, row] {
            if (*alive && !finished_)
                configure(row);
        });
    });
    if (!search())
        return;
    wait_.once(kFindMatrixMs, [this] { fail(kNotFound); });
}

bool NetRunner::search()
{
    discovery_.search();
    // A port another program holds is no search at all: its answers would go there.
    if (!discovery_.listening()) {
        fail(kSearchFailed);
        return false;
    }
    return true;
}

int NetRunner::rowOfMac(const std::string& mac) const
{
    const auto& rows = discovery_.addresses();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (discovery_.discoveredMac(static_cast<int>(i % Discovery::kMacSlots)) == mac)
            return static_cast<int>(i);
    return -1;
}

void NetRunner::collectMatrices()
{
    result_.matrices.clear();
    const auto& rows = discovery_.addresses();
    for (std::size_t i = 0; i < rows.size(); ++i)
        result_.matrices.push_back({rows[i], discovery_.discoveredMac(static_cast<int>(i % Discovery::kMacSlots))});
}

void NetRunner::configure(int row)
{
    discovery_.selectRow(row);
    config_.open();
    config_.setAutoIp(!inv_.staticIp);
    if (inv_.staticIp) {
        std::string text = inv_.staticAddress;
        for (int i = 0; i < NetworkConfig::kAddressFields; ++i) {
            const std::size_t dot = text.find('.');
            config_.setAddressField(i, text.substr(0, dot));
            text = dot == std::string::npos ? "" : text.substr(dot + 1);
        }
    }
    // The MAC fields start as the matrix's own MAC: it keeps it unless a new one is given.
    if (inv_.newMac) {
        for (int i = 0; i < NetworkConfig::kMacFields; ++i)
            config_.setMacField(i, inv_.newMac->substr(static_cast<std::size_t>(2 * i), 2));
    }
    config_.ok();
    // The configuration status popup's wait: no acknowledgement by then is a failure.
    wait_.once(kAcknowledgeMs, [this] { fail(kConfigFailed); });
}

void NetRunner::configured()
{
    // Posted, as the window's message is: it runs after the dialog's handler.
    if (!configuring_)
        return;
    platform_.loop.post([this, alive = alive_] {
        if (*alive)
            succeed(kConfigured);
    });
}

void NetRunner::fail(const std::string& text) { finish(ExitCode::MatrixFailed, text, {}); }

void NetRunner::succeed(const std::string& message) { finish(ExitCode::Success, {}, message); }

// The first ending counts; a later one (a time-out after the answer) is dropped.
void NetRunner::finish(ExitCode exit, const std::string& error, const std::string& message)
{
    if (finished_)
        return;
    finished_ = true;
    result_.exit = exit;
    result_.error = error;
    result_.message = message;
    wait_.stop();
    if (onFinished)
        onFinished();
}

}  // namespace matrix::cli
