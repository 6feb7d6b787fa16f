// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

namespace matrix::simapp {

// Turns SIGINT and SIGTERM into a clean QCoreApplication::quit(), so that
// destructors run and the COM link is removed.
class SignalQuit : public QObject {
public:
    explicit SignalQuit(QObject* parent = nullptr);
    ~SignalQuit() override;
};

}  // namespace matrix::simapp
