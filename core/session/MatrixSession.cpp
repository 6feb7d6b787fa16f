// SPDX-License-Identifier: Apache-2.0
#include "core/session/MatrixSession.h"

namespace matrix {

MatrixSession::MatrixSession(Platform& platform_)
    : platform(platform_),
      link(platform_),
      popups(platform_.loop),
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
    shell.registerPage(Tab::General, general);
    shell.registerPage(Tab::Edid, edid);
    shell.registerPage(Tab::FwUpgrade, firmware);
    shell.registerPage(Tab::Matrix, routing);
    shell.setGeneralHooks(&general);

    // The page empties its IP list and drops the TCP link, then discovery
    // broadcasts; each reply's address goes back into the page's list.
    general.setSearchHook([this] { discovery.search(); });
    general.setIpSelectedHook([this](int index) { discovery.selectRow(index); });
    general.setConfigHook([this] { netConfig.open(); });
    discovery.setAddressListener([this](const std::string& address) { general.addDiscoveredAddress(address); });
    discovery.setReceivedLog(&general.receivedLog());
    shell.showGeneralAtStart();
}

}  // namespace matrix
