#pragma once
#include "server/classdecl.h"

namespace server {

// The server's own classes: VR.Windows (Xecute), VR.XW (list reads), Varelo.Batch (run
// records) and the routine %XTT.
void registerBuiltinClasses(ClassRegistry &registry);

} // namespace server
