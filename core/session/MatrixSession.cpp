#include "core/session/MatrixSession.h"

namespace matrix {

MatrixSession::MatrixSession(Platform& platform_)
    : platform(platform_),
      popups(platform_.loop, link),
      shell(platform_.loop, link, shared, popups),
      context{platform_, link, shared, popups, shell},
      general(context)
{
    // The one link socket exists from the start; the first connect
    // re-creates it for the page that takes the link.
    link.linkSocket = &platform.linkSocket;
    registerPages();
    shell.showGeneralAtStart();
}

MatrixSession::~MatrixSession()
{
    // No socket event may reach a page that is about to go.
    platform.linkSocket.recreate(nullptr);
}

void MatrixSession::registerPages()
{
    shell.registerPage(Tab::General, &general);
    shell.setGeneralHooks(&general);
}

}  // namespace matrix
