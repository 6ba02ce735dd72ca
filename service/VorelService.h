#pragma once

#include "PService.h"

#include <QCoreApplication>

class VorelServer;

// The service: its start starts the enabled links of the controller, its stop stops them.
class VorelService : public PService<QCoreApplication>
{
public:
    VorelService(int argc, char **argv);
    ~VorelService() override;

protected:
    void start() override;
    void stop() override;

private:
    VorelServer *server = nullptr;
};
