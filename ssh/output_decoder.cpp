#include "ssh/output_decoder.h"

#include "common/text.h"

#include <algorithm>
#include <cstddef>

namespace tavrin::ssh {

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
    // Each byte gives at most one unit: one allocation for the whole piece.
    out.reserve(out.size() + bytes.size());
    while (!bytes.empty()) {
        // Most output is ASCII: a run of it is widened as a block rather than sequence by
        // sequence.
        const auto notAscii = std::find_if(bytes.begin(), bytes.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80;
        });
        const auto run = static_cast<std::size_t>(notAscii - bytes.begin());
        if (run > 0) {
            const std::size_t at = out.size();
            out.resize(at + run);
            std::transform(bytes.begin(), notAscii, out.begin() + static_cast<std::ptrdiff_t>(at),
                           [](char c) { return static_cast<char16_t>(c); });
            bytes.remove_prefix(run);
            continue;
        }
        const Utf8Sequence step = ReadUtf8Sequence(bytes);
        if (step.kind == Utf8Sequence::Kind::Valid) {
            AppendUtf16(step.codePoint, out);
            bytes.remove_prefix(step.length);
            continue;
        }
        if (step.kind == Utf8Sequence::Kind::Incomplete && !final) {
            // The piece ends inside a sequence that is valid so far.
            held_.assign(bytes);
            return;
        }
        out.push_back(ansi_->DecodeByte(static_cast<unsigned char>(bytes.front())));
        bytes.remove_prefix(1);
    }
}

}  // namespace tavrin::ssh
