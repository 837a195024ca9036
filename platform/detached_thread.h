#pragma once
// Work on a thread that nobody waits for.

#include <functional>

namespace tavrin::platform {

// Runs `work` on a thread of its own. On Windows the thread holds a reference on this module,
// so that the code it runs cannot be unloaded under it even when nobody waits for it any more.
// Returns false when no thread could be started.
bool RunDetached(std::function<void()> work);

}  // namespace tavrin::platform
