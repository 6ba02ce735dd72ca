#include "DesktopResources.h"

#include <QtGlobal>

void initDesktopResources()
{
    Q_INIT_RESOURCE(VorelServer);
}
