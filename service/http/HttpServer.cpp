// SPDX-License-Identifier: Apache-2.0
#include "service/http/HttpServer.h"

#include "core/transport/HexDigit.h"
#include "platform/QtEventLoop.h"
#include "service/http/Router.h"
#include "service/hub/EventJson.h"
#include "service/hub/Hub.h"
#include "service/hub/Log.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <limits>
#include <vector>

namespace matrix::service {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kNoDeadline = Clock::time_point::max();
constexpr std::size_t kMaxHeadBytes = 16 * 1024;
// A body past the limit is still read up to this, so that the client is
// still reading when the 413 comes instead of meeting a reset connection.
constexpr std::size_t kDrainMaxBytes = 4 * 1024 * 1024;
// A stream reader that lets more than this pile up is dropped, not buffered for ever.
constexpr std::size_t kMaxHeldPerStreamBytes = 1024 * 1024;
constexpr std::size_t kStreamBlockBytes = 4096;
constexpr int kStreamSendBufferBytes = 64 * 1024;
constexpr int kSweepMs = 250;
constexpr auto kRefusalLogPeriod = std::chrono::minutes(1);
constexpr auto kStopFlushMax = std::chrono::milliseconds(150);
// Also bounds how long a change that no event announced could stay unseen.
constexpr auto kReadCacheMaxAge = std::chrono::milliseconds(100);

HttpResponse errorResponse(int status, const std::string& text)
{
    return {status, nlohmann::json{{"error", text}}.dump(), "application/json", {}};
}

std::string addressText(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (address && address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address && address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

std::string percentDecoded(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What a client sent, safe to put on a log line.
std::string escaped(const std::string& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text.substr(0, 200)) {
        if (c < 0x20 || c >= 0x7F || c == '\\')
            out += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
        else
            out += static_cast<char>(c);
    }
    return out;
}

// The library's own unescaping would turn "%2F" in a name into a path
// separator: paths are split first and each segment decoded after.
std::size_t keepEscapes(void*, MHD_Connection*, char* text) { return std::strlen(text); }

MHD_Result countHeadBytes(void* total, MHD_ValueKind, const char* key, const char* value)
{
    *static_cast<std::size_t*>(total) += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;
    return MHD_YES;
}

// The matrix list and one matrix's whole state: the reads pollers repeat most.
bool isStateRead(const std::string& method, const std::string& path)
{
    constexpr std::string_view kList = "/api/v1/matrices";
    if (method != "GET" || path.rfind(kList, 0) != 0)
        return false;
    return path.size() == kList.size() || (path.size() > kList.size() + 1 && path[kList.size()] == '/' &&
                                           path.find('/', kList.size() + 1) == std::string::npos);
}

const char* header(MHD_Connection* connection, const char* name)
{
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

}  // namespace

struct HttpServer::Connection {
    std::string address;
    int fd = -1;
    Clock::time_point deadline = kNoDeadline;
};

struct HttpServer::Request {
    Connection* connection = nullptr;
    MHD_Connection* mhd = nullptr;
    std::string method;
    std::string path;  // as sent, without the query
    std::string body;
    bool bodyTooLarge = false;
    std::size_t drained = 0;  // body bytes received, kept or not
    bool dispatched = false;
    bool inHandler = false;
    Clock::time_point started = Clock::now();
    std::optional<HttpResponse> answer;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    AccessDecision access;  // taken from the head, before the body is read
};

struct HttpServer::Stream {
    HttpServer* server = nullptr;
    MHD_Connection* mhd = nullptr;
    Connection* connection = nullptr;
    std::string held;  // the bytes not yet handed to the library, from `sent` on
    std::size_t sent = 0;
    bool suspended = false;
    bool closing = false;
    bool dropped = false;
};

// The library's C callbacks, each handing over to the server.
struct HttpServer::Callbacks {
    static MHD_Result accept(void* self, const sockaddr* address, socklen_t)
    {
        return static_cast<HttpServer*>(self)->acceptConnection(addressText(address)) ? MHD_YES : MHD_NO;
    }

    static MHD_Result request(void* self, MHD_Connection* connection, const char* url, const char* method, const char*,
                              const char* uploadData, std::size_t* uploadSize, void** requestState)
    {
        return static_cast<MHD_Result>(
            static_cast<HttpServer*>(self)->handle(connection, url, method, uploadData, uploadSize, requestState));
    }

    static void connection(void* self, MHD_Connection* connection, void** state, MHD_ConnectionNotificationCode what)
    {
        auto* server = static_cast<HttpServer*>(self);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* entry = new Connection;
            const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            entry->address = addressText(info ? info->client_addr : nullptr);
            if (const auto* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
                entry->fd = fd->connect_fd;
            entry->deadline = Clock::now() + std::chrono::seconds(server->options_.headerTimeoutSeconds);
            server->connections_.insert(entry);
            ++server->perAddress_[entry->address];
            *state = entry;
        } else if (auto* entry = static_cast<Connection*>(*state)) {
            server->connections_.erase(entry);
            if (--server->perAddress_[entry->address] <= 0)
                server->perAddress_.erase(entry->address);
            delete entry;
            *state = nullptr;
        }
    }

    static void completed(void* self, MHD_Connection*, void** requestState, MHD_RequestTerminationCode)
    {
        auto* request = static_cast<Request*>(*requestState);
        if (!request)
            return;
        auto* server = static_cast<HttpServer*>(self);
        *request->alive = false;
        server->waiting_.erase(request);
        // A kept-alive connection has the head time-out again for its next request.
        if (request->connection)
            request->connection->deadline = Clock::now() + std::chrono::seconds(server->options_.headerTimeoutSeconds);
        delete request;
        *requestState = nullptr;
    }

    static ssize_t streamRead(void* cls, std::uint64_t, char* buffer, std::size_t max)
    {
        auto& stream = *static_cast<Stream*>(cls);
        if (stream.dropped)
            return MHD_CONTENT_READER_END_WITH_ERROR;
        if (stream.sent < stream.held.size()) {
            const std::size_t n = std::min(max, stream.held.size() - stream.sent);
            std::memcpy(buffer, stream.held.data() + stream.sent, n);
            stream.sent += n;
            if (stream.sent == stream.held.size()) {
                stream.held.clear();
                stream.sent = 0;
                if (stream.held.capacity() > 64 * 1024)
                    stream.held.shrink_to_fit();
            }
            return static_cast<ssize_t>(n);
        }
        if (stream.closing)
            return MHD_CONTENT_READER_END_OF_STREAM;
        // Nothing to send: the connection sleeps until the next event wakes it.
        MHD_suspend_connection(stream.mhd);
        stream.suspended = true;
        return 0;
    }

    static void streamFreed(void* cls)
    {
        auto* stream = static_cast<Stream*>(cls);
        stream->server->streams_.erase(stream);
        delete stream;
    }
};

bool constantTimeEquals(const std::string& given, const std::string& expected)
{
    // Walks the expected text whatever is given, so the time says nothing
    // about how much of a guess was right.
    unsigned char difference = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = given.empty() ? 0 : static_cast<unsigned char>(given[i % given.size()]);
        difference |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(expected[i]));
    }
    return difference == 0;
}

std::optional<std::string> HttpServer::checkTlsCredentials(const std::string& cert, const std::string& key)
{
    // Each part on its own, then whether they belong together: GnuTLS's one
    // call that does all of it leaks on a broken certificate.
    gnutls_datum_t certData{reinterpret_cast<unsigned char*>(const_cast<char*>(cert.data())),
                            static_cast<unsigned>(cert.size())};
    gnutls_datum_t keyData{reinterpret_cast<unsigned char*>(const_cast<char*>(key.data())),
                           static_cast<unsigned>(key.size())};
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_x509_privkey_t privateKey = nullptr;
    std::optional<std::string> problem;
    unsigned char certId[64];
    unsigned char keyId[64];
    std::size_t certIdBytes = sizeof certId;
    std::size_t keyIdBytes = sizeof keyId;
    if (gnutls_x509_crt_init(&certificate) < 0 || gnutls_x509_privkey_init(&privateKey) < 0)
        problem = "no memory for TLS credentials";
    else if (const int result = gnutls_x509_crt_import(certificate, &certData, GNUTLS_X509_FMT_PEM); result < 0)
        problem = std::string("certificate: ") + gnutls_strerror(result);
    else if (const int result = gnutls_x509_privkey_import2(privateKey, &keyData, GNUTLS_X509_FMT_PEM, nullptr, 0);
             result < 0)
        problem = std::string("key: ") + gnutls_strerror(result);
    else if (gnutls_x509_crt_get_key_id(certificate, 0, certId, &certIdBytes) < 0 ||
             gnutls_x509_privkey_get_key_id(privateKey, 0, keyId, &keyIdBytes) < 0 || certIdBytes != keyIdBytes ||
             std::memcmp(certId, keyId, certIdBytes) != 0)
        problem = "the key is not the certificate's";
    if (privateKey)
        gnutls_x509_privkey_deinit(privateKey);
    if (certificate)
        gnutls_x509_crt_deinit(certificate);
    return problem;
}

namespace {

// Every line of a header that may come several times (Forwarded,
// X-Forwarded-For), joined as one value.
std::string joinedHeader(MHD_Connection* connection, const char* name)
{
    struct Wanted {
        const char* name;
        std::string value;
    } wanted{name, {}};
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
            auto* w = static_cast<Wanted*>(cls);
            if (value && strcasecmp(key, w->name) == 0)
                w->value += (w->value.empty() ? "" : ", ") + std::string(value);
            return MHD_YES;
        },
        &wanted);
    return wanted.value;
}

