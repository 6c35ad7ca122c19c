#pragma once
// The program's pictures live in a resource file of a static library; the linker keeps
// them only when someone asks for them.

namespace orvanta {
void ensureResources();
}
