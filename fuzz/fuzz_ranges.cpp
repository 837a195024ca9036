#include "fuzz/fuzz_input.h"
#include "common/numbers.h"
#include "tools/ranges.h"

#include <cmath>
#include <cstdlib>

// The -w / -c ranges of tavrin-check, the number at the start of a command's output, and the
// performance data numbers written for it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::u16string> texts = SplitFuzzInput(data, size, 2);
    const std::u16string& rangeText = texts[0];
    const std::u16string& output = texts[1];

    // The number: present exactly when ReadNumber found one, and then ReadNumber's.
    const double read = tavrin::ReadNumber(output);
    const std::optional<double> number = tavrin::tools::LeadingNumber(output);
    if (number ? *number != read : read != 0) std::abort();
    const double value = number.value_or(0);

    // Its performance data form: plain digits, "-" and ".", read back as the same number.
    const std::u16string written = tavrin::tools::PerfdataNumber(value);
    if (written.empty() || written.find_first_not_of(u"-.0123456789") != std::u16string::npos) std::abort();
    const std::optional<double> back = tavrin::ParseWholeNumber(written);
    if (!back || *back != value) std::abort();

    const std::optional<tavrin::tools::Range> range = tavrin::tools::ParseRange(rangeText);
    if (!range) return 0;
    if (range->start && (!std::isfinite(*range->start) || (range->end && *range->start > *range->end))) std::abort();
    if (range->end && !std::isfinite(*range->end)) std::abort();
    // The ends belong to the range.
    for (const std::optional<double>& end : {range->start, range->end}) {
        if (end && tavrin::tools::Alerts(*range, *end) != range->alertInside) std::abort();
    }
    // "@" turns every alert around.
    if (!range->alertInside) {
        const std::optional<tavrin::tools::Range> inverted = tavrin::tools::ParseRange(u"@" + rangeText);
        if (!inverted || inverted->start != range->start || inverted->end != range->end || !inverted->alertInside) {
            std::abort();
        }
        if (tavrin::tools::Alerts(*inverted, value) == tavrin::tools::Alerts(*range, value)) std::abort();
    }
    return 0;
}
