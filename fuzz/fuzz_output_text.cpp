// The server's bytes as the check turns them into text: the output decoder, fed the bytes in
// pieces cut where the input says, for standard output and standard error at once, and the
// UTF-8 reader under it (ReadUtf8Sequence, FromUtf8, ToUtf8).
//
// Input: one byte N, then N bytes that say where the stream is cut (each as a fraction of its
// length, /256), then the stream.

#include "common/text.h"
#include "fuzz/fuzz_input.h"
#include "platform/codepage.h"
#include "ssh/output_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tavrin::Utf8Sequence;

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Whether every surrogate in the text is half of a pair.
bool SurrogatesPaired(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
            ++i;
        } else if (IsHigh(text[i]) || IsLow(text[i])) {
            return false;
        }
    }
    return true;
}

// The reader's verdict on one place of the stream, checked against what UTF-8 is. Returns
// whether a valid sequence starts there.
bool CheckSequenceAt(std::string_view bytes) {
    const Utf8Sequence step = tavrin::ReadUtf8Sequence(bytes);
    switch (step.kind) {
        case Utf8Sequence::Kind::Valid: {
            if (step.length < 1 || step.length > 4 || step.length > bytes.size()) std::abort();
            if (step.codePoint > 0x10FFFF || (step.codePoint >= 0xD800 && step.codePoint <= 0xDFFF)) std::abort();
            // The shortest form of the code point, and exactly the bytes read: no overlong forms.
            std::u16string unit;
            tavrin::AppendUtf16(step.codePoint, unit);
            if (tavrin::ToUtf8(unit) != bytes.substr(0, step.length)) std::abort();
            return true;
        }
        case Utf8Sequence::Kind::Incomplete: {
            // Only a piece that ends inside a sequence is incomplete, and some continuation
            // completes it.
            if (bytes.empty() || bytes.size() >= 4 || static_cast<unsigned char>(bytes[0]) < 0xC2) std::abort();
            bool completes = false;
            for (const char next : {'\x80', '\x8F', '\x90', '\xA0', '\xBF'}) {
                std::string longer(bytes);
                while (longer.size() < 4 && !completes) {
                    longer.push_back(next);
                    completes = tavrin::ReadUtf8Sequence(longer).kind == Utf8Sequence::Kind::Valid;
                }
            }
            if (!completes) std::abort();
            return false;
        }
        case Utf8Sequence::Kind::Invalid:
            if (step.length != 1) std::abort();
            return false;
    }
    std::abort();
}

// What the decoder must make of a whole stream: each valid sequence its code point, every
// other byte through the code page.
std::u16string Expected(std::string_view bytes, const tavrin::platform::AnsiCodePage& page) {
    std::u16string out;
    while (!bytes.empty()) {
        const Utf8Sequence step = tavrin::ReadUtf8Sequence(bytes);
        if (step.kind == Utf8Sequence::Kind::Valid) {
            tavrin::AppendUtf16(step.codePoint, out);
            bytes.remove_prefix(step.length);
        } else {
            out.push_back(page.DecodeByte(static_cast<std::uint8_t>(bytes.front())));
            bytes.remove_prefix(1);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto& page = tavrin::platform::SystemAnsiCodePage();
    const std::size_t cutCount = std::min<std::size_t>(data[0], size - 1);
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1 + cutCount, size - 1 - cutCount);
    std::vector<std::size_t> cuts{0, stream.size()};
    for (std::size_t i = 0; i < cutCount; ++i) cuts.push_back(data[1 + i] * stream.size() / 256);
    std::sort(cuts.begin(), cuts.end());

    // The reader at every place of the stream; the stream is valid UTF-8 when the sequences
    // read one after another cover it.
    bool valid = true;
    std::size_t next = 0;
    for (std::size_t at = 0; at < stream.size(); ++at) {
        const bool starts = CheckSequenceAt(stream.substr(at));
        if (at == next) {
            valid = valid && starts;
            next += starts ? tavrin::ReadUtf8Sequence(stream.substr(at)).length : 1;
        }
    }
    const std::u16string expected = Expected(stream, page);

    // Standard output in the pieces the input cuts, standard error one byte at a time, the two
    // interleaved as the channel delivers them: each decoder gives the text of its own stream.
    tavrin::ssh::OutputDecoder out(page);
    tavrin::ssh::OutputDecoder err(page);
    std::u16string outText;
    std::u16string errText;
    std::size_t errAt = 0;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        out.Feed(stream.substr(cuts[i], cuts[i + 1] - cuts[i]), outText);
        if (errAt < stream.size()) err.Feed(stream.substr(errAt++, 1), errText);
    }
    for (; errAt < stream.size(); ++errAt) err.Feed(stream.substr(errAt, 1), errText);
    out.Finish(outText);
    err.Finish(errText);
    // A decoder that has finished holds nothing back.
    std::u16string after;
    out.Finish(after);
    if (!after.empty()) std::abort();

    if (outText != expected || errText != expected) std::abort();
    if (outText.size() > stream.size()) std::abort();
    if (!SurrogatesPaired(outText)) std::abort();

    // Valid UTF-8 reads as UTF-8, the same through FromUtf8, and writes back to the same bytes.
    const std::u16string decoded = tavrin::FromUtf8(stream);
    if (decoded.size() > stream.size() || !SurrogatesPaired(decoded)) std::abort();
    if ((tavrin::ToUtf8(decoded) == stream) != valid) std::abort();
    if (valid && decoded != outText) std::abort();

    // Any text without a lone surrogate goes to UTF-8 and comes back whole.
    const std::u16string text = SplitFuzzInput(data, size, 1)[0];
    if (SurrogatesPaired(text) && tavrin::FromUtf8(tavrin::ToUtf8(text)) != text) std::abort();
    return 0;
}
