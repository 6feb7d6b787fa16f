// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/app/SimContext.h"

#include <QObject>

#include <functional>
#include <sstream>
#include <string>

class QSocketNotifier;

namespace matrix::simapp {

// Line commands on standard input that turn the knobs while the simulator
// runs, for tests and demos. Each line is answered with "ok <line>" or
// "error <line>" on standard output.
//
//   drop N | corrupt N            next N replies of every open link
//   silent on|off | delay MS | split N | coalesce N
//                                 open links and the links to come
//   standby                       a standby notice on every link
//   noise HEX...                  raw bytes on every link
//   close                         close every TCP link
//   unplug                        pull the serial side (it comes back)
//   links                         answered "ok links N": the open links
//   route OUTPUT INPUT            the front panel: output 1..4 now carries the input
//   cable in|out N on|off         a cable plugged into or pulled from a port
//   frames                        answered "ok frames HEX,HEX,...": the frames
//                                 received on every link since the last "frames"
//   quit                          stop the simulator
class ControlChannel : public QObject {
public:
    ControlChannel(SimContext& context, std::function<void()> unplugSerial, QObject* parent = nullptr);

    // What one line does; the answer text without its newline.
    std::string execute(const std::string& line);

private:
    // One command's handler: false for a wrong argument. `reply` is set by
    // the commands that answer with more than "ok LINE".
    using Handler = bool (ControlChannel::*)(std::istringstream& in, std::string& reply);

    void onReadable();
    bool knob(const std::string& word, std::istringstream& in);
    bool silent(std::istringstream& in, std::string& reply);
    bool noise(std::istringstream& in, std::string& reply);
    bool closeTcp(std::istringstream& in, std::string& reply);
    bool unplug(std::istringstream& in, std::string& reply);
    bool route(std::istringstream& in, std::string& reply);
    bool cable(std::istringstream& in, std::string& reply);
    bool frames(std::istringstream& in, std::string& reply);
    bool links(std::istringstream& in, std::string& reply);
    bool standby(std::istringstream& in, std::string& reply);
    bool quit(std::istringstream& in, std::string& reply);

    SimContext& context_;
    std::function<void()> unplugSerial_;
    QSocketNotifier* notifier_ = nullptr;
    std::string partial_;
};

}  // namespace matrix::simapp
