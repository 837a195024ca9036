#include "ssh/output_decoder.h"

#include <cstdint>

namespace tavrin::ssh {

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

void AppendCodePoint(std::uint32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

}  // namespace

void OutputDecoder::Feed(std::string_view bytes, std::u16string& out) {
    if (held_.empty()) {
        DecodeAll(bytes, false, out);
        return;
    }
    std::string joined;
    joined.swap(held_);
    joined.append(bytes);
    DecodeAll(joined, false, out);
}

void OutputDecoder::Finish(std::u16string& out) {
    std::string rest;
    rest.swap(held_);
    DecodeAll(rest, true, out);
}

void OutputDecoder::DecodeAll(std::string_view bytes, bool final, std::u16string& out) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = at(i);
        if (lead < 0x80) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        const std::size_t length = SequenceLength(lead);
        bool valid = length != 0;
        std::size_t k = 1;
        for (; valid && k < length && i + k < bytes.size(); ++k) {
            const unsigned char next = at(i + k);
            valid = k == 1 ? SecondByteFits(lead, next) : (next & 0xC0) == 0x80;
        }
        if (valid && k < length) {
            // The piece ends inside a sequence that is valid so far.
            if (!final) {
                held_.assign(bytes.substr(i));
                return;
            }
            valid = false;
        }
        if (!valid) {
            out.push_back(ansi_->DecodeByte(lead));
            ++i;
            continue;
        }
        std::uint32_t cp = lead & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
        for (std::size_t j = 1; j < length; ++j) cp = (cp << 6) | (at(i + j) & 0x3Fu);
        AppendCodePoint(cp, out);
        i += length;
    }
}

}  // namespace tavrin::ssh
