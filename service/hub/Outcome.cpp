// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Outcome.h"

namespace matrix::service {

namespace {

struct Row {
    Refusal refusal;
    int httpStatus;
    const char* code;
    const char* text;
};

// One row per refusal: the reply of each front-end that has a code of its own.
constexpr Row kRows[] = {
    {Refusal::None, 200, "ok", "ok"},
    {Refusal::BadInput, 400, "bad-input", "bad input"},
    {Refusal::NotFound, 404, "not-found", "not found"},
    {Refusal::NameTaken, 409, "name-taken", "the name is taken"},
    {Refusal::Locked, 423, "locked", "Output is locked"},
    {Refusal::FirmwareRunning, 409, "firmware-running", "Firmware upgrade running"},
    {Refusal::LinkDown, 503, "link-down", "Link to the matrix is down"},
    {Refusal::NotKnownYet, 503, "not-known-yet", "not known yet"},
    {Refusal::Standby, 409, "standby", "Matrix is in standby mode!"},
    {Refusal::TimeOut, 504, "time-out", "Time out!"},
    {Refusal::MatrixRefused, 502, "matrix-refused", "The matrix refused the request"},
    {Refusal::StorageFailed, 500, "storage-failed", "the state file could not be written"},
    {Refusal::LimitReached, 409, "limit-reached", "limit reached"},
    {Refusal::NotAllowed, 403, "not-allowed", "Not allowed for this token"},
    {Refusal::InUse, 409, "in-use", "still in use"},
};

const Row& row(Refusal refusal)
{
    for (const Row& r : kRows)
        if (r.refusal == refusal)
            return r;
    return kRows[0];
}

}  // namespace

std::string Outcome::text() const { return message.empty() ? refusalText(refusal) : message; }

int httpStatus(Refusal refusal) { return row(refusal).httpStatus; }
const char* refusalCode(Refusal refusal) { return row(refusal).code; }
const char* refusalText(Refusal refusal) { return row(refusal).text; }

Outcome outcomeOf(client::Status status, const std::string& message)
{
    using client::Status;
    // The client's own texts are what users have always seen, but for the
    // firmware hold, which reads the same as the hub's own refusal.
    const std::string text = message.empty() ? client::statusText(status) : message;
    switch (status) {
    case Status::Ok: return Outcome::done();
    case Status::TimeOut: return Outcome::refused(Refusal::TimeOut, client::statusText(status));
    case Status::Standby: return Outcome::refused(Refusal::Standby, client::statusText(status));
    case Status::LinkDown: return Outcome::refused(Refusal::LinkDown, text);
    case Status::Busy: return Outcome::refused(Refusal::FirmwareRunning);
    case Status::BadInput: return Outcome::refused(Refusal::BadInput, text);
    case Status::Rejected: return Outcome::refused(Refusal::MatrixRefused, text);
    }
    return Outcome::refused(Refusal::MatrixRefused, text);
}

}  // namespace matrix::service
