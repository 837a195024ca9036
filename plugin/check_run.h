#pragma once
// The check run: sa_docheck of the plug-in object.

#include "plugin/object_access.h"

namespace tavrin::plugin {

// Runs one check for the object and returns true for UP. The result text is stored through
// the object's own PutResult. Never throws: every failure ends as DOWN with a result text.
bool sa_docheck(ObjectAccess& object);

}  // namespace tavrin::plugin
