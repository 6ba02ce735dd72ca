#include "PFrontEnd.h"

#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "PSession.h"

PFrontEnd *vorelServer = nullptr;

namespace {

// The Bluetooth and IrDA listeners, in the order the links start and stop.
QList<PCommonServer *> wirelessLinks(const PFrontEnd &front)
{
    return {front.btServer, front.irdaServer, front.ircommServer};
}

} // namespace

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
    for (PCommonServer *link : wirelessLinks(*this)) {
        if (link && link->running)
            link->stop();
    }
    if (serialServer && serialServer->running)
        serialServer->stop();
    running = false;
}

bool PFrontEnd::teardown()
{
    stopLinks();
    QList<PSession *> sessions;
    if (netServer)
        sessions += netServer->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    for (PCommonServer *link : wirelessLinks(*this)) {
        if (link)
            sessions += link->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    }
    if (serialServer)
        sessions += serialServer->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    return PSession::endAll(sessions, true, QDeadlineTimer(PSession::kEndWaitMs));
}
