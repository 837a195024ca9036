#include "fuzz/fuzz_input.h"
#include "common/numbers.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = SplitFuzzInput(data, size, 1)[0];
    const double number = tavrin::ReadNumber(text);
    if (!std::isfinite(number)) std::abort();

    // Every number it writes reads back as the same number to 15 digits, without blanks.
    const std::u16string written = tavrin::NumberText(number);
    if (written.empty() || written.find(u' ') != std::u16string::npos) std::abort();
    const double back = tavrin::ReadNumber(written);
    if (number != 0 && std::fabs(back - number) > std::fabs(number) * 1e-14) std::abort();
    if (number == 0 && back != 0) std::abort();
    const auto whole = tavrin::ParseWholeNumber(written);
    if (!whole || *whole != back) std::abort();

    // Any raw double is written in the general form.
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        if (std::isfinite(raw)) {
            const std::u16string t = tavrin::NumberText(raw);
            if (t.size() > 22) std::abort();
        }
    }
    return 0;
}
