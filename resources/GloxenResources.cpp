#include "GloxenResources.h"

#include <QtGlobal>

void InitGloxenResources() {
    // Referencing the registration function keeps the linker from dropping
    // the resource data out of the static library.
    Q_INIT_RESOURCE(gloxen);
}
