// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/http/Api.h"
#include "service/http/EventStream.h"
#include "service/http/HttpTypes.h"
#include "service/http/StaticFiles.h"

#include <atomic>
#include <string>

struct mg_connection;
struct mg_context;

namespace matrix::service {

class Hub;

// The HTTP front-end on CivetWeb. CivetWeb reads and writes on its own
// worker threads; every request that touches the hub is handed to the loop
// thread through `invoke` and the worker waits for the answer. /healthz and
// static files are answered on the worker itself, so a busy loop or a slow
// matrix never delays them.
class HttpServer {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 8480;
        std::string token;  // empty: no authentication
        std::string webRoot;
        // Every open request and every event stream holds a worker.
        int threads = 160;
        int requestTimeoutMs = 10000;  // a client that stalls half-way is dropped after this
        // Event streams beyond this are refused (503), so that they never take
        // every worker and starve the API.
        int maxEventStreams = 128;
        // A comment line this often keeps idle event streams (and proxies) open.
        int keepAliveCommentMs = 15000;
    };

    HttpServer(Hub& hub, LoopInvoker invoke, Options options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Loop thread. Binds and starts the workers; false with a message when the address cannot be used.
    bool start(std::string* error);
    // Loop thread. Ends the event streams, fails waiting requests with 503, stops the workers.
    void stop();

private:
    static int onBeginRequest(mg_connection* connection);
    static int onLogMessage(const mg_connection* connection, const char* message);
    int serve(mg_connection* connection);
    HttpResponse runOnLoop(HttpRequest request);
    int streamEvents(mg_connection* connection);
    bool authorized(mg_connection* connection, bool allowQueryToken) const;

    Hub& hub_;
    LoopInvoker invoke_;
    Options options_;
    Api api_;
    StaticFiles files_;
    EventStream events_;
    mg_context* context_ = nullptr;
    int subscription_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> eventStreams_{0};
};

// Whether the two texts are equal, in a time that does not depend on where they differ.
bool constantTimeEquals(const std::string& given, const std::string& expected);

}  // namespace matrix::service
