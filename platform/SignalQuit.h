// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

namespace matrix {

// Turns SIGINT and SIGTERM into a clean QCoreApplication::quit(), so that
// destructors run: the simulator removes its COM link, matrixd stops its
// HTTP workers, closes the links and leaves the state file as it is.
class SignalQuit : public QObject {
public:
    explicit SignalQuit(QObject* parent = nullptr);
    ~SignalQuit() override;
};

}  // namespace matrix
