// SPDX-License-Identifier: Apache-2.0
#include "service/http/HttpServer.h"

#include "service/hub/EventJson.h"

#include "service/hub/Hub.h"
#include "service/hub/Log.h"

#include <civetweb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace matrix::service {

namespace {

using namespace std::chrono_literals;

constexpr auto kStopCheck = 100ms;
constexpr long long kDrainMaxBytes = 4 * 1024 * 1024;

HttpResponse errorResponse(int status, const std::string& text)
{
    return {status, nlohmann::json{{"error", text}}.dump(), "application/json", {}};
}

void send(mg_connection* connection, const HttpResponse& response, bool head = false)
{
    mg_response_header_start(connection, response.status);
    mg_response_header_add(connection, "Content-Type", response.contentType.c_str(), -1);
    mg_response_header_add(connection, "Content-Length", std::to_string(response.body.size()).c_str(), -1);
    mg_response_header_add(connection, "X-Content-Type-Options", "nosniff", -1);
    if (response.contentType == "application/json")
        mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    for (const auto& [name, value] : response.headers)
        mg_response_header_add(connection, name.c_str(), value.c_str(), -1);
    mg_response_header_send(connection);
    if (!head && !response.body.empty())
        mg_write(connection, response.body.data(), response.body.size());
}

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 1;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    // "/api/v1/matrices/" names the same thing as without the slash.
    if (!segments.empty() && segments.back().empty())
        segments.pop_back();
    return segments;
}

std::optional<std::string> queryValue(const char* query, const char* name)
{
    if (!query)
        return std::nullopt;
    char value[512];
    const int n = mg_get_var(query, std::strlen(query), name, value, sizeof value);
    return n >= 0 ? std::optional<std::string>(std::string(value, static_cast<std::size_t>(n))) : std::nullopt;
}

// Reads the whole body, or returns a refusal (413 past the limit).
std::optional<HttpResponse> readBody(mg_connection* connection, std::string& body)
{
    const mg_request_info* info = mg_get_request_info(connection);
    const char* transfer = mg_get_header(connection, "Transfer-Encoding");
    const bool chunked = transfer && std::strstr(transfer, "chunked");
    char buffer[16384];
    if (info->content_length > static_cast<long long>(kMaxBodyBytes)) {
        // Read a moderate excess away so that the client is still reading
        // when the answer comes, instead of meeting a reset connection.
        long long left = std::min<long long>(info->content_length, kDrainMaxBytes);
        while (left > 0) {
            const int n = mg_read(connection, buffer, static_cast<std::size_t>(std::min<long long>(left, sizeof buffer)));
            if (n <= 0)
                break;
            left -= n;
        }
        return errorResponse(413, "body too large (limit 256 KiB)");
    }
    if (info->content_length <= 0 && !chunked)
        return std::nullopt;
    for (;;) {
        const int n = mg_read(connection, buffer, sizeof buffer);
        if (n < 0)
            return errorResponse(400, "body could not be read");
        if (n == 0)
            break;
        body.append(buffer, static_cast<std::size_t>(n));
        if (body.size() > kMaxBodyBytes)
            return errorResponse(413, "body too large (limit 256 KiB)");
    }
    return std::nullopt;
}

}  // namespace

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

