#include "dialog/win32/topwindow.h"

namespace tavrin::dialog::topwindow {

void SetTopWindow(HWND window, bool topmost) {
    static_assert((SWP_NOMOVE | SWP_NOSIZE) == 3);
    SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace tavrin::dialog::topwindow
