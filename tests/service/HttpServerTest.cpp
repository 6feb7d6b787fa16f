// SPDX-License-Identifier: Apache-2.0
// The event stream as a client reads it off the socket: the content type,
// one "data:" line per hub event, and the keep-alive comment when idle.
#include "service/http/HttpServer.h"
#include "service/hub/Hub.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace matrix::service {
namespace {

constexpr const char* kAddress = "127.0.0.91";
constexpr int kPort = 8491;

// Reads until `text` has arrived or the deadline passes, running the
// server's loop meanwhile; returns everything read.
std::string readUntil(int fd, const std::string& text, int timeoutMs)
{
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        timeval wait{0, 5000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[1024];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            break;
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

// The server on a Qt loop (which readUntil runs) and the hub it serves.
struct ServerOnLoop {
    explicit ServerOnLoop(const char* host, int keepAliveCommentMs = 15000)
        : app(argc, argv),
          server(hub, options(host, keepAliveCommentMs))
    {
    }
    static HttpServer::Options options(const char* host, int keepAliveCommentMs)
    {
        HttpServer::Options options;
        options.host = host;
        options.port = kPort;
        options.keepAliveCommentMs = keepAliveCommentMs;
        return options;
    }
    int argc = 1;
    char name[5] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app;
    Hub hub;
    HttpServer server;
};

TEST(HttpServer, EventStreamCarriesHubEventsAndKeepsIdleConnectionsOpen)
{
    ServerOnLoop rig(kAddress, 100);
    std::string error;
    ASSERT_TRUE(rig.server.start(&error)) << error;
    Hub& hub = rig.hub;
    HttpServer& server = rig.server;

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    ::inet_pton(AF_INET, kAddress, &address.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.91:8491\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));

    const std::string head = readUntil(fd, ": matrixd events\n\n", 2000);
    EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    EXPECT_NE(head.find("Content-Type: text/event-stream\r\n"), std::string::npos) << head;
    EXPECT_NE(readUntil(fd, ": keep-alive\n\n", 2000).find(": keep-alive\n\n"), std::string::npos);

    hub.publish(RoutingChanged{"hall", 2, 3});
    const std::string event = readUntil(fd, "}\n\n", 2000);
    EXPECT_NE(event.find("data: {\"input\":3,\"matrix\":\"hall\",\"output\":2,\"type\":\"routing\"}\n\n"),
              std::string::npos)
        << event;

    // Stopping ends the stream instead of waiting for the client to go.
    const auto stopStarted = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStarted, std::chrono::seconds(4));
    timeval wait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char rest[256];
    while (::recv(fd, rest, sizeof rest, 0) > 0) {
    }
    EXPECT_EQ(::recv(fd, rest, sizeof rest, 0), 0);  // end of stream, not a time-out
    ::close(fd);
}

// An event stream's socket, its opening comment read; a small receive
// buffer makes a reader that stops reading hold up the server quickly.
int openStream(const char* host, int port, int receiveBufferBytes = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBufferBytes > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    const std::string request =
        "GET /api/v1/events HTTP/1.1\r\nHost: " + std::string(host) + ":" + std::to_string(port) + "\r\n\r\n";
    ::send(fd, request.data(), request.size(), 0);
    readUntil(fd, ": matrixd events\n\n", 2000);
    return fd;
}

TEST(HttpServer, ReaderThatStopsReadingIsDroppedPastOneMebibyteWhileTheOthersGetEveryEvent)
{
    constexpr const char* kHost = "127.0.23.31";
    ServerOnLoop rig(kHost);
    std::string error;
    ASSERT_TRUE(rig.server.start(&error)) << error;
    Hub& hub = rig.hub;
    const int stalled = openStream(kHost, kPort, 4096);
    const int reader = openStream(kHost, kPort);
    ASSERT_GE(stalled, 0);
    ASSERT_GE(reader, 0);

    // 3.2 MB of events in bursts of 80 kB; the reader keeps up between bursts.
    constexpr int kEvents = 400;
    const std::string pad(8000, 'x');
    std::string read;
    for (int n = 0; n < kEvents; ++n) {
        hub.publish(EdidChanged{"m", n, 0, pad});
        if (n % 10 == 9)
            read += readUntil(reader, "\"input\":" + std::to_string(n) + ",", 2000);
    }
    read += readUntil(reader, "\"input\":" + std::to_string(kEvents - 1) + ",", 2000);
    std::size_t events = 0;
    for (auto at = read.find("\"input\":"); at != std::string::npos; at = read.find("\"input\":", at + 1))
        ++events;
    EXPECT_EQ(events, static_cast<std::size_t>(kEvents));

    // The stalled reader finds its stream cut short once it reads again.
    const std::string rest = readUntil(stalled, "never sent", 2000);
    EXPECT_LT(rest.size(), 2u * 1024 * 1024);
    EXPECT_EQ(rest.find("\"input\":" + std::to_string(kEvents - 1) + ","), std::string::npos);
    char byte;
    EXPECT_LE(::recv(stalled, &byte, 1, MSG_DONTWAIT), 0);
    ::close(stalled);
    ::close(reader);
}

}  // namespace
}  // namespace matrix::service
