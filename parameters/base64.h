#pragma once
// Module base64: the codec of the password and command fields.
//
// The encoder writes RFC 4648 Base64 (common/base64.h: standard alphabet, "=" pad, no line
// breaks) of the bytes that the text's characters have in the ANSI code page, one byte per
// character. The decoder
// reads that back and is lenient: missing pad characters, foreign characters (they count as 0
// and take their place in a group) and leftover bits are accepted; a pad character inside a
// group ends that group's output. A group that begins with "=" is an invalid argument.

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::platform {
class AnsiCodePage;
}

namespace base64 {

// "=" followed by the 64 symbols in the order of their values.
inline constexpr std::u16string_view kSymbolTable =
    u"=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// value -> symbol: the symbol of a 6-bit value (-1 gives "=").
std::u16string Base64Symbol(std::int32_t value);
// symbol -> value: the value of the text's first character; "=", foreign characters and the
// empty text give 0.
std::int32_t Base64Symbol(std::u16string_view symbol);

std::u16string Base64Encode(std::u16string_view text);
std::u16string Base64Encode(std::u16string_view text, const tavrin::platform::AnsiCodePage& codePage);
// Throws tavrin::AutomationError "Invalid procedure call or argument" for a group that begins
// with "=".
std::u16string Base64Decode(std::u16string_view text);
std::u16string Base64Decode(std::u16string_view text, const tavrin::platform::AnsiCodePage& codePage);

}  // namespace base64
