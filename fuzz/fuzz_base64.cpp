#include "common/automation_error.h"
#include "fuzz/fuzz_input.h"
#include "parameters/base64.h"
#include "platform/codepage.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& page = tavrin::platform::SystemAnsiCodePage();
    const std::u16string text = SplitFuzzInput(data, size, 1)[0];

    // Decoding any text either fails as an invalid argument or yields at most 3 units per group.
    try {
        const std::u16string decoded = base64::Base64Decode(text, page);
        if (decoded.size() > (text.size() + 3) / 4 * 3) std::abort();
    } catch (const tavrin::AutomationError& e) {
        if (e.number() != 5) std::abort();
    }

    // Encoding then decoding gives the text back, each unit as the code page keeps it.
    const std::u16string encoded = base64::Base64Encode(text, page);
    if (encoded.size() != (text.size() + 2) / 3 * 4) std::abort();
    const std::u16string back = base64::Base64Decode(encoded, page);
    if (back.size() != text.size()) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (back[i] != page.DecodeByte(page.EncodeChar(text[i]))) std::abort();
    }

    // The raw bytes round-trip too.
    std::u16string bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(page.DecodeByte(data[i]));
    if (base64::Base64Decode(base64::Base64Encode(bytes, page), page) != bytes) std::abort();
    return 0;
}
