#include "parameters/generic.h"

#include "common/text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace Generic {

namespace {
struct UpperPair {
    char16_t from;
    char16_t to;
};
constexpr UpperPair kUpperPairs[] = {
#include "parameters/upper_case_table.inc"
};
static_assert(std::is_sorted(std::begin(kUpperPairs), std::end(kUpperPairs),
                             [](const UpperPair& a, const UpperPair& b) { return a.from < b.from; }));
}  // namespace

char16_t UpperCaseUnit(char16_t unit) {
    if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20) : unit;
    const auto* it = std::lower_bound(std::begin(kUpperPairs), std::end(kUpperPairs), unit,
                                      [](const UpperPair& p, char16_t u) { return p.from < u; });
    return (it != std::end(kUpperPairs) && it->from == unit) ? it->to : unit;
}

std::u16string UpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& unit : out) unit = UpperCaseUnit(unit);
    return out;
}

std::u16string GetField(std::u16string_view parameterString, std::u16string_view key) {
    const std::u16string upper = UpperCase(parameterString);
    const std::u16string needle = u"#" + UpperCase(tavrin::TrimBlanks(key)) + u"=";
    const std::size_t at = upper.find(needle);
    if (at == std::u16string::npos) return {};
    const std::size_t start = at + needle.size();
    // The key holds no "#", so the next "#" after the one found is the first one after the "=".
    std::size_t end = upper.find(u'#', start);
    if (end == std::u16string::npos) end = upper.size();
    return std::u16string(parameterString.substr(start, end - start));
}

}  // namespace Generic
