// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "tests/support/MemoryNetwork.h"
#include "tests/support/SimulatedMatrix.h"
#include "tests/support/Transport.h"

#include <memory>
#include <string>
#include <vector>

namespace matrix::testing {

// One client on virtual time, wired to one simulated matrix over the chosen
// transport (COM3 or 127.0.0.1:8000).
struct ClientRig : SimulatedMatrix {
    MemoryLinkSocket* socket = nullptr;  // owned by the client
    Transport transport;
    std::unique_ptr<client::MatrixClient> client;
    std::vector<client::StateChange> changes;
    int standbys = 0;
    int serialOpens = 0;  // open attempts on the COM side

    explicit ClientRig(Transport t, client::MatrixClient::Options options = unsupervised()) : transport(t)
    {
        auto memorySocket = std::make_unique<MemoryLinkSocket>(loop);
        socket = memorySocket.get();
        socket->listen(kAddress, &tcpMatrix);
        client = std::make_unique<client::MatrixClient>(
            loop,
            [this] {
                ++serialOpens;
                return serialHub.makeSerial();
            },
            std::move(memorySocket), options);
        client->onChange = [this](const client::StateChange& c) { changes.push_back(c); };
        client->onStandby = [this] { ++standbys; };
    }

    static client::MatrixClient::Options unsupervised()
    {
        client::MatrixClient::Options o;
        o.supervise = false;
        return o;
    }
    static client::MatrixClient::Options supervised() { return client::MatrixClient::Options{}; }

    client::LinkTarget target() const
    {
        client::LinkTarget t;
        t.kind = transport == Transport::Com ? client::LinkTarget::Kind::Com : client::LinkTarget::Kind::Tcp;
        t.comPort = kComPort;
        t.address = kAddress;
        return t;
    }

    sim::MatrixResponder& matrix() { return transport == Transport::Com ? serialMatrix : tcpMatrix; }

    // Opens the link and lets it come up; returns how open() ended.
    client::Status open()
    {
        client::Status result = client::Status::Busy;
        bool ended = false;
        client->open(target(), [&](client::Status s) {
            result = s;
            ended = true;
        });
        loop.advanceUntil([&] { return ended; }, 10000);
        return result;
    }

    // Runs the loop until `ended` or a minute of virtual time has passed.
    bool settle(const bool& ended, std::int64_t maxMs = 60000)
    {
        return loop.advanceUntil([&] { return ended; }, maxMs);
    }

    // Every frame the matrix received, as hex lines.
    std::vector<std::string> wire()
    {
        std::vector<std::string> lines;
        for (const CommandFrame& f : matrix().received())
            lines.push_back(hex(f.data(), CommandFrame::kSize));
        return lines;
    }

    static std::string hex(const std::uint8_t* data, std::size_t n)
    {
        static const char* digits = "0123456789ABCDEF";
        std::string s;
        for (std::size_t i = 0; i < n; ++i) {
            if (i)
                s += ' ';
            s += digits[data[i] >> 4];
            s += digits[data[i] & 15];
        }
        return s;
    }
};

// Collects the endings of one request: each must come exactly once.
template <typename T>
struct Outcome {
    int endings = 0;
    client::Result<T> result;
    bool ended = false;
    std::function<void(const client::Result<T>&)> callback()
    {
        return [this](const client::Result<T>& r) {
            ++endings;
            result = r;
            ended = true;
        };
    }
};

}  // namespace matrix::testing
