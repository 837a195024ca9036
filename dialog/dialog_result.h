#pragma once
// The dialog result of module Generic: the parameter string that the last OK composed, one per
// thread (module-level state of the thread's apartment), empty at first. btOK_Click is its only
// writer; sa_showGUI reads it after a showing that ended with OK. (The module's field lookup
// belongs to the parameter string: parameters/generic.h.)

#include <string>

namespace Generic {

std::u16string& DialogResult();

}  // namespace Generic
