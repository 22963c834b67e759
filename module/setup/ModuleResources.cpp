#include "ModuleResources.h"

#include <QtGlobal>

// Outside any namespace, as Qt's resource macro requires.
static void RegisterVelmaroResources()
{
    Q_INIT_RESOURCE(velmaro);
}

void InitModuleResources()
{
    static const bool registered = [] {
        RegisterVelmaroResources();
        return true;
    }();
    (void)registered;
}
