// Registers the resources compiled into the GUI library.
#include "resources/resourceinit.h"

#include <QtGlobal>

void initPixhoundResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}
