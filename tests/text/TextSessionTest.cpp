// SPDX-License-Identifier: Apache-2.0
// The text protocol as a control system sees it: request lines in, reply and
// EVENT lines out, over a backend that records what reached "the matrix".
#include "service/text/Session.h"

#include "tests/text/HeldBackend.h"

#include <gtest/gtest.h>

namespace matrix::service::text {
namespace {

struct SessionRig {
    HeldBackend backend;
    std::string written;
    Session session{backend, "text 10.1.2.3:5000", [this](const std::string& bytes) { written += bytes; }};

    std::string say(std::string_view bytes)
    {
        written.clear();
        EXPECT_TRUE(session.receive(bytes));
        return written;
    }
};

// The wire's own table (every command and code against the real matrixd) is
// tests/service/text_test.py; here are the word and quoting rules.
TEST(TextSession, WordsQuotesAndQueries)
{
    struct Case {
        std::string request;
        std::string reply;
        std::string change;  // what reached the matrix; empty: nothing
    } cases[] = {
        {"ROUTE \"Right \\\"TV\\\"\" 1\r\n", "OK ROUTE C 1\r\n", "route 3 1 by text 10.1.2.3:5000"},
        {"\troute\t b   2 \r\n", "OK ROUTE B 2\r\n", "route 2 2 by text 10.1.2.3:5000"},
        {"ROUTE \"Left TV\"?\r\n", "OK ROUTE B 2\r\n", ""},
        {"ROUTE b ?\r\n", "OK ROUTE B 2\r\n", ""},
        {"ROUTING ?\r\n", "OK ROUTING A 1 B 2 C 3 D 4\r\n", ""},
        {"recall \"movie NIGHT\"\r\n", "OK RECALL \"Movie night\"\r\n", "recall Movie night by text 10.1.2.3:5000"},
        {"NAMES?\r\n",
         "OK NAMES IN \"Laptop\" \"Apple TV\" \"Camera\" \"PC\" OUT \"Projector\" \"Left TV\" \"Right \\\"TV\\\"\" "
         "\"Recorder\"\r\n",
         ""},
        // Staged routes: shared with every front-end, sent only by TAKE.
        {"PREVIEW \"Left TV\" Camera\r\n", "OK PREVIEW B 3\r\n", "stage 2 3 by text 10.1.2.3:5000"},
        {"preview?\r\n", "OK PREVIEW B 3\r\n", ""},
        {"TAKE\r\n", "OK TAKE\r\n", "take by text 10.1.2.3:5000"},
        {"clear\r\n", "OK CLEAR\r\n", "clear by text 10.1.2.3:5000"},
        {"PREVIEW B\r\n", "ERR 400 usage: PREVIEW <out> <in> or PREVIEW?\r\n", ""},
        {"PREVIEW E 1\r\n", "ERR 404 no such output\r\n", ""},
        {"ROUTE \"Left TV 2\r\n", "ERR 400 unterminated quote\r\n", ""},
        {"ROUTE B 2 3\r\n", "ERR 400 usage: ROUTE <out> <in> or ROUTE <out>?\r\n", ""},
        {"ALL ?\r\n", "ERR 400 usage: ALL <in>\r\n", ""},
        {"NOTIFY MAYBE\r\n", "ERR 400 usage: NOTIFY ON|OFF|?\r\n", ""},
        {"PING PONG\r\n", "ERR 400 unknown command\r\n", ""},
        {std::string(1024, ' ') + "\r\n", "", ""},
    };
    for (const auto& c : cases) {
        SessionRig rig;
        EXPECT_EQ(rig.say(c.request), c.reply) << c.request;
        EXPECT_EQ(rig.backend.changes,
                  c.change.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.change})
            << c.request;
    }
}

TEST(TextSession, QueriesOfUnknownStateSayWhy)
{
    SessionRig rig;
    rig.backend.routing[2] = std::nullopt;
    EXPECT_EQ(rig.say("ROUTE C?\r\nROUTE A?\r\n"), "ERR 503 Not known yet\r\nOK ROUTE A 1\r\n");
    rig.backend.link = false;
    const std::string expected =
        "ERR 503 Link to the matrix is down\r\nERR 503 Link to the matrix is down\r\nOK LINK DOWN\r\nOK NAMES IN";
    EXPECT_EQ(rig.say("ROUTING?\r\nBEEP?\r\nLINK?\r\nNAMES?\r\n").substr(0, expected.size()), expected);
}

TEST(TextSession, RepliesKeepRequestOrderWhileTheMatrixWorks)
{
    SessionRig rig;
    rig.backend.answer.reset();
    EXPECT_EQ(rig.say("ROUTE B 3\r\nPING\r\nROUTE C 1\r\n"), "") << "nothing overtakes the route in flight";
    EXPECT_EQ(rig.backend.changes.size(), 1u) << "the next change waits for the first";
    EXPECT_GT(rig.session.backlogBytes(), 0u);

    rig.written.clear();
    rig.session.event({Event::Kind::Route, 2, 3});
    EXPECT_EQ(rig.written, "EVENT ROUTE B 3\r\n") << "events are not held back by a request";

    int drained = 0;
    rig.session.onBacklogDrained = [&] { ++drained; };
    rig.written.clear();
    rig.backend.finish();
    EXPECT_EQ(rig.written, "OK ROUTE B 3\r\nOK PONG\r\n");
    EXPECT_EQ(rig.backend.changes.size(), 2u);
    EXPECT_EQ(drained, 1);
    rig.written.clear();
    rig.backend.finish(outcomeOf(client::Status::TimeOut));
    EXPECT_EQ(rig.written, "ERR 504 Time out!\r\n");
    EXPECT_EQ(rig.session.backlogBytes(), 0u);
}

TEST(TextSession, AChangeThatEndsAfterTheSessionWentWritesNothing)
{
    HeldBackend backend;
    backend.answer.reset();
    std::string written;
    {
        Session session(backend, "text 10.1.2.3:5000", [&](const std::string& bytes) { written += bytes; });
        session.receive("ROUTE B 3\r\n");
    }
    backend.finish();
    EXPECT_EQ(written, "");
}

TEST(TextSession, AnHttpRequestAsFirstLineIsClosedWithoutActing)
{
    // What a web page can make a browser send to this port: a text/plain POST.
    SessionRig rig;
    EXPECT_FALSE(rig.session.receive("POST /x HTTP/1.1\r\nHost: 127.0.0.1:4001\r\n\r\nROUTE B 2\r\n"));
    EXPECT_STREQ(rig.session.closeReason(), "sent an HTTP request");
    EXPECT_FALSE(rig.session.receive("ROUTE B 2\r\n"));
    EXPECT_EQ(rig.written, "");
    EXPECT_TRUE(rig.backend.changes.empty());

    SessionRig later;
    EXPECT_EQ(later.say("PING\r\nGET / HTTP/1.0\r\n"), "OK PONG\r\nERR 400 unknown command\r\n")
        << "only a first line is taken for a browser";
}

TEST(TextSession, EventLinesAndNotifyOff)
{
    const std::pair<Event, std::string> events[] = {
        {{Event::Kind::Route, 2, 2}, "EVENT ROUTE B 2\r\n"},
        {{Event::Kind::Link, 0, 0, false, true}, "EVENT LINK UP\r\n"},
        {{Event::Kind::Link}, "EVENT LINK DOWN\r\n"},
        {{Event::Kind::Cable, 3, 0, true, true}, "EVENT CABLE IN 3 ON\r\n"},
        {{Event::Kind::Cable, 1, 0, false, false}, "EVENT CABLE OUT A OFF\r\n"},
        {{Event::Kind::Beep}, "EVENT BEEP OFF\r\n"},
        {{Event::Kind::Name, 2, 0, false, false, "Left TV"}, "EVENT NAME OUT B \"Left TV\"\r\n"},
        {{Event::Kind::Name, 4, 0, true, false, "PC\n\"2\""}, "EVENT NAME IN 4 \"PC \\\"2\\\"\"\r\n"},
        {{Event::Kind::Scene, 0, 0, false, true, "Lecture"}, "EVENT SCENE \"Lecture\"\r\n"},
        {{Event::Kind::Scene}, "EVENT SCENE NONE\r\n"},
    };
    SessionRig rig;
    for (const auto& [event, line] : events) {
        rig.written.clear();
        rig.session.event(event);
        EXPECT_EQ(rig.written, line);
    }
    rig.say("NOTIFY OFF\r\n");
    rig.written.clear();
    rig.session.event(events[0].first);
    EXPECT_EQ(rig.written, "");
    rig.say("NOTIFY ON\r\n");
    rig.written.clear();
    rig.session.event(events[0].first);
    EXPECT_EQ(rig.written, "EVENT ROUTE B 2\r\n");
}

}  // namespace
}  // namespace matrix::service::text
