// Debug output on Linux: there is no system debug output, so texts go to the installed sink.

#include "platform/debug_output.h"

#include <utility>

namespace tavrin::platform {

namespace {
DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}
}  // namespace

void WriteDebugOutput(std::u16string_view text) {
    if (const DebugSink& sink = Sink()) sink(text);
}

DebugSink SetDebugSink(DebugSink sink) { return std::exchange(Sink(), std::move(sink)); }

}  // namespace tavrin::platform
