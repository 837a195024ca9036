#include "tools/cli.h"

#include "common/numbers.h"
#include "common/text.h"
#include "parameters/fields.h"

#include <cmath>
#include <functional>
#include <map>

namespace tavrin::tools {

const char* const kUsage =
    "usage: tavrin-check --host HOST [--timeout SECONDS] PARAMETER [--verbose]\n"
    "       tavrin-check describe PARAMETER [--show-password]\n"
    "       tavrin-check compose --user U [--password P | --password-file F]\n"
    "                    [--key-file K] [--key-type RSA|DSA] [--protocol 1|2|A] [--port N]\n"
    "                    --command C [--operator contains|not-contains|less|greater]\n"
    "                    [--value V] [--return-data never|when-down|always]\n"
    "                    [--host-key SHA256:... ...] [--reuse SECONDS]\n"
    "       tavrin-check pin --host HOST [--port N] [--timeout SECONDS] [PARAMETER]\n"
    "       tavrin-check --version | --help\n"
    "\n"
    "Runs one SSH command check with the parameter string that the monitoring host stores and\n"
    "prints the result text.\n"
    "\n"
    "  --host HOST          the server to check\n"
    "  --timeout SECONDS    bound on the whole check; 0 or none means 60 seconds\n"
    "  --verbose            write the debug traces, and what the key exchange agreed (key\n"
    "                       exchange, ciphers, host key), to standard error\n"
    "  --version            this program's version and libssh's\n"
    "  --help               this text\n"
    "\n"
    "PARAMETER is one of:\n"
    "  --parameter STRING   the parameter string, e.g. \"#ENC=T#USR=admin#PWD=...#CMD=...#\"\n"
    "  --parameter -        the first line of standard input\n"
    "  --parameter-file F   the first line of the file F (UTF-8)\n"
    "The string holds the password (in Base64, which is no protection). Every local user can\n"
    "read a program's command line: give the string through a file only its owner can read,\n"
    "or through standard input, rather than with --parameter STRING.\n"
    "\n"
    "Exit status: 0 UP; 2 DOWN; 3 UNKNOWN: the check could not run at all (a result that begins\n"
    "with \"ERR: \": no user name, a password or command that is no Base64, a time-out that is\n"
    "no number, a port out of range, a key file that cannot be loaded), or a usage error.\n"
    "\n"
    "describe shows each field of a parameter string with its meaning and warns of what the\n"
    "check will refuse; it shows nothing of the password (not even its length) unless\n"
    "--show-password. compose prints the parameter string that the dialog's OK writes for the\n"
    "given settings; defaults: protocol A, port 22, key type RSA, operator contains, return\n"
    "data never. --host-key (repeatable, or several separated by commas) pins the server's host\n"
    "keys: with pins only those keys are accepted and known_hosts is not read. --reuse keeps the\n"
    "logged-in connection that long for the next check with the same login in the same process\n"
    "(the plug-in's host; each run of tavrin-check is a process of its own).\n"
    "pin fetches the server's host key without logging in (port: --port, else the parameter\n"
    "string's, else 22; time-out 10 seconds unless --timeout) and prints its type and SHA256\n"
    "fingerprint; with a parameter string, it then prints that string with the key pinned (the\n"
    "HFP field set, every other field kept). Check the fingerprint out of band before trusting\n"
    "it. Exit status 0, 2 when the key could not be fetched, 3 for a usage error.\n";

namespace {

using parameters::Field;
using parameters::Spec;

using Setter = std::function<void(const std::u16string&)>;
using Flag = std::function<void()>;

bool ParseOptions(const std::vector<std::u16string>& args, std::size_t from, const std::map<std::u16string, Setter>& valued,
                  const std::map<std::u16string, Flag>& flags, ParsedCommandLine& parsed) {
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        if (arg == u"--help" || arg == u"-h") {
            parsed.help = true;
            return false;
        }
        if (const auto f = flags.find(arg); f != flags.end()) {
            f->second();
        } else if (const auto v = valued.find(arg); v != valued.end()) {
            if (i + 1 >= args.size()) {
                parsed.error = arg + u" needs a value";
                return false;
            }
            v->second(args[++i]);
        } else {
            parsed.error = u"unknown argument " + arg;
            return false;
        }
    }
    return true;
}

// --parameter and --parameter-file, at most one of them, at most once.
class ParameterOptions {
public:
    void Add(std::map<std::u16string, Setter>& valued) {
        valued[u"--parameter"] = [this](const std::u16string& v) {
            Set(v == u"-" ? ParameterSource{ParameterSource::Kind::StandardInput, {}}
                          : ParameterSource{ParameterSource::Kind::Text, v});
        };
        valued[u"--parameter-file"] = [this](const std::u16string& v) {
            Set(ParameterSource{ParameterSource::Kind::File, v});
        };
    }
    const std::optional<ParameterSource>& source() const { return source_; }
    bool twice() const { return twice_; }

private:
    void Set(ParameterSource source) {
        twice_ = twice_ || source_.has_value();
        source_ = std::move(source);
    }
    std::optional<ParameterSource> source_;
    bool twice_ = false;
};

constexpr std::u16string_view kParameterTwice = u"give the parameter string once: --parameter or --parameter-file";

// A whole number from `least` to `most`, blanks around it allowed.
std::optional<int> WholeNumber(std::u16string_view text, int least, int most) {
    const std::optional<double> n = tavrin::ParseWholeNumber(text);
    if (!n || !std::isfinite(*n) || std::trunc(*n) != *n || *n < least || *n > most) return std::nullopt;
    return static_cast<int>(*n);
}

void ParseDescribe(const std::vector<std::u16string>& args, ParsedCommandLine& parsed) {
    DescribeCommand d;
    ParameterOptions parameter;
    std::map<std::u16string, Setter> valued;
    parameter.Add(valued);
    if (!ParseOptions(args, 1, valued, {{u"--show-password", [&] { d.showPassword = true; }}}, parsed)) return;
    if (!parameter.source()) parsed.error = u"describe needs --parameter or --parameter-file";
    else if (parameter.twice()) parsed.error = kParameterTwice;
    else {
        d.parameter = *parameter.source();
        parsed.describe = d;
    }
}

void ParseCompose(const std::vector<std::u16string>& args, ParsedCommandLine& parsed) {
    ComposeCommand c;
    auto& r = c.request;
    bool haveUser = false, haveCommand = false, havePassword = false;
    // The options of the fields, by their names in the table.
    std::map<std::u16string, Setter> valued;
    for (const parameters::FieldSpec& spec : parameters::Fields()) {
        if (spec.option.empty()) continue;
        Setter set;
        switch (spec.field) {
            case Field::User: set = [&](const auto& v) { r.user = v; haveUser = true; }; break;
            case Field::Password: set = [&](const auto& v) { r.password = v; havePassword = true; }; break;
            case Field::Protocol: set = [&](const auto& v) { r.protocol = v; }; break;
            case Field::Port: set = [&](const auto& v) { r.port = v; }; break;
            case Field::KeyFile: set = [&](const auto& v) { r.keyFile = v; }; break;
            case Field::KeyType: set = [&](const auto& v) { r.keyType = v; }; break;
            case Field::Command: set = [&](const auto& v) { r.command = v; haveCommand = true; }; break;
            case Field::Comparison: set = [&](const auto& v) { r.comparison = v; }; break;
            case Field::ComparisonValue: set = [&](const auto& v) { r.value = v; }; break;
            case Field::ReturnMode: set = [&](const auto& v) { r.returnData = v; }; break;
            case Field::HostKeys: set = [&](const auto& v) { r.hostKeys.push_back(v); }; break;
            case Field::Reuse: set = [&](const auto& v) { r.reuse = v; }; break;
            case Field::Marker: continue;
        }
        valued[std::u16string(spec.option)] = std::move(set);
    }
    valued[u"--password-file"] = [&](const auto& v) { c.passwordFile = v; };
    if (!ParseOptions(args, 1, valued, {}, parsed)) return;
    if (!haveUser) parsed.error = u"compose needs " + std::u16string(Spec(Field::User).option);
    else if (!haveCommand) parsed.error = u"compose needs " + std::u16string(Spec(Field::Command).option);
    else if (havePassword && c.passwordFile) parsed.error = u"give --password or --password-file, not both";
    else parsed.compose = c;
}

void ParsePin(const std::vector<std::u16string>& args, ParsedCommandLine& parsed) {
    PinCommand p;
    bool haveHost = false;
    std::u16string portText, timeoutText;
    bool havePort = false, haveTimeout = false;
    ParameterOptions parameter;
    std::map<std::u16string, Setter> valued = {
        {u"--host", [&](const auto& v) { p.host = v; haveHost = true; }},
        {u"--port", [&](const auto& v) { portText = v; havePort = true; }},
        {u"--timeout", [&](const auto& v) { timeoutText = v; haveTimeout = true; }},
    };
    parameter.Add(valued);
    if (!ParseOptions(args, 1, valued, {}, parsed)) return;
    if (havePort) p.port = WholeNumber(portText, 1, 65535);
    if (haveTimeout) {
        const auto seconds = WholeNumber(timeoutText, 1, 3600);
        if (seconds) p.timeoutSeconds = *seconds;
        else parsed.error = u"--timeout takes a whole number of seconds from 1 to 3600";
    }
    if (!parsed.error.empty()) return;
    if (!haveHost || TrimBlanks(p.host).empty()) parsed.error = u"pin needs --host";
    else if (havePort && !p.port) parsed.error = u"--port takes a whole number from 1 to 65535";
    else if (parameter.twice()) parsed.error = kParameterTwice;
    else {
        p.parameter = parameter.source();
        parsed.pin = p;
    }
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args) {
    ParsedCommandLine parsed;
    const std::u16string command = args.empty() ? std::u16string() : args.front();
    if (command == u"describe") {
        ParseDescribe(args, parsed);
        return parsed;
    }
    if (command == u"compose") {
        ParseCompose(args, parsed);
        return parsed;
    }
    if (command == u"pin") {
        ParsePin(args, parsed);
        return parsed;
    }

    CheckCommand check;
    bool haveHost = false;
    ParameterOptions parameter;
    std::map<std::u16string, Setter> valued = {
        {u"--host", [&](const auto& v) { check.host = v; haveHost = true; }},
        {u"--timeout", [&](const auto& v) { check.timeout = v; }},
    };
    parameter.Add(valued);
    if (!ParseOptions(args, 0, valued,
                      {{u"--verbose", [&] { check.verbose = true; }},
                       {u"-v", [&] { check.verbose = true; }},
                       {u"--version", [&] { parsed.version = true; }}},
                      parsed)) {
        return parsed;
    }
    if (parsed.version) {
        if (args.size() != 1) parsed.error = u"--version takes no other argument";
        return parsed;
    }
    if (!haveHost) parsed.error = u"--host is required";
    else if (!parameter.source()) parsed.error = u"--parameter or --parameter-file is required";
    else if (parameter.twice()) parsed.error = kParameterTwice;
    else {
        check.parameter = *parameter.source();
        parsed.check = check;
    }
    return parsed;
}

int ExitStatusForCheck(bool up, std::u16string_view result) {
    if (up) return kExitUp;
    return result.starts_with(u"ERR: ") ? kExitUnknown : kExitDown;
}

std::u16string ParameterFromBytes(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    bytes = bytes.substr(0, bytes.find('\n'));
    if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
    return FromUtf8(bytes);
}

std::optional<std::array<int, 3>> VersionNumbers(std::string_view text) {
    std::array<int, 3> numbers{0, 0, 0};
    std::size_t at = 0;
    for (std::size_t part = 0; part < numbers.size(); ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                if (part >= 2) break;  // "1.2": the patch is 0
                return std::nullopt;
            }
            ++at;
        }
        const std::size_t digits = at;
        long value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - digits < 6) {
            value = value * 10 + (text[at] - '0');
            ++at;
        }
        if (at == digits) return std::nullopt;
        numbers[part] = static_cast<int>(value);
    }
    // The version ends at the end of the text or before a separator such as "/openssl".
    if (at < text.size() && ((text[at] >= '0' && text[at] <= '9') || text[at] == '.')) return std::nullopt;
    return numbers;
}

}  // namespace tavrin::tools
