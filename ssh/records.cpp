#include "ssh/records.h"

#include "platform/debug_output.h"
#include "platform/per_thread.h"
#include "platform/secret.h"

namespace modTavrin {

ConnectionSettings& Settings() { return tavrin::platform::PerThread<ConnectionSettings>(); }

RunOutcome& Outcome() { return tavrin::platform::PerThread<RunOutcome>(); }

void WipePassword(ConnectionSettings& settings) noexcept {
    tavrin::platform::SecureWipe(settings.password);
    tavrin::platform::SecureWipe(settings.jumpPassword);
}

void ReleaseOutput(RunOutcome& outcome) noexcept { std::u16string().swap(outcome.collectedOutput); }

void DebugTrace(std::u16string_view text) { tavrin::platform::WriteDebugOutput(text); }

}  // namespace modTavrin
