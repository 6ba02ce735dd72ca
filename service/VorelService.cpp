#include "VorelService.h"

#include "VorelServer.h"

VorelService::VorelService(int argc, char **argv)
    : PService<QCoreApplication>(argc, argv, QStringLiteral("Vorel service"))
{
    setServiceDescription(QStringLiteral("Vorel service."));
    setServiceFlags(PServiceBase::Default);
}

VorelService::~VorelService() = default;

void VorelService::start()
{
    server = dynamic_cast<VorelServer *>(vorelServer);
    if (!server)
        return;
    // Under systemd the journal shows standard error: the one trace of a link that did not start.
    server->report = [this](const QString &text) { logMessage(text, Error); };
    server->startButton();
}

void VorelService::stop()
{
    if (server)
        server->stopLinks();
}
