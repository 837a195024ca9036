// The debug output's sink, the same on every platform; the system's own output is in
// debug_output_win.cpp / debug_output_posix.cpp.

#include "platform/debug_output.h"

#include <utility>

namespace tavrin::platform {

void WriteSystemDebugOutput(std::u16string_view text);

namespace {
DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}
}  // namespace

void WriteDebugOutput(std::u16string_view text) {
    WriteSystemDebugOutput(text);
    if (const DebugSink& sink = Sink()) sink(text);
}

DebugSink SetDebugSink(DebugSink sink) { return std::exchange(Sink(), std::move(sink)); }

}  // namespace tavrin::platform
