#include "parameters/base64.h"

#include "common/automation_error.h"
#include "platform/codepage.h"

namespace base64 {

namespace {
// value * 2^n and value div 2^n (remainder dropped), the codec's only shifts.
constexpr std::int32_t ShiftLeft(std::int32_t value, int n) { return value * (1 << n); }
constexpr std::int32_t ShiftRight(std::int32_t value, int n) { return value / (1 << n); }

constexpr std::size_t kPadPosition = 0;  // "=" stands first in the table
}  // namespace

std::u16string Base64Symbol(std::int32_t value) {
    if (value < -1 || value > 63) throw tavrin::errors::InvalidProcedureCall();
    return std::u16string(1, kSymbolTable[static_cast<std::size_t>(value + 1)]);
}

std::int32_t Base64Symbol(std::u16string_view symbol) {
    if (symbol.empty()) return 0;
    const std::size_t at = kSymbolTable.find(symbol.front());
    if (at == std::u16string_view::npos || at == kPadPosition) return 0;
    return static_cast<std::int32_t>(at) - 1;
}

std::u16string Base64Encode(std::u16string_view text) {
    return Base64Encode(text, tavrin::platform::SystemAnsiCodePage());
}

std::u16string Base64Encode(std::u16string_view text, const tavrin::platform::AnsiCodePage& codePage) {
    std::u16string out;
    out.reserve((text.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < text.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, text.size() - i);
        const std::int32_t b1 = codePage.EncodeChar(text[i]);
        const std::int32_t b2 = n > 1 ? codePage.EncodeChar(text[i + 1]) : 0;
        const std::int32_t b3 = n > 2 ? codePage.EncodeChar(text[i + 2]) : 0;
        const std::int32_t s1 = ShiftRight(b1, 2);
        const std::int32_t s2 = (ShiftLeft(b1, 4) & 48) | ShiftRight(b2, 4);
        const std::int32_t s3 = n > 1 ? ((ShiftLeft(b2, 2) & 60) | ShiftRight(b3, 6)) : -1;
        const std::int32_t s4 = n > 2 ? (b3 & 63) : -1;
        for (const std::int32_t s : {s1, s2, s3, s4}) out += kSymbolTable[static_cast<std::size_t>(s + 1)];
    }
    return out;
}

std::u16string Base64Decode(std::u16string_view text) {
    return Base64Decode(text, tavrin::platform::SystemAnsiCodePage());
}

std::u16string Base64Decode(std::u16string_view text, const tavrin::platform::AnsiCodePage& codePage) {
    std::u16string out;
    out.reserve(text.size() / 4 * 3 + 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        char16_t group[4];
        for (std::size_t k = 0; k < 4; ++k) group[k] = i + k < text.size() ? text[i + k] : u'=';
        std::size_t yield = 3;
        for (std::size_t k = 0; k < 4; ++k) {
            if (group[k] == u'=') {
                if (k == 0) throw tavrin::errors::InvalidProcedureCall();
                yield = k - 1;
                break;
            }
        }
        std::int32_t d[4];
        for (std::size_t k = 0; k < 4; ++k) d[k] = Base64Symbol(std::u16string_view(&group[k], 1));
        const std::int32_t c[3] = {
            (ShiftLeft(d[0], 2) | ShiftRight(d[1], 4)) & 255,
            (ShiftLeft(d[1], 4) | ShiftRight(d[2], 2)) & 255,
            (ShiftLeft(d[2], 6) | d[3]) & 255,
        };
        for (std::size_t k = 0; k < yield; ++k) out += codePage.DecodeByte(static_cast<std::uint8_t>(c[k]));
    }
    return out;
}

}  // namespace base64
