#pragma once
// The operating system's debug output, one text per call, nothing added.
// Windows: OutputDebugStringA of the text in the ANSI code page.
// Linux: there is no system debug output; texts go to the sink that the program installed
// (the command-line host sends them to standard error), or nowhere.
// On both, an extra sink may be installed (tests capture traces through it).

#include <functional>
#include <string>
#include <string_view>

namespace tavrin::platform {

using DebugSink = std::function<void(std::u16string_view text)>;

void WriteDebugOutput(std::u16string_view text);

// Installs a sink that receives every text as well; returns the one it replaces.
// Not thread-safe against concurrent writes: set it up before checks start.
DebugSink SetDebugSink(DebugSink sink);

}  // namespace tavrin::platform
