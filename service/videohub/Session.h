// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"
#include "service/videohub/Backend.h"
#include "service/videohub/BlockReader.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace matrix::service::videohub {

// A client that sends nothing (not even a ping) for `ms` is ended through
// `onIdle`; its connection would otherwise hold a place for good.
struct IdleLimit {
    EventLoop* loop = nullptr;  // none: never
    int ms = 0;
    std::function<void()> onIdle;
};

// One Videohub client's conversation, without I/O: bytes from the client go
// in, the text for it comes out through `send`. The server tells it about
// changes of the matrix, whoever made them; it writes them in this client's
// view (its own locks are O, others' L).
class Session {
public:
    using Send = std::function<void(const std::string& bytes)>;

    Session(Backend& backend, LockId self, Send send, IdleLimit idle = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    LockId lockId() const { return self_; }

    // The status dump a client gets when it connects.
    void start();
    // Bytes from the client. False when the client must be dropped: it sent
    // 64 KiB without ending a block, or it is speaking HTTP (spokeHttp()).
    bool receive(std::string_view bytes);
    bool spokeHttp() const { return spokeHttp_; }

    // The matrix link went down or came back.
    void presenceChanged();
    void deviceChanged();  // the model became known or changed
    void routingChanged(int output);
    void inputLabelChanged(int input);
    void outputLabelChanged(int output);
    void lockChanged(int output);

private:
    void handle(const Block& block);
    bool answer(const Block& block);  // true: ACK
    bool sendBlockAsked(const std::string& header);
    bool handleLabels(const Block& block, bool inputs);
    bool handleRouting(const Block& block);
    bool handleLocks(const Block& block);
    void put(const std::string& bytes);
    void armIdle();

    Backend& backend_;
    LockId self_;
    Send send_;
    IdleLimit idle_;
    BlockReader reader_;
    bool presentShown_ = false;  // what this client was last told
    bool holding_ = false;       // while a block is answered, what it caused waits for the answer
    std::string held_;
    bool firstBlockSeen_ = false;
    bool spokeHttp_ = false;
    // Route completions can outlive the connection; they check this first.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace matrix::service::videohub
