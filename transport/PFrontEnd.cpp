#include "PFrontEnd.h"

#include "PNetServer.h"
#include "PSerialServer.h"
#include "PSession.h"

PFrontEnd *vorelServer = nullptr;

PFrontEnd::PFrontEnd() = default;

PFrontEnd::~PFrontEnd()
{
    if (vorelServer == this)
        vorelServer = nullptr;
}

void PFrontEnd::stopLinks()
{
    if (netServer && netServer->running)
        netServer->stop();
    if (serialServer && serialServer->running)
        serialServer->stop();
    running = false;
}

void PFrontEnd::teardown()
{
    stopLinks();
    QList<PSession *> sessions;
    if (netServer)
        sessions += netServer->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    if (serialServer)
        sessions += serialServer->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    PSession::endAll(sessions, true);
}
