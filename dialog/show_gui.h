#pragma once
// The dialog cycle: sa_showGUI of the plug-in object.

#include "plugin/object_access.h"

namespace tavrin::dialog {

// Fills the object's form from its properties, shows it modally and, after OK, stores the
// new parameter string through the object's PutParameter: OK's fixed layout followed by the
// fields of the opened string that the dialog does not edit. Failures propagate as
// tavrin::AutomationError.
void sa_showGUI(plugin::ObjectAccess& object);

}  // namespace tavrin::dialog
