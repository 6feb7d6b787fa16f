// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/http/Api.h"
#include "service/http/HttpTypes.h"
#include "service/http/StaticFiles.h"
#include "service/hub/AccessGate.h"

#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

struct MHD_Connection;
struct MHD_Daemon;

namespace matrix::service {

class Hub;

// The HTTP front-end on libmicrohttpd, run on the loop thread: the loop
// watches the library's epoll descriptor and its next time-out, so no
// request ever crosses a thread and no connection holds one. Waiting
// requests and idle event streams are suspended connections.
class HttpServer {
public:
    // The [http] section as the config file gives it, and what only the server sets.
    struct Options : HttpConfig {
        // A comment line this often keeps idle event streams (and proxies) open.
        int keepAliveCommentMs = 15000;
    };

    HttpServer(Hub& hub, Options options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and starts serving on the loop; false with a message when the address cannot be used.
    bool start(std::string* error);
    // Ends the event streams (flushing what they hold, for a short while),
    // answers waiting requests 503 and closes every connection.
    void stop();

    // Whether the PEM texts make a certificate and key that TLS can use; the reason when not.
    static std::optional<std::string> checkTlsCredentials(const std::string& cert, const std::string& key);

    struct Connection;
    struct Request;
    struct Stream;
    struct Callbacks;

private:
    bool acceptConnection(const std::string& address);
    int handle(MHD_Connection* connection, const std::string& url, const std::string& method, const char* uploadData,
               std::size_t* uploadSize, void** requestState);
    int dispatch(MHD_Connection* connection, Request& request);
    int eventsRequest(MHD_Connection* connection, Request& request);
    // The API's answer, or nothing when the matrix answers later (the connection is then suspended).
    std::optional<HttpResponse> apiRequest(MHD_Connection* connection, Request& request);
    static HttpRequest toApiRequest(MHD_Connection* connection, Request& request);
    int openStream(MHD_Connection* connection, Request& request);
    // Host, site, guessing and token, from the request's head: 200, or what to answer.
    AccessDecision admit(MHD_Connection* connection, const Request& request, bool needsToken);
    int send(MHD_Connection* connection, const HttpResponse& response);
    void finish(Request& request, HttpResponse response);
    void logRequest(const Request& request, int status, bool always = false) const;
    void logRefusal(const std::string& address, const std::string& what);

    // The one place hub events enter the server: each becomes an SSE "data:" block.
    void subscribeToHub();
    void queueToStreams(const std::string& text);
    void dropStream(Stream& stream);
    void closeOverdue();

    void run();
    void kick();

    Hub& hub_;
    Options options_;
    std::unique_ptr<EventLoop> clock_;  // the failure limiter's
    AccessGate gate_;
    Api api_;
    StaticFiles files_;
    MHD_Daemon* daemon_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer runTimer_;
    QTimer sweepTimer_;
    QTimer keepAliveTimer_;
    int subscription_ = 0;
    bool stopping_ = false;

    std::unordered_set<Connection*> connections_;
    std::map<std::string, int> perAddress_;
    std::unordered_set<Stream*> streams_;
    std::unordered_set<Request*> waiting_;  // suspended until the hub answers
    std::map<std::string, std::chrono::steady_clock::time_point> refusalLogged_;
    // Rendered answers to the state reads, dropped at every hub event and every change request.
    struct CachedRead {
        HttpResponse response;
        std::chrono::steady_clock::time_point at;
    };
    std::map<std::string, CachedRead> readCache_;
};

// Whether the two texts are equal, in a time that does not depend on where they differ.
bool constantTimeEquals(const std::string& given, const std::string& expected);

}  // namespace matrix::service
