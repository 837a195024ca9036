#include "common/base64.h"

#include <cstdint>

namespace tavrin {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

void AppendBase64(std::string_view bytes, std::string& out) {
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (n > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kBase64Alphabet[(group >> 18) & 63]);
        out.push_back(kBase64Alphabet[(group >> 12) & 63]);
        out.push_back(n > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=');
        out.push_back(n > 2 ? kBase64Alphabet[group & 63] : '=');
    }
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    AppendBase64(bytes, out);
    return out;
}

bool DecodeBase64(std::string_view text, std::string& out) {
    std::uint32_t bits = 0;
    int count = 0;
    int symbols = 0;
    int pads = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++pads;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || pads > 0) return false;
        ++symbols;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    // A lone symbol in the last group carries no whole byte; pad characters, when given, fill
    // the group exactly.
    if (symbols % 4 == 1) return false;
    if (pads > 0 && (pads > 2 || (symbols + pads) % 4 != 0)) return false;
    return true;
}

}  // namespace tavrin
