// SPDX-License-Identifier: Apache-2.0
#include "tests/integration/NetNamespaces.h"

#include <QProcess>
#include <QStringList>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace matrix::testing {

bool NetNamespaces::ip(const std::vector<std::string>& arguments, std::string* output)
{
    QStringList list;
    for (const auto& argument : arguments)
        list << QString::fromStdString(argument);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), list);
    if (!process.waitForStarted(5000)) {
        if (output)
            *output = "cannot run ip";
        return false;
    }
    process.waitForFinished(10000);
    if (output)
        *output = process.readAll().toStdString();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::string NetNamespaces::unavailableReason()
{
    if (::geteuid() != 0)
        return "network namespaces need root (ip netns add); run the test as root";
    std::string output;
    if (!ip({"-V"}, &output))
        return "the ip tool (iproute2) is not installed";
    return {};
}

namespace {

// Namespaces left by a run that was killed before it could clean up: ours
// by name, and their process is gone.
void removeOrphans()
{
    DIR* dir = ::opendir("/run/netns");
    if (!dir)
        return;
    std::vector<std::string> orphans;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("mxnet-m-", 0) != 0 && name.rfind("mxnet-p-", 0) != 0)
            continue;
        const std::string pid = name.substr(8);
        struct stat info {};
        if (!pid.empty() && ::stat(("/proc/" + pid).c_str(), &info) != 0)
            orphans.push_back(name);
    }
    ::closedir(dir);
    for (const auto& name : orphans)
        NetNamespaces::ip({"netns", "del", name});
}

}  // namespace

NetNamespaces::NetNamespaces()
{
    removeOrphans();
    // Names carry the process id, so that parallel runs never share one.
    const std::string id = std::to_string(::getpid());
    matrixSide_ = "mxnet-m-" + id;
    programSide_ = "mxnet-p-" + id;
    const std::string matrixLink = "mxm" + id;  // at most 15 characters
    const std::string programLink = "mxp" + id;

    const auto step = [this](const std::vector<std::string>& arguments) {
        if (!failure_.empty())
            return;
        std::string output;
        if (!ip(arguments, &output)) {
            failure_ = "ip";
            for (const auto& a : arguments)
                failure_ += " " + a;
            failure_ += ": " + output;
        }
    };
    for (const auto& name : {matrixSide_, programSide_}) {
        step({"netns", "add", name});
        if (failure_.empty())
            created_.push_back(name);
    }
    step({"-n", matrixSide_, "link", "add", matrixLink, "type", "veth", "peer", "name", programLink, "netns",
          programSide_});
    const struct {
        const std::string& ns;
        const std::string& link;
        const char* address;
    } ends[] = {{matrixSide_, matrixLink, kMatrixSideAddress}, {programSide_, programLink, kProgramSideAddress}};
    for (const auto& end : ends) {
        step({"-n", end.ns, "addr", "add", std::string(end.address) + "/24", "dev", end.link});
        step({"-n", end.ns, "link", "set", "lo", "up"});
        step({"-n", end.ns, "link", "set", end.link, "up"});
        // The limited broadcast leaves by the default route's interface.
        step({"-n", end.ns, "route", "add", "default", "dev", end.link});
    }
}

NetNamespaces::~NetNamespaces()
{
    // Removing a namespace also removes the veth end inside it, and with
    // it the peer.
    for (const auto& name : created_)
        ip({"netns", "del", name});
}

}  // namespace matrix::testing
