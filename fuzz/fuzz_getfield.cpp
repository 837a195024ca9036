#include "fuzz/fuzz_input.h"
#include "parameters/fields.h"
#include "parameters/generic.h"

#include <cstdlib>
#include <set>

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

    // The enumeration of the fields finds exactly what GetField finds, once per key.
    const auto fields = tavrin::parameters::StoredFields(parameters);
    std::set<std::u16string> keys;
    std::size_t lastPosition = 0;
    for (const auto& field : fields) {
        if (!keys.insert(Generic::UpperCase(field.key)).second) std::abort();
        if (&field != &fields.front() && field.position <= lastPosition) std::abort();
        lastPosition = field.position;
        if (parameters.compare(field.position, field.key.size() + 2, u"#" + field.key + u"=") != 0) std::abort();
        if (Generic::GetField(parameters, field.key) != field.value) std::abort();
    }
    // Written again as a chain of fields, they read back the same.
    const std::u16string rewritten = tavrin::parameters::WithFieldsAppended(u"#", fields);
    const auto again = tavrin::parameters::StoredFields(rewritten);
    if (again.size() != fields.size()) std::abort();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (again[i].key != fields[i].key || again[i].value != fields[i].value) std::abort();
    }

    // Setting a field makes GetField read the new value, and leaves the other fields alone.
    std::u16string newValue = key;
    std::erase(newValue, u'#');
    const std::u16string set = tavrin::parameters::WithField(parameters, u"HFP", newValue);
    if (Generic::GetField(set, u"HFP") != newValue) std::abort();
    for (const auto& field : fields) {
        if (Generic::UpperCase(field.key) != u"HFP" && Generic::GetField(set, field.key) != field.value) std::abort();
    }
    return 0;
}
