// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace matrix::testing {

// Two network namespaces joined by a veth pair, each end with an address
// and a default route, so that a broadcast to 255.255.255.255 in one
// reaches the other and nothing else. The veth is created inside the first
// namespace with its peer placed straight into the second: no interface of
// the machine's own namespace is ever touched. Both namespaces (and with
// them the veth) are removed when the object goes, also after a failure.
class NetNamespaces {
public:
    static constexpr const char* kMatrixSideAddress = "10.203.7.1";
    static constexpr const char* kProgramSideAddress = "10.203.7.2";

    NetNamespaces();
    ~NetNamespaces();
    NetNamespaces(const NetNamespaces&) = delete;
    NetNamespaces& operator=(const NetNamespaces&) = delete;

    // Empty when the pair is ready; otherwise why it could not be made.
    const std::string& failure() const { return failure_; }
    // Both namespaces exist (a later step may still have failed).
    bool namespacesCreated() const { return created_.size() == 2; }
    // Why namespaces cannot be made on this machine at all (not root, no
    // `ip`); empty when they can.
    static std::string unavailableReason();

    const std::string& matrixSide() const { return matrixSide_; }
    const std::string& programSide() const { return programSide_; }

    // Runs a command line of `ip`; true on exit status 0. The output is kept.
    static bool ip(const std::vector<std::string>& arguments, std::string* output = nullptr);

private:
    std::string matrixSide_;
    std::string programSide_;
    std::vector<std::string> created_;
    std::string failure_;
};

}  // namespace matrix::testing
