#include "PFrontEnd.h"

#include "Helpers.h"
#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "PSession.h"
#include "PSettings.h"

#include <QCoreApplication>

PFrontEnd *vorelServer = nullptr;

namespace {

// Every link is reached through its front-end field, which a front-end made for a test may leave
// empty: an empty field neither starts nor runs.
template <typename Server, Server *PFrontEnd::*field>
struct Via
{
    static bool start(PFrontEnd &front, const PSettings &)
    {
        Server *server = front.*field;
        return server && server->start();
    }
    static void stop(PFrontEnd &front)
    {
        Server *server = front.*field;
        if (server && server->running)
            server->stop();
    }
    static bool running(const PFrontEnd &front)
    {
        const Server *server = front.*field;
        return server && server->running;
    }
    // The owner of the link's sessions, or null.
    static QObject *owner(const PFrontEnd &front) { return front.*field; }
};

// The port setting may have changed in the setup dialog since the last start.
bool startNetwork(PFrontEnd &front, const PSettings &current)
{
    if (!front.netServer)
        return false;
    front.netServer->port = current.networkPort;
    return front.netServer->start();
}

struct LinkRow
{
    PFrontEnd::Link link;
    quint8 PSettings::*enable;
    bool (*start)(PFrontEnd &, const PSettings &);
    void (*stop)(PFrontEnd &);
    bool (*running)(const PFrontEnd &);
    QObject *(*owner)(const PFrontEnd &);
};

using NetVia = Via<PNetServer, &PFrontEnd::netServer>;
using BtVia = Via<PBtServer, &PFrontEnd::btServer>;
using IrdaVia = Via<PIrdaServer, &PFrontEnd::irdaServer>;
using IrcommVia = Via<PIrdaServer, &PFrontEnd::ircommServer>;
using SerialVia = Via<PSerialServer, &PFrontEnd::serialServer>;

// The one wiring of the links, in the order of PFrontEnd::Link.
constexpr LinkRow kLinkTable[] = {
    {PFrontEnd::Link::Network, &PSettings::networkEnable, startNetwork, NetVia::stop, NetVia::running,
     NetVia::owner},
    {PFrontEnd::Link::Bluetooth, &PSettings::bluetoothEnable, BtVia::start, BtVia::stop, BtVia::running,
     BtVia::owner},
    {PFrontEnd::Link::IrdaNormal, &PSettings::irdaNormalEnable, IrdaVia::start, IrdaVia::stop, IrdaVia::running,
     IrdaVia::owner},
    {PFrontEnd::Link::IrdaIrcomm, &PSettings::irdaIrcommEnable, IrcommVia::start, IrcommVia::stop,
     IrcommVia::running, IrcommVia::owner},
    {PFrontEnd::Link::Cradle, &PSettings::casioN60Enable, SerialVia::start, SerialVia::stop, SerialVia::running,
     SerialVia::owner},
};

constexpr bool inLinkOrder()
{
    int i = 0;
    for (const LinkRow &row : kLinkTable) {
        if (row.link != PFrontEnd::Link(i++))
            return false;
    }
    return i == int(PFrontEnd::Link::Cradle) + 1;
}
// rowOf() finds a link's row by its number.
static_assert(inLinkOrder(), "one row per link, in the links' order");

const LinkRow &rowOf(PFrontEnd::Link link)
{
    return kLinkTable[int(link)];
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

bool PFrontEnd::startLinks(const PSettings &current, const std::function<void(Link)> &failed)
{
    bool started = false;
    for (const LinkRow &row : kLinkTable) {
        if (current.*row.enable != 1)
            continue;
        if (row.start(*this, current))
            started = true;
        else if (failed)
            failed(row.link);
    }
    if (started)
        running = true;
    return started;
}

void PFrontEnd::stopLinks()
{
    for (const LinkRow &row : kLinkTable)
        row.stop(*this);
    running = false;
}

// In the desktop window's context, where the translations have them; the service installs no
// translation and reports them in English.
QString PFrontEnd::startFailure(Link link, const PSettings &current)
{
    switch (link) {
    case Link::Network:
        return QCoreApplication::translate("VorelServer", "Unable to start the network server on port %1")
            .arg(numberToString(current.networkPort));
    case Link::Bluetooth:
        return QCoreApplication::translate("VorelServer", "Unable to start the bluetooth server");
    case Link::IrdaNormal:
        return QCoreApplication::translate("VorelServer", "Unable to start the irda server");
    case Link::IrdaIrcomm:
        return QCoreApplication::translate("VorelServer", "Unable to start the irda ircomm server");
    case Link::Cradle:
        return QCoreApplication::translate("VorelServer", "Unable to start the serial server");
    }
    return QString();
}

bool PFrontEnd::linkRunning(Link link) const
{
    return rowOf(link).running(*this);
}

bool PFrontEnd::teardown()
{
    stopLinks();
    QList<PSession *> sessions;
    for (const LinkRow &row : kLinkTable) {
        if (QObject *owner = row.owner(*this))
            sessions += owner->findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
    }
    return PSession::endAll(sessions, true, QDeadlineTimer(PSession::kEndWaitMs));
}
