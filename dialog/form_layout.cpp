#include "dialog/form_layout.h"

#include "common/version.h"

#include <algorithm>

namespace tavrin::dialog {

namespace {

template <std::size_t N>
constexpr bool TabIndexesInOrder(const std::array<ControlLayout, N>& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].tabIndex != static_cast<int>(i)) return false;
    }
    return true;
}
static_assert(TabIndexesInOrder(kFormLayout), "the layout table is indexed by tab index");
static_assert(TabIndexesInOrder(kBastionLayout), "the Bastion window's table is indexed by tab index");

std::u16string Decimal(int number) {
    const std::string digits = std::to_string(number);
    return {digits.begin(), digits.end()};
}

}  // namespace

const ControlLayout* FindControlLayout(std::u16string_view name) {
    const auto it = std::find_if(kFormLayout.begin(), kFormLayout.end(),
                                 [name](const ControlLayout& c) { return c.name == name; });
    return it == kFormLayout.end() ? nullptr : &*it;
}

std::u16string FormTitle(int major, int minor, int revision) {
    return u"Tavrin SSH Command checker version " + Decimal(major) + u"." + Decimal(minor) + u" build " +
           u" " + Decimal(revision);
}

std::u16string FormTitle() {
    return FormTitle(TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR, TAVRIN_VERSION_REVISION);
}

}  // namespace tavrin::dialog
