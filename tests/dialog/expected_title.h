#pragma once
// The dialog's title for this build, from the version numbers the build was made with.

#include "common/version.h"

#include <string>

namespace tavrin::dialog::testing {

inline std::u16string ExpectedTitle() {
    const std::string title = "Tavrin SSH Command checker version " + std::to_string(TAVRIN_VERSION_MAJOR) + "." +
                              std::to_string(TAVRIN_VERSION_MINOR) + " build  " +
                              std::to_string(TAVRIN_VERSION_REVISION);
    return std::u16string(title.begin(), title.end());
}

inline std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string Utf16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace tavrin::dialog::testing
