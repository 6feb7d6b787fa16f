// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace matrix {

// What discovery and the network configuration need from whoever runs them:
// the window or a command-line run. Each call comes on the loop thread,
// from inside the discovery's or configuration's own handler.
class NetHost {
public:
    virtual ~NetHost() = default;
    // The address a connect would use; discovery sets it from the replies.
    virtual std::string matrixAddress() const = 0;
    virtual void setMatrixAddress(const std::string& address) = 0;

    // A search begins: the TCP link to the previously chosen matrix goes.
    virtual void dropTcpLink() {}
    // The discovery port could not be bound: there is no search.
    virtual void searchFailed() {}
    // A matrix answered the search.
    virtual void discoveryReply() {}
    // The configuration message went out (its acknowledgement is awaited).
    virtual void configSent() {}
    // The addressed matrix acknowledged the configuration.
    virtual void configured() {}
};

}  // namespace matrix
