// The parameter string as tavrin-check reads it from a file or standard input
// (ParameterFromBytes over the file's bytes, as ReadWholeFile gives them), and the REUSE
// field's seconds (ReuseSeconds) of what it read and of the raw text.

#include "common/text.h"
#include "parameters/fields.h"
#include "platform/files.h"
#include "tools/cli.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using tavrin::parameters::ReuseSeconds;
using tavrin::tools::ParameterFromBytes;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// A file in memory-backed storage for this process, removed when it ends.
struct ScratchFile {
    std::string path = "/dev/shm/tavrin-fuzz-parameter-" + std::to_string(::getpid());
    ~ScratchFile() { std::remove(path.c_str()); }
    std::u16string Write(std::string_view bytes) const {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) std::abort();
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (std::fclose(file) != 0 || !written) std::abort();
        return tavrin::FromUtf8(path);
    }
};

// A bastion is taken only as user@host[:port] with a port in range, and what it is made of
// comes from the text: written back, it reads the same.
void CheckJump(std::u16string_view text) {
    const tavrin::parameters::JumpParse parsed = tavrin::parameters::ParseJump(text);
    if (!parsed.ok() && parsed.jump) std::abort();
    if (!parsed.jump) {
        if (parsed.ok() && !tavrin::TrimBlanks(text).empty()) std::abort();
        return;
    }
    const tavrin::parameters::JumpHost& j = *parsed.jump;
    if (j.user.empty() || j.host.empty() || j.port < 1 || j.port > 65535) std::abort();
    const bool v6 = j.host.find(u':') != std::u16string::npos;
    const std::u16string port = tavrin::FromUtf8(std::to_string(j.port));
    const std::u16string again = j.user + u"@" + (v6 ? u"[" + j.host + u"]" : j.host) + u":" + port;
    const tavrin::parameters::JumpParse reread = tavrin::parameters::ParseJump(again);
    if (!reread.jump || !(*reread.jump == j)) std::abort();
}

void CheckReuse(std::u16string_view text) {
    const std::optional<int> seconds = ReuseSeconds(text);
    const std::u16string trimmed = tavrin::TrimBlanks(text);
    bool digits = true;
    for (const char16_t c : trimmed) digits = digits && c >= u'0' && c <= u'9';
    if (!seconds) {
        // Refused: something other than digits, or a number out of range, never a blank.
        if (trimmed.empty()) std::abort();
        if (digits && trimmed.size() <= 6 && std::stoi(tavrin::ToUtf8(trimmed)) <= tavrin::parameters::kLongestReuse) {
            std::abort();
        }
        return;
    }
    if (*seconds < 0 || *seconds > tavrin::parameters::kLongestReuse) std::abort();
    // Taken: the digits of that very number (leading zeros aside), and nothing else.
    if (!digits) std::abort();
    const std::size_t first = trimmed.find_first_not_of(u'0');
    const std::u16string significant = first == std::u16string::npos ? u"0" : trimmed.substr(first);
    if (!trimmed.empty() && tavrin::ToUtf8(significant) != std::to_string(*seconds)) std::abort();
    if (ReuseSeconds(u"  " + tavrin::FromUtf8(std::to_string(*seconds)) + u" ") != seconds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFile scratch;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string line = ParameterFromBytes(bytes);

    // One line at most as many units as it had bytes; what follows its line end is never read.
    if (line.find(u'\n') != std::u16string::npos || line.size() > size) std::abort();
    const std::size_t end = bytes.find('\n');
    if (end != std::string_view::npos && ParameterFromBytes(bytes.substr(0, end)) != line) std::abort();

    // For a line without line end characters of its own: LF, CRLF and a byte-order mark change
    // nothing, and valid UTF-8 is read as it is.
    if (bytes.find_first_of("\r\n") == std::string_view::npos && !bytes.starts_with(kBom)) {
        const std::string text(bytes);
        for (const std::string& variant : {text + "\n", text + "\r\n#tail", std::string(kBom) + text + "\r\n"}) {
            if (ParameterFromBytes(variant) != line) std::abort();
        }
        if (line != tavrin::FromUtf8(bytes)) std::abort();
    }

    // The same bytes through a file: read whole up to the size limit, refused above it.
    const std::u16string path = scratch.Write(bytes);
    const auto whole = tavrin::platform::ReadWholeFile(path, size);
    if (whole.status != tavrin::platform::FileStatus::Read || whole.bytes != bytes) std::abort();
    if (ParameterFromBytes(whole.bytes) != line) std::abort();
    if (size > 0) {
        const auto tooLarge = tavrin::platform::ReadWholeFile(path, size - 1);
        if (tooLarge.status != tavrin::platform::FileStatus::Failed || tooLarge.error.empty()) std::abort();
    }

    // REUSE as the check reads it from that string, and the line itself as a REUSE value.
    CheckReuse(tavrin::parameters::StoredValue(line, tavrin::parameters::Field::Reuse));
    CheckReuse(line);
    // The same for JMP.
    CheckJump(tavrin::parameters::StoredValue(line, tavrin::parameters::Field::Jump));
    CheckJump(line);
    return 0;
}
