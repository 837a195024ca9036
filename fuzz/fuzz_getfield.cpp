#include "fuzz/fuzz_input.h"
#include "parameters/generic.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto texts = SplitFuzzInput(data, size, 2);
    const std::u16string& parameters = texts[0];
    const std::u16string& key = texts[1];
    const std::u16string value = Generic::GetField(parameters, key);
    // A value is always a piece of the string, and never holds a "#".
    if (value.size() > parameters.size()) std::abort();
    if (!value.empty() && parameters.find(value) == std::u16string::npos) std::abort();
    if (value.find(u'#') != std::u16string::npos) std::abort();
    if (Generic::UpperCase(parameters).size() != parameters.size()) std::abort();
    return 0;
}
