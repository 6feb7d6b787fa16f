// SPDX-License-Identifier: Apache-2.0
#include "core/pages/firmware/FirmwarePage.h"

#include "core/protocol/DeviceTypes.h"

#include <algorithm>
#include <utility>

namespace matrix {

namespace {
namespace p = protocol;
constexpr std::size_t kMaxSentLogBytes = 64 * 1024;

// The window's sent log: a line break after each frame of the handshake
// and announce, a "Send data:" entry per block; a re-sent second prepare
// adds nothing, and of the reboot polls only the re-sent ones count.
std::string sentLogMark(const Bytes& bytes, const Bytes& previous)
{
    if (bytes.size() == p::kFirmwareBlockBytes)
        return "Send data:\r\n\r\n";
    const CommandFrame frame = CommandFrame::fromBytes(bytes.data());
    const bool again = bytes == previous;
    if (frame.command() != p::kFirmwareCommand)
        return again ? "\r\n" : "";
    switch (frame.p1()) {
    case p::kFirmwarePrepare:
    case p::kFirmwareAccept:
    case p::kFirmwareLastBlock: return "\r\n";
    case p::kFirmwareSecondPrepare: return again ? "" : "\r\n";
    default: return "";
    }
}
}  // namespace

FirmwarePage::FirmwarePage(PageContext& context)
    : WindowPage(context, PageId::Firmware),
      client_(context.platform.loop, nullptr, nullptr, client::windowPageOptions())
{
    // An upgrade holds the tabs, so the link stays the page's until it ends.
    client_.attach(
        [this](const Bytes& bytes) {
            port_.sendRaw(bytes.data(), bytes.size(), false);
            sentLog_ += sentLogMark(bytes, lastWrite_);
            if (sentLog_.size() > kMaxSentLogBytes)
                sentLog_.erase(0, sentLog_.size() - kMaxSentLogBytes / 2);
            lastWrite_ = bytes;
        },
        nullptr);
    client_.onFirmwareProgress = [this](const client::FirmwareProgress& progress) {
        firmwarePart_ = progress.part;
        progressMaximum_ = static_cast<int>(progress.partTotal);
        // The bar stands one byte short of a whole block, as it always has.
        progressPosition_ = static_cast<int>(std::clamp<std::int64_t>(progress.partAnnounced - 1, 0, progressMaximum_));
        upgradeEnabled_ = false;
        // The log line of a refusal has no '!'; its notice has.
        if (!progress.line.empty())
            messages_ += progress.line.substr(0, progress.line.size() - (progress.line.back() == '!')) + "\r\n";
        changed.notifyChanged();
    };
    port_.setEcho(PagePort::Echo::AfterSending);
    port_.onSerialFrame([this](const CommandFrame& frame) { handleFrame(frame, false); });
    link_.setSocketReader(PageId::Firmware, {[this] { return link_.tcpMode(); }, nullptr,
                                             [this](const CommandFrame& frame) { handleFrame(frame, true); }});
}

FirmwarePage::~FirmwarePage()
{
    port_.serial().setByteHandler(nullptr);
    port_.serial().requestClose();
}

void FirmwarePage::activate()
{
    if (!(link_.tcpMode() ? link_.socketConnected() : port_.reopen())) {
        notice_.showNotConnected();
        return;
    }
    standbyWatch_ = true;
    sendFrame(p::deviceTypeRequest());
}

void FirmwarePage::handleFrame(const CommandFrame& frame, bool viaTcp)
{
    if (p::isStandby(frame)) {
        if (viaTcp && !standbyWatch_)
            return;
        // A standby ends the upgrade: the button comes back so the user can try again.
        client_.cancel();
        noticeClose_.stop();
        ctx_.popups.notice.close();
        notice_.showIfNoneOpen(kStandbyNoticeMs, notice_text::kStandby);
        if (link_.firmwareUpgrading || !upgradeEnabled_)
            finishIdle();
        return;
    }
    // Once Upgrade was clicked, status replies answer the reboot poll.
    const bool status = frame.command() == p::kStatusCommand;
    if (status && !upgradeMode_)
        handleDeviceInfo(frame, viaTcp ? deviceInfoTcp_ : deviceInfoSerial_);
    else if (status || (frame.command() == p::kFirmwareCommand && (!viaTcp || !entryPending_)))
        client_.receive(frame);
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
        deviceLine_ = infoText + "          Version: " + std::to_string(frame.p1()) + "." + std::to_string(frame.p3());
        changed.notifyChanged();
        break;
    }
}

void FirmwarePage::upgradeClicked()
{
    if (!upgradeEnabled_)
        return;
    entryPending_ = false;
    upgradeMode_ = true;
    if (!notice_.guard(link_.tcpMode() ? link_.socketConnected() : port_.serial().isOpen()))
        return;
    link_.firmwareUpgrading = true;
    Bytes container = image_;
    scramble(container);
    auto ended = [this](const client::Result<client::Nothing>& result) {
        switch (result.status) {
        case client::Status::Rejected:
            if (firmwarePart_ == 2) {
                messageBoxText_ = result.message;
                messageBoxOpen_ = true;
            } else {
                notice_.show(kNoticeMs, result.message);
            }
            break;
        case client::Status::TimeOut: notice_.showIfNoneOpen(kNoticeMs, notice_text::kTimeOut); break;
        case client::Status::BadInput:
            messages_ += result.message + "\r\n";
            changed.notifyChanged();
            notice_.show(kNoticeMs, "Upgrade failed!");
            break;
        case client::Status::Ok: break;
        default: return;  // ended by a standby, which shows its own notice
        }
        finishIdle();
    };
    client_.upgradeFirmware(container, ended, true);
}

void FirmwarePage::finishIdle()
{
    upgradeEnabled_ = true;
    link_.firmwareUpgrading = false;
    ctx_.shell.postPageBusy(0);
    changed.notifyChanged();
}

bool FirmwarePage::setFilePath(const std::string& path)
{
    if (!hasFirmwareExtension(path) || link_.firmwareUpgrading)
        return false;
    Bytes image;
    switch (loadFirmwareFile(path, image)) {
    case FileReadStatus::TooLarge: notice_.show(kNoticeMs, "Firmware file is too large!"); return false;
    case FileReadStatus::CannotOpen: notice_.show(kNoticeMs, "Open file failed!"); return false;
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
        notice_.show(kNoticeMs, "Firmware file is too large!");
    else if (result == FirmwareMerger::PickResult::CannotOpen)
        notice_.show(kNoticeMs, "Open file failed!");
    changed.notifyChanged();
    return result;
}

void FirmwarePage::mergeClicked()
{
    const auto result = merger_.merge(messages_);
    if (result == FirmwareMerger::MergeResult::TooLarge)
        notice_.show(kNoticeMs, "Merged firmware is too large!");
    else if (result == FirmwareMerger::MergeResult::CannotWrite)
        notice_.show(kNoticeMs, "Save file failed!");
    changed.notifyChanged();
}

void FirmwarePage::closeMessageBox()
{
    if (std::exchange(messageBoxOpen_, false))
        changed.notifyChanged();
}

void FirmwarePage::clearClicked()
{
    messages_.clear();
    changed.notifyChanged();
}

}  // namespace matrix
