// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

namespace matrix::service {

// SIGINT and SIGTERM end the Qt loop, so that main() can stop the HTTP
// workers, close the links and leave the state file as it is.
class SignalQuit : public QObject {
public:
    explicit SignalQuit(QObject* parent = nullptr);
    ~SignalQuit() override;
};

}  // namespace matrix::service
