#include "PFrontEnd.h"

#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "PSession.h"
#include "PSettings.h"

#include <array>

PFrontEnd *vorelServer = nullptr;

namespace {

struct LinkSlot
{
    PLink *link;
    quint8 PSettings::*enable;
};

// The five links in the one order in which both programs start, stop and name them, each beside
// its switch. A front-end made for a test may leave a field empty: that link neither starts nor
// runs.
std::array<LinkSlot, 5> linksOf(const PFrontEnd &front)
{
    return {{{front.netServer, &PSettings::networkEnable},
             {front.btServer, &PSettings::bluetoothEnable},
             {front.irdaServer, &PSettings::irdaNormalEnable},
             {front.ircommServer, &PSettings::irdaIrcommEnable},
             {front.serialServer, &PSettings::casioN60Enable}}};
}

} // namespace

PFrontEnd::PFrontEnd() = default;

PFrontEnd::~PFrontEnd()
{
    if (vorelServer == this)
        vorelServer = nullptr;
}

void PFrontEnd::createLinks(QObject *owner)
{
    netServer = new PNetServer(owner);
    btServer = new PBtServer(owner);
    irdaServer = new PIrdaServer(owner);
    ircommServer = new PIrdaServer(owner);
    ircommServer->ircomm = true;
    serialServer = new PSerialServer(owner);
}

void PFrontEnd::startLinks(const PSettings &current, const std::function<void(const PLink *)> &failed)
{
    // The port setting may have changed in the setup dialog since the last start.
    if (netServer && current.networkEnable == 1)
        netServer->port = current.networkPort;
    bool started = false;
    for (const LinkSlot &slot : linksOf(*this)) {
        if (current.*slot.enable != 1)
            continue;
        if (slot.link && slot.link->start())
            started = true;
        else if (failed)
            failed(slot.link);
    }
    if (started)
        running = true;
}

void PFrontEnd::stopLinks()
{
    for (const LinkSlot &slot : linksOf(*this)) {
        if (slot.link && slot.link->running)
            slot.link->stop();
    }
    running = false;
}

bool PFrontEnd::teardown()
{
    stopLinks();
    QList<PSession *> sessions;
    // Every link is a QObject, the parent of its sessions.
    for (const LinkSlot &slot : linksOf(*this)) {
        if (const QObject *owner = dynamic_cast<const QObject *>(slot.link))
            sessions += owner->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    }
    return PSession::endAll(sessions, true, QDeadlineTimer(PSession::kEndWaitMs));
}