std::string_view headerView(MHD_Connection* connection, const char* name)
{
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value ? std::string_view(value) : std::string_view();
}

}  // namespace

HttpServer::HttpServer(Hub& hub, Options options)
    : hub_(hub),
      options_(std::move(options)),
      clock_(std::make_unique<QtEventLoop>()),
      gate_(options_, *clock_),
      api_(hub),
      files_(options_.webRoot)
{
    runTimer_.setSingleShot(true);
    QObject::connect(&runTimer_, &QTimer::timeout, [this] { run(); });
    QObject::connect(&sweepTimer_, &QTimer::timeout, [this] { closeOverdue(); });
    QObject::connect(&keepAliveTimer_, &QTimer::timeout, [this] { queueToStreams(": keep-alive\n\n"); });
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(std::string* error)
{
    const bool tls = !options_.tlsCert.empty() && !options_.tlsKey.empty();
    if (tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        if (error)
            *error = "this libmicrohttpd has no TLS";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    inet_pton(AF_INET, options_.host.c_str(), &address.sin_addr);

    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_TURBO;
    if (tls)
        flags |= MHD_USE_TLS;
    std::vector<MHD_OptionItem> items = {
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        // The head and body deadlines are ours (closeOverdue); this one ends idle kept-alive connections.
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(options_.headerTimeoutSeconds), nullptr},
        // Our own limit (in acceptConnection) logs; the library's is a backstop above it.
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(options_.maxConnections + 16), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::connection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Callbacks::completed), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&keepEscapes), nullptr},
    };
    if (tls) {
        items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.tlsCert.c_str())});
        items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options_.tlsKey.c_str())});
    }
    items.push_back({MHD_OPTION_END, 0, nullptr});

    daemon_ = MHD_start_daemon(flags, 0, &Callbacks::accept, this, &Callbacks::request, this, MHD_OPTION_ARRAY,
                               items.data(), MHD_OPTION_END);
    if (!daemon_) {
        if (error)
            *error =
                "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + (tls ? " with TLS" : "");
        return false;
    }
    const auto* epoll = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
    notifier_ = std::make_unique<QSocketNotifier>(epoll->epoll_fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { run(); });
    sweepTimer_.start(kSweepMs);
    keepAliveTimer_.start(options_.keepAliveCommentMs);
    subscribeToHub();
    stopping_ = false;
    kick();
    return true;
}

