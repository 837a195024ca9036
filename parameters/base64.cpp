#include "parameters/base64.h"

#include "common/automation_error.h"
#include "common/base64.h"
#include "platform/codepage.h"
#include "platform/secret.h"

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
    // One byte per character in the code page, then the bytes' Base64. The text may be a
    // password: both steps are overwritten before their memory is given back.
    std::string bytes;
    std::string encoded;
    const struct Wiped {
        std::string& bytes;
        std::string& encoded;
        ~Wiped() {
            tavrin::platform::SecureWipe(bytes);
            tavrin::platform::SecureWipe(encoded);
        }
    } wiped{bytes, encoded};
    bytes.reserve(text.size());
    for (const char16_t c : text) bytes.push_back(static_cast<char>(codePage.EncodeChar(c)));
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    tavrin::AppendBase64(bytes, encoded);
    return std::u16string(encoded.begin(), encoded.end());
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
