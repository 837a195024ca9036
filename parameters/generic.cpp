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

// GetField finds "#" and "=" as they are written: no other unit has them as its upper case.
constexpr bool NoUnitBecomesAMark() {
    for (const UpperPair& pair : kUpperPairs) {
        if (pair.to == u'#' || pair.to == u'=' || pair.from == u'#' || pair.from == u'=') return false;
    }
    return true;
}
static_assert(NoUnitBecomesAMark());
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
    // "#KEY=" is looked for in the string itself, each unit compared by its upper case: an
    // upper-case copy of the string would be one more copy of the password's Base64, and one
    // that tells it back in a few guesses.
    const std::u16string needle = u"#" + UpperCase(tavrin::TrimBlanks(key)) + u"=";
    const std::size_t last = parameterString.size() < needle.size() ? 0 : parameterString.size() - needle.size() + 1;
    for (std::size_t at = parameterString.find(u'#'); at < last; at = parameterString.find(u'#', at + 1)) {
        std::size_t k = 1;
        while (k < needle.size() && UpperCaseUnit(parameterString[at + k]) == needle[k]) ++k;
        if (k < needle.size()) continue;
        const std::size_t start = at + needle.size();
        // The key holds no "#", so the next "#" after the one found is the first one after the "=".
        std::size_t end = parameterString.find(u'#', start);
        if (end == std::u16string_view::npos) end = parameterString.size();
        return std::u16string(parameterString.substr(start, end - start));
    }
    return {};
}

}  // namespace Generic
