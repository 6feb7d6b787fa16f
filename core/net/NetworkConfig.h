// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/net/Discovery.h"

namespace matrix {

// The network configuration dialog's model: sets the address mode (Auto or
// Static IP) and optionally the MAC of the matrix discovery chose, by a
// 76-byte broadcast on port 30601, and reads the acknowledgement.
class NetworkConfig {
public:
    static constexpr int kAddressFields = 4;
    static constexpr int kMacFields = 6;

    NetworkConfig(Platform& platform, NetHost& host, Discovery& discovery);
    ~NetworkConfig();
    NetworkConfig(const NetworkConfig&) = delete;
    NetworkConfig& operator=(const NetworkConfig&) = delete;

    // "Config...": the first open fills the fields and selects "Auto IP";
    // later opens refill the address and MAC fields and keep the radio choice.
    void open();
    // OK: sends the message, hides, and the status popup follows the attempt.
    void ok();
    // Cancel and the close button: hide, nothing is sent.
    void cancel();

    void setAutoIp(bool autoIp);
    void setAddressField(int index, const std::string& text);
    // MAC fields are kept in upper case, as they are typed.
    void setMacField(int index, const std::string& text);

    bool isVisible() const { return visible_; }
    bool autoIp() const { return autoIp_; }
    bool addressFieldsEnabled() const { return !autoIp_; }
    const std::string& addressField(int index) const { return address_.at(static_cast<std::size_t>(index)); }
    const std::string& macField(int index) const { return mac_.at(static_cast<std::size_t>(index)); }
    std::size_t bufferedBytes() const { return buffer_.size(); }

    ChangeNotifier changed;

private:
    void buildMessage();
    void takeDatagram(const std::uint8_t* data, std::size_t length);

    NetHost& host_;
    Discovery& discovery_;
    DatagramSocket& socket_;
    bool created_ = false;
    bool visible_ = false;
    bool autoIp_ = true;
    bool listening_ = false;
    std::array<std::string, kAddressFields> address_{};
    std::array<std::string, kMacFields> mac_{};
    net::ConfigMessage message_{};  // kept between attempts
    net::ReplyBuffer buffer_;
};

}  // namespace matrix
