// Debug output on Windows: OutputDebugStringA of the text in the ANSI code page, in one call.

#include "platform/codepage.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace tavrin::platform {

void WriteSystemDebugOutput(std::u16string_view text) {
    const std::string ansi = SystemAnsiCodePage().Encode(text);
    OutputDebugStringA(ansi.c_str());
}

}  // namespace tavrin::platform
