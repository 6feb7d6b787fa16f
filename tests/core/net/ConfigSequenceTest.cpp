// SPDX-License-Identifier: Apache-2.0
// The whole attempt as the user sees it: OK, the status popup, the main
// window's re-discovery after a success, and the popup's own time-out.
#include "core/app/Shell.h"
#include "core/app/WindowNetHost.h"
#include "core/net/Discovery.h"
#include "core/net/NetworkConfig.h"
#include "tests/core/net/NetFixture.h"

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

// The General page's part in this: Search runs discovery.
struct SearchHooks : GeneralPageHooks {
    explicit SearchHooks(Discovery& d) : discovery(d) {}
    void forceComDisconnect() override {}
    void runSearch() override
    {
        ++searches;
        discovery.search();
    }
    Discovery& discovery;
    int searches = 0;
};

struct ConfigSession : NetSeams {
    Shell shell{loop, link, popups};
    PageContext context{platform, link, popups, shell};
    WindowNetHost host{context};
    Discovery discovery{platform, host};
    NetworkConfig config{platform, host, discovery};
    SearchHooks hooks{discovery};
    SegmentMatrix matrix{{0x00, 0x1C, 0x91, 0x03, 0x40, 0x5A}, {192, 168, 0, 77}};

    ConfigSession()
    {
        shell.setGeneralHooks(&hooks);
        segment.attach(&matrix.responder);
        discovery.search();
        loop.runPending();
    }
    void okStatic()
    {
        config.open();
        config.setAutoIp(false);
        config.setAddressField(3, "50");
        config.ok();
    }
    const std::string& popupText() const { return popups.configStatus.text(); }
    // The popup shows `before` until `ms` from now, and `after` from then.
    void expectTextTurnsAfter(std::int64_t ms, const std::string& before, const std::string& after)
    {
        loop.advance(ms - 1);
        EXPECT_EQ(popupText(), before);
        loop.advance(1);
        EXPECT_EQ(popupText(), after);
    }
};

}  // namespace

TEST(ConfigSequence, AcknowledgedThenFoundAgainAtTheNewAddress)
{
    ConfigSession s;
    s.okStatic();
    s.loop.runPending();  // the popup opens, the acknowledgement arrives
    EXPECT_TRUE(s.popups.configStatus.isOpen());
    EXPECT_EQ(s.popupText(), "Matrix configuration completed successfully!");
    EXPECT_EQ(s.popups.configStatus.configAcknowledged, 1);

    s.expectTextTurnsAfter(2000, "Matrix configuration completed successfully!", "Searching Matrix IP . . .");
    EXPECT_EQ(s.hooks.searches, 0);
    s.loop.advance(499);
    EXPECT_EQ(s.hooks.searches, 0);
    // 2.5 s after the acknowledgement: the search, whose reply closes the popup.
    s.loop.advance(1);
    EXPECT_EQ(s.hooks.searches, 1);
    s.loop.runPending();
    EXPECT_FALSE(s.popups.configStatus.isOpen());
    EXPECT_EQ(s.discovery.addresses(), std::vector<std::string>{"192.168.0.50"});
    EXPECT_EQ(s.link.matrixAddress, "192.168.0.50");
    // Nothing left to fire later: the search's time-out died with the reply,
    // the popup's own with setText.
    s.loop.advance(20000);
    EXPECT_FALSE(s.popups.configStatus.isOpen());
    EXPECT_NE(s.popupText(), "Search Matrix IP failed!");
    EXPECT_EQ(s.hooks.searches, 1);
}

TEST(ConfigSequence, NoAcknowledgementEndsInConfigureFailed)
{
    ConfigSession s;
    s.matrix.responder.setAckSilent(true);
    s.okStatic();
    s.loop.runPending();
    EXPECT_TRUE(s.popups.configStatus.isOpen());
    EXPECT_EQ(s.popupText(), "Configuring . . .");
    // Our own broadcast came back and was not taken for an acknowledgement.
    EXPECT_EQ(s.popups.configStatus.configAcknowledged, 0);

    s.loop.advance(9999);
    EXPECT_NE(s.popupText(), "configure failed!");
    s.loop.advance(1);
    EXPECT_EQ(s.popupText(), "configure failed!");
    s.loop.advance(1999);
    EXPECT_TRUE(s.popups.configStatus.isOpen());
    s.loop.advance(1);
    EXPECT_FALSE(s.popups.configStatus.isOpen());
    EXPECT_EQ(s.hooks.searches, 0);
}

TEST(ConfigSequence, NoMatrixAfterTheSuccessGivesSearchFailed)
{
    ConfigSession s;
    s.okStatic();
    s.loop.runPending();
    s.matrix.responder.setSilent(true);  // e.g. it moved to another segment
    s.loop.advance(2500);
    EXPECT_EQ(s.hooks.searches, 1);
    s.expectTextTurnsAfter(5000, "Searching Matrix IP . . .", "Search Matrix IP failed!");
    s.loop.advance(500);
    EXPECT_FALSE(s.popups.configStatus.isOpen());
    EXPECT_TRUE(s.discovery.addresses().empty());
}
