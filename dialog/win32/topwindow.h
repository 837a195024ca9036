#pragma once
// Module topwindow: the topmost band of the window system.

#include <windows.h>

namespace tavrin::dialog::topwindow {

// Puts the window into the topmost band (true) or takes it out of it (false), without moving
// or resizing it. The result of the call is ignored.
void SetTopWindow(HWND window, bool topmost);

}  // namespace tavrin::dialog::topwindow