void HttpServer::subscribeToHub()
{
    subscription_ = hub_.subscribe([this](const HubEvent& event) {
        // Every event may change what a state read answers, even one with no stream form.
        readCache_.clear();
        if (const nlohmann::json json = eventJson(event); !json.is_null())
            queueToStreams("data: " + json.dump() + "\n\n");
    });
}

void HttpServer::stop()
{
    if (!daemon_)
        return;
    stopping_ = true;
    if (subscription_)
        hub_.unsubscribe(subscription_);
    subscription_ = 0;
    sweepTimer_.stop();
    keepAliveTimer_.stop();
    runTimer_.stop();
    notifier_.reset();

    // Streams send what they hold and end; waiting requests are answered.
    for (Stream* stream : streams_) {
        stream->closing = true;
        if (stream->suspended) {
            stream->suspended = false;
            MHD_resume_connection(stream->mhd);
        }
    }
    for (Request* request : std::vector<Request*>(waiting_.begin(), waiting_.end()))
        finish(*request, errorResponse(503, "matrixd is stopping"));
    const int epollFd = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    const auto flushEnd = Clock::now() + kStopFlushMax;
    while (!streams_.empty() && Clock::now() < flushEnd) {
        MHD_run(daemon_);
        pollfd ready{epollFd, POLLIN, 0};
        ::poll(&ready, 1, 5);
    }
    // Whatever is still suspended must be resumed before the library may stop.
    for (Stream* stream : streams_)
        if (stream->suspended) {
            stream->suspended = false;
            stream->dropped = true;
            MHD_resume_connection(stream->mhd);
        }
    MHD_run(daemon_);
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

void HttpServer::run()
{
    if (!daemon_)
        return;
    MHD_run(daemon_);
    MHD_UNSIGNED_LONG_LONG waitMs = 0;
    if (MHD_get_timeout(daemon_, &waitMs) == MHD_YES)
        runTimer_.start(static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(waitMs, 60000)));
    else
        runTimer_.stop();
}

