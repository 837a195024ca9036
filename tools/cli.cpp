#include "tools/cli.h"

#include "common/numbers.h"
#include "common/text.h"
#include "parameters/fields.h"
#include "platform/secret.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace tavrin::tools {

const char* const kUsage =
    "usage: tavrin-check -H HOST PARAMETER [-p PORT] [-l LOGIN] [-t SECONDS]\n"
    "                    [-w RANGE] [-c RANGE] [--perfdata] [-v]\n"
    "       tavrin-check describe PARAMETER [--show-password]\n"
    "       tavrin-check compose --user U [--password P | --password-file F]\n"
    "                    [--key-file K] [--key-type RSA|DSA] [--protocol 1|2|A]\n"
    "                    [--port N] --command C\n"
    "                    [--operator contains|not-contains|less|greater|\n"
    "                                exit-status|matches|not-matches]\n"
    "                    [--value V] [--return-data never|when-down|always]\n"
    "                    [--host-key SHA256:... ...] [--reuse SECONDS]\n"
    "                    [--jump USER@HOST[:PORT]] [--jump-password P |\n"
    "                     --jump-password-file F] [--jump-key-file K]\n"
    "                    [--jump-host-key SHA256:... ...] [--certificate F]\n"
    "                    [--password-store string|dpapi-machine|dpapi-user|\n"
    "                                      credential:TARGET]\n"
    "       tavrin-check pin --host HOST [--port N] [--timeout SECONDS] [PARAMETER]\n"
    "       tavrin-check pin --jump [--timeout SECONDS] PARAMETER\n"
    "       tavrin-check credential set TARGET [--user U] --password-file F\n"
    "       tavrin-check credential delete TARGET\n"
    "       tavrin-check -V | --version | -h | --help\n"
    "\n"
    "Runs one SSH command check with the parameter string that the monitoring host\n"
    "stores and prints the result text; a monitoring plug-in.\n"
    "\n"
    "  -H, --host HOST        the server to check\n"
    "  -p, --port PORT        the port to connect to (1 to 32767), not the string's\n"
    "  -l, --login LOGIN      the user to log in as, not the string's\n"
    "  -t, --timeout SECONDS  bound on the whole check; 0 or none means 60 seconds\n"
    "  -w, --warning RANGE    exit 1 when the check is UP and the number that the\n"
    "                         output begins with is in the range's alert\n"
    "  -c, --critical RANGE   the same with exit 2; it goes before --warning\n"
    "      --perfdata         performance data after the result's first line:\n"
    "                         \" | time=Ss;;;0 value=N;WARNING;CRITICAL\" (value when\n"
    "                         the output begins with a number)\n"
    "  -v, --verbose          write the debug traces, and what the key exchange\n"
    "                         agreed (key exchange, ciphers, host key), to\n"
    "                         standard error\n"
    "  -V, --version          this program's version and libssh's\n"
    "  -h, --help             this text\n"
    "Long options also take their value as --option=VALUE.\n"
    "\n"
    "PARAMETER is one of:\n"
    "  --parameter STRING   the parameter string, e.g. \"#ENC=T#USR=admin#PWD=...#\"\n"
    "  --parameter -        the first line of standard input\n"
    "  --parameter-file F   the first line of the file F (UTF-8)\n"
    "The string holds the password (in Base64, which is no protection). Every local\n"
    "user can read a program's command line: give the string through a file only\n"
    "its owner can read, or through standard input, rather than with --parameter\n"
    "STRING.\n"
    "\n"
    "RANGE: 10 alerts outside 0..10, 10: below 10, ~:10 above 10, 10:20 outside\n"
    "10..20, @10:20 inside 10..20 (the ends included). The number is read as the\n"
    "less and greater rules read it; output that begins with no number is UNKNOWN.\n"
    "\n"
    "Exit status: 0 OK (UP); 1 WARNING; 2 CRITICAL (DOWN, or the critical range);\n"
    "3 UNKNOWN: the check could not run at all (a result that begins with \"ERR: \":\n"
    "no user name, a password or command that is no Base64, a time-out that is no\n"
    "number, a port out of range, a key file that cannot be loaded), no number for\n"
    "the ranges, or a usage error.\n"
    "\n"
    "describe shows each field of a parameter string with its meaning and warns of\n"
    "what the check will refuse; it shows nothing of the password (not even its\n"
    "length) unless --show-password. compose prints the parameter string that the\n"
    "dialog's OK writes for the given settings; defaults: protocol A, port 22, key\n"
    "type RSA, operator contains, return data never. --host-key (repeatable, or\n"
    "several separated by commas) pins the server's host keys: with pins only those\n"
    "keys are accepted and known_hosts is not read. --reuse keeps the logged-in\n"
    "connection that long for the next check with the same login in the same\n"
    "process (the plug-in's host; each run of tavrin-check is a process of its own).\n"
    "pin fetches the server's host key without logging in (port: --port, else the\n"
    "parameter string's, else 22; time-out 10 seconds unless --timeout) and prints\n"
    "its type and SHA256 fingerprint; with a parameter string, it then prints that\n"
    "string with the key pinned (the HFP field set, every other field kept). Check\n"
    "the fingerprint out of band before trusting it. Exit status 0, 2 when the key\n"
    "could not be fetched, 3 for a usage error. When the string names a bastion\n"
    "(JMP), the key is fetched through it, the bastion logged in to as the check\n"
    "would. pin --jump fetches the bastion's own key and sets its JFP field.\n"
    "\n"
    "--jump reaches the server through a bastion: the check logs in to it (its host\n"
    "key checked with --jump-host-key or known_hosts under its own name, before any\n"
    "credential is sent) and runs the server's session over a forwarded channel.\n"
    "Without --jump-password and --jump-key-file the bastion login uses the check's\n"
    "own password or key file. --certificate offers an OpenSSH user certificate\n"
    "with the key file; without it, KEYFILE-cert.pub is offered when it exists.\n"
    "\n"
    "--password-store keeps the password (or the key's pass phrase) out of the\n"
    "string, on Windows only: dpapi-machine and dpapi-user encrypt it here with\n"
    "this computer's key (any account here can decrypt it) or this account's, and\n"
    "write the blob as PWDE; credential:TARGET writes CRED=TARGET, the name of a\n"
    "generic credential in the Windows Credential Manager of the account the check\n"
    "runs as. compose writes no password then: store it with credential set, run\n"
    "as that account. Its user name, when set, replaces USR. The check reads CRED,\n"
    "then PWDE, then PWD; a store it cannot read fails the check, naming it.\n"
    "credential set stores (or replaces) TARGET for this account with the first\n"
    "line of F as its password; credential delete removes it. Exit status 0 done,\n"
    "3 for a usage error or a failure.\n";

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
        // --option=VALUE, as getopt_long takes it.
        if (const std::size_t equals = arg.find(u'='); arg.starts_with(u"--") && equals != std::u16string::npos) {
            const auto v = valued.find(arg.substr(0, equals));
            if (v == valued.end()) {
                parsed.error = u"unknown argument " + arg.substr(0, equals);
                return false;
            }
            v->second(arg.substr(equals + 1));
            continue;
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
    bool haveUser = false, haveCommand = false, havePassword = false, haveJumpPassword = false;
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
            case Field::Jump: set = [&](const auto& v) { r.jump = v; }; break;
            case Field::JumpPassword: set = [&](const auto& v) { r.jumpPassword = v; haveJumpPassword = true; }; break;
            case Field::JumpKeyFile: set = [&](const auto& v) { r.jumpKeyFile = v; }; break;
            case Field::JumpHostKeys: set = [&](const auto& v) { r.jumpHostKeys.push_back(v); }; break;
            case Field::Certificate: set = [&](const auto& v) { r.certificate = v; }; break;
            case Field::Credential:
            case Field::ProtectedPassword:
            case Field::Marker: continue;
        }
        valued[std::u16string(spec.option)] = std::move(set);
    }
    valued[u"--password-file"] = [&](const auto& v) { c.passwordFile = v; };
    valued[u"--jump-password-file"] = [&](const auto& v) { c.jumpPasswordFile = v; };
    std::optional<std::u16string> storeName;
    valued[u"--password-store"] = [&](const auto& v) { storeName = v; };
    if (!ParseOptions(args, 1, valued, {}, parsed)) return;
    if (storeName) {
        const auto store = PasswordStoreForName(*storeName, r.credential);
        if (!store) {
            parsed.error = u"--password-store takes string, dpapi-machine, dpapi-user or credential:TARGET";
            return;
        }
        r.passwordStore = *store;
        if (*store == ComposeRequest::PasswordStore::Credential && TrimBlanks(r.credential).empty()) {
            parsed.error = u"--password-store credential:TARGET needs the credential's name";
            return;
        }
    }
    if (!haveUser) parsed.error = u"compose needs " + std::u16string(Spec(Field::User).option);
    else if (!haveCommand) parsed.error = u"compose needs " + std::u16string(Spec(Field::Command).option);
    else if (havePassword && c.passwordFile) parsed.error = u"give --password or --password-file, not both";
    else if (haveJumpPassword && c.jumpPasswordFile) {
        parsed.error = u"give --jump-password or --jump-password-file, not both";
    }
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
    if (!ParseOptions(args, 1, valued, {{u"--jump", [&] { p.jump = true; }}}, parsed)) return;
    if (havePort) p.port = WholeNumber(portText, 1, 65535);
    if (haveTimeout) {
        const auto seconds = WholeNumber(timeoutText, 1, 3600);
        if (seconds) p.timeoutSeconds = *seconds;
        else parsed.error = u"--timeout takes a whole number of seconds from 1 to 3600";
    }
    if (!parsed.error.empty()) return;
    if (p.jump && (haveHost || havePort)) parsed.error = u"pin --jump takes the bastion from the string's JMP, not --host";
    else if (p.jump && !parameter.source()) parsed.error = u"pin --jump needs the parameter string";
    else if (!p.jump && (!haveHost || TrimBlanks(p.host).empty())) parsed.error = u"pin needs --host";
    else if (havePort && !p.port) parsed.error = u"--port takes a whole number from 1 to 65535";
    else if (parameter.twice()) parsed.error = kParameterTwice;
    else {
        p.parameter = parameter.source();
        parsed.pin = p;
    }
}

