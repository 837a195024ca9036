#pragma once
// Threshold ranges as monitoring engines give them to a plug-in (-w / -c), the number a
// command's output begins with, and performance data numbers.
//
//   10      alert outside 0..10          10:     alert below 10
//   ~:10    alert above 10               10:20   alert outside 10..20
//   @10:20  alert inside 10..20 (the ends included)
// A start left empty before ":" is 0; "~" is minus infinity; an end left empty is infinity.

#include <optional>
#include <string>
#include <string_view>

namespace tavrin::tools {

struct Range {
    std::optional<double> start;  // absent: minus infinity
    std::optional<double> end;    // absent: infinity
    bool alertInside = false;     // "@"
    friend bool operator==(const Range&, const Range&) = default;
};

// The range in a text; nullopt when the text is no range: empty, a number the way
// ParseWholeNumber reads one missing or malformed, more than one ":", or a start above the end.
std::optional<Range> ParseRange(std::u16string_view text);

// Whether a value raises the range's alert.
bool Alerts(const Range& range, double value);

// The number that the output begins with, as ReadNumber reads it; nullopt when the output
// (after the blanks, tabs and line feeds that ReadNumber skips) begins with no number at all,
// for which ReadNumber gives 0.
std::optional<double> LeadingNumber(std::u16string_view output);

// A number for performance data: plain decimal digits, "-" and ".", no exponent, the shortest
// that reads back as the same double ("0.5", "-12", "100000000000000000000").
std::u16string PerfdataNumber(double value);

}  // namespace tavrin::tools
