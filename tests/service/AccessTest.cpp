// SPDX-License-Identifier: Apache-2.0
// The access rules a request meets before anything reaches a matrix: which
// role may do what, whose token it is, which site it comes from, who the
// client is behind a proxy, and how fast it may guess.
#include "service/hub/AccessGate.h"
#include "service/hub/AddressAllowList.h"
#include "service/hub/FailureLimiter.h"
#include "service/hub/OriginPolicy.h"
#include "service/hub/Roles.h"
#include "service/hub/TokenTable.h"
#include "service/hub/TrustedProxies.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

namespace matrix::service {
namespace {

TEST(Roles, EachRoleAgainstEachOperation)
{
    // V viewer, O operator, A admin: the least role that may do it.
    const std::pair<Operation, char> cases[] = {
        {Operation::Read, 'V'},   {Operation::Events, 'V'},    {Operation::Route, 'O'},
        {Operation::Recall, 'O'}, {Operation::Beep, 'O'},      {Operation::PendingTake, 'O'},
        {Operation::Rename, 'A'}, {Operation::SceneSave, 'A'}, {Operation::SceneDelete, 'A'},
        {Operation::Edid, 'A'},   {Operation::Firmware, 'A'},  {Operation::FactoryReset, 'A'},
        {Operation::Locks, 'A'},  {Operation::Schedules, 'A'},
    };
    for (const auto& [operation, least] : cases) {
        SCOPED_TRACE(static_cast<int>(operation));
        EXPECT_EQ(allows(Role::Viewer, operation), least == 'V');
        EXPECT_EQ(allows(Role::Operator, operation), least != 'A');
        EXPECT_TRUE(allows(Role::Admin, operation));
    }
    EXPECT_EQ(parseRole("operator"), Role::Operator);
    EXPECT_FALSE(parseRole("Admin"));
    EXPECT_FALSE(parseRole(""));
}

TEST(TokenTable, FindsTheHolderOfTheWholeSecretOnly)
{
    TokenTable tokens;
    tokens.add("lobby-tablet", Role::Operator, "lobby-secret-0123456");
    tokens.add("it", Role::Admin, "it-secret-abcdefghij");
    const std::pair<std::string_view, std::string> cases[] = {
        {"lobby-secret-0123456", "lobby-tablet"},
        {"it-secret-abcdefghij", "it"},
        {"lobby-secret-012345", "-"},    // a prefix
        {"lobby-secret-01234567", "-"},  // one more
        {"LOBBY-SECRET-0123456", "-"},
        {"", "-"},
    };
    for (const auto& [secret, holder] : cases) {
        const auto found = tokens.find(secret);
        EXPECT_EQ(found ? found->name : "-", holder) << secret;
    }
    EXPECT_EQ(tokens.find("it-secret-abcdefghij")->role, Role::Admin);
    EXPECT_FALSE(TokenTable().find("anything"));
    EXPECT_EQ(bearerSecret("Bearer abc "), "abc");
    EXPECT_EQ(bearerSecret("Basic abc"), "");
}

TEST(OriginPolicy, ForeignHostsAndCrossSiteChangesAreRefused)
{
    const OriginPolicy policy("127.0.0.1", 8480, {"matrix.lan"});
    struct Case {
        const char* method;
        const char* host;
        const char* origin;
        const char* fetchSite;
        int status;
    } cases[] = {
        // Scripts and control systems: no Origin, no Sec-Fetch-Site.
        {"POST", "127.0.0.1:8480", "", "", 200},
        {"PUT", "", "", "", 200},
        {"GET", "localhost:8480", "", "", 200},
        {"PUT", "matrix.lan", "", "", 200},
        {"DELETE", "MATRIX.LAN:443", "", "", 200},
        // The page itself.
        {"POST", "127.0.0.1:8480", "http://127.0.0.1:8480", "same-origin", 200},
        {"PUT", "matrix.lan", "https://matrix.lan", "same-origin", 200},
        {"PUT", "matrix.lan:443", "https://matrix.lan", "", 200},
        // DNS rebinding: a name that is not ours, whatever the method.
        {"GET", "evil.example:8480", "", "", 421},
        {"POST", "evil.example:8480", "http://evil.example:8480", "same-origin", 421},
        {"GET", "127.0.0.1:9999", "", "", 421},
        {"GET", "10.0.0.1:8480", "", "", 421},
        {"GET", "[::1]:8480", "", "", 421},
        // Reads from another site are the browser's to withhold; changes are ours
        // to refuse.
        {"GET", "127.0.0.1:8480", "http://evil.example", "cross-site", 200},
        {"OPTIONS", "127.0.0.1:8480", "http://evil.example", "cross-site", 200},
        {"POST", "127.0.0.1:8480", "http://evil.example", "", 403},
        {"POST", "127.0.0.1:8480", "http://evil.example", "cross-site", 403},
        {"PUT", "127.0.0.1:8480", "", "same-site", 403},
        {"DELETE", "127.0.0.1:8480", "", "cross-site", 403},
        {"POST", "127.0.0.1:8480", "null", "", 403},
        {"POST", "127.0.0.1:8480", "http://127.0.0.1:8481", "", 403},
        {"POST", "127.0.0.1:8480", "http://127.0.0.1", "", 403},
        {"POST", "", "http://127.0.0.1:8480", "", 403},
        {"POST", "matrix.lan", "ftp://matrix.lan", "", 403},
    };
    for (const Case& c : cases)
        EXPECT_EQ(httpStatus(policy.check({c.method, c.host, c.origin, c.fetchSite})), c.status)
            << c.method << " Host: " << c.host << " Origin: " << c.origin << " Sec-Fetch-Site: " << c.fetchSite;

    // On every address, any of this machine's addresses may be named; still no
    // foreign name.
    const OriginPolicy wide("0.0.0.0", 8480, {});
    EXPECT_EQ(wide.check({"GET", "192.168.1.20:8480", "", ""}), OriginVerdict::Ok);
    EXPECT_EQ(wide.check({"GET", "matrix.lan:8480", "", ""}), OriginVerdict::ForeignHost);
}

TEST(AddressAllowList, EntriesAndPeers)
{
    std::string error;
    const auto list = AddressAllowList::parse({"192.168.10.0/24", "10.1.2.3"}, &error);
    ASSERT_TRUE(list) << error;
    const std::pair<const char*, bool> peers[] = {
        {"192.168.10.0", true}, {"192.168.10.255", true},  {"192.168.11.1", false}, {"10.1.2.3", true},
        {"10.1.2.4", false},    {"::ffff:10.1.2.3", true}, {"::1", false},          {"", false},
    };
    for (const auto& [peer, allowed] : peers)
        EXPECT_EQ(list->allows(std::string(peer)), allowed) << peer;
    EXPECT_TRUE(AddressAllowList().allows(std::string("203.0.113.9")));
    EXPECT_TRUE(AddressAllowList::parse({"0.0.0.0/0"})->allows(std::string("203.0.113.9")));

    for (const char* bad :
         {"192.168.10.1/24", "10.1.2.3/33", "10.1.2/8", "10.1.2.3/", "host.lan", "::1", "1.2.3.4/-1"}) {
        EXPECT_FALSE(AddressAllowList::parse({"10.0.0.1", bad}, &error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST(TrustedProxies, ClientAddressComesFromTrustedProxiesOnly)
{
    const TrustedProxies proxies(*AddressAllowList::parse({"127.0.0.1", "10.0.0.0/8"}));
    struct Case {
        const char* peer;
        const char* forwarded;
        const char* xForwardedFor;
        const char* client;
        bool viaProxy;
    } cases[] = {
        {"127.0.0.2", "", "", "127.0.0.2", false},
        {"192.168.1.5", "", "127.0.0.1", "192.168.1.5", false},  // anyone can write the header
        {"127.0.0.1", "", "192.168.1.5", "192.168.1.5", true},
        {"127.0.0.1", "", "", "127.0.0.1", true},  // through a proxy: never loopback
        {"127.0.0.1", "", "127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "", "6.6.6.6, 192.168.1.5, 10.2.3.4", "192.168.1.5", true},  // the client wrote 6.6.6.6
        {"127.0.0.1", "", "192.168.1.5:5555", "192.168.1.5", true},
        {"127.0.0.1", "for=192.168.1.7;proto=https", "192.168.1.5", "192.168.1.7", true},
        {"127.0.0.1", "for=6.6.6.6, For=\"192.168.1.7:4711\";by=10.0.0.1", "", "192.168.1.7", true},
        {"127.0.0.1", "for=\"[2001:db8::1]:80\"", "", "2001:db8::1", true},
    };
    for (const Case& c : cases) {
        const ClientAddress address = proxies.resolve(c.peer, c.forwarded, c.xForwardedFor);
        EXPECT_EQ(address.address, c.client) << c.peer << " | " << c.forwarded << " | " << c.xForwardedFor;
        EXPECT_EQ(address.viaProxy, c.viaProxy) << c.peer;
        EXPECT_EQ(address.loopback(), !c.viaProxy && std::string(c.client).rfind("127.", 0) == 0);
    }
    // With no proxy configured, the headers never count.
    EXPECT_EQ(TrustedProxies().resolve("127.0.0.1", "for=1.2.3.4", "1.2.3.4").address, "127.0.0.1");
    EXPECT_TRUE(TrustedProxies().resolve("127.0.0.1", "", "1.2.3.4").loopback());
}

TEST(FailureLimiter, MoreThanTenFailuresInAMinuteWaitUntilTheOldestIsAMinuteOld)
{
    ManualLoop loop;
    FailureLimiter limiter(loop);
    for (int i = 0; i < 10; ++i) {
        limiter.recordFailure("192.168.1.9");
        loop.advance(1000);
    }
    EXPECT_FALSE(limiter.retryAfterSeconds("192.168.1.9"));  // ten: still allowed
    limiter.recordFailure("192.168.1.9");                    // the eleventh, at 10 s
    EXPECT_EQ(limiter.retryAfterSeconds("192.168.1.9"),
              50);                                            // the first one (at 0 s) leaves at 60 s
    EXPECT_FALSE(limiter.retryAfterSeconds("192.168.1.10"));  // per address
    loop.advance(49'500);
    EXPECT_EQ(limiter.retryAfterSeconds("192.168.1.9"), 1);
    loop.advance(500);
    EXPECT_FALSE(limiter.retryAfterSeconds("192.168.1.9"));
    // Ten in the last minute now: one more failure is one too many again.
    limiter.recordFailure("192.168.1.9");
    EXPECT_EQ(limiter.retryAfterSeconds("192.168.1.9"), 1);
    loop.advance(120'000);
    EXPECT_FALSE(limiter.retryAfterSeconds("192.168.1.9"));

    // A flood from many addresses is remembered within bounds, the newest kept.
    for (std::size_t i = 0; i < FailureLimiter::kMaxAddresses + 10; ++i)
        for (int n = 0; n < 11; ++n)
            limiter.recordFailure("a" + std::to_string(i));
    EXPECT_TRUE(limiter.retryAfterSeconds("a" + std::to_string(FailureLimiter::kMaxAddresses + 9)));
}

TEST(AccessGate, TheChecksInTheirOrder)
{
    ManualLoop loop;
    HttpConfig http;
    http.serverNames = {"matrix.lan"};
    http.trustedProxies = *AddressAllowList::parse({"127.0.0.5"});
    http.tokens = {{"wall", Role::Viewer, "wall-secret-0123456"}, {"it", Role::Admin, "it-secret-0123456789"}};
    AccessGate gate(http, loop);
    const std::string wall = "Bearer wall-secret-0123456", it = "Bearer it-secret-0123456789";
    struct Case {
        const char* method;
        const char* host;
        const char* origin;
        std::string authorization;
        const char* queryToken;
        int status;
        const char* holder;
    } cases[] = {
        {"GET", "127.0.0.1:8480", "", wall, "", 200, "wall"},
        {"PUT", "matrix.lan", "http://matrix.lan", it, "", 200, "it"},
        {"GET", "127.0.0.1:8480", "", "", "wall-secret-0123456", 200, "wall"},
        {"GET", "evil.example:8480", "", it, "", 421, ""},  // a good token does not help
        {"POST", "127.0.0.1:8480", "http://evil.example", it, "", 403, ""},
        {"GET", "127.0.0.1:8480", "", "", "", 401, ""},  // tokens configured: loopback needs one too
        {"GET", "127.0.0.1:8480", "", "Bearer it-secret-012345678", "", 401, ""},
        {"GET", "127.0.0.1:8480", "", "Basic it-secret-0123456789", "", 401, ""},
    };
    for (const Case& c : cases) {
        const AccessDecision d =
            gate.admit({c.method, c.host, c.origin, "", c.authorization, c.queryToken, "127.0.0.1", "", ""});
        EXPECT_EQ(d.status, c.status) << c.method << " " << c.host << " " << c.authorization;
        EXPECT_EQ(d.holder && d.status == 200 ? d.holder->name : "", c.holder);
        EXPECT_EQ(d.error.empty(), c.status == 200) << d.error;
    }
    const AccessDecision viewer = gate.admit({"PUT", "", "", "", wall, "", "127.0.0.1", "", ""});
    EXPECT_TRUE(AccessGate::allowed(viewer, Operation::Read));
    EXPECT_FALSE(AccessGate::allowed(viewer, Operation::Route));

    // Guessing, counted per client: behind the proxy that is the forwarded address.
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(gate.admit({"GET", "", "", "", "Bearer guess", "", "127.0.0.5", "", "192.168.1.66"}).status, 401);
    const AccessDecision blocked = gate.admit({"GET", "", "", "", it, "", "127.0.0.5", "", "192.168.1.66"});
    EXPECT_EQ(blocked.status, 429);
    EXPECT_EQ(blocked.retryAfterSeconds, 60);
    EXPECT_EQ(blocked.client.address, "192.168.1.66");
    EXPECT_EQ(gate.admit({"GET", "", "", "", it, "", "127.0.0.5", "", "192.168.1.67"}).status, 200);
    loop.advance(60'000);
    EXPECT_EQ(gate.admit({"GET", "", "", "", it, "", "127.0.0.5", "", "192.168.1.66"}).status, 200);
}

TEST(AccessGate, WithoutTokensOnlyADirectLoopbackClientIsLetIn)
{
    ManualLoop loop;
    HttpConfig http;
    http.trustedProxies = *AddressAllowList::parse({"127.0.0.5"});
    AccessGate gate(http, loop);
    const AccessDecision direct = gate.admit({"PUT", "127.0.0.1:8480", "", "", "", "", "127.0.0.9", "", ""});
    EXPECT_EQ(direct.status, 200);
    EXPECT_EQ(direct.holder->name, "loopback");
    EXPECT_TRUE(AccessGate::allowed(direct, Operation::FactoryReset));
    EXPECT_EQ(gate.admit({"PUT", "127.0.0.1:8480", "", "", "", "", "127.0.0.5", "", ""}).status, 401);
    EXPECT_EQ(gate.admit({"PUT", "127.0.0.1:8480", "", "", "", "", "127.0.0.5", "", "127.0.0.1"}).status, 401);
}

}  // namespace
}  // namespace matrix::service
