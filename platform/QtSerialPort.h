// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/SerialChannel.h"

#include <QObject>

#include <deque>
#include <memory>
#include <string>

class QSerialPort;

namespace matrix {

// One COM port on QSerialPort.
//
// There is no worker thread: QSerialPort reads on the loop thread whenever
// the descriptor becomes readable, so received bytes already reach the owner
// on the loop thread and in order, which is all a worker would have bought
// (at the price of a lock and a hand-over). "startWorker" therefore means
// "start delivering": a probe opens and configures the port and delivers
// nothing. The event mask and write-buffer size of the settings have no
// part to play here: every received byte is delivered, and QSerialPort
// queues a write of any length.
//
// Exclusivity: QSerialPort's lock file and TIOCEXCL keep other programs out;
// a process-wide table keeps a second object of this process out without
// relying on either (root ignores TIOCEXCL). Before touching the line
// settings, a port that another program holds (TIOCEXCL set, or an flock on
// the device) is refused, so that a probe never reconfigures someone else's
// line. While open, this object holds an flock of its own for the same reason.
class QtSerialPort : public QObject, public SerialChannel {
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    bool open(int portNumber, const SerialSettings& settings) override;
    bool startWorker() override;
    void requestClose() override;
    void write(const std::uint8_t* data, std::size_t length) override;
    bool isOpen() const override;

    // Opens this device whatever COM number is asked for (matrixd's `serial = "/dev/..."`).
    void setDeviceOverride(std::string path) { deviceOverride_ = std::move(path); }

    int portNumber() const { return portNumber_; }
    // The device the port resolved to (symlinks followed); empty when closed.
    const std::string& devicePath() const { return devicePath_; }

private:
    void closePort();
    void onReadyRead();
    void onError(int error);
    void deliverPending();

    QSerialPort* port_ = nullptr;
    int guardFd_ = -1;  // holds the flock while the port is open
    int portNumber_ = 0;
    std::string devicePath_;
    std::string deviceOverride_;
    bool live_ = false;
    bool discardInputOnWrite_ = true;
    bool faulted_ = false;
    bool delivering_ = false;
    // Bytes read from the port but not yet handed to the owner.
    std::deque<std::uint8_t> pending_;
    // Changes on every close, so that a delivery pass or a posted fault of an
    // earlier opening stops instead of reaching the owner.
    int generation_ = 0;
    // False once destroyed; a byte handler may destroy this object.
    std::shared_ptr<bool> alive_;
};

}  // namespace matrix
