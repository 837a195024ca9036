#pragma once
// Operator tools of tavrin-check: making a parameter string without the host's dialog, and
// reading one back field by field with what the check run will make of it.

#include <optional>
#include <string>
#include <vector>

namespace tavrin::tools {

struct ComposeRequest {
    std::u16string user;
    std::u16string password;
    std::u16string protocol = u"A";       // 1, 2 or A
    std::u16string port = u"22";
    std::u16string keyFile;
    std::u16string keyType = u"RSA";      // RSA or DSA
    std::u16string command;
    std::u16string comparison = u"contains";  // contains, not-contains, less, greater
    std::u16string value;
    std::u16string returnData = u"never";     // never, when-down, always
};

struct ComposeResult {
    std::optional<std::u16string> parameter;
    std::u16string error;  // why nothing was composed
};

// The parameter string exactly as the dialog's OK writes it for these settings. Refuses a "#"
// in a field that is stored as plain text, since it would cut that field when read back.
ComposeResult Compose(const ComposeRequest& request);

// One line per field with its meaning, then the warnings; the password masked unless
// showPassword.
std::vector<std::u16string> Describe(std::u16string_view parameter, bool showPassword);

}  // namespace tavrin::tools
