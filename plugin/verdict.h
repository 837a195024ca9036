#pragma once
// The output verdict: the rule that turns the command's output into UP or DOWN and the
// one-line result text (numbers are read and written by common/numbers.h).

#include "plugin/pattern.h"

#include <optional>
#include <string>
#include <string_view>

namespace tavrin::plugin {

struct Verdict {
    bool up = true;
    std::u16string text;
    friend bool operator==(const Verdict&, const Verdict&) = default;
};

// operator: "CON", "NCO", "LT", "GT" (anything else: no test); mode: "NO", "YED", "YEA".
// All four compared exactly as given. Pure: no state, no failure.
Verdict JudgeOutput(std::u16string_view output, std::u16string_view comparisonOperator,
                    std::u16string_view comparisonValue, std::u16string_view returnDataMode);

// The later rules beside them. "RC": UP when the command's exit status is the wanted one (an
// empty value wants 0; a missing status is DOWN). "RE" and "NRE": whether the compiled pattern of
// the value matches the output (an empty value: the output, UP, as for the others; a match that
// stops at a limit is DOWN for both). Any other operator is judged as above.
struct RunEnd {
    std::optional<int> exitStatus;  // as the server reported it
    int wantedStatus = 0;           // RC: the value as a number (WantedExitStatus)
    const Pattern* pattern = nullptr;  // RE, NRE: the value compiled; null for an empty value
};
Verdict JudgeOutput(std::u16string_view output, std::u16string_view comparisonOperator,
                    std::u16string_view comparisonValue, std::u16string_view returnDataMode, const RunEnd& end);

// The RC rule's value as the exit status it wants: empty is 0; nullopt when it is no whole
// number (in the int range).
std::optional<int> WantedExitStatus(std::u16string_view comparisonValue);

// Whether the operator is one of the rules that match a pattern.
bool IsPatternRule(std::u16string_view comparisonOperator);

}  // namespace tavrin::plugin
