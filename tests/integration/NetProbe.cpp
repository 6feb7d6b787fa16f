// SPDX-License-Identifier: Apache-2.0
// net-namespace-probe: the program's discovery and network configuration on
// the real UDP socket, for the namespace test. It searches, configures the
// chosen matrix, searches again, and prints what it saw:
//   found <address> <mac>      one line per listed matrix, after each search
//   searched <count>
//   configured ack | configured none
// It refuses to run in the machine's own network namespace, so that its
// broadcasts can never leave a namespace that a test made.

#include "core/app/PageContext.h"
#include "core/app/WindowNetHost.h"
#include "core/net/Discovery.h"
#include "core/net/NetworkConfig.h"
#include "platform/QtDatagramSocket.h"
#include "platform/QtEventLoop.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <iostream>
#include <string>

using namespace matrix;

namespace {

class NoLinkSocket : public StreamSocket {
public:
    void recreate(StreamSocketOwner*) override {}
    void connectTo(const std::string&, std::uint16_t) override {}
    long send(const std::uint8_t*, std::size_t) override { return -1; }
    long receive(std::uint8_t*, std::size_t) override { return -1; }
    void close() override {}
};

struct ProbeShell : ShellRequests {
    void postPageBusy(int) override {}
    void postShellRequest(ShellRequest) override {}
    void postNetConfigStatus(NetConfigStatus status) override
    {
        if (status == NetConfigStatus::Configured)
            acknowledged = true;
    }
    bool acknowledged = false;
};

// The program's seams: discovery on the real UDP socket, and neither a
// serial port nor a matrix link.
struct ProbeSeams {
    QtEventLoop loop;
    QtDatagramSocket datagram;
    NoLinkSocket link;
    Platform platform{loop, [] { return std::unique_ptr<SerialChannel>(); }, link, datagram};
};

// True only inside a namespace that the namespace test made (named
// "mxnet-..." under /run/netns); anywhere else a broadcast could reach a
// real network.
bool inTestNamespace()
{
    struct stat mine {};
    if (::stat("/proc/self/ns/net", &mine) != 0)
        return false;
    DIR* dir = ::opendir("/run/netns");
    if (!dir)
        return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("mxnet-", 0) != 0)
            continue;
        struct stat named {};
        if (::stat(("/run/netns/" + name).c_str(), &named) == 0 && named.st_ino == mine.st_ino &&
            named.st_dev == mine.st_dev)
            found = true;
    }
    ::closedir(dir);
    return found;
}

void after(int ms, std::function<void()> step) { QTimer::singleShot(ms, step); }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption select("select-mac", "Configure the listed matrix with this MAC (default: the first).",
                                    "MAC");
    const QCommandLineOption staticIp("static", "Configure this Static IP (default: Auto IP).", "ADDRESS");
    const QCommandLineOption waitMs("wait-ms", "How long each search and the configuration wait.", "MS", "1500");
    parser.addOptions({select, staticIp, waitMs});
    parser.process(app);

    if (!inTestNamespace()) {
        std::cerr << "net-namespace-probe: refusing to broadcast outside a test's network namespace" << std::endl;
        return 3;
    }

    ProbeSeams seams;
    ProbeShell shell;
    PageState state(seams.platform, shell);
    WindowNetHost host(state.context);
    Discovery discovery(seams.platform, host);
    NetworkConfig config(seams.platform, host, discovery);

    const int wait = parser.value(waitMs).toInt();
    const auto report = [&] {
        for (std::size_t row = 0; row < discovery.addresses().size(); ++row) {
            discovery.selectRow(static_cast<int>(row));
            std::cout << "found " << discovery.addresses()[row] << " " << discovery.selectedMac() << std::endl;
        }
        std::cout << "searched " << discovery.addresses().size() << std::endl;
    };

    discovery.search();
    after(wait, [&] {
        report();
        for (std::size_t row = 0; row < discovery.addresses().size(); ++row) {
            discovery.selectRow(static_cast<int>(row));
            if (discovery.selectedMac() == parser.value(select).toStdString())
                break;
        }
        if (!parser.isSet(select))
            discovery.selectRow(0);
        config.open();
        if (parser.isSet(staticIp)) {
            config.setAutoIp(false);
            const QStringList parts = parser.value(staticIp).split('.');
            for (int i = 0; i < 4 && i < parts.size(); ++i)
                config.setAddressField(i, parts[i].toStdString());
        }
        config.ok();
        after(wait, [&] {
            std::cout << "configured " << (shell.acknowledged ? "ack" : "none") << std::endl;
            discovery.search();
            after(wait, [&] {
                report();
                QCoreApplication::exit(0);
            });
        });
    });
    return QCoreApplication::exec();
}
