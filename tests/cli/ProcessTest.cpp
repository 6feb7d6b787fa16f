// SPDX-License-Identifier: Apache-2.0
// matrixctl as a user runs it: a process against the matrix-sim program,
// over TCP on its own loopback address and over a pseudo-terminal.
#include "core/formats/FirmwareContainer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Each test has its own address, so that tests may run side by side.
constexpr const char* kMainAddress = "127.0.0.31";
constexpr const char* kSilentAddress = "127.0.0.32";
constexpr const char* kNobodyAddress = "127.0.0.33";
constexpr const char* kFirmwareAddress = "127.0.0.34";
constexpr const char* kRoutingAddress = "127.0.0.35";
constexpr const char* kEdidAddress = "127.0.0.36";
constexpr const char* kPortHolderAddress = "127.0.0.37";

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    qint64 elapsedMs = 0;
};

Outcome runCtl(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               int timeoutMs = 30000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(MATRIXCTL_PATH, args);
    Outcome o;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "matrixctl did not end: " << args.join(' ').toStdString();
        return o;
    }
    o.elapsedMs = clock.elapsed();
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = p.readAllStandardOutput().toStdString();
    o.err = p.readAllStandardError().toStdString();
    return o;
}

// matrixctl succeeds and prints exactly `out`.
void expectPrints(const QStringList& args, const std::string& out)
{
    const Outcome o = runCtl(args);
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, out);
}

QJsonObject json(const Outcome& o)
{
    QJsonParseError error{};
    auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(o.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << o.out;
    return doc.object();
}

// One matrix-sim process for the length of a test.
class Simulator {
public:
    explicit Simulator(const QStringList& args)
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(MATRIX_SIM_PATH, args);
        started_ = process_.waitForStarted(5000);
    }
    ~Simulator() { stop(); }

    bool waitForOutput(const std::string& text, int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            output_ += process_.readAllStandardOutput().toStdString();
            if (output_.find(text) != std::string::npos)
                return true;
            process_.waitForReadyRead(100);
        }
        return false;
    }

    // SIGTERM, so that the simulator ends cleanly and writes what it keeps.
    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    bool started() const { return started_; }

private:
    QProcess process_;
    std::string output_;
    bool started_ = false;
};

