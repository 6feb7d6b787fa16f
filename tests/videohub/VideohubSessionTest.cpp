// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/Session.h"

#include "service/hub/Names.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace matrix::service::videohub {
namespace {

// A matrix as the hub shows it: every change is announced to every session,
// as the hub's event bus does, and requests are refused as the hub refuses
// them (its name rule; a route to an output locked by someone else or with
// the link down). `failRoutes` makes the matrix time out, `failSaves` the
// state file refuse a rename.
struct HubLikeMatrix : Backend {
    bool linkUp = true, failRoutes = false, failSaves = false;
    std::array<std::string, 4> inputs{"Laptop", "Apple TV", "Camera", "PC"};
    std::array<std::string, 4> outputs{"Projector", "Left TV", "Right TV", "Recorder"};
    std::array<std::optional<int>, 4> routing{0, 1, 2, 3};
    std::array<LockId, 4> owners{};
    std::vector<std::string> routesSent;  // "output>input" as they reached the matrix
    std::vector<Session*> sessions;

    void announce(const std::function<void(Session&)>& change)
    {
        for (Session* s : sessions)
            change(*s);
    }
    bool present() const override { return linkUp; }
    std::string modelName() const override { return "HDMI MATRIX"; }
    std::string uniqueId() const override { return "0123456789AB"; }
    std::string friendlyName() const override { return "Main hall"; }
    std::string inputLabel(int i) const override { return inputs[i]; }
    std::string outputLabel(int o) const override { return outputs[o]; }
    std::optional<int> routedInput(int o) const override { return routing[o]; }
    LockId lockOwner(int o) const override { return owners[o]; }
    Outcome route(const std::vector<std::pair<int, int>>& routes, LockId who,
                  std::function<void(int, bool)> each) override
    {
        for (const auto& [o, i] : routes)
            if (owners[o] != 0 && owners[o] != who)
                return Outcome::refused(Refusal::Locked);
        if (!linkUp)
            return Outcome::refused(Refusal::LinkDown);
        for (const auto& [o, i] : routes)
            routeOne(o, i, each);
        return {};
    }
    virtual void routeOne(int o, int i, const std::function<void(int, bool)>& each)
    {
        if (failRoutes)
            return each(o, false);
        routesSent.push_back(std::to_string(o) + ">" + std::to_string(i));
        if (std::exchange(routing[o], i) != i)  // like the state model: only a change is announced
            announce([o = o](Session& s) { s.routingChanged(o); });
        each(o, true);
    }
    Outcome rename(bool isInput, const std::vector<std::pair<int, std::string>>& labels, LockId = 0) override
    {
        auto& names = isInput ? inputs : outputs;
        std::vector<std::pair<int, std::string>> changes;
        for (const auto& [port, label] : labels)
            changes.emplace_back(port + 1, label);
        if (Outcome checked = checkRenames(names, changes, "port"); !checked.ok())
            return checked;
        if (failSaves)
            return Outcome::refused(Refusal::StorageFailed);
        for (const auto& [port, label] : labels) {
            names[port] = label;
            announce([port = port, isInput](Session& s) {
                isInput ? s.inputLabelChanged(port) : s.outputLabelChanged(port);
            });
        }
        return {};
    }
    Outcome lock(int o, LockAction action, LockId who) override
    {
        if (action != LockAction::Force && owners[o] != 0 && owners[o] != who)
            return Outcome::refused(Refusal::Locked);
        const LockId owner = action == LockAction::Take ? who : 0;
        if (std::exchange(owners[o], owner) != owner)
            announce([o](Session& s) { s.lockChanged(o); });
        return {};
    }
    void renameOutput(int o, const std::string& label) { rename(false, {{o, label}}); }
    void setLink(bool up)
    {
        linkUp = up;
        announce([](Session& s) { s.presenceChanged(); });
    }
};

// A connected client: what it has been sent since the last take().
struct Client {
    Client(HubLikeMatrix& m, LockId id) : matrix(m), session(m, id, [this](const std::string& t) { received += t; })
    {
        matrix.sessions.push_back(&session);
        session.start();
    }
    ~Client() { std::erase(matrix.sessions, &session); }
    std::string take() { return std::exchange(received, {}); }

