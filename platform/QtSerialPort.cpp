// SPDX-License-Identifier: Apache-2.0
#include "platform/QtSerialPort.h"

#include "core/transport/ComPorts.h"

#include <QByteArray>
#include <QMetaObject>
#include <QSerialPort>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace matrix {

namespace {

// Devices held by a QtSerialPort of this process. Touched on the loop
// thread only, like everything else in this class.
std::set<std::string>& heldDevices()
{
    static std::set<std::string> devices;
    return devices;
}

// The parity letter in either case; anything else is no parity.
QSerialPort::Parity toQtParity(char letter)
{
    constexpr std::pair<char, QSerialPort::Parity> kParities[] = {{'E', QSerialPort::EvenParity},
                                                                  {'O', QSerialPort::OddParity},
                                                                  {'M', QSerialPort::MarkParity},
                                                                  {'S', QSerialPort::SpaceParity}};
    for (const auto& [upper, parity] : kParities)
        if (std::toupper(static_cast<unsigned char>(letter)) == upper)
            return parity;
    return QSerialPort::NoParity;
}

QSerialPort::DataBits toQtDataBits(int bits)
{
    switch (bits) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
    }
}

// Opens the device without configuring it and checks that no other program
// holds it. Returns the descriptor, now carrying our flock, or -1.
int claimDevice(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;  // absent, or TIOCEXCL set by its holder and we are not root
    int exclusive = 0;
    // Root may open a TIOCEXCL line anyway; the flag still says it is taken.
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        ::close(fd);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent), alive_(std::make_shared<bool>(true)) {}

QtSerialPort::~QtSerialPort()
{
    *alive_ = false;
    closePort();
}

bool QtSerialPort::open(int portNumber, const SerialSettings& settings)
{
    closePort();

    const std::string configured = deviceOverride_.empty() ? comDevicePath(portNumber) : deviceOverride_;
    if (configured.empty())
        return false;
    // The COMn entries are usually symlinks; the lock file and the table of
    // held devices must name the device itself, whatever link led to it.
    char resolved[PATH_MAX];
    if (!::realpath(configured.c_str(), resolved))
        return false;
    const std::string device = resolved;
    if (heldDevices().count(device) != 0)
        return false;

    const int guard = claimDevice(device);
    if (guard < 0)
        return false;

    auto* port = new QSerialPort;
    port->setPortName(QString::fromStdString(device));
    // Configuration failures are not fatal: the line is then used with the
    // settings it has, as the matrix program always did.
    port->setBaudRate(settings.baud);
    port->setDataBits(toQtDataBits(settings.dataBits));
    port->setParity(toQtParity(settings.parity));
    port->setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite)) {
        delete port;
        ::close(guard);
        return false;
    }
    port->clear(QSerialPort::AllDirections);

    port_ = port;
    discardInputOnWrite_ = settings.discardInputOnWrite;
    guardFd_ = guard;
    portNumber_ = portNumber;
    devicePath_ = device;
    heldDevices().insert(device);
    connect(port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onError(static_cast<int>(error)); });
    return true;
}

bool QtSerialPort::startWorker()
{
    if (!isOpen())
        return false;
    // Whatever arrived while the port was only probed is stale.
    port_->clear(QSerialPort::Input);
    pending_.clear();
    live_ = true;
    return true;
}

void QtSerialPort::requestClose() { closePort(); }

void QtSerialPort::write(const std::uint8_t* data, std::size_t length)
{
    if (!isOpen() || length == 0)
        return;
    // The matrix answers only the frame just sent; stale bytes still queued
    // would be taken for its reply, so they go first. Output already queued
    // is kept: it is an earlier frame, not stale data.
    if (discardInputOnWrite_)
        port_->clear(QSerialPort::Input);
    port_->write(reinterpret_cast<const char*>(data), static_cast<qint64>(length));
    port_->flush();
}

bool QtSerialPort::isOpen() const { return port_ && port_->isOpen(); }

void QtSerialPort::closePort()
{
    ++generation_;
    live_ = false;
    faulted_ = false;
    pending_.clear();
    if (port_) {
        QObject::disconnect(port_, nullptr, this, nullptr);
        if (port_->isOpen()) {
            // Unsent output would make close() wait for the line to drain.
            port_->clear(QSerialPort::AllDirections);
            port_->close();
        }
        // A byte handler may close the port while QSerialPort is still
        // inside its readyRead emission: delete it once that has returned.
        if (delivering_)
            port_->deleteLater();
        else
            delete port_;
        port_ = nullptr;
    }
    if (guardFd_ >= 0) {
        ::close(guardFd_);
        guardFd_ = -1;
    }
    if (!devicePath_.empty())
        heldDevices().erase(devicePath_);
    devicePath_.clear();
    portNumber_ = 0;
}

void QtSerialPort::onReadyRead()
{
    if (!port_)
        return;
    if (!live_)
        return;  // a probe delivers nothing; startWorker discards what gathered
    const QByteArray bytes = port_->readAll();
    for (char c : bytes)
        pending_.push_back(static_cast<std::uint8_t>(c));
    // A handler that runs a nested event loop lets readyRead in again; the
    // outer pass picks the new bytes up, so order holds.
    if (!delivering_)
        deliverPending();
}

void QtSerialPort::deliverPending()
{
    const auto alive = alive_;
    const int generation = generation_;
    delivering_ = true;
    while (!pending_.empty()) {
        const std::uint8_t byte = pending_.front();
        pending_.pop_front();
        deliverByte(byte, portNumber_);
        if (!*alive)
            return;  // the handler destroyed this object
        if (generation != generation_)
            break;  // the handler closed or re-opened the port
    }
    delivering_ = false;
}

void QtSerialPort::onError(int error)
{
    const auto kind = static_cast<QSerialPort::SerialPortError>(error);
    // Write failures lose the block; the sender's reply time-out reports it.
    // A vanished device shows up as a resource error on either direction.
    if (kind != QSerialPort::ResourceError && kind != QSerialPort::ReadError)
        return;
    if (faulted_)
        return;
    faulted_ = true;
    const bool report = live_;
    const int generation = generation_;
    // Posted: the owner learns of the fault from the loop, never from inside
    // QSerialPort's own notification, and the port is closed first so that a
    // hung-up descriptor does not keep the loop busy.
    QMetaObject::invokeMethod(
        this,
        [this, generation, report] {
            if (generation != generation_)
                return;
            closePort();
            if (report)
                reportFault();
        },
        Qt::QueuedConnection);
}

}  // namespace matrix
