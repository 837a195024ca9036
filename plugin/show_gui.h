#pragma once
// sa_showGUI of the plug-in object: the dialog cycle (dialog/show_gui.h) over the object's
// properties.

#include "plugin/object_access.h"

namespace tavrin::plugin {

// Shows the object's form filled from its properties; after OK stores the new parameter
// string through the object's own put. A close stores nothing. Failures propagate as
// tavrin::AutomationError.
void sa_showGUI(ObjectAccess& object);

}  // namespace tavrin::plugin