fs::path scratchDir(const std::string& name)
{
    fs::path dir = fs::temp_directory_path() / ("matrixctl-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(MatrixctlProcess, TcpCommandsPrintTablesAndJson)
{
    Simulator sim({"--tcp", kMainAddress});
    ASSERT_TRUE(sim.waitForOutput("listening tcp"));
    const QStringList link{"--tcp", kMainAddress};

    Outcome status = runCtl(link + QStringList{"status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(status.out, "PORT  CABLE\n"
                          "IN1   Connect\n"
                          "IN2   Disconnect\n"
                          "IN3   Connect\n"
                          "IN4   Disconnect\n"
                          "OUTA  Connect\n"
                          "OUTB  Connect\n"
                          "OUTC  Disconnect\n"
                          "OUTD  Connect\n");
    EXPECT_TRUE(status.err.empty()) << status.err;

    Outcome statusJson = runCtl(link + QStringList{"--json", "status"});
    ASSERT_EQ(statusJson.exitCode, 0) << statusJson.err;
    QJsonObject o = json(statusJson);
    EXPECT_TRUE(o["ok"].toBool());
    ASSERT_EQ(o["inputs"].toArray().size(), 4);
    EXPECT_TRUE(o["inputs"].toArray()[0].toObject()["connected"].toBool());
    EXPECT_FALSE(o["inputs"].toArray()[1].toObject()["connected"].toBool());
    EXPECT_EQ(o["outputs"].toArray()[2].toObject()["text"].toString(), "HDMI OUTC: Disconnect");

    Outcome beep = runCtl(link + QStringList{"beep", "off", "--json"});
    ASSERT_EQ(beep.exitCode, 0) << beep.err;
    EXPECT_FALSE(json(beep)["beep"].toBool());
    ASSERT_NO_FATAL_FAILURE(expectPrints(link + QStringList{"beep", "on"}, "Beep: on\n"));
    ASSERT_NO_FATAL_FAILURE(expectPrints(link + QStringList{"factory-reset"}, "Set successfully!\n"));
    ASSERT_NO_FATAL_FAILURE(expectPrints(link + QStringList{"edid", "set", "9", "IN2"}, "Set successfully!\n"));
    Outcome edid = runCtl(link + QStringList{"--json", "edid", "status"});
    ASSERT_EQ(edid.exitCode, 0) << edid.err;
    o = json(edid);
    EXPECT_EQ(o["edid"].toObject()["IN2"].toString(), "4K2K,Stereo Audio 2.0");
    EXPECT_EQ(o["edid"].toObject()["IN1"].toString(), "1080p,Stereo Audio 2.0");

    // Output C has no display: the page's own notice, exit 1.
    Outcome copy = runCtl(link + QStringList{"edid", "copy", "C", "all"});
    EXPECT_EQ(copy.exitCode, 1);
    EXPECT_EQ(copy.err, "HDMI OUT C is not connected!\n");
}

TEST(MatrixctlProcess, RoutingCommands)
{
    Simulator sim({"--tcp", kRoutingAddress});
    ASSERT_TRUE(sim.waitForOutput("listening tcp"));
    const QStringList link{"--tcp", kRoutingAddress};

    const std::string straight = "OUTPUT  INPUT\nA       1\nB       2\nC       3\nD       4\n";
    ASSERT_NO_FATAL_FAILURE(expectPrints(link + QStringList{"routing"}, straight));

    Outcome route = runCtl(link + QStringList{"--json", "route", "3", "b"});
    ASSERT_EQ(route.exitCode, 0) << route.err;
    EXPECT_EQ(json(route)["routing"].toObject()["B"].toInt(), 3);

    const std::string allFromTwo = "OUTPUT  INPUT\nA       2\nB       2\nC       2\nD       2\n";
    ASSERT_NO_FATAL_FAILURE(expectPrints(link + QStringList{"route-all", "2"}, allFromTwo));

    Outcome p2p = runCtl(link + QStringList{"--json", "port-to-port"});
    ASSERT_EQ(p2p.exitCode, 0) << p2p.err;
    QJsonObject r = json(p2p)["routing"].toObject();
    EXPECT_EQ(r["A"].toInt(), 1);
    EXPECT_EQ(r["D"].toInt(), 4);

    // The routing read afresh agrees.
    EXPECT_EQ(runCtl(link + QStringList{"routing"}).out, straight);
}

TEST(MatrixctlProcess, ExitStatuses)
{
    // A typo: one-line reason and the usage, exit 2, nothing sent anywhere.
    Outcome typo = runCtl({"--tcp", kNobodyAddress, "stauts"});
    EXPECT_EQ(typo.exitCode, 2);
    EXPECT_EQ(typo.err.rfind("matrixctl: unknown command 'stauts'\nusage: matrixctl", 0), 0u) << typo.err;
    EXPECT_TRUE(typo.out.empty());
    EXPECT_EQ(runCtl({"--tcp", kNobodyAddress, "route", "9", "A"}).exitCode, 2);
    EXPECT_EQ(runCtl({"--com", "3", "--tcp", kNobodyAddress, "routing"}).exitCode, 2);

    Outcome help = runCtl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("firmware merge OUTPUT_DIR"), std::string::npos);
    Outcome commandHelp = runCtl({"edid", "copy", "--help"});
    EXPECT_EQ(commandHelp.exitCode, 0);
    EXPECT_NE(commandHelp.out.find("edid copy OUTPUT TARGET"), std::string::npos);

    // Nothing listens there: the port is refused.
    Outcome refused = runCtl({"--tcp", kNobodyAddress, "status"});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_EQ(refused.err, "Connect to Matrix failed!\n");
    Outcome refusedJson = runCtl({"--json", "--tcp", kNobodyAddress, "routing"});
    EXPECT_EQ(refusedJson.exitCode, 3);
    EXPECT_EQ(json(refusedJson)["error"].toString(), "Connect to Matrix failed!");

    // A matrix that answers nothing: the page re-sends once and gives up
    // after its two 5-second waits.
    Simulator silent({"--tcp", kSilentAddress, "--silent"});
    ASSERT_TRUE(silent.waitForOutput("listening tcp"));
    Outcome quiet = runCtl({"--tcp", kSilentAddress, "status"});
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_EQ(quiet.err, "Time out!\n");
    EXPECT_GE(quiet.elapsedMs, 10000);
    EXPECT_LT(quiet.elapsedMs, 13000);
}

TEST(MatrixctlProcess, SerialLinkOverPseudoTerminal)
{
    const fs::path dir = scratchDir("com");
    Simulator sim({"--no-tcp", "--com-dir", QString::fromStdString(dir.string()), "--com", "4"});
    ASSERT_TRUE(sim.started());
    for (int i = 0; i < 50 && !fs::exists(dir / "COM4"); ++i)
        QThread::msleep(100);
    ASSERT_TRUE(fs::exists(dir / "COM4"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MATRIX_COM_DIR", QString::fromStdString(dir.string()));
    Outcome status = runCtl({"--com", "4", "--json", "status"}, env);
    ASSERT_EQ(status.exitCode, 0) << status.err;
    QJsonObject o = json(status);
    EXPECT_TRUE(o["outputs"].toArray()[3].toObject()["connected"].toBool());
    EXPECT_FALSE(o["outputs"].toArray()[2].toObject()["connected"].toBool());

    Outcome beep = runCtl({"--com", "4", "beep", "off"}, env);
    EXPECT_EQ(beep.exitCode, 0) << beep.err;
    EXPECT_EQ(beep.out, "Beep: off\n");

    // No COM5 in the directory.
    Outcome missing = runCtl({"--com", "5", "status"}, env);
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_EQ(missing.err, "Open COM failed!\n");
    sim.stop();
    fs::remove_all(dir);
}

TEST(MatrixctlProcess, FirmwareUpgradeDeliversTheWholeImage)
{
    const fs::path dir = scratchDir("fw");
    // Part 1 of 1000 data bytes: blocks 0 .. 3, the last one partial.
    matrix::Bytes image = {0xA5, 0x5A};
    for (int i = 0; i < 1000; ++i)
        image.push_back(static_cast<std::uint8_t>((i * 31 + 7) & 0xFF));
    matrix::Bytes file = image;
    matrix::scramble(file);
    const std::string path = (dir / "upgrade.fw").string();
    ASSERT_TRUE(matrix::writeFile(path, file));

    Simulator sim({"--tcp", kFirmwareAddress, "--firmware-dir", QString::fromStdString(dir.string())});
    ASSERT_TRUE(sim.waitForOutput("listening tcp"));
    Outcome up = runCtl({"--tcp", kFirmwareAddress, "firmware", "upgrade", QString::fromStdString(path)},
                        QProcessEnvironment::systemEnvironment(), 60000);
    ASSERT_EQ(up.exitCode, 0) << up.err;
    // Not a terminal: the "Messages" lines, no progress bar.
    EXPECT_EQ(up.out, "Upgrading Part_1.1.0.0...\n"
                      "System rebooting,Please wait...\n"
                      "System reboot ok\n"
                      "Part_1.1.0.0 upgrading complete\n"
                      "Firmware upgrade Successfully\n");
    sim.stop();

    matrix::Bytes received;
    ASSERT_EQ(matrix::readFileBounded((dir / "part1.bin").string(), 1 << 20, received), matrix::FileReadStatus::Ok);
    ASSERT_GE(received.size(), 1000u);
    EXPECT_TRUE(std::equal(image.begin() + 2, image.end(), received.begin()));

    // A wrong file is bad input.
    Outcome bad = runCtl({"--tcp", kFirmwareAddress, "firmware", "upgrade", QString::fromStdString(path + ".txt")});
    EXPECT_EQ(bad.exitCode, 2);
    fs::remove_all(dir);
}

TEST(MatrixctlProcess, EdidUploadChecksTheFileFirst)
{
    const fs::path dir = scratchDir("edid");
    matrix::Bytes edid(128, 0x10);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(header, header + 8, edid.begin());
    edid[126] = 0;  // no extension block
    unsigned sum = 0;
    for (int i = 0; i < 127; ++i)
        sum += edid[static_cast<std::size_t>(i)];
    edid[127] = static_cast<std::uint8_t>(-sum);
    const std::string good = (dir / "good.bin").string();
    ASSERT_TRUE(matrix::writeFile(good, edid));
    edid[127] ^= 1;
    const std::string bad = (dir / "bad.bin").string();
    ASSERT_TRUE(matrix::writeFile(bad, edid));

    Simulator sim({"--tcp", kEdidAddress});
    ASSERT_TRUE(sim.waitForOutput("listening tcp"));
    Outcome up = runCtl({"--tcp", kEdidAddress, "edid", "upload", QString::fromStdString(good), "IN2"});
    ASSERT_EQ(up.exitCode, 0) << up.err;
    EXPECT_EQ(up.out, "Download successfully!\n");
    Outcome status = runCtl({"--tcp", kEdidAddress, "--json", "edid", "status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(json(status)["edid"].toObject()["IN2"].toString(), "User define");

    // A file the page would refuse is bad input, with the page's own text.
    Outcome refused = runCtl({"--tcp", kEdidAddress, "edid", "upload", QString::fromStdString(bad), "all"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "Please select the correct EDID file!\n");
    fs::remove_all(dir);
}

TEST(MatrixctlProcess, FirmwareMergeNeedsNoMatrix)
{
    const fs::path dir = scratchDir("merge");
    matrix::Bytes main(300, 0x11);
    ASSERT_TRUE(matrix::writeFile((dir / "main.bin").string(), main));
    Outcome merged = runCtl({"firmware", "merge", QString::fromStdString(dir.string()), "--main",
                             QString::fromStdString((dir / "main.bin").string()), "--json"});
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
    QJsonObject o = json(merged);
    EXPECT_EQ(o["file"].toString().toStdString(), (dir / "Matrix44_mm0.0.fw").string());
    matrix::Bytes image;
    ASSERT_EQ(matrix::loadFirmwareFile((dir / "Matrix44_mm0.0.fw").string(), image), matrix::FileReadStatus::Ok);
    EXPECT_EQ(image.size(), 302u);
    fs::remove_all(dir);
}

TEST(MatrixctlProcess, FirmwareMergeCreatesItsOutputDirectory)
{
    const fs::path dir = scratchDir("merge-new");
    ASSERT_TRUE(matrix::writeFile((dir / "main.bin").string(), matrix::Bytes(300, 0x11)));
    const QString main = QString::fromStdString((dir / "main.bin").string());
    Outcome merged = runCtl({"firmware", "merge", QString::fromStdString((dir / "a" / "b").string()), "--main", main});
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "a" / "b" / "Matrix44_mm0.0.fw"));

    const std::string blocked = (dir / "main.bin" / "out").string();
    Outcome refused = runCtl({"firmware", "merge", QString::fromStdString(blocked), "--main", main});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "cannot create directory " + blocked + ": Not a directory\n");
    fs::remove_all(dir);
}

TEST(MatrixctlProcess, DiscoveryPortHeldElsewhereIsSearchFailed)
{
    // Another program on the discovery port, sharing it as a simulator
    // would: the answers could go to it, so the search must not run.
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(holder, 0);
    const int on = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(30600);
    ::inet_pton(AF_INET, kPortHolderAddress, &address.sin_addr);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);

    // Should a search run after all, its broadcast stays on loopback.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MATRIX_BROADCAST_ADDRESS", "127.255.255.255");
    for (const QStringList& args :
         {QStringList{"discover", "--seconds", "0.2"}, QStringList{"netconfig", "001C9103405A", "auto"}}) {
        Outcome o = runCtl(args, env);
        EXPECT_EQ(o.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_EQ(o.err, "Search failed\n") << args.join(' ').toStdString();
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
    ::close(holder);
}

}  // namespace
