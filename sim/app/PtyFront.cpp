// SPDX-License-Identifier: Apache-2.0
#include "sim/app/PtyFront.h"

#include "core/transport/ComPorts.h"
#include "platform/RawTty.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace matrix::simapp {

PtyFront::PtyFront(SimContext& context, std::string comDir, int comNumber, QObject* parent)
    : QObject(parent),
      context_(context),
      comNumber_(comNumber)
{
    if (!comDir.empty() && comDir.back() == '/')
        comDir.pop_back();
    linkPath_ = comDir + "/" + comPortName(comNumber);
    responder_ = context_.makeResponder();
    responder_->setTransmit([this](const sim::MatrixResponder::Bytes& bytes) {
        transmit(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    });
    // Never from inside the responder's own receive pass.
    responder_->setLinkCloser([this] {
        QMetaObject::invokeMethod(
            this, [this] { unplug(); }, Qt::QueuedConnection);
    });
    context_.attach(responder_.get(), LinkKind::Serial);
}

PtyFront::~PtyFront()
{
    context_.detach(responder_.get());
    responder_->setTransmit(nullptr);
    closePty();
    removeLink();
}

bool PtyFront::start(std::string* error)
{
    if (!plugIn(error))
        return false;
    if (context_.knobs().standbyAfterMs > 0)
        QTimer::singleShot(context_.knobs().standbyAfterMs, this, [this] { responder_->sendStandby(); });
    return true;
}

bool PtyFront::plugIn(std::string* error)
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        *error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    char name[PATH_MAX];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        *error = std::string("ptsname: ") + std::strerror(errno);
        ::close(master);
        ::close(slave);
        return false;
    }
    makeRawTty(slave, B19200);  // Raw at the matrix's 19200 baud.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    // Replace a link left behind by an earlier run, but nothing else.
    struct stat existing {};
    if (::lstat(linkPath_.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            *error = linkPath_ + " exists and is not a symbolic link";
            ::close(master);
            ::close(slave);
            return false;
        }
        ::unlink(linkPath_.c_str());
    }
    if (::symlink(name, linkPath_.c_str()) != 0) {
        *error = "symlink " + linkPath_ + ": " + std::strerror(errno);
        ::close(master);
        ::close(slave);
        return false;
    }

    master_ = master;
    farEnd_ = slave;
    devicePath_ = name;
    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyFront::onReadable);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyFront::onWritable);
    std::cout << "serial " << comPortName(comNumber_) << " -> " << devicePath_ << std::endl;
    return true;
}

void PtyFront::closePty()
{
    if (readNotifier_) {
        readNotifier_->setEnabled(false);
        readNotifier_->deleteLater();
        readNotifier_ = nullptr;
    }
    if (writeNotifier_) {
        writeNotifier_->setEnabled(false);
        writeNotifier_->deleteLater();
        writeNotifier_ = nullptr;
    }
    if (master_ >= 0)
        ::close(master_);
    if (farEnd_ >= 0)
        ::close(farEnd_);
    master_ = -1;
    farEnd_ = -1;
    unsent_.clear();
}

void PtyFront::removeLink()
{
    if (devicePath_.empty())
        return;
    // Only our own link: another simulator may have taken the name since.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        if (devicePath_ == target)
            ::unlink(linkPath_.c_str());
    }
}

void PtyFront::unplug()
{
    if (master_ < 0)
        return;
    closePty();
    removeLink();
    std::cout << "serial " << comPortName(comNumber_) << " unplugged" << std::endl;
    QTimer::singleShot(kReplugDelayMs, this, [this] {
        std::string error;
        if (master_ < 0 && !plugIn(&error))
            std::cerr << "matrix-sim: cannot plug the serial side back in: " << error << std::endl;
    });
}

void PtyFront::onReadable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            responder_->receive(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(n));
            if (master_ < 0)
                return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // The far end hung up although we hold it open: treat it as unplugged
        // rather than spin on a dead descriptor.
        QMetaObject::invokeMethod(
            this, [this] { unplug(); }, Qt::QueuedConnection);
        if (readNotifier_)
            readNotifier_->setEnabled(false);
        return;
    }
}

void PtyFront::transmit(const QByteArray& bytes)
{
    if (master_ < 0)
        return;  // unplugged: the bytes go nowhere, as on a pulled cable
    unsent_.append(bytes);
    onWritable();
}

void PtyFront::onWritable()
{
    while (!unsent_.isEmpty() && master_ >= 0) {
        const ssize_t n = ::write(master_, unsent_.constData(), static_cast<size_t>(unsent_.size()));
        if (n > 0) {
            unsent_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;  // full: wait until the line drains
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(!unsent_.isEmpty());
}

}  // namespace matrix::simapp
