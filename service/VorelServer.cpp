#include "VorelServer.h"

#include "Helpers.h"
#include "PSettings.h"

VorelServer::VorelServer(QObject *parent)
    : QObject(parent)
{
    vorelServer = this;
    createLinks(this);
}

VorelServer::~VorelServer() = default;

// The desktop program's texts for the same failures; the service loads no translation.
QString VorelServer::startFailure(Link link, const PSettings &current)
{
    switch (link) {
    case Link::Network:
        return QStringLiteral("Unable to start the network server on port %1").arg(numberToString(current.networkPort));
    case Link::Bluetooth:
        return QStringLiteral("Unable to start the bluetooth server");
    case Link::IrdaNormal:
        return QStringLiteral("Unable to start the irda server");
    case Link::IrdaIrcomm:
        return QStringLiteral("Unable to start the irda ircomm server");
    case Link::Cradle:
        return QStringLiteral("Unable to start the serial server");
    }
    return QString();
}

void VorelServer::startButton()
{
    const PSettings current = settings.snapshot();
    startLinks(current, [this, &current](Link link) {
        if (report)
            report(startFailure(link, current));
    });
}

void VorelServer::stopButton()
{
    stopLinks();
}