void ParseCredential(const std::vector<std::u16string>& args, ParsedCommandLine& parsed) {
    CredentialCommand c;
    const auto helpAt = [&](std::size_t i) { return args.size() > i && (args[i] == u"--help" || args[i] == u"-h"); };
    if (helpAt(1) || helpAt(2)) {
        parsed.help = true;
        return;
    }
    const std::u16string action = args.size() > 1 ? args[1] : std::u16string();
    if (action == u"set") c.action = CredentialCommand::Action::Set;
    else if (action == u"delete") c.action = CredentialCommand::Action::Delete;
    else {
        parsed.error = u"credential takes set or delete";
        return;
    }
    if (args.size() < 3 || args[2].starts_with(u"-")) {
        parsed.error = u"credential " + action + u" needs the credential's name (TARGET)";
        return;
    }
    c.target = args[2];
    bool haveFile = false;
    std::map<std::u16string, Setter> valued;
    if (c.action == CredentialCommand::Action::Set) {
        valued[std::u16string(Spec(Field::User).option)] = [&](const auto& v) { c.user = v; };
        valued[u"--password-file"] = [&](const auto& v) { c.passwordFile = v; haveFile = true; };
    }
    if (!ParseOptions(args, 3, valued, {}, parsed)) return;
    if (TrimBlanks(c.target).empty()) parsed.error = u"credential " + action + u" needs the credential's name (TARGET)";
    else if (c.action == CredentialCommand::Action::Set && !haveFile) {
        parsed.error = u"credential set needs --password-file (a password on the command line is readable by every "
                       u"local user)";
    } else {
        parsed.credential = c;
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
    if (command == u"credential") {
        ParseCredential(args, parsed);
        return parsed;
    }

    CheckCommand check;
    bool haveHost = false;
    std::optional<std::u16string> portText, warningText, criticalText;
    ParameterOptions parameter;
    const auto host = [&](const std::u16string& v) { check.host = v; haveHost = true; };
    const auto timeout = [&](const std::u16string& v) { check.timeout = v; };
    const auto port = [&](const std::u16string& v) { portText = v; };
    const auto login = [&](const std::u16string& v) { check.login = v; };
    const auto warning = [&](const std::u16string& v) { warningText = v; };
    const auto critical = [&](const std::u16string& v) { criticalText = v; };
    std::map<std::u16string, Setter> valued = {
        {u"--host", host}, {u"-H", host},         {u"--timeout", timeout},   {u"-t", timeout},
        {u"--port", port}, {u"-p", port},         {u"--login", login},       {u"-l", login},
        {u"--warning", warning}, {u"-w", warning}, {u"--critical", critical}, {u"-c", critical},
    };
    parameter.Add(valued);
    const auto verbose = [&] { check.verbose = true; };
    const auto version = [&] { parsed.version = true; };
    if (!ParseOptions(args, 0, valued,
                      {{u"--verbose", verbose}, {u"-v", verbose}, {u"--version", version}, {u"-V", version},
                       {u"--perfdata", [&] { check.perfdata = true; }}},
                      parsed)) {
        return parsed;
    }
    if (parsed.version) {
        if (args.size() != 1) parsed.error = u"-V/--version takes no other argument";
        return parsed;
    }
    const auto threshold = [&](const std::optional<std::u16string>& text, std::u16string_view option,
                               std::optional<Threshold>& into) {
        if (!text || !parsed.error.empty()) return;
        if (const std::optional<Range> range = ParseRange(*text)) {
            into = Threshold{*text, *range};
        } else {
            parsed.error = std::u16string(option) + u" takes a range such as 10, 10:, ~:10, 10:20 or @10:20, not \"" +
                           *text + u"\"";
        }
    };
    threshold(warningText, u"-w/--warning", check.warning);
    threshold(criticalText, u"-c/--critical", check.critical);
    if (!parsed.error.empty()) return parsed;
    if (portText) {
        check.port = WholeNumber(*portText, 1, kLargestCheckPort);
        if (!check.port) {
            parsed.error = u"-p/--port takes a whole number from 1 to " + NumberText(kLargestCheckPort);
            return parsed;
        }
    }
    if (check.login && (TrimBlanks(*check.login).empty() || check.login->find(u'#') != std::u16string::npos)) {
        parsed.error = u"-l/--login takes a user name without \"#\" (the parameter string would be cut there)";
        return parsed;
    }
    if (!haveHost) parsed.error = u"-H/--host is required";
    else if (!parameter.source()) parsed.error = u"--parameter or --parameter-file is required";
    else if (parameter.twice()) parsed.error = kParameterTwice;
    else {
        check.parameter = *parameter.source();
        parsed.check = check;
    }
    return parsed;
}

std::u16string WithOverrides(std::u16string_view parameter, const CheckCommand& command) {
    std::u16string out(parameter);
    const auto set = [&](Field field, std::u16string_view value) {
        std::u16string next = parameters::WithField(out, Spec(field).key, parameters::StoredForm(field, value));
        platform::SecureWipe(out);
        out = std::move(next);
        platform::SecureWipe(next);  // a short text is copied by the move
    };
    if (command.port) set(Field::Port, NumberText(*command.port));
    if (command.login) set(Field::User, *command.login);
    return out;
}

namespace {

// Where the first line of a text ends: before its "\r\n" or "\n", or at the text's end.
std::size_t FirstLineEnd(std::u16string_view text) {
    std::size_t end = text.find(u'\n');
    if (end == std::u16string_view::npos) return text.size();
    if (end > 0 && text[end - 1] == u'\r') --end;
    return end;
}

std::u16string Seconds(double seconds) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds < 0 ? 0.0 : seconds,
                                         std::chars_format::fixed, 3);
    if (ec != std::errc{}) return u"0.000";
    return std::u16string(buffer, end);
}

}  // namespace

