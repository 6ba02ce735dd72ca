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
    if (server)
        server->startButton();
}

void VorelService::stop()
{
    if (server)
        server->stopLinks();
}
