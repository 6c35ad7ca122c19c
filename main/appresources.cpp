#include "main/appresources.h"

#include <QtGlobal>

static void initOrvantaResources() { Q_INIT_RESOURCE(resources); }

namespace orvanta {
void ensureResources()
{
    static const bool done = (initOrvantaResources(), true);
    Q_UNUSED(done);
}
} // namespace orvanta
