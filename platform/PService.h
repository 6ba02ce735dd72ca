#pragma once

#include "PServiceBase.h"

#include <memory>

// The service frame with its application object: built only when the service runs, and kept
// until the service object goes, so that work after exec() still has it.
template <typename Application>
class PService : public PServiceBase
{
public:
    PService(int argc, char **argv, const QString &name) : PServiceBase(argc, argv, name) {}
    ~PService() override = default;

protected:
    Application *application() const { return app.get(); }
    void createApplication(int &argc, char **argv) override { app.reset(new Application(argc, argv)); }
    int executeApplication() override { return app->exec(); }

private:
    std::unique_ptr<Application> app;
};
