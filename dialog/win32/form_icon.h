#pragma once
// The form's icon (dialog/form_icon_image.h) as an icon handle.

#include "dialog/win32/handles.h"

namespace tavrin::dialog::win32 {

// The icon of 32 or 16 pixels; null when the window system cannot create it.
UniqueIcon CreateFormIcon(int size);

}  // namespace tavrin::dialog::win32
