#pragma once
// The command line of tavrin-check, parsed into one of its three commands.

#include "tools/operator_tools.h"

#include <optional>
#include <string>
#include <vector>

namespace tavrin::tools {

struct CheckCommand {
    std::u16string host;
    std::optional<std::u16string> timeout;  // absent: the object's empty value
    std::u16string parameter;
    bool verbose = false;
};

struct DescribeCommand {
    std::u16string parameter;
    bool showPassword = false;
};

struct ComposeCommand {
    ComposeRequest request;
    std::optional<std::u16string> passwordFile;  // read the password from this file
};

struct ParsedCommandLine {
    std::optional<CheckCommand> check;
    std::optional<DescribeCommand> describe;
    std::optional<ComposeCommand> compose;
    bool help = false;
    std::u16string error;  // a usage error when no command was parsed
};

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args);

// Exit statuses, as monitoring plug-ins use them.
inline constexpr int kExitUp = 0;
inline constexpr int kExitDown = 2;
inline constexpr int kExitUsage = 3;

extern const char* const kUsage;

}  // namespace tavrin::tools
