// SPDX-License-Identifier: Apache-2.0
// Firmware container files are whatever the user picks: any length, any
// bytes. Each input is written as a ".fw" file, loaded by the FW Upgrade
// page, checked against an independent marker scan, and then uploaded to
// the in-process simulated matrix on virtual time, which may lose replies
// or split them. Besides what the sanitizers catch, the run stops on:
//   - a marker scan that disagrees with a plain search;
//   - an upgrade still running after the longest time-out chain;
//   - "Firmware upgrade Successfully" while the matrix does not hold, for
//     every part sent, exactly the file's bytes of that part.
#include "core/app/PageContext.h"
#include "core/formats/FirmwareContainer.h"
#include "core/pages/firmware/FirmwarePage.h"
#include "tests/support/TestRig.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

using namespace matrix;

namespace {

// A whole upgrade of the largest fuzz input with every wait and poll run
// out stays well inside this.
constexpr std::int64_t kSettleMs = 10 * 60 * 1000;
constexpr std::int64_t kStepMs = 1000;
// Six blocks and a few markers show every path of the loader and the
// upload; longer files only cost time per run.
constexpr std::size_t kMaxFileBytes = 1536;

struct QuietShell : ShellRequests {
    void postPageBusy(int) override {}
    void postShellRequest(ShellRequest) override {}
    void postNetConfigStatus(NetConfigStatus) override {}
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "firmware_file: %s\n", what);
    std::abort();
}

bool isPart2or3Marker(const Bytes& image, std::size_t at)
{
    const std::uint8_t next = at + 1 < image.size() ? image[at + 1] : 0;
    return (image[at] == 0xA3 || image[at] == 0xA4) && (next == 0x5B || next == 0x5C);
}

void checkScan(const Bytes& image, std::size_t from)
{
    std::size_t expected = from >= image.size() ? from : image.size();
    for (std::size_t at = from; at < image.size(); ++at)
        if (isPart2or3Marker(image, at)) {
            expected = at;
            break;
        }
    if (scanForMarker(image, from) != expected)
        fail("marker scan disagrees with a plain search");
}

// Where each part that the page sends lies in the image: the walk the
// upgrade makes, written independently. The last span of a part number wins.
struct Span {
    std::size_t start;
    std::size_t end;
};
std::map<int, Span> expectedParts(const Bytes& image)
{
    std::map<int, Span> parts;
    std::size_t at = 0;
    // Each part starts past the previous one's marker, so the walk ends.
    for (;;) {
        const std::uint8_t m0 = at < image.size() ? image[at] : 0;
        const std::uint8_t m1 = at + 1 < image.size() ? image[at + 1] : 0;
        int part = 0;
        for (const auto& marker : kPartMarkers)
            if (marker.first == m0 && marker.second == m1)
                part = marker.part;
        if (part == 0 || part >= 3)
            break;
        const std::size_t start = at + 2;
        std::size_t end = image.size();
        if (part != 1)
            for (std::size_t p = start; p < image.size(); ++p)
                if (isPart2or3Marker(image, p)) {
                    end = p;
                    break;
                }
        end = std::max(end, start);
        if (end == start || end - start > FirmwarePage::kMaxPartBytes)
            break;
        parts[part] = {start, end};
        if (end >= image.size())
            break;
        at = end;
    }
    return parts;
}

const std::string& filePath()
{
    // In memory where there is such a folder: on a disk, rewriting the same
    // file each run waits for the disk (ext4 flushes a truncated file).
    static const std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    static const std::string path = folder + "/fuzz_firmware_file_" + std::to_string(::getpid()) + ".fw";
    static const struct Cleanup {
        ~Cleanup() { std::remove(path.c_str()); }
    } cleanup;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks the transport (bit 0) and the matrix's faults
    // (bits 1-3, their size in bits 4-7); the rest is the file.
    if (size == 0)
        return 0;
    const bool overTcp = data[0] & 1;
    const int faultSize = data[0] >> 4;
    const Bytes file(data + 1, data + std::min(size, kMaxFileBytes + 1));
    if (!writeFile(filePath(), file))
        return 0;

    // The loader as the page uses it.
    Bytes image = file;
    scramble(image);
    checkScan(image, 0);
    checkScan(image, image.size() / 2);
    checkScan(image, image.size());
    checkScan(image, image.size() + 3);
    for (std::size_t at = 0; at + 1 < image.size() + 3; at += 97)
        (void)partAtMarker(image, at);

    testing::TestRig rig;
    WindowLink link(rig.platform);
    Popups popups(rig.loop);
    QuietShell shell;
    PageContext context{rig.platform, link, popups, shell};
    link.matrixAddress = testing::TestRig::kAddress;
    if (overTcp) {
        link.controlMode = ControlMode::Tcp;
        link.setTcpState(TcpState::Reconnecting);
    } else {
        link.comOpen = 1;
        link.comPort = testing::TestRig::kComPort;
    }
    auto page = std::make_unique<FirmwarePage>(context);
    // What the main window does when the FW Upgrade tab is selected.
    page->tabSelected(true);
    link.activePage = PageId::Firmware;
    if (overTcp)
        link.reconnect(PageId::Firmware);
    rig.loop.advance(150);
    page->activate();
    rig.loop.advance(1000);

    sim::MatrixResponder& matrix = overTcp ? rig.tcpMatrix : rig.serialMatrix;
    if (data[0] & 2)
        matrix.dropNextReplies(1 + faultSize % 4);  // lost early replies: start, prepare
    if (data[0] & 4)
        matrix.setSplitSize(1 + static_cast<std::size_t>(faultSize));  // replies in pieces
    if (data[0] & 8)
        rig.device.dropFirmwareAckOfBlock = faultSize % 6;  // one lost block acknowledgement

    if (!page->setFilePath(filePath()))
        fail("the page refused a loadable file");
    if (page->image() != image)
        fail("loaded image differs from the unscrambled file");
    page->upgradeClicked();
    rig.loop.advanceUntil([&] { return link.firmwareUpgrading == 0; }, kSettleMs, kStepMs);
    if (link.firmwareUpgrading != 0 || !page->upgradeEnabled())
        fail("upgrade still running after the longest time-out chain");

    if (page->messages().find("Firmware upgrade Successfully") != std::string::npos) {
        const auto parts = expectedParts(image);
        if (parts.empty())
            fail("success reported for an image without a part");
        for (const auto& [part, span] : parts) {
            const auto& got = rig.device.firmwarePart[static_cast<std::size_t>(part)];
            const std::size_t length = span.end - span.start;
            if (got.size() < length || !std::equal(image.begin() + static_cast<long>(span.start),
                                                   image.begin() + static_cast<long>(span.end), got.begin()))
                fail("success reported but the matrix does not hold the file's part");
        }
    }
    return 0;
}
