// SPDX-License-Identifier: Apache-2.0
#include "core/net/NetworkConfig.h"

#include "core/link/HexLog.h"
#include "core/net/Discovery.h"

#include <algorithm>
#include <cctype>

namespace matrix {

namespace {

// The reply log is hidden; keep only its recent part so that a noisy
// segment cannot grow it without limit.
constexpr std::size_t kReplyLogMaxBytes = 64 * 1024;

}  // namespace

NetworkConfig::NetworkConfig(Platform& platform, NetHost& host, Discovery& discovery)
    : host_(host),
      discovery_(discovery),
      socket_(platform.datagramSocket)
{
}

NetworkConfig::~NetworkConfig()
{
    if (listening_)
        socket_.setReadableHandler(nullptr);
}

void NetworkConfig::open()
{
    if (!created_) {
        created_ = true;
        autoIp_ = true;
    }
    fillFields();
    visible_ = true;
    changed.notifyChanged();
}

void NetworkConfig::fillFields()
{
    // The four parts of matrixAddress around its first three dots; a text
    // with fewer dots leaves the remaining fields empty.
    const std::string text = host_.matrixAddress();
    std::size_t start = 0;
    for (int i = 0; i < kAddressFields; ++i) {
        if (start == std::string::npos) {
            address_[i].clear();
            continue;
        }
        std::size_t dot = i < kAddressFields - 1 ? text.find('.', start) : std::string::npos;
        address_[i] = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        start = dot == std::string::npos ? std::string::npos : dot + 1;
    }
    const std::string& mac = discovery_.selectedMac();
    for (int i = 0; i < kMacFields; ++i) {
        std::size_t at = static_cast<std::size_t>(2 * i);
        mac_[i] = at < mac.size() ? mac.substr(at, 2) : std::string();
    }
}

void NetworkConfig::cancel()
{
    if (!visible_)
        return;
    visible_ = false;
    changed.notifyChanged();
}

void NetworkConfig::setAutoIp(bool autoIp)
{
    autoIp_ = autoIp;
    changed.notifyChanged();
}

void NetworkConfig::setAddressField(int index, const std::string& text)
{
    address_.at(static_cast<std::size_t>(index)) = text;
    changed.notifyChanged();
}

void NetworkConfig::setMacField(int index, const std::string& text)
{
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    mac_.at(static_cast<std::size_t>(index)) = upper;
    changed.notifyChanged();
}

void NetworkConfig::buildMessage()
{
    using namespace net;
    writeSelectedMac(discovery_.selectedMac(), message_.data() + kConfigTargetMacOffset);
    if (autoIp_) {
        // Offsets 6 to 17 are left as the last Static IP attempt wrote them.
        message_[kConfigAutoFlagOffset] = 1;
    } else {
        for (int i = 0; i < kAddressFields; ++i)
            message_[kConfigAddressOffset + i] = addressFieldByte(address_[i]);
        for (int i = 0; i < 3; ++i)
            message_[kConfigGatewayOffset + i] = message_[kConfigAddressOffset + i];
        message_[kConfigGatewayOffset + 3] = 1;
        message_[kConfigMaskOffset] = 0xFF;
        message_[kConfigMaskOffset + 1] = 0xFF;
        message_[kConfigMaskOffset + 2] = 0xFF;
        message_[kConfigMaskOffset + 3] = 0;
        message_[kConfigAutoFlagOffset] = 0;
    }
    const auto newMac = macFieldBytes(mac_);
    std::copy(newMac.begin(), newMac.end(), message_.begin() + kConfigNewMacOffset);
    message_[kConfigModeOffset] = autoIp_ ? kConfigModeAuto : kConfigModeStatic;
    message_[kConfigDirectionOffset] = kConfigRequestMark;
    message_[kConfigChecksumOffset] = configChecksum(message_);
}

void NetworkConfig::ok()
{
    buildMessage();

    // The one datagram socket moves from discovery to this port until the
    // next search.
    discovery_.releaseSocket();
    socket_.close();
    buffer_.clear();
    listening_ = socket_.bind(kNetConfigPort);
    if (listening_)
        socket_.setReadableHandler([this] { onReadable(); });
    // A failed bind or send is not reported here: the popup's time-out
    // ends the attempt with "configure failed!".
    socket_.sendTo(net::kBroadcastAddress, kNetConfigPort, message_.data(), message_.size());

    visible_ = false;
    changed.notifyChanged();
    host_.configSent();
}

void NetworkConfig::onReadable()
{
    socket_.receiveEach(listening_,
                        [this](const std::uint8_t* data, std::size_t length) { takeDatagram(data, length); });
}

void NetworkConfig::echo(const std::uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        replyLog_ += HexLog::hexByte(data[i]);
        if (i % 13 == 0)
            replyLog_ += "\r\n";
    }
    if (replyLog_.size() > kReplyLogMaxBytes)
        replyLog_.erase(0, replyLog_.size() - kReplyLogMaxBytes);
}

void NetworkConfig::takeDatagram(const std::uint8_t* data, std::size_t length)
{
    using namespace net;
    buffer_.append(data, length);
    echo(data, length);
    if (buffer_.size() < kConfigMessageBytes)
        return;

    // Only a reply that starts with the addressed MAC's first bytes and lies
    // wholly inside what was received is read; anything else from the
    // segment is not an acknowledgement of ours.
    auto at = findConfigReply(buffer_.data(), buffer_.size(), message_.data() + kConfigTargetMacOffset);
    const bool acknowledged = at && buffer_.data()[*at + kConfigDirectionOffset] == kConfigAckMark;
    buffer_.clear();
    if (acknowledged)
        host_.configured();
}

}  // namespace matrix
