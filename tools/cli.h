#pragma once
// The command line of tavrin-check, parsed into one of its commands.

#include "tools/operator_tools.h"
#include "tools/ranges.h"

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

// A -w / -c range: as given (for the texts and the performance data) and as read.
struct Threshold {
    std::u16string text;
    Range range;
    friend bool operator==(const Threshold&, const Threshold&) = default;
};

struct CheckCommand {
    std::u16string host;
    std::optional<std::u16string> timeout;  // absent: the object's empty value
    ParameterSource parameter;
    std::optional<int> port;              // replaces the string's PORT
    std::optional<std::u16string> login;  // replaces the string's USR
    std::optional<Threshold> warning;
    std::optional<Threshold> critical;
    bool perfdata = false;
    bool verbose = false;
};

struct DescribeCommand {
    ParameterSource parameter;
    bool showPassword = false;
};

struct ComposeCommand {
    ComposeRequest request;
    std::optional<std::u16string> passwordFile;      // read the password from this file
    std::optional<std::u16string> jumpPasswordFile;  // read the bastion's password from this file
};

struct PinCommand {
    std::u16string host;
    std::optional<int> port;  // absent: the parameter string's port, else 22
    int timeoutSeconds = kPinDefaultTimeoutSeconds;
    std::optional<ParameterSource> parameter;  // print this string with HFP set
    // The bastion's key: fetched from the string's JMP host and port, and JFP set instead.
    bool jump = false;
};

// tavrin-check credential set|delete: a generic credential of the Windows Credential Manager of
// the account this runs as, for a parameter string's CRED.
struct CredentialCommand {
    enum class Action { Set, Delete };
    Action action = Action::Set;
    std::u16string target;
    std::u16string user;          // set: the user name it carries; empty: none (USR is used)
    std::u16string passwordFile;  // set: the password is the first line of this file
};

struct ParsedCommandLine {
    std::optional<CheckCommand> check;
    std::optional<DescribeCommand> describe;
    std::optional<ComposeCommand> compose;
    std::optional<PinCommand> pin;
    std::optional<CredentialCommand> credential;
    bool help = false;
    bool version = false;
    std::u16string error;  // a usage error when no command was parsed
};

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args);

// Exit statuses, as monitoring plug-ins use them.
inline constexpr int kExitUp = 0;
inline constexpr int kExitWarning = 1;  // UP, but the number is in the warning range's alert
inline constexpr int kExitDown = 2;
inline constexpr int kExitUnknown = 3;  // the check could not run at all, or a usage error

// The largest port the check's PORT field takes (it is read as a 16-bit integer).
inline constexpr int kLargestCheckPort = 32767;

// The exit status of a check: 0 UP, 2 DOWN, 3 for a result of a check that could not run
// ("ERR: ...": a missing user name, a value that is no Base64, a time-out that is no number, a
// key file that cannot be loaded).
int ExitStatusForCheck(bool up, std::u16string_view result);

// The parameter string with the command line's -p and -l in place of its PORT and USR.
std::u16string WithOverrides(std::u16string_view parameter, const CheckCommand& command);

// What tavrin-check prints and returns for a check that ended with `up` and `result`, whose
// command printed `output` (empty when it did not run), and that took `seconds`: the exit
// status of the string's own rule, then, when that is UP, of the ranges applied to the number
// the output begins with (critical before warning; no number at all is UNKNOWN); the result
// text with why a range changed the status after its first line, and the performance data
// when asked for.
struct MonitoringResult {
    int exitStatus = kExitUnknown;
    std::u16string text;
    friend bool operator==(const MonitoringResult&, const MonitoringResult&) = default;
};
MonitoringResult ForMonitoring(const CheckCommand& command, bool up, std::u16string_view result,
                               std::u16string_view output, double seconds);

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
