#pragma once
// For the Windows files of this layer only: UTF-16 texts as the wide-character APIs take them,
// and the system's text for an error number.

#include <windows.h>

#include <string>
#include <string_view>

namespace tavrin::platform::win32 {

// wchar_t is UTF-16 on Windows: the units carry over as they are.
inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string Utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

// FormatMessage's text for a system, socket or COM error number, without its line end and final
// full stop; `whenNone` (or "error N" when that is empty) when the system has none.
std::u16string SystemErrorText(DWORD error, std::u16string_view whenNone = {});

}  // namespace tavrin::platform::win32
