#include "ssh/records.h"

#include "platform/debug_output.h"
#include "platform/per_thread.h"

namespace modTavrin {

ConnectionSettings& Settings() { return tavrin::platform::PerThread<ConnectionSettings>(); }

RunOutcome& Outcome() { return tavrin::platform::PerThread<RunOutcome>(); }

void DebugTrace(std::u16string_view text) { tavrin::platform::WriteDebugOutput(text); }

}  // namespace modTavrin
