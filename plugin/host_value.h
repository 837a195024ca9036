#pragma once
// Values that a host hands over, and the classic automation conversions of them, for the hosts
// that are not COM (the command-line host, the tests). The COM object converts its VARIANTs
// with the platform's own conversions instead.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tavrin::plugin {

struct EmptyValue {
    friend bool operator==(EmptyValue, EmptyValue) = default;
};
struct NullValue {
    friend bool operator==(NullValue, NullValue) = default;
};

using HostValue = std::variant<EmptyValue, NullValue, bool, std::int16_t, std::int32_t, double, std::u16string>;

// To a 16-bit integer: empty gives 0, a Boolean -1 or 0, a number is rounded (halves to even),
// a text must hold a whole number ("Type mismatch" otherwise); Null is "Invalid use of Null";
// out of range is "Overflow".
std::int16_t ToInteger16(const HostValue& value);

// To text: empty gives the empty text, a Boolean "True"/"False", numbers in the general form
// with a leading 0 ("0.52"); Null is "Invalid use of Null".
std::u16string ToText(const HostValue& value);

}  // namespace tavrin::plugin
