// SPDX-License-Identifier: Apache-2.0
#include "core/net/Discovery.h"

#include "core/link/HexLog.h"

namespace matrix {

Discovery::Discovery(Platform& platform, NetHost& host) : host_(host), socket_(platform.datagramSocket) {}

Discovery::~Discovery()
{
    if (listening_)
        socket_.setReadableHandler(nullptr);
}

void Discovery::search()
{
    discoveredCount_ = 0;
    addresses_.clear();
    rowMacs_.clear();
    currentRow_ = -1;

    host_.dropTcpLink();

    // Bytes of the previous socket belong to no reply of this search.
    buffer_.clear();
    listening_ = false;
    socket_.close();
    listening_ = socket_.bind(kDiscoveryPort);
    if (!listening_) {
        changed.notifyChanged();
        host_.searchFailed();
        return;
    }
    socket_.setReadableHandler([this] {
        socket_.receiveEach(listening_, [this](const std::uint8_t* data, std::size_t n) { takeDatagram(data, n); });
    });
    changed.notifyChanged();

    const std::uint8_t request = net::kDiscoveryRequest;
    socket_.sendTo(net::kBroadcastAddress, kDiscoveryPort, &request, 1);
}

void Discovery::selectRow(int row)
{
    if (row < 0 || row >= static_cast<int>(addresses_.size()))
        return;
    currentRow_ = row;
    host_.setMatrixAddress(addresses_[static_cast<std::size_t>(row)]);
    selectedMac_ = rowMacs_[static_cast<std::size_t>(row)];
    changed.notifyChanged();
}

void Discovery::takeDatagram(const std::uint8_t* data, std::size_t length)
{
    // Our own request comes back on the port it went to. It is skipped as a
    // whole datagram: stripping request bytes would also eat a MAC that
    // begins with the same byte.
    if (length == 1 && data[0] == net::kDiscoveryRequest)
        return;

    const std::size_t before = buffer_.size();
    const std::size_t kept = buffer_.append(data, length);
    for (std::size_t i = 0; receivedLog_ && i < kept; ++i)
        receivedLog_->appendByte(data[i], (before + i + 1) % 13 == 0);
    if (buffer_.size() < net::kDiscoveryReplyMinBytes)
        return;  // keep the bytes until the rest arrives

    // One reply from the buffer's start; "001C9103405A" and "192.168.1.50".
    const std::uint8_t* reply = buffer_.data();
    const bool signature = reply[net::kDiscoverySignatureOffset] == net::kDiscoverySignature0 &&
                           reply[net::kDiscoverySignatureOffset + 1] == net::kDiscoverySignature1;
    std::string mac;
    for (std::size_t i = 0; i < 6; ++i)
        mac += HexLog::hexByte(reply[net::kDiscoveryMacOffset + i]).substr(0, 2);
    std::string address;
    for (std::size_t i = 0; i < 4; ++i)
        address += (i > 0 ? "." : "") + std::to_string(reply[net::kDiscoveryIpv4Offset + i]);
    buffer_.clear();
    if (!signature)
        return;

    addresses_.push_back(address);
    rowMacs_.push_back(mac);
    discoveredMacs_[discoveredCount_++] = mac;
    // Each reply selects the first row again, with that row's own MAC: after
    // 256 replies the wrapped record would pair it with another matrix's.
    selectRow(0);
    if (onAddress_)
        onAddress_(address);
    host_.discoveryReply();
}

}  // namespace matrix
