#pragma once
// Module modTavrin: the entry points of the codec that the rest of the system calls. (The
// module's other members, the run's records and DebugTrace, belong to the remote command run:
// ssh/records.h.)

#include <string>
#include <string_view>

namespace modTavrin {

std::u16string EncodeText(std::u16string_view text);
// Throws tavrin::AutomationError "Invalid procedure call or argument" for a malformed group.
std::u16string DecodeText(std::u16string_view text);

}  // namespace modTavrin
