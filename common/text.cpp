#include "common/text.h"

#include <cstdint>

namespace tavrin {

namespace {

// The length of the sequence that a lead byte starts, 0 when the byte leads none.
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Whether `second` may follow `lead` (rules out overlong forms, surrogates, > U+10FFFF).
bool SecondByteFits(unsigned char lead, unsigned char second) {
    if ((second & 0xC0) != 0x80) return false;
    switch (lead) {
        case 0xE0: return second >= 0xA0;
        case 0xED: return second <= 0x9F;
        case 0xF0: return second >= 0x90;
        case 0xF4: return second <= 0x8F;
        default: return true;
    }
}

}  // namespace

Utf8Sequence ReadUtf8Sequence(std::string_view bytes) {
    using Kind = Utf8Sequence::Kind;
    if (bytes.empty()) return {Kind::Incomplete, 0, 0};
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return {Kind::Valid, lead, 1};
    const std::size_t length = SequenceLength(lead);
    if (length == 0) return {Kind::Invalid, 0, 1};
    std::size_t k = 1;
    for (; k < length && k < bytes.size(); ++k) {
        const unsigned char next = at(k);
        if (k == 1 ? !SecondByteFits(lead, next) : (next & 0xC0) != 0x80) return {Kind::Invalid, 0, 1};
    }
    if (k < length) return {Kind::Incomplete, 0, 1};
    char32_t cp = lead & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
    for (std::size_t j = 1; j < length; ++j) cp = (cp << 6) | (at(j) & 0x3Fu);
    return {Kind::Valid, cp, length};
}

void AppendUtf16(char32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

std::u16string FromUtf8(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    while (!in.empty()) {
        const Utf8Sequence step = ReadUtf8Sequence(in);
        if (step.kind == Utf8Sequence::Kind::Valid) {
            AppendUtf16(step.codePoint, out);
            in.remove_prefix(step.length);
        } else {
            out.push_back(u'\uFFFD');
            in.remove_prefix(1);
        }
    }
    return out;
}

namespace {

// The code point that starts at `i` (a surrogate pair taken as one; a lone surrogate as it is),
// and how many units it takes.
char32_t CodePointAt(std::u16string_view in, std::size_t i, std::size_t& units) {
    const char32_t unit = in[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
        units = 2;
        return 0x10000 + ((unit - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
    }
    units = 1;
    return unit;
}

std::size_t EncodedLength(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

}  // namespace

std::size_t Utf8Length(std::u16string_view in) {
    std::size_t length = 0;
    for (std::size_t i = 0, units = 1; i < in.size(); i += units) length += EncodedLength(CodePointAt(in, i, units));
    return length;
}

char* WriteUtf8(std::u16string_view in, char* out) {
    const auto put = [&out](std::uint32_t byte) { *out++ = static_cast<char>(byte); };
    for (std::size_t i = 0, units = 1; i < in.size(); i += units) {
        const std::uint32_t cp = CodePointAt(in, i, units);
        switch (EncodedLength(cp)) {
        case 1:
            put(cp);
            break;
        case 2:
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
            break;
        case 3:
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
            break;
        default:
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
            break;
        }
    }
    return out;
}

// Sized before it is written, so that the text is never copied while it grows.
std::string ToUtf8(std::u16string_view in) {
    std::string out(Utf8Length(in), '\0');
    WriteUtf8(in, out.data());
    return out;
}

std::u16string TrimBlanks(std::u16string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == u' ') ++b;
    while (e > b && text[e - 1] == u' ') --e;
    return std::u16string(text.substr(b, e - b));
}

}  // namespace tavrin
