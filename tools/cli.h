#pragma once
// The command line of tavrin-check, parsed into one of its commands.

#include "tools/operator_tools.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::tools {

// Where the parameter string comes from: the command line itself, a file, or standard input
// (so that the password's Base64 form need not stand on a command line that every local user
// can read).
struct ParameterSource {
    enum class Kind { Text, File, StandardInput };
    Kind kind = Kind::Text;
    std::u16string value;  // the text, or the file's path
    friend bool operator==(const ParameterSource&, const ParameterSource&) = default;
};

struct CheckCommand {
    std::u16string host;
    std::optional<std::u16string> timeout;  // absent: the object's empty value
    ParameterSource parameter;
    bool verbose = false;
};

struct DescribeCommand {
    ParameterSource parameter;
    bool showPassword = false;
};

struct ComposeCommand {
    ComposeRequest request;
    std::optional<std::u16string> passwordFile;  // read the password from this file
};

struct PinCommand {
    std::u16string host;
    std::optional<int> port;  // absent: the parameter string's port, else 22
    int timeoutSeconds = kPinDefaultTimeoutSeconds;
    std::optional<ParameterSource> parameter;  // print this string with HFP set
};

struct ParsedCommandLine {
    std::optional<CheckCommand> check;
    std::optional<DescribeCommand> describe;
    std::optional<ComposeCommand> compose;
    std::optional<PinCommand> pin;
    bool help = false;
    bool version = false;
    std::u16string error;  // a usage error when no command was parsed
};

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args);

// Exit statuses, as monitoring plug-ins use them.
inline constexpr int kExitUp = 0;
inline constexpr int kExitDown = 2;
inline constexpr int kExitUnknown = 3;  // the check could not run at all, or a usage error

// The exit status of a check: 0 UP, 2 DOWN, 3 for a result of a check that could not run
// ("ERR: ...": a missing user name, a value that is no Base64, a time-out that is no number, a
// key file that cannot be loaded).
int ExitStatusForCheck(bool up, std::u16string_view result);

// The parameter string in a file's or standard input's bytes (UTF-8): the first line without
// its line end and without a byte order mark.
std::u16string ParameterFromBytes(std::string_view bytes);

// The numbers of a version text such as libssh's "0.12.2/openssl": major, minor and patch
// (a missing patch is 0); nullopt when the text does not begin with a version.
std::optional<std::array<int, 3>> VersionNumbers(std::string_view text);
// The oldest libssh that this build is meant for.
inline constexpr std::array<int, 3> kLibsshMinimum = {0, 12, 2};

extern const char* const kUsage;

}  // namespace tavrin::tools
