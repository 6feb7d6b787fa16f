// SPDX-License-Identifier: Apache-2.0
#include "core/pages/firmware/FirmwarePage.h"

#include "core/protocol/DeviceTypes.h"
#include "core/protocol/Protocol.h"

#include <algorithm>

namespace matrix {

namespace {
namespace p = protocol;
constexpr std::size_t kMaxSentLogBytes = 64 * 1024;
}  // namespace

FirmwarePage::FirmwarePage(PageContext& context)
    : context_(context),
      pageLink_(context, FrameSender::Echo::AfterSending),
      timers_(context.platform.loop),
      notice_(context.popups, timers_, kNoticeTimer)
{
    timers_.setHandler([this](int id) { onTimer(id); });
    pageLink_.onSerialFrame([this](const CommandFrame& frame) { handleFrame(frame, false); });
}

void FirmwarePage::tabSelected(bool shown)
{
    entryPending_ = 1;
    if (shown) {
        upgradeMode_ = 0;
        standbyWatch_ = 0;
    }
}

void FirmwarePage::startPage() { pageLink_.openChosenPort(); }

FirmwarePage::~FirmwarePage()
{
    pageLink_.serial().setByteHandler(nullptr);
    pageLink_.serial().requestClose();
}

// ---- link hand-over -------------------------------------------------------

void FirmwarePage::reconnectTcp()
{
    LinkState& link = context_.link;
    if (!link.linkSocket)
        return;
    pageLink_.reconnect(*link.linkSocket, *this);
}

void FirmwarePage::activate()
{
    LinkState& link = context_.link;
    if (link.tcpMode()) {
        if (!link.socketConnected) {
            showPageNotice(notice_text::kConnectFailed);
            return;
        }
    } else {
        if (!link.comOpen) {
            showPageNotice(notice_text::kOpenComFailed);
            return;
        }
        link.pageStopBits = 2;
        SerialSettings settings = liveSerialSettings();
        settings.stopBits = link.pageStopBits;
        if (!pageLink_.serial().open(link.comPort, settings) || !pageLink_.serial().startWorker()) {
            showPageNotice(notice_text::kOpenComFailed);
            return;
        }
    }
    standbyWatch_ = 1;
    sendFrame(p::deviceTypeRequest());
}

void FirmwarePage::onSocketConnect(int errorCode) { pageLink_.socketConnectDone(errorCode); }

void FirmwarePage::onSocketClose() { pageLink_.socketClosed(); }

void FirmwarePage::onSocketRead()
{
    StreamSocket* socket = context_.link.linkSocket;
    if (!socket)
        return;
    pageLink_.drainSocket(*socket, [this](const std::uint8_t* data, std::size_t length) {
        if (!context_.link.tcpMode())
            return;
        pageLink_.feedSocket(
            data, length, [this](const CommandFrame& frame) { handleFrame(frame, true); }, false);
    });
}

// ---- replies ----------------------------------------------------------------

void FirmwarePage::handleFrame(const CommandFrame& frame, bool viaTcp)
{
    if (p::isStandby(frame)) {
        if (!viaTcp || standbyWatch_ == 1)
            handleStandby();
        return;
    }
    if (frame.command() == p::kFirmwareCommand) {
        if (viaTcp && entryPending_ == 1)
            return;
        handleUpgradeReply(frame);
        return;
    }
    if (frame.command() != p::kStatusCommand)
        return;
    if (upgradeMode_ == 0) {
        handleDeviceInfo(frame, viaTcp ? deviceInfoTcp_ : deviceInfoSerial_);
        return;
    }
    // Only an answer to a poll that is still running counts, so a late or
    // doubled answer cannot start the next part twice.
    bool polling = false;
    for (int id = kRebootPollFirstTimer; id <= kRebootPollLastTimer; ++id)
        polling = polling || timers_.isRunning(id);
    if (p::isRebootAnswer(frame) && polling)
        handleRebootAnswer();
}

void FirmwarePage::handleDeviceInfo(const CommandFrame& frame, std::string& infoText)
{
    switch (frame.subCommand()) {
    case p::kDeviceTypeSub:
        if (const char* text = p::deviceTypeName(frame.p1()))
            infoText = text;
        sendFrame(p::matrixSizeRequest());
        break;
    case p::kMatrixSizeSub:
        infoText = "Device: " + infoText + " " + std::to_string(frame.p1()) + "x" + std::to_string(frame.p3());
        sendFrame(p::versionRequest());
        break;
    case p::kVersionSub:
        deviceLine_ =
            infoText + "          " + "Version: " + std::to_string(frame.p1()) + "." + std::to_string(frame.p3());
        changed.notifyChanged();
        break;
    default: break;
    }
}

void FirmwarePage::handleUpgradeReply(const CommandFrame& f)
{
    // Replies after the upgrade ended (a late accept, a second rejection)
    // must not restart the transfer behind the user's back.
    if (!context_.link.firmwareUpgrading)
        return;
    const std::uint8_t sub = f.subCommand();
    const auto start = p::decodeFirmwareStart(f, sub);
    if (start == p::FirmwareStart::Rejected ||
        (start == p::FirmwareStart::Accepted && (sub == p::kFirmwarePart1Sub || sub == p::kFirmwarePart2Sub)))
        handleStartReply(sub, *start);
    else if (p::isFirmwarePrepareAck(f))
        handlePrepareAck();
    else if (sub == partSub() && f.p1() == 0)
        handleBlockReply(f);
}

// The handshake replies carry no step number, so a late or doubled one (the
// start or a prepare re-sent after its first wait) could only be taken for a
// later step: each counts only while its request waits.
void FirmwarePage::handleStartReply(std::uint8_t sub, p::FirmwareStart start)
{
    const bool part1 = sub == p::kFirmwarePart1Sub;
    if (start == p::FirmwareStart::Rejected) {
        const std::string name = part1 ? "Part_1.1.0.0" : "Part_2.1.0.0";
        if (part1) {
            showPageNotice("Write to " + name + " failed!");
        } else {
            messageBoxText_ = "Write to " + name + " failed";
            messageBoxOpen_ = true;
        }
        // The start command's timers stop too: re-sending a start the
        // matrix refused would only end in a second, false time-out.
        endUpgrade("Write to " + name + " failed\r\n");
        return;
    }
    const int firstWait = part1 ? kStartPart1Timer : kStartPart2Timer;
    const int finalWait = part1 ? kStartPart1FinalTimer : kStartPart2FinalTimer;
    if (!timers_.isRunning(firstWait) && !timers_.isRunning(finalWait))
        return;
    timers_.kill(firstWait);
    timers_.kill(finalWait);
    if (part1)
        timers_.start(kPrepareDelay);
    else
        startBlocks();
}

void FirmwarePage::handlePrepareAck()
{
    const bool firstWaits = timers_.isRunning(kFirstPrepareTimer) || timers_.isRunning(kFirstPrepareFinalTimer);
    const bool secondWaits = timers_.isRunning(kSecondPrepareTimer) || timers_.isRunning(kSecondPrepareFinalTimer);
    if (handshakeStep_ == 0 ? !firstWaits : !secondWaits)
        return;
    timers_.kill(kFirstPrepareTimer);
    timers_.kill(kFirstPrepareFinalTimer);
    if (handshakeStep_ == 0) {
        sendFrame(p::firmwareSecondPrepareRequest());
        timers_.start(kSecondPrepareTimer, kSecondPrepareMs);
        appendSentLog("\r\n");
        handshakeStep_ = 1;
        return;
    }
    timers_.kill(kSecondPrepareTimer);
    timers_.kill(kSecondPrepareFinalTimer);
    handshakeStep_ = 0;
    startBlocks();
}

// Block 0 is announced, so block 0 is what goes out.
void FirmwarePage::startBlocks()
{
    sendAnnounce(0);
    appendSentLog("\r\n");
    blockIndex_ = 0;
    fillBlock();
    timers_.start(kFirstBlock);
}

void FirmwarePage::handleBlockReply(const CommandFrame& f)
{
    const std::uint8_t sub = f.subCommand();
    // Acknowledgements count only for the block that waits for one: a late
    // or held one (of an earlier block, or of an upgrade that has ended)
    // would skip blocks the matrix never got.
    const bool blockWaits = timers_.isRunning(kBlockAckTimer) || timers_.isRunning(kBlockAckFinalTimer) ||
                            timers_.isRunning(kFirstBlockAckTimer) || timers_.isRunning(kFirstBlockAckFinalTimer);
    const auto acked = p::decodeFirmwareBlockAck(f, sub);
    if (acked ? (!blockWaits || *acked != blockIndex_)
              : (!p::isFirmwareFinalAck(f, sub) || !blockWaits || blockIndex_ < part_.blockTotal()))
        return;
    // Every block timer stops, whichever part and block came last, so no
    // stale re-send reaches the matrix while it reboots.
    timers_.killRange(kBlockAckTimer, kBlockAckFinalTimer);
    timers_.killRange(kFirstBlockAckTimer, kFirstBlockAckFinalTimer);
    if (acked) {
        blockIndex_ = *acked + 1;
        if (blockIndex_ > part_.blockTotal())
            return;
        sendAnnounce(blockIndex_);
        appendSentLog("\r\n");
        handshakeStep_ = 0;
        fillBlock();
        timers_.start(kNextBlock);
        return;
    }
    const char* rebooting = "System rebooting,Please wait...\r\n";
    if (firmwarePart_ == 1) {
        appendMessage(rebooting);
        sendRebootPoll();
        timers_.start(kRebootPollFirstTimer, kRebootPollMs);
        return;
    }
    appendMessage("Part_2.1.0.0 upgrading complete\r\n");
    sendRebootPoll();
    timers_.start(kRebootPollFirstTimer, kRebootPollMs);
    appendMessage(rebooting);
}

void FirmwarePage::handleRebootAnswer()
{
    progressCount_ = 0;
    appendMessage("System reboot ok\r\n");
    timers_.killRange(kRebootPollFirstTimer, kRebootPollLastTimer);
    timers_.killRange(kBlockAckTimer, kBlockAckFinalTimer);
    if (firmwarePart_ == 1)
        appendMessage("Part_1.1.0.0 upgrading complete\r\n");
    if (firmwarePart_ < 4 && part_.end < image_.size()) {
        startPart(part_.end);
        return;
    }
    appendMessage("Firmware upgrade Successfully\r\n");
    finishIdle();
}

void FirmwarePage::handleStandby()
{
    timers_.killRange(1, kLastPageTimer);
    context_.popups.notice.close();
    notice_.showIfNoneOpen(kStandbyNoticeMs, notice_text::kStandby);
    // A standby ends the upgrade: the button comes back so the user can try again.
    if (context_.link.firmwareUpgrading || !upgradeEnabled_)
        finishIdle();
}

// ---- upgrade ----------------------------------------------------------------

void FirmwarePage::upgradeClicked()
{
    if (!upgradeEnabled_)
        return;
    entryPending_ = 0;
    upgradeMode_ = 1;
    const bool connected = context_.link.tcpMode() ? context_.link.socketConnected : pageLink_.serial().isOpen();
    if (!notice_.guard(connected))
        return;
    partEnd_.fill(0);
    blockIndex_ = 0;
    progressCount_ = 0;
    context_.link.firmwareUpgrading = true;
    startPart(0);
}

std::string FirmwarePage::partName() const { return "Part_" + std::to_string(firmwarePart_) + ".1.0.0"; }

void FirmwarePage::startPart(std::size_t markerPosition)
{
    const int part = partAtMarker(image_, markerPosition);
    if (part == 0) {
        refuse("Upgrade failed!\r\n");
        return;
    }
    firmwarePart_ = part;
    if (part >= 3) {
        refuse(partName() + " cannot be upgraded by this program\r\n");
        return;
    }
    // The data starts after this marker and, for later parts, runs to the
    // next marker; taking the start from the marker itself means a second
    // part-2 marker moves on instead of sending the same part again.
    part_.dataStart = markerPosition + 2;
    part_.end = part == 1 ? image_.size() : scanForMarker(image_, part_.dataStart);
    part_.end = std::max(part_.end, part_.dataStart);
    partEnd_[static_cast<std::size_t>(part)] = part_.end;
    if (part_.length() == 0) {
        refuse(partName() + " is empty\r\n");
        return;
    }
    if (part_.length() > kMaxPartBytes) {
        refuse(partName() + " is " + std::to_string(part_.length()) +
               " bytes; a part of 65536 bytes or more cannot be sent\r\n");
        return;
    }
    blockIndex_ = 0;
    if (part == 1)
        handshakeStep_ = 0;  // a handshake cut short earlier must not skip a step now
    sendStartCommand();
    timers_.start(part == 1 ? kStartPart1Timer : kStartPart2Timer, kStartReplyMs);
    appendMessage("Upgrading " + partName() + "...\r\n");
    progressMaximum_ = static_cast<int>(part_.length());
    progressPosition_ = 0;
    upgradeEnabled_ = false;
    changed.notifyChanged();
}

void FirmwarePage::sendStartCommand() { sendFrame(p::firmwareStartRequest(partSub())); }

void FirmwarePage::sendAnnounce(int index)
{
    // A part shorter than one block is announced as its own last block, so
    // that the matrix answers with the final acknowledgement.
    if (index >= part_.blockTotal())
        sendFrame(p::firmwareLastBlockAnnounce(partSub(), index));
    else
        sendFrame(p::firmwareBlockAnnounce(partSub(), index));
}

void FirmwarePage::fillBlock()
{
    const std::size_t from = part_.dataStart + kBlockDataBytes * static_cast<std::size_t>(blockIndex_);
    for (std::size_t i = 0; i < kBlockDataBytes; ++i) {
        const std::size_t at = from + i;
        block_[i + 1] = at < image_.size() ? image_[at] : 0;
        progressPosition_ = progressCount_;
        ++progressCount_;
    }
    block_[0] = p::firmwareBlockChecksum(block_.data() + 1);
    changed.notifyChanged();
}

void FirmwarePage::sendBlock()
{
    appendSentLog("Send data:\r\n");
    appendSentLog("\r\n");
    pageLink_.sender().sendRaw(block_.data(), block_.size(), false);
}

void FirmwarePage::sendRebootPoll() { sendFrame(p::rebootPollRequest()); }

int FirmwarePage::progressPosition() const { return std::clamp(progressPosition_, 0, progressMaximum_); }

void FirmwarePage::refuse(const std::string& logLine)
{
    appendMessage(logLine);
    showPageNotice("Upgrade failed!");
    finishIdle();
}

void FirmwarePage::endUpgrade(const std::string& logLine)
{
    appendMessage(logLine);
    finishIdle();
}

void FirmwarePage::failAfterTimeOut(const std::string& logLine)
{
    notice_.showIfNoneOpen(kNoticeMs, notice_text::kTimeOut);
    endUpgrade(logLine);
}

void FirmwarePage::finishIdle()
{
    // Every way out stops the transfer's timers; the notice timer stays.
    timers_.killRange(1, kNoticeTimer - 1);
    timers_.killRange(kNoticeTimer + 1, kLastPageTimer);
    upgradeEnabled_ = true;
    context_.link.firmwareUpgrading = false;
    context_.shell.postPageBusy(0);
    changed.notifyChanged();
}

void FirmwarePage::onTimer(int id)
{
    timers_.kill(id);
    if (id >= kRebootPollFirstTimer && id < kRebootPollLastTimer) {
        sendRebootPoll();
        appendSentLog("\r\n");
        timers_.start(id + 1, kRebootPollMs);
    } else if (id == kRebootPollLastTimer) {
        failAfterTimeOut("Write to " + partName() + " failed\r\n");
    } else if (id == kFirstBlock.id || id == kNextBlock.id || (id >= kBlockAckTimer && id <= kBlockAckFinalTimer) ||
               (id >= kFirstBlockAckTimer && id <= kFirstBlockAckFinalTimer)) {
        onBlockTimer(id);
    } else {
        onHandshakeTimer(id);
    }
}

void FirmwarePage::onBlockTimer(int id)
{
    switch (id) {
    case kFirstBlock.id:
        sendBlock();
        timers_.start(kFirstBlockAckTimer, kFirstBlockAckMs);
        break;
    case kNextBlock.id:
        sendBlock();
        timers_.start(kBlockAckTimer, kBlockAckMs);
        break;
    case kBlockAckTimer:
    case kFirstBlockAckTimer:
        // The block goes again, announced again.
        sendAnnounce(id == kBlockAckTimer ? blockIndex_ : 0);
        appendSentLog("\r\n");
        sendBlock();
        timers_.start(id + 1, id == kBlockAckTimer ? kBlockAckFinalMs : kFirstBlockAckMs);
        break;
    default: failAfterTimeOut("Upgrading " + partName() + " failed\r\n"); break;
    }
}

void FirmwarePage::onHandshakeTimer(int id)
{
    switch (id) {
    case kPrepareDelay.id:
    case kFirstPrepareTimer:
        sendFrame(p::firmwarePrepareRequest());
        timers_.start(id == kPrepareDelay.id ? kFirstPrepareTimer : kFirstPrepareFinalTimer, kFirstPrepareMs);
        appendSentLog("\r\n");
        break;
    case kStartPart1Timer:
    case kStartPart2Timer:
        sendStartCommand();
        timers_.start(id + 1, kStartReplyMs);
        break;
    case kSecondPrepareTimer:
        sendFrame(p::firmwareSecondPrepareRequest());
        timers_.start(kSecondPrepareFinalTimer, kSecondPrepareMs);
        break;
    case kStartPart1FinalTimer:
    case kSecondPrepareFinalTimer:
    case kFirstPrepareFinalTimer: failAfterTimeOut("Write to Part_1.1.0.0 failed\r\n"); break;
    case kStartPart2FinalTimer: failAfterTimeOut("Upgrading Part_2.1.0.0 failed\r\n"); break;
    default: break;
    }
}

// ---- files and logs -----------------------------------------------------------

bool FirmwarePage::setFilePath(const std::string& path)
{
    if (!hasFirmwareExtension(path) || context_.link.firmwareUpgrading)
        return false;
    Bytes image;
    switch (loadFirmwareFile(path, image)) {
    case FileReadStatus::TooLarge: showPageNotice("Firmware file is too large!"); return false;
    case FileReadStatus::CannotOpen: showPageNotice("Open file failed!"); return false;
    case FileReadStatus::Ok: break;
    }
    filePath_ = path;
    image_ = std::move(image);
    changed.notifyChanged();
    return true;
}

FirmwareMerger::PickResult FirmwarePage::pickMergeSource(int source, const std::string& path)
{
    const auto result = merger_.pickSource(source, path);
    if (result == FirmwareMerger::PickResult::TooLarge)
        showPageNotice("Firmware file is too large!");
    else if (result == FirmwareMerger::PickResult::CannotOpen)
        showPageNotice("Open file failed!");
    changed.notifyChanged();
    return result;
}

void FirmwarePage::mergeClicked()
{
    const auto result = merger_.merge(messages_);
    if (result == FirmwareMerger::MergeResult::TooLarge)
        showPageNotice("Merged firmware is too large!");
    else if (result == FirmwareMerger::MergeResult::CannotWrite)
        showPageNotice("Save file failed!");
    changed.notifyChanged();
}

void FirmwarePage::closeMessageBox()
{
    if (!messageBoxOpen_)
        return;
    messageBoxOpen_ = false;
    changed.notifyChanged();
}

void FirmwarePage::clearClicked()
{
    messages_.clear();
    changed.notifyChanged();
}

void FirmwarePage::appendMessage(const std::string& text)
{
    messages_ += text;
    changed.notifyChanged();
}

void FirmwarePage::appendSentLog(const std::string& text)
{
    sentLog_ += text;
    if (sentLog_.size() > kMaxSentLogBytes)
        sentLog_.erase(0, sentLog_.size() - kMaxSentLogBytes / 2);
}

void FirmwarePage::showPageNotice(const std::string& text, int ms) { notice_.show(ms, text); }

}  // namespace matrix