MonitoringResult ForMonitoring(const CheckCommand& command, bool up, std::u16string_view result,
                               std::u16string_view output, double seconds) {
    MonitoringResult m{ExitStatusForCheck(up, result), {}};
    const std::optional<double> number = LeadingNumber(output);
    std::u16string why;
    if (up && (command.warning || command.critical)) {
        const auto alert = [&](const std::optional<Threshold>& t, std::u16string_view name, int status) {
            if (!t || !Alerts(t->range, *number)) return false;
            m.exitStatus = status;
            why = u" (value " + NumberText(*number) + (t->range.alertInside ? u" is inside the " : u" is outside the ") +
                  std::u16string(name) + u" range " + t->text + u")";
            return true;
        };
        if (!number) {
            m.exitStatus = kExitUnknown;
            why = u" (the output begins with no number to compare with the ranges)";
        } else if (!alert(command.critical, u"critical", kExitDown)) {
            alert(command.warning, u"warning", kExitWarning);
        }
    }
    std::u16string perfdata;
    if (command.perfdata) {
        perfdata = u" | time=" + Seconds(seconds) + u"s;;;0";
        if (number) {
            perfdata += u" value=" + PerfdataNumber(*number) + u";" + (command.warning ? command.warning->text : u"") +
                        u";" + (command.critical ? command.critical->text : u"");
        }
    }
    const std::size_t end = FirstLineEnd(result);
    m.text.reserve(result.size() + why.size() + perfdata.size());
    m.text.append(result.substr(0, end)).append(why).append(perfdata).append(result.substr(end));
    return m;
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
