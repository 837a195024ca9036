#pragma once
// Numbers in texts, the classic way: the reading of a text's leading number, the writing of a
// number, the reading of a whole text as a number and the rounding to a 16-bit integer. The
// output verdict, the check run, the dialog and the command-line tool share them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

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

// Rounds to the nearest integer, halves to even; "Overflow" outside -32768..32767.
std::int16_t RoundToInteger16(double number);

// The whole text as a number: blanks before and after are allowed, "." is the decimal
// separator, "&H"/"&O" integers are read as ReadNumber reads them. Nothing else may stand in
// the text; the empty text is no number.
std::optional<double> ParseWholeNumber(std::u16string_view text);

}  // namespace tavrin
