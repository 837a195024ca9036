// Debug output on Linux: there is no system debug output; texts reach only the installed sink.

#include <string_view>

namespace tavrin::platform {

void WriteSystemDebugOutput(std::u16string_view) {}

}  // namespace tavrin::platform
