// SPDX-License-Identifier: Apache-2.0
#include "core/session/MatrixSession.h"

namespace matrix {

MatrixSession::MatrixSession(Platform& platform_)
    : platform(platform_),
      popups(platform_.loop, link),
      shell(platform_.loop, link, popups),
      context{platform_, link, popups, shell},
      general(context),
      edid(context),
      firmware(context),
      routing(context),
      netHost(context),
      discovery(platform_, netHost),
      netConfig(platform_, netHost, discovery)
{
    // The one link socket exists from the start; the first connect
    // re-creates it for the page that takes the link.
    link.linkSocket = &platform.linkSocket;
    registerPages();
    wireNetwork();
    shell.showGeneralAtStart();
}

MatrixSession::~MatrixSession()
{
    // No socket event may reach a page that is about to go.
    platform.linkSocket.recreate(nullptr);
}

void MatrixSession::registerPages()
{
    shell.registerPage(Tab::General, general);
    shell.registerPage(Tab::Edid, edid);
    shell.registerPage(Tab::FwUpgrade, firmware);
    shell.registerPage(Tab::Matrix, routing);
    shell.setGeneralHooks(&general);
}

void MatrixSession::wireNetwork()
{
    // The page empties its IP list and drops the TCP link, then discovery
    // broadcasts; each reply's address goes back into the page's list.
    general.setSearchHook([this] { discovery.search(); });
    general.setIpSelectedHook([this](int index) { discovery.selectRow(index); });
    general.setConfigHook([this] { netConfig.open(); });
    discovery.setAddressListener([this](const std::string& address) { general.addDiscoveredAddress(address); });
    discovery.setReceivedLog(&general.receivedLog());
}

}  // namespace matrix