HttpServer::HttpServer(Hub& hub, LoopInvoker invoke, Options options)
    : hub_(hub), invoke_(std::move(invoke)), options_(std::move(options)), api_(hub), files_(options_.webRoot)
{
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(std::string* error)
{
    subscription_ = hub_.subscribe([this](const HubEvent& event) {
        if (const nlohmann::json json = eventJson(event); !json.is_null())
            events_.publish(json.dump());
    });

    const std::string ports = options_.host + ":" + std::to_string(options_.port);
    const std::string threads = std::to_string(options_.threads);
    const std::string timeout = std::to_string(options_.requestTimeoutMs);
    const char* config[] = {"listening_ports", ports.c_str(),
                            "num_threads", threads.c_str(),
                            "request_timeout_ms", timeout.c_str(),
                            "enable_keep_alive", "yes",
                            "keep_alive_timeout_ms", "2000",
                            // Headers and body leave in two writes: without this, Nagle's
                            // algorithm and a delayed ACK add 40 ms to every answer.
                            "tcp_nodelay", "1",
                            // No cross-origin access unless someone builds it on purpose.
                            "access_control_allow_origin", "",
                            "enable_directory_listing", "no",
                            nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = &HttpServer::onBeginRequest;
    callbacks.log_message = &HttpServer::onLogMessage;
    mg_init_library(0);
    context_ = mg_start(&callbacks, this, config);
    if (!context_) {
        if (error)
            *error = "cannot listen on " + ports;
        hub_.unsubscribe(subscription_);
        subscription_ = 0;
        return false;
    }
    return true;
}

void HttpServer::stop()
{
    if (!context_)
        return;
    stopping_ = true;
    events_.closeAll();
    mg_stop(context_);
    context_ = nullptr;
    if (subscription_)
        hub_.unsubscribe(subscription_);
    subscription_ = 0;
}

int HttpServer::onBeginRequest(mg_connection* connection)
{
    auto* self = static_cast<HttpServer*>(mg_get_user_data(mg_get_context(connection)));
    return self->serve(connection);
}

int HttpServer::onLogMessage(const mg_connection*, const char* message)
{
    logLine(std::string("http: ") + message);
    return 1;
}

bool HttpServer::authorized(mg_connection* connection, bool allowQueryToken) const
{
    if (options_.token.empty())
        return true;
    const char* header = mg_get_header(connection, "Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    if (header && std::strncmp(header, kBearer.data(), kBearer.size()) == 0)
        return constantTimeEquals(header + kBearer.size(), options_.token);
    // A browser's EventSource cannot set headers: the event stream also takes ?token=.
    if (allowQueryToken) {
        if (const auto token = queryValue(mg_get_request_info(connection)->query_string, "token"))
            return constantTimeEquals(*token, options_.token);
    }
    return false;
}

int HttpServer::serve(mg_connection* connection)
{
    const auto started = std::chrono::steady_clock::now();
    const mg_request_info* info = mg_get_request_info(connection);
    const std::string method = info->request_method ? info->request_method : "";
    const std::string path = info->local_uri_raw ? info->local_uri_raw : (info->local_uri ? info->local_uri : "/");
    const bool api = path == "/api" || path.rfind("/api/", 0) == 0;

    HttpResponse response;
    int status = 0;
    if (path == "/healthz") {
        response = method == "GET" || method == "HEAD" ? HttpResponse{200, R"({"status":"ok"})", "application/json", {}}
                                                        : errorResponse(405, "method not allowed");
    } else if (path == "/api/v1/events") {
        if (!authorized(connection, true))
            response = errorResponse(401, "missing or wrong token");
        else if (method != "GET")
            response = errorResponse(405, "method not allowed");
        else if (eventStreams_.fetch_add(1) >= options_.maxEventStreams) {
            eventStreams_.fetch_sub(1);
            response = errorResponse(503, "too many event streams");
        } else {
            status = streamEvents(connection);
            eventStreams_.fetch_sub(1);
        }
    } else if (api) {
        HttpRequest request;
        request.method = method;
        request.segments = splitPath(path);
        if (const char* type = mg_get_header(connection, "Content-Type"))
            request.contentType = std::string(type).substr(0, std::string(type).find(';'));
        request.peer = std::string(info->remote_addr) + ":" + std::to_string(info->remote_port);
        // The single token of this server is an admin's.
        request.tokenName = options_.token.empty() ? "loopback" : "token";
        request.role = Role::Admin;
        if (!authorized(connection, false))
            response = errorResponse(401, "missing or wrong token");
        else if (auto refusal = readBody(connection, request.body)) {
            response = *refusal;
            response.headers.emplace_back("Connection", "close");
        } else
            response = runOnLoop(std::move(request));
    } else if (method == "GET" || method == "HEAD") {
        // The page's files hold no matrix data; the page asks the API with the token.
        response = files_.get(path);
    } else {
        response = errorResponse(405, "method not allowed");
    }
    if (response.status == 401)
        response.headers.emplace_back("WWW-Authenticate", "Bearer");
    if (status == 0) {
        send(connection, response, method == "HEAD");
        status = response.status;
    }
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    logLine(std::string("http: ") + info->remote_addr + " " + method + " " + path + " " + std::to_string(status) + " " +
            std::to_string(elapsedMs) + "ms");
    return status;
}

HttpResponse HttpServer::runOnLoop(HttpRequest request)
{
    struct Pending {
        std::mutex mutex;
        std::condition_variable ready;
        std::optional<HttpResponse> response;
    };
    auto pending = std::make_shared<Pending>();
    invoke_([this, pending, request = std::move(request)] {
        if (stopping_)
            return;
        api_.handle(request, [pending](HttpResponse response) {
            {
                std::lock_guard lock(pending->mutex);
                if (!pending->response)
                    pending->response = std::move(response);
            }
            pending->ready.notify_one();
        });
    });
    std::unique_lock lock(pending->mutex);
    while (!pending->response) {
        if (stopping_)
            return errorResponse(503, "matrixd is stopping");
        pending->ready.wait_for(lock, kStopCheck);
    }
    return *pending->response;
}

int HttpServer::streamEvents(mg_connection* connection)
{
    auto reader = events_.open();
    mg_response_header_start(connection, 200);
    mg_response_header_add(connection, "Content-Type", "text/event-stream", -1);
    mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    mg_response_header_add(connection, "X-Accel-Buffering", "no", -1);
    // The stream has no length: it ends with the connection.
    mg_response_header_add(connection, "Connection", "close", -1);
    mg_response_header_send(connection);
    static constexpr char kHello[] = ": matrixd events\n\n";
    bool open = mg_write(connection, kHello, sizeof kHello - 1) > 0;
    while (open && !stopping_ && !reader->closed()) {
        auto event = reader->next(std::chrono::milliseconds(options_.keepAliveCommentMs));
        std::string text;
        if (event)
            text = "data: " + *event + "\n\n";
        else if (!reader->closed())
            text = ": keep-alive\n\n";  // a comment line keeps proxies and idle clients from giving up
        if (!text.empty())
            open = mg_write(connection, text.data(), text.size()) > 0;
    }
    events_.close(reader);
    return 200;
}

}  // namespace matrix::service