void HttpServer::kick()
{
    if (daemon_ && (!runTimer_.isActive() || runTimer_.remainingTime() > 0))
        runTimer_.start(0);
}

bool HttpServer::acceptConnection(const std::string& address)
{
    if (stopping_)
        return false;
    if (static_cast<int>(connections_.size()) >= options_.maxConnections) {
        logRefusal(address,
                   "connection refused: max_connections (" + std::to_string(options_.maxConnections) + ") reached");
        return false;
    }
    const auto found = perAddress_.find(address);
    if (found != perAddress_.end() && found->second >= options_.maxConnectionsPerAddress) {
        logRefusal(address, "connection refused: max_connections_per_address (" +
                                std::to_string(options_.maxConnectionsPerAddress) + ") reached");
        return false;
    }
    return true;
}

int HttpServer::handle(MHD_Connection* connection, const std::string& url, const std::string& method,
                       const char* uploadData, std::size_t* uploadSize, void** requestState)
{
    if (!*requestState) {
        auto* request = new Request;
        request->mhd = connection;
        const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        request->connection = info ? static_cast<Connection*>(info->socket_context) : nullptr;
        request->method = method;
        request->path = url;
        *requestState = request;
        if (request->connection)
            request->connection->deadline = Clock::now() + std::chrono::seconds(options_.bodyTimeoutSeconds);
        std::size_t headBytes = url.size() + method.size() + 16;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &countHeadBytes, &headBytes);
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &countHeadBytes, &headBytes);
        HttpResponse refusal;
        const bool api = url == "/api" || url.rfind("/api/", 0) == 0;
        if (headBytes > kMaxHeadBytes)
            refusal = errorResponse(431, "request head too large (limit 16 KiB)");
        else if (request->access = admit(connection, *request, api); request->access.status != 200) {
            // Refused before the body is read: another site's page, a foreign
            // Host, a guesser or no token gets nothing done.
            refusal = errorResponse(request->access.status, request->access.error);
            if (request->access.status == 429)
                refusal.headers.emplace_back("Retry-After", std::to_string(request->access.retryAfterSeconds));
        } else if (const char* length = header(connection, "Content-Length");
                   length && std::strtoull(length, nullptr, 10) > kDrainMaxBytes)
            refusal = errorResponse(413, "body too large (limit 256 KiB)");
        else
            return MHD_YES;
        refusal.headers.emplace_back("Connection", "close");
        request->dispatched = true;
        logRequest(*request, refusal.status);
        return send(connection, refusal);
    }
    Request& request = *static_cast<Request*>(*requestState);
    if (*uploadSize != 0) {
        if (request.body.size() + *uploadSize > kMaxBodyBytes) {
            request.bodyTooLarge = true;
            request.body.clear();
        }
        if (!request.bodyTooLarge)
            request.body.append(uploadData, *uploadSize);
        request.drained += *uploadSize;
        *uploadSize = 0;
        // A chunked body has no length to refuse up front.
        return request.drained > kDrainMaxBytes ? MHD_NO : MHD_YES;
    }
    if (request.answer) {
        logRequest(request, request.answer->status);
        return send(connection, *request.answer);
    }
    if (request.dispatched)
        return MHD_YES;
    request.dispatched = true;
    return dispatch(connection, request);
}

