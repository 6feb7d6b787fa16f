// SPDX-License-Identifier: Apache-2.0
#include "service/text/TextFrontEnd.h"

#include "platform/QtSerialPort.h"
#include "service/hub/Log.h"

namespace matrix::service::text {

TextFrontEnd::TextFrontEnd(Hub& hub, MatrixUnit& unit, EventLoop& loop)
    : unit_(unit),
      loop_(loop),
      backend_(hub, unit, [this](const Event& event) {
          if (server_)
              server_->event(event);
          if (serial_)
              serial_->event(event);
      })
{
}

TextFrontEnd::~TextFrontEnd() = default;

bool TextFrontEnd::start(std::string* error)
{
    const MatrixConfig& config = unit_.config();
    if (config.textPort) {
        server_ = std::make_unique<TextServer>(backend_, unit_.id(), config.textAllow);
        const QHostAddress address(QString::fromStdString(config.textListen));
        if (!server_->listen(address, static_cast<quint16>(*config.textPort), error)) {
            server_.reset();
            return false;
        }
        const char* reach = !config.textAllow.empty()           ? " (text_allow)"
                            : isLoopbackHost(config.textListen) ? ""
                                                                : " (no text_allow: any address may connect)";
        logLine(unit_.id() + ": text protocol on " + config.textListen + ":" + std::to_string(*config.textPort) +
                reach);
    }
    if (!config.textSerial.empty()) {
        const std::string device = config.textSerial;
        serial_ = std::make_unique<SerialLine>(
            loop_, backend_, device, config.textBaud,
            [device]() -> std::unique_ptr<SerialChannel> {
                auto port = std::make_unique<QtSerialPort>();
                port->setDeviceOverride(device);
                return port;
            },
            [id = unit_.id()](const std::string& line) { logLine(id + ": " + line); });
        serial_->start();
    }
    return true;
}

}  // namespace matrix::service::text
