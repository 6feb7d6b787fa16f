// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractSocket>

namespace matrix {

// Cuts a socket off from its owner and drops it. Disconnected first: a
// closing socket must not tell anybody about it. Deleted later: we may be
// inside one of its own signals.
template <typename Socket>
void discardSocket(Socket*& socket, QObject* owner)
{
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, owner, nullptr);
    socket->abort();
    socket->deleteLater();
    socket = nullptr;
}

}  // namespace matrix