int HttpServer::dispatch(MHD_Connection* connection, Request& request)
{
    const std::string& path = request.path;
    const std::string& method = request.method;
    HttpResponse response;
    if (path == "/healthz") {
        response = method == "GET" || method == "HEAD" ? HttpResponse{200, R"({"status":"ok"})", "application/json", {}}
                                                       : errorResponse(405, "method not allowed");
    } else if (path == "/api/v1/events") {
        if (method == "GET")
            return eventsRequest(connection, request);
        response = errorResponse(405, "method not allowed");
    } else if (path == "/api" || path.rfind("/api/", 0) == 0) {
        std::optional<HttpResponse> answered = apiRequest(connection, request);
        if (!answered)
            return MHD_YES;  // the matrix answers later: the connection sleeps until then
        response = std::move(*answered);
    } else if (method == "GET" || method == "HEAD") {
        // The page's files hold no matrix data; the page asks the API with the token.
        response = files_.get(percentDecoded(path));
    } else {
        response = errorResponse(405, "method not allowed");
    }
    logRequest(request, response.status);
    return send(connection, response);
}

int HttpServer::eventsRequest(MHD_Connection* connection, Request& request)
{
    if (!stopping_ && static_cast<int>(streams_.size()) < options_.maxEventStreams)
        return openStream(connection, request);
    logRefusal(request.connection ? request.connection->address : "?",
               "event stream refused: max_event_streams (" + std::to_string(options_.maxEventStreams) + ") reached");
    const HttpResponse response = errorResponse(503, "too many event streams");
    logRequest(request, response.status, false);
    return send(connection, response);
}

std::optional<HttpResponse> HttpServer::apiRequest(MHD_Connection* connection, Request& request)
{
    const std::string& path = request.path;
    const std::string& method = request.method;
    if (request.bodyTooLarge) {
        HttpResponse response = errorResponse(413, "body too large (limit 256 KiB)");
        response.headers.emplace_back("Connection", "close");
        return response;
    }
    if (const auto cached = method == "GET" ? readCache_.find(path) : readCache_.end();
        cached != readCache_.end() && Clock::now() - cached->second.at < kReadCacheMaxAge)
        return cached->second.response;
    const bool stateRead = isStateRead(method, path);
    if (method != "GET" && method != "HEAD")
        readCache_.clear();
    Request* pending = &request;
    const auto alive = request.alive;
    request.inHandler = true;
    api_.handle(toApiRequest(connection, request), [this, pending, alive](HttpResponse answer) {
        if (!*alive || pending->answer)
            return;
        if (pending->inHandler)
            pending->answer = std::move(answer);
        else
            finish(*pending, std::move(answer));
    });
    request.inHandler = false;
    if (!request.answer) {
        MHD_suspend_connection(connection);
        waiting_.insert(&request);
        if (request.connection)
            request.connection->deadline = kNoDeadline;
        return std::nullopt;
    }
    HttpResponse response = std::move(*request.answer);
    if (stateRead && response.status == 200)
        readCache_[path] = {response, Clock::now()};
    return response;
}

HttpRequest HttpServer::toApiRequest(MHD_Connection* connection, Request& request)
{
    HttpRequest apiRequest;
    apiRequest.method = request.method;
    apiRequest.segments = splitPath(request.path);
    for (auto& segment : apiRequest.segments)
        segment = percentDecoded(segment);
    if (const char* type = header(connection, "Content-Type"))
        apiRequest.contentType = std::string(type).substr(0, std::string(type).find(';'));
    apiRequest.body = std::move(request.body);
    apiRequest.peer = request.access.client.address;
    apiRequest.tokenName = request.access.holder->name;
    apiRequest.role = request.access.holder->role;
    return apiRequest;
}

void HttpServer::finish(Request& request, HttpResponse response)
{
    request.answer = std::move(response);
    if (waiting_.erase(&request) != 0) {
        MHD_resume_connection(request.mhd);
        kick();
    }
}

int HttpServer::openStream(MHD_Connection* connection, Request& request)
{
    auto* stream = new Stream;
    stream->server = this;
    stream->mhd = connection;
    stream->connection = request.connection;
    stream->held = ": matrixd events\n\n";
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlockBytes,
                                                               &Callbacks::streamRead, stream, &Callbacks::streamFreed);
    if (!response) {
        delete stream;
        return MHD_NO;
    }
    streams_.insert(stream);
    MHD_add_response_header(response, "Content-Type", "text/event-stream");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Accel-Buffering", "no");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    // The stream has no length: it ends with the connection (and needs no chunk framing).
    MHD_add_response_header(response, "Connection", "close");
    const MHD_Result queued = MHD_queue_response(connection, 200, response);
    MHD_destroy_response(response);
    if (request.connection) {
        request.connection->deadline = kNoDeadline;
        // What the kernel holds for a reader counts towards its 1 MiB too, so keep that part small.
        const int sendBufferBytes = kStreamSendBufferBytes;
        setsockopt(request.connection->fd, SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof sendBufferBytes);
    }
    logRequest(request, 200);
    return queued;
}