    HubLikeMatrix& matrix;
    std::string received;
    Session session;
};

const std::string kDump =
    "PROTOCOL PREAMBLE:\nVersion: 2.3\n\n"
    "VIDEOHUB DEVICE:\nDevice present: true\nModel name: HDMI MATRIX\nFriendly name: Main hall\n"
    "Unique ID: 0123456789AB\nVideo inputs: 4\n"
    "Video processing units: 0\nVideo outputs: 4\nVideo monitoring outputs: 0\nSerial ports: 0\n\n"
    "INPUT LABELS:\n0 Laptop\n1 Apple TV\n2 Camera\n3 PC\n\n"
    "OUTPUT LABELS:\n0 Projector\n1 Left TV\n2 Right TV\n3 Recorder\n\n"
    "VIDEO OUTPUT LOCKS:\n0 U\n1 U\n2 U\n3 U\n\n"
    "VIDEO OUTPUT ROUTING:\n0 0\n1 1\n2 2\n3 3\n\n"
    "END PRELUDE:\n\n";

const std::string kAbsentDevice =
    "VIDEOHUB DEVICE:\nDevice present: false\nFriendly name: Main hall\nUnique ID: 0123456789AB\n\n";

TEST(VideohubSession, DumpFollowsTheLink)
{
    HubLikeMatrix matrix;
    Client present(matrix, 1);
    EXPECT_EQ(present.take(), kDump);

    // Away: the device says so, the rest is the last known state, and the
    // prelude still ends, so clients that wait for its end finish set-up.
    matrix.linkUp = false;
    Client absent(matrix, 2);
    std::string absentDump = kDump;
    const std::size_t device = absentDump.find("VIDEOHUB DEVICE:");
    absentDump.replace(device, absentDump.find("INPUT LABELS:") - device, kAbsentDevice);
    EXPECT_EQ(absent.take(), absentDump);
    matrix.setLink(false);
    EXPECT_EQ(present.take(), kAbsentDevice);

    // Nothing more while it is away, not even a route or label change.
    matrix.routing[1] = 3;
    matrix.renameOutput(1, "Left");
    absent.session.routingChanged(1);
    EXPECT_EQ(present.take() + absent.take(), "");

    // Back: every block but the preamble, with what changed meanwhile.
    matrix.setLink(true);
    const std::string back = kDump.substr(kDump.find("VIDEOHUB DEVICE:"));
    std::string expected = back;
    expected.replace(expected.find("1 Left TV"), 9, "1 Left").replace(expected.find("1 1\n2 2"), 3, "1 3");
    EXPECT_EQ(present.take(), expected);
    EXPECT_EQ(absent.take(), expected);
}

TEST(VideohubSession, RequestsAndTheirAnswers)
{
    struct Case {
        const char* request;
        const char* reply;      // what the asking client gets
        const char* routes;     // what reached the matrix
        int lockedOutput = -1;  // held by another controller
    };
    const Case cases[] = {
        {"PING:\n\n", "ACK\n\n", ""},
        {"PING\n\n", "ACK\n\n", ""},  // older clients
        {"VIDEO OUTPUT ROUTING:\n1 2\n\n", "ACK\n\nVIDEO OUTPUT ROUTING:\n1 2\n\n", "1>2"},
        {"VIDEO OUTPUT ROUTING:\r\n3 0\r\n0 3\r\n\r\n",
         "ACK\n\nVIDEO OUTPUT ROUTING:\n3 0\n\nVIDEO OUTPUT ROUTING:\n0 3\n\n", "3>0 0>3"},
        {"VIDEO OUTPUT ROUTING:\n2 2\n\n", "ACK\n\nVIDEO OUTPUT ROUTING:\n2 2\n\n", "2>2"},
        {"VIDEO OUTPUT ROUTING:\n\n", "ACK\n\nVIDEO OUTPUT ROUTING:\n0 0\n1 1\n2 2\n3 3\n\n", ""},
        {"VIDEO OUTPUT LOCKS:\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n0 U\n1 U\n2 U\n3 U\n\n", ""},
        {"OUTPUT LABELS:\n0 Main projector\n\n", "ACK\n\nOUTPUT LABELS:\n0 Main projector\n\n", ""},
        // Not understood: NAK, and nothing happens, not even for the good line.
        {"VIDEO OUTPUT ROUTING:\n1 4\n\n", "NAK\n\n", ""},
        {"VIDEO OUTPUT ROUTING:\n0 1\n4 1\n\n", "NAK\n\n", ""},
        {"VIDEO OUTPUT ROUTING:\nB 2\n\n", "NAK\n\n", ""},
        {"OUTPUT LABELS:\n1 \n\n", "NAK\n\n", ""},
        {"INPUT LABELS:\n0 PC\n\n", "NAK\n\n", ""},  // input 3 has that name
        {"INPUT LABELS:\n0 PC\n3 Laptop\n\n", "ACK\n\nINPUT LABELS:\n0 PC\n\nINPUT LABELS:\n3 Laptop\n\n", ""},
        {"OUTPUT LABELS:\n1 Tab\there\n\n", "NAK\n\n", ""},
        {"OUTPUT LABELS:\n1 12345678901234567890123456789012345678901234567890123456789012345\n\n", "NAK\n\n", ""},
        {"VIDEO OUTPUT LOCKS:\n1 L\n\n", "NAK\n\n", ""},
        {"route 1 2\n\n", "NAK\n\n", ""},
        // The one name rule: no bare number, no outer space, not None, unique.
        {"INPUT LABELS:\n0 2\n\n", "NAK\n\n", ""},
        {"INPUT LABELS:\n0 NONE\n\n", "NAK\n\n", ""},
        {"OUTPUT LABELS:\n0 Stage \n\n", "NAK\n\n", ""},
        {"OUTPUT LABELS:\n0  Stage\n\n", "NAK\n\n", ""},
        // Every block gets exactly one answer: unknown ones and ones only a
        // server sends get NAK, and nothing happens.
        {"CONFIGURATION:\nTake Mode: true\n\n", "NAK\n\n", ""},
        {"VIDEO MONITORING OUTPUT ROUTING:\n0 1\n\n", "NAK\n\n", ""},
        {"VIDEO MONITORING OUTPUT ROUTING:\n\n", "NAK\n\n", ""},
        {"VIDEOHUB DEVICE:\nDevice present: false\n\n", "NAK\n\n", ""},
        {"END PRELUDE:\n\n", "ACK\n\nEND PRELUDE:\n\n", ""},
        // Someone else's lock: NAK, and not even the free output is routed.
        {"VIDEO OUTPUT ROUTING:\n1 2\n\n", "NAK\n\n", "", 1},
        {"VIDEO OUTPUT ROUTING:\n0 2\n1 2\n\n", "NAK\n\n", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        HubLikeMatrix matrix;
        if (c.lockedOutput >= 0)
            matrix.owners[c.lockedOutput] = 99;
        Client client(matrix, 1);
        client.take();
        EXPECT_TRUE(client.session.receive(c.request));
        EXPECT_EQ(client.take(), c.reply);
        std::string routes;
        for (const std::string& r : matrix.routesSent)
            routes += (routes.empty() ? "" : " ") + r;
        EXPECT_EQ(routes, c.routes);
    }
}

TEST(VideohubSession, LabelsWhoseSaveFailedAreRefusedAndShownToNobody)
{
    HubLikeMatrix matrix;
    matrix.failSaves = true;
    Client asker(matrix, 1), other(matrix, 2);
    asker.take(), other.take();
    EXPECT_TRUE(asker.session.receive("INPUT LABELS:\n0 Desk\n1 Stage\n\n"));
    EXPECT_EQ(asker.take(), "NAK\n\n");
    EXPECT_EQ(other.take(), "");
    EXPECT_EQ(matrix.inputs[0], "Laptop");
}

TEST(VideohubSession, AnHttpRequestEndsTheConnectionBeforeAnythingInItIsDone)
{
    const std::string blocks = "VIDEO OUTPUT ROUTING:\n1 2\n\nINPUT LABELS:\n0 Evil\n\n";
    for (const std::string& request : {
             "POST / HTTP/1.1\r\nHost: 127.0.0.1:9990\r\nContent-Type: text/plain\r\n\r\n" + blocks,
             std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1:9990\r\n\r\n"),
             "OPTIONS * HTTP/1.1\r\n\r\n" + blocks,
             "PUT /x HTTP/1.0\r\n\r\n" + blocks,
             "\nBREW /pot HTTP/1.1\r\n\r\n" + blocks,
         }) {
        SCOPED_TRACE(request);
        HubLikeMatrix matrix;
        Client client(matrix, 1);
        client.take();
        EXPECT_FALSE(client.session.receive(request));
        EXPECT_TRUE(client.session.spokeHttp());
        EXPECT_EQ(client.take(), "");
        EXPECT_TRUE(matrix.routesSent.empty());
        EXPECT_EQ(matrix.inputs[0], "Laptop");
    }
}

TEST(VideohubSession, AClientSilentForTheIdleTimeIsEndedOnce)
{
    ManualLoop loop;
    HubLikeMatrix matrix;
    int ended = 0;
    {
        Session session(matrix, 1, [](const std::string&) {}, {&loop, 300'000, [&] { ++ended; }});
        session.start();
        loop.advance(299'999);
        EXPECT_TRUE(session.receive("PING:\n\n"));  // controllers ping every 15-30 s
        loop.advance(299'999);
        EXPECT_TRUE(session.receive("PI"));  // any bytes count, a whole block or not
        loop.advance(299'999);
        EXPECT_EQ(ended, 0);
        loop.advance(1);
        EXPECT_EQ(ended, 1);
        loop.advance(900'000);
        EXPECT_EQ(ended, 1);
        session.receive("NG:\n\n");  // what arrives before the owner closes it re-arms the wait
    }
    EXPECT_EQ(loop.runningTimerCount(), 0u);  // and an ended session leaves no timer behind
}

TEST(VideohubSession, AnySegmentationGivesTheSameConversationAndAFloodEndsIt)
{
    const std::string requests =
        "PING:\n\nVIDEO OUTPUT ROUTING:\n1 2\n\nINPUT LABELS:\n3 Desk PC\n\nVIDEO OUTPUT ROUTING:\n9 9\n\n"
        "VIDEO OUTPUT LOCKS:\n2 O\n\nOUTPUT LABELS:\n\n";
    HubLikeMatrix whole;
    Client a(whole, 1);
    a.session.receive(requests);
    for (std::size_t step : {1u, 2u, 5u, 13u}) {
        SCOPED_TRACE(step);
        HubLikeMatrix pieces;
        Client b(pieces, 1);
        for (std::size_t i = 0; i < requests.size(); i += step)
            ASSERT_TRUE(b.session.receive(std::string_view(requests).substr(i, step)));
        EXPECT_EQ(b.received, a.received);
        EXPECT_EQ(pieces.routesSent, whole.routesSent);
    }
    EXPECT_EQ(whole.routesSent, std::vector<std::string>{"1>2"});

    // 64 KiB without a blank line: drop. Blocks before the flood are still answered.
    a.take();
    EXPECT_FALSE(a.session.receive("PING:\n\nOUTPUT LABELS:\n" + std::string(64 * 1024, 'x')));
    EXPECT_FALSE(a.session.receive("\n\n"));
    EXPECT_EQ(a.take(), "ACK\n\n");
    // Just under the limit is a (long, malformed) block like any other.
    Client patient(whole, 2);
    patient.take();
    EXPECT_TRUE(patient.session.receive("VIDEO OUTPUT ROUTING:\n0 " + std::string(64 * 1024 - 40, 'y') + "\n\n"));
    EXPECT_EQ(patient.take(), "NAK\n\n");
}

TEST(VideohubSession, LocksBetweenTwoClients)
{
    HubLikeMatrix matrix;
    Client a(matrix, 7);
    Client b(matrix, 8);
    a.take();
    b.take();
    struct Step {
        Client* who;
        const char* request;
        const char* toA;
        const char* toB;
    };
    const Step steps[] = {
        {&a, "VIDEO OUTPUT LOCKS:\n1 O\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 O\n\n", "VIDEO OUTPUT LOCKS:\n1 L\n\n"},
        // B cannot route there (NAK, nothing sent), take the lock or release
        // it: it sees the state unchanged.
        {&b, "VIDEO OUTPUT ROUTING:\n1 3\n\n", "", "NAK\n\n"},
        {&b, "VIDEO OUTPUT ROUTING:\n0 3\n1 3\n\n", "", "NAK\n\n"},
        {&b, "VIDEO OUTPUT LOCKS:\n1 O\n\n", "", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 L\n\n"},
        {&b, "VIDEO OUTPUT LOCKS:\n1 U\n\n", "", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 L\n\n"},
        // The owner routes as before.
        {&a, "VIDEO OUTPUT ROUTING:\n1 3\n\n", "ACK\n\nVIDEO OUTPUT ROUTING:\n1 3\n\n",
         "VIDEO OUTPUT ROUTING:\n1 3\n\n"},
        // Force breaks it for everyone.
        {&b, "VIDEO OUTPUT LOCKS:\n1 F\n\n", "VIDEO OUTPUT LOCKS:\n1 U\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 U\n\n"},
        {&b, "VIDEO OUTPUT LOCKS:\n2 o\n\n", "VIDEO OUTPUT LOCKS:\n2 L\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n2 O\n\n"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.request);
        s.who->session.receive(s.request);
        EXPECT_EQ(a.take(), s.toA);
        EXPECT_EQ(b.take(), s.toB);
    }
    EXPECT_EQ(matrix.routesSent, std::vector<std::string>{"1>3"});
}

TEST(VideohubSession, FailedRouteShowsTheUnchangedStateAndOutlivedSessionIsLeftAlone)
{
    HubLikeMatrix matrix;
    matrix.failRoutes = true;
    Client client(matrix, 1);
    client.take();
    client.session.receive("VIDEO OUTPUT ROUTING:\n2 0\n\n");
    EXPECT_EQ(client.take(), "ACK\n\nVIDEO OUTPUT ROUTING:\n2 2\n\n");

    // A route that completes after its connection closed touches nothing.
    struct LateMatrix : HubLikeMatrix {
        std::function<void()> pending;
        void routeOne(int o, int, const std::function<void(int, bool)>& each) override
        {
            pending = [o, each] { each(o, false); };
        }
    } late;
    std::string sent;
    auto session = std::make_unique<Session>(late, 1, [&](const std::string& t) { sent += t; });
    session->receive("VIDEO OUTPUT ROUTING:\n0 1\n\n");
    session.reset();
    sent.clear();
    late.pending();
    EXPECT_EQ(sent, "");

    // While the link is down a route cannot be carried out: NAK at once.
    matrix.failRoutes = false;
    matrix.setLink(false);
    client.take();
    client.session.receive("VIDEO OUTPUT ROUTING:\n2 0\n\n");
    EXPECT_EQ(client.take(), "NAK\n\n");
    EXPECT_TRUE(matrix.routesSent.empty());
}

}  // namespace
}  // namespace matrix::service::videohub
