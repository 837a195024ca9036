// Debug output on Windows: OutputDebugStringA of the text in the ANSI code page, in one call,
// and the installed sink, if any.

#include "platform/debug_output.h"

#include "platform/codepage.h"

#include <windows.h>

#include <utility>

namespace tavrin::platform {

namespace {
DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}
}  // namespace

void WriteDebugOutput(std::u16string_view text) {
    const std::string ansi = SystemAnsiCodePage().Encode(text);
    OutputDebugStringA(ansi.c_str());
    if (const DebugSink& sink = Sink()) sink(text);
}

DebugSink SetDebugSink(DebugSink sink) { return std::exchange(Sink(), std::move(sink)); }

}  // namespace tavrin::platform
