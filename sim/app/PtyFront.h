// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/app/SimContext.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <string>

class QSocketNotifier;

namespace matrix::simapp {

// The matrix's serial side: a pseudo-terminal in raw mode whose far end is
// linked as DIR/COMn, so that the program finds it as COMn.
//
// The simulator keeps a descriptor of the far end open itself: a program
// that closes its port then leaves the line idle instead of hanging the
// near end up. "Unplugging" closes the pseudo-terminal (the program sees
// its port vanish) and plugs a fresh one in under the same link shortly after.
class PtyFront : public QObject {
public:
    static constexpr int kReplugDelayMs = 500;

    PtyFront(SimContext& context, std::string comDir, int comNumber, QObject* parent = nullptr);
    ~PtyFront() override;

    bool start(std::string* error);
    void unplug();

    const std::string& linkPath() const { return linkPath_; }
    const std::string& devicePath() const { return devicePath_; }

private:
    bool plugIn(std::string* error);
    void closePty();
    void removeLink();
    void onReadable();
    void onWritable();
    void transmit(const QByteArray& bytes);

    SimContext& context_;
    std::string linkPath_;
    int comNumber_;
    std::string devicePath_;
    int master_ = -1;
    int farEnd_ = -1;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QByteArray unsent_;
    std::unique_ptr<sim::MatrixResponder> responder_;
};

}  // namespace matrix::simapp
