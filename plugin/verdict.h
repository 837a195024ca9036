#pragma once
// The output verdict: the rule that turns the command's output into UP or DOWN and the
// one-line result text (numbers are read and written by common/numbers.h).

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

}  // namespace tavrin::plugin
