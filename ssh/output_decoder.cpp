#include "ssh/output_decoder.h"

#include "common/text.h"

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
    while (!bytes.empty()) {
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
