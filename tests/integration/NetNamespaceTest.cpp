// SPDX-License-Identifier: Apache-2.0
// Discovery and address-mode configuration over a real network: matrix-sim
// in one network namespace, the program's side in another, joined by a veth
// pair, with the real broadcast to 255.255.255.255. Everything happens
// inside the two namespaces the test makes and removes.
#include "tests/integration/NetNamespaces.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace matrix::testing;

namespace {

// A program started inside a namespace. `ip netns exec` replaces itself by
// the program, so the process is the program itself.
class NamespacedProcess {
public:
    NamespacedProcess(const std::string& ns, const QString& program, const QStringList& arguments)
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(QStringLiteral("ip"),
                       QStringList{"netns", "exec", QString::fromStdString(ns), program} + arguments);
        process_.waitForStarted(5000);
    }
    ~NamespacedProcess()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    // Waits for an output line starting with prefix.
    bool waitForLine(const std::string& prefix, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            for (const auto& line : lines())
                if (line.rfind(prefix, 0) == 0)
                    return true;
            if (process_.state() == QProcess::NotRunning)
                return false;
            process_.waitForReadyRead(100);
        }
        return false;
    }
    bool finish(int timeoutMs) { return process_.waitForFinished(timeoutMs) && process_.exitCode() == 0; }
    std::vector<std::string> lines()
    {
        output_ += process_.readAllStandardOutput().toStdString();
        std::vector<std::string> result;
        std::istringstream in(output_);
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }
    std::string output()
    {
        lines();
        return output_ + process_.readAllStandardError().toStdString();
    }

private:
    QProcess process_;
    std::string output_;
};

struct ProbeResult {
    std::vector<std::string> firstSearch;  // "address mac", sorted
    std::vector<std::string> secondSearch;
    std::string configured;
};

ProbeResult parseProbe(const std::vector<std::string>& lines)
{
    ProbeResult result;
    bool afterConfig = false;
    for (const auto& line : lines) {
        if (line.rfind("found ", 0) == 0)
            (afterConfig ? result.secondSearch : result.firstSearch).push_back(line.substr(6));
        else if (line.rfind("configured ", 0) == 0) {
            result.configured = line.substr(11);
            afterConfig = true;
        }
    }
    std::sort(result.firstSearch.begin(), result.firstSearch.end());
    std::sort(result.secondSearch.begin(), result.secondSearch.end());
    return result;
}

// Test namespaces with two boxes on the matrix side, both answering the same
// broadcast.
class NetNamespace : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string unavailable = NetNamespaces::unavailableReason();
        if (!unavailable.empty())
            GTEST_SKIP() << unavailable;
        net_ = std::make_unique<NetNamespaces>();
        if (!net_->namespacesCreated())
            GTEST_SKIP() << "network namespaces cannot be created here: " << net_->failure();
        ASSERT_TRUE(net_->failure().empty()) << net_->failure();

        const QString sim = QStringLiteral(MATRIX_SIM_PATH);
        first_ = std::make_unique<NamespacedProcess>(
            net_->matrixSide(), sim,
            QStringList{"--no-tcp", "--udp", "--mac", "001C91AA0001", "--ip", NetNamespaces::kMatrixSideAddress});
        second_ = std::make_unique<NamespacedProcess>(
            net_->matrixSide(), sim, QStringList{"--no-tcp", "--udp", "--mac", "001C91AA0002", "--ip", "10.203.7.11"});
        ASSERT_TRUE(first_->waitForLine("listening udp", 5000)) << first_->output();
        ASSERT_TRUE(second_->waitForLine("listening udp", 5000)) << second_->output();
    }

    // Declared before the processes so that they stop before the
    // namespaces go.
    std::unique_ptr<NetNamespaces> net_;
    std::unique_ptr<NamespacedProcess> first_;
    std::unique_ptr<NamespacedProcess> second_;
};

}  // namespace

TEST_F(NetNamespace, SearchFindsBothMatricesAndConfigurationMovesOne)
{
    const QString probe = QStringLiteral(MATRIX_NET_PROBE_PATH);
    {
        NamespacedProcess program(net_->programSide(), probe,
                                  {"--select-mac", "001C91AA0002", "--static", "10.203.7.50"});
        ASSERT_TRUE(program.finish(20000)) << program.output();
        const ProbeResult seen = parseProbe(program.lines());
        EXPECT_EQ(seen.firstSearch, (std::vector<std::string>{"10.203.7.1 001C91AA0001", "10.203.7.11 001C91AA0002"}))
            << program.output();
        EXPECT_EQ(seen.configured, "ack");
        EXPECT_EQ(seen.secondSearch, (std::vector<std::string>{"10.203.7.1 001C91AA0001", "10.203.7.50 001C91AA0002"}));
        EXPECT_TRUE(second_->waitForLine("address mode static 10.203.7.50", 2000)) << second_->output();
    }
    {
        // Back to Auto IP: the box takes the address its network hands out
        // (the simulator's link-local stand-in).
        NamespacedProcess program(net_->programSide(), probe, {"--select-mac", "001C91AA0002"});
        ASSERT_TRUE(program.finish(20000)) << program.output();
        const ProbeResult seen = parseProbe(program.lines());
        EXPECT_EQ(seen.configured, "ack");
        EXPECT_EQ(seen.secondSearch, (std::vector<std::string>{"10.203.7.1 001C91AA0001", "169.254.0.2 001C91AA0002"}));
    }
}

TEST_F(NetNamespace, MatrixctlDiscoversBothMatricesAndConfiguresOne)
{
    const QString ctl = QStringLiteral(MATRIXCTL_PATH);
    {
        NamespacedProcess discover(net_->programSide(), ctl, {"discover", "--seconds", "1"});
        ASSERT_TRUE(discover.finish(10000)) << discover.output();
        std::vector<std::string> rows = discover.lines();
        ASSERT_EQ(rows.size(), 3u) << discover.output();
        EXPECT_EQ(rows[0], "IP           MAC");
        std::sort(rows.begin() + 1, rows.end());
        EXPECT_EQ(rows[1], "10.203.7.1   001C91AA0001");
        EXPECT_EQ(rows[2], "10.203.7.11  001C91AA0002");
    }
    {
        NamespacedProcess config(net_->programSide(), ctl, {"netconfig", "00:1c:91:aa:00:02", "static", "10.203.7.50"});
        ASSERT_TRUE(config.finish(20000)) << config.output();
        EXPECT_EQ(config.output(), "Matrix configuration completed successfully!\n");
        EXPECT_TRUE(second_->waitForLine("address mode static 10.203.7.50", 2000)) << second_->output();
    }
}

TEST(NetNamespaceGuard, ProbeRefusesToBroadcastOutsideATestNamespace)
{
    // The guard that keeps the program side off the machine's own network.
    QProcess probe;
    probe.start(QStringLiteral(MATRIX_NET_PROBE_PATH), {"--wait-ms", "10"});
    ASSERT_TRUE(probe.waitForFinished(10000));
    EXPECT_EQ(probe.exitCode(), 3);
}
