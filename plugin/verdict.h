#pragma once
// The output verdict: the rule that turns the command's output into UP or DOWN and the
// one-line result text, and the reading and writing of numbers that it uses.

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

// The number that a text begins with. Blanks, tabs and line feeds are skipped wherever they
// stand; an optional sign, decimal digits with one "." and an optional exponent; "&H" / "&O"
// read a hexadecimal / octal integer (up to 16 bits as a signed 16-bit value, up to 32 bits as
// a signed 32-bit value, beyond that the low 32 bits). No number gives 0; a number beyond the
// range of a double gives the largest double of its sign, one too small for it gives 0.
double ReadNumber(std::u16string_view text);

// A double in the general form: at most 15 significant digits, no 0 before the decimal point
// of a value between -1 and 1 (".52", "-.5"), exponent form ("1E+16", "1E-05") for values of
// 15 or more integral digits or below 0.0001.
std::u16string NumberText(double number);

}  // namespace tavrin::plugin
