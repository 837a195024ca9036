#include "fuzz/fuzz_input.h"
#include "plugin/verdict.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto texts = SplitFuzzInput(data, size, 4);
    // Steer the operator and mode towards the codes now and then.
    static const char16_t* const kOperators[] = {u"CON", u"NCO", u"LT", u"GT", u""};
    static const char16_t* const kModes[] = {u"NO", u"YED", u"YEA", u""};
    if (size > 0 && data[0] % 3 == 0) texts[1] = kOperators[data[0] % 5];
    if (size > 1 && data[1] % 3 == 0) texts[3] = kModes[data[1] % 4];
    const std::u16string& output = texts[0];
    const std::u16string& op = texts[1];
    const std::u16string& value = texts[2];
    const std::u16string& mode = texts[3];

    const auto v = tavrin::plugin::JudgeOutput(output, op, value, mode);
    if (value.empty() && (!v.up || v.text != output)) std::abort();
    if (op.empty() && (!v.up || v.text != output)) std::abort();
    if (!value.empty() && (op == u"CON" || op == u"NCO") && v.text.find(value) == std::u16string::npos) std::abort();
    if (mode == u"YEA" && !op.empty() && !value.empty() && !v.text.ends_with(u"(" + output + u")")) std::abort();
    return 0;
}
