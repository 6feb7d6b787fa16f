// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/net/NetMessages.h"
#include "core/transport/ChangeNotifier.h"
#include "core/transport/Platform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace matrix {

class HexLog;

// What discovery and the network configuration need from whoever runs them:
// the window or a command-line run. Each call comes on the loop thread,
// from inside the discovery's or configuration's own handler.
class NetHost {
public:
    virtual ~NetHost() = default;
    // The address a connect would use; discovery sets it from the replies.
    virtual std::string matrixAddress() const = 0;
    virtual void setMatrixAddress(const std::string& address) = 0;

    // A search begins: the TCP link to the previously chosen matrix goes.
    virtual void dropTcpLink() {}
    // The discovery port could not be bound: there is no search.
    virtual void searchFailed() {}
    // A matrix answered the search.
    virtual void discoveryReply() {}
    // The configuration message went out (its acknowledgement is awaited).
    virtual void configSent() {}
    // The addressed matrix acknowledged the configuration.
    virtual void configured() {}
};

// Finds the matrices on the local segment: a one-byte broadcast on port
// 30600, and every signed reply listed by its IPv4 address, with its MAC
// kept for the network configuration. Owns the discovery record.
class Discovery {
public:
    static constexpr int kMacSlots = 256;

    Discovery(Platform& platform, NetHost& host);
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // The General page's IP list: each valid reply's address, in order.
    void setAddressListener(std::function<void(const std::string&)> listener) { onAddress_ = std::move(listener); }
    // The General page's hidden received-bytes log.
    void setReceivedLog(HexLog* log) { receivedLog_ = log; }

    // The "Search" button and the main window's timer 8.
    void search();
    // A selection in the IP list: the row's address and MAC are the ones used.
    void selectRow(int row);

    const std::vector<std::string>& addresses() const { return addresses_; }
    int currentRow() const { return currentRow_; }

    std::uint8_t discoveredCount() const { return discoveredCount_; }
    const std::string& discoveredMac(int index) const { return discoveredMacs_.at(static_cast<std::size_t>(index)); }
    const std::string& selectedMac() const { return selectedMac_; }
    std::size_t bufferedBytes() const { return buffer_.size(); }

    // The network configuration re-binds the shared socket to its own port.
    void releaseSocket() { listening_ = false; }
    bool listening() const { return listening_; }

    ChangeNotifier changed;

private:
    void takeDatagram(const std::uint8_t* data, std::size_t length);

    NetHost& host_;
    DatagramSocket& socket_;
    std::function<void(const std::string&)> onAddress_;
    HexLog* receivedLog_ = nullptr;
    bool listening_ = false;

    std::uint8_t discoveredCount_ = 0;  // wraps from 255 to 0, as the record always has
    std::array<std::string, kMacSlots> discoveredMacs_{};
    std::string selectedMac_;
    net::ReplyBuffer buffer_;

    std::vector<std::string> addresses_;
    std::vector<std::string> rowMacs_;  // unlike the record, never wraps
    int currentRow_ = -1;
};

}  // namespace matrix