void HttpServer::queueToStreams(const std::string& text)
{
    std::vector<Stream*> slow;
    for (Stream* stream : streams_) {
        if (stream->closing)
            continue;
        if (stream->held.size() - stream->sent + text.size() > kMaxHeldPerStreamBytes) {
            slow.push_back(stream);
            continue;
        }
        stream->held += text;
        if (stream->suspended) {
            stream->suspended = false;
            MHD_resume_connection(stream->mhd);
        }
    }
    for (Stream* stream : slow)
        dropStream(*stream);
    kick();
}

void HttpServer::dropStream(Stream& stream)
{
    logRefusal(stream.connection ? stream.connection->address : "?",
               "event stream dropped: its reader left more than 1 MiB unread");
    stream.closing = true;
    stream.dropped = true;
    stream.held = std::string();
    stream.sent = 0;
    // The reader is not reading, so the library would wait for it for ever: cut the socket.
    if (stream.connection && stream.connection->fd >= 0)
        ::shutdown(stream.connection->fd, SHUT_RDWR);
    if (stream.suspended) {
        stream.suspended = false;
        MHD_resume_connection(stream.mhd);
    }
}

void HttpServer::closeOverdue()
{
    const auto now = Clock::now();
    bool closed = false;
    for (Connection* connection : connections_) {
        if (connection->deadline > now)
            continue;
        connection->deadline = kNoDeadline;
        logRefusal(connection->address, "connection closed: request head or body not complete in time");
        // The library sees the end of the stream and closes the connection on its next run.
        if (connection->fd >= 0)
            ::shutdown(connection->fd, SHUT_RDWR);
        closed = true;
    }
    if (closed)
        kick();
}

AccessDecision HttpServer::admit(MHD_Connection* connection, const Request& request, bool needsToken)
{
    const std::string forwarded = joinedHeader(connection, "Forwarded");
    const std::string forwardedFor = joinedHeader(connection, "X-Forwarded-For");
    // A browser's EventSource cannot set headers: the event stream also takes ?token=.
    std::string queryToken;
    if (request.path == "/api/v1/events")
        if (const char* token = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token"))
            queryToken = percentDecoded(token);
    return gate_.admit({request.method, headerView(connection, "Host"), headerView(connection, "Origin"),
                        headerView(connection, "Sec-Fetch-Site"), headerView(connection, "Authorization"), queryToken,
                        request.connection ? request.connection->address : std::string(), forwarded, forwardedFor},
                       needsToken);
}

int HttpServer::send(MHD_Connection* connection, const HttpResponse& answer)
{
    MHD_Response* response = MHD_create_response_from_buffer(answer.body.size(), const_cast<char*>(answer.body.data()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (answer.contentType == "application/json")
        MHD_add_response_header(response, "Cache-Control", "no-store");
    for (const auto& [name, value] : answer.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    if (answer.status == 401)
        MHD_add_response_header(response, "WWW-Authenticate", "Bearer");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

void HttpServer::logRequest(const Request& request, int status, bool always) const
{
    // A successful read changes nothing: only --verbose logs it.
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (!always && read && status < 400 && !verbose())
        return;
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - request.started).count();
    std::string who = request.connection ? request.connection->address : std::string("?");
    if (request.access.client.viaProxy)
        who += " (for " + escapeForLog(request.access.client.address) + ")";
    logLine("http: " + who + " " + escaped(request.method) + " " + escaped(request.path) + " " +
            std::to_string(status) + " " + std::to_string(elapsedMs) + "ms");
}

void HttpServer::logRefusal(const std::string& address, const std::string& what)
{
    // Once per address and minute: a flood must not turn into a flood of log lines.
    const auto now = Clock::now();
    const std::string key = address + " " + what.substr(0, what.find(':'));
    auto found = refusalLogged_.find(key);
    if (found != refusalLogged_.end() && now - found->second < kRefusalLogPeriod)
        return;
    if (refusalLogged_.size() > 4096)
        std::erase_if(refusalLogged_, [now](const auto& entry) { return now - entry.second >= kRefusalLogPeriod; });
    refusalLogged_[key] = now;
    logLine("http: " + address + " " + what);
}

}  // namespace matrix::service
