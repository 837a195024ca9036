#include "tools/cli.h"

#include <functional>
#include <map>

namespace tavrin::tools {

const char* const kUsage =
    "usage: tavrin-check --host HOST [--timeout SECONDS] --parameter STRING [--verbose]\n"
    "       tavrin-check describe --parameter STRING [--show-password]\n"
    "       tavrin-check compose --user U [--password P | --password-file F]\n"
    "                    [--key-file K] [--key-type RSA|DSA] [--protocol 1|2|A] [--port N]\n"
    "                    --command C [--operator contains|not-contains|less|greater]\n"
    "                    [--value V] [--return-data never|when-down|always]\n"
    "\n"
    "Runs one SSH command check with the parameter string that the monitoring host stores,\n"
    "prints the result text and exits with 0 for UP, 2 for DOWN and 3 for a usage error.\n"
    "\n"
    "  --host HOST          the server to check\n"
    "  --timeout SECONDS    bound on the whole check; 0 or none means 60 seconds\n"
    "  --parameter STRING   the parameter string, e.g. \"#ENC=T#USR=admin#PWD=...#CMD=...#\"\n"
    "  --verbose            write the debug traces to standard error\n"
    "  --help               this text\n"
    "\n"
    "describe shows each field of a parameter string with its meaning (password masked unless\n"
    "--show-password) and warns of what the check will refuse. compose prints the parameter\n"
    "string that the dialog's OK writes for the given settings; defaults: protocol A, port 22,\n"
    "key type RSA, operator contains, return data never.\n";

namespace {

// Options that take a value, for one command.
using Setter = std::function<void(const std::u16string&)>;

bool ParseOptions(const std::vector<std::u16string>& args, std::size_t from, const std::map<std::u16string, Setter>& valued,
                  const std::map<std::u16string, std::function<void()>>& flags, ParsedCommandLine& parsed) {
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

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args) {
    ParsedCommandLine parsed;
    const std::u16string command = args.empty() ? std::u16string() : args.front();

    if (command == u"describe") {
        DescribeCommand d;
        bool haveParameter = false;
        if (!ParseOptions(args, 1, {{u"--parameter", [&](const auto& v) { d.parameter = v; haveParameter = true; }}},
                          {{u"--show-password", [&] { d.showPassword = true; }}}, parsed)) {
            return parsed;
        }
        if (!haveParameter) parsed.error = u"describe needs --parameter";
        else parsed.describe = d;
        return parsed;
    }

    if (command == u"compose") {
        ComposeCommand c;
        auto& r = c.request;
        bool haveUser = false, haveCommand = false, havePassword = false;
        if (!ParseOptions(args, 1,
                          {{u"--user", [&](const auto& v) { r.user = v; haveUser = true; }},
                           {u"--password", [&](const auto& v) { r.password = v; havePassword = true; }},
                           {u"--password-file", [&](const auto& v) { c.passwordFile = v; }},
                           {u"--key-file", [&](const auto& v) { r.keyFile = v; }},
                           {u"--key-type", [&](const auto& v) { r.keyType = v; }},
                           {u"--protocol", [&](const auto& v) { r.protocol = v; }},
                           {u"--port", [&](const auto& v) { r.port = v; }},
                           {u"--command", [&](const auto& v) { r.command = v; haveCommand = true; }},
                           {u"--operator", [&](const auto& v) { r.comparison = v; }},
                           {u"--value", [&](const auto& v) { r.value = v; }},
                           {u"--return-data", [&](const auto& v) { r.returnData = v; }}},
                          {}, parsed)) {
            return parsed;
        }
        if (!haveUser) parsed.error = u"compose needs --user";
        else if (!haveCommand) parsed.error = u"compose needs --command";
        else if (havePassword && c.passwordFile) parsed.error = u"give --password or --password-file, not both";
        else parsed.compose = c;
        return parsed;
    }

    CheckCommand check;
    bool haveHost = false, haveParameter = false;
    if (!ParseOptions(args, 0,
                      {{u"--host", [&](const auto& v) { check.host = v; haveHost = true; }},
                       {u"--timeout", [&](const auto& v) { check.timeout = v; }},
                       {u"--parameter", [&](const auto& v) { check.parameter = v; haveParameter = true; }}},
                      {{u"--verbose", [&] { check.verbose = true; }}, {u"-v", [&] { check.verbose = true; }}}, parsed)) {
        return parsed;
    }
    if (!haveHost) parsed.error = u"--host is required";
    else if (!haveParameter) parsed.error = u"--parameter is required";
    else parsed.check = check;
    return parsed;
}

}  // namespace tavrin::tools
