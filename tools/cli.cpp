#include "tools/cli.h"

namespace tavrin::tools {

const char* const kUsage =
    "usage: tavrin-check --host HOST [--timeout SECONDS] --parameter STRING [--verbose]\n"
    "\n"
    "Runs one SSH command check with the parameter string that the monitoring host stores,\n"
    "prints the result text and exits with 0 for UP, 2 for DOWN and 3 for a usage error.\n"
    "\n"
    "  --host HOST          the server to check\n"
    "  --timeout SECONDS    bound on the whole check; 0 or none means 60 seconds\n"
    "  --parameter STRING   the parameter string, e.g. \"#ENC=T#USR=admin#PWD=...#CMD=...#\"\n"
    "  --verbose            write the debug traces to standard error\n"
    "  --help               this text\n";

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args) {
    ParsedCommandLine parsed;
    CheckCommand check;
    bool haveHost = false, haveParameter = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        const auto value = [&](std::u16string& into) {
            if (i + 1 >= args.size()) {
                parsed.error = arg + u" needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        if (arg == u"--help" || arg == u"-h") {
            parsed.help = true;
            return parsed;
        } else if (arg == u"--host") {
            if (!value(check.host)) return parsed;
            haveHost = true;
        } else if (arg == u"--timeout") {
            std::u16string t;
            if (!value(t)) return parsed;
            check.timeout = t;
        } else if (arg == u"--parameter") {
            if (!value(check.parameter)) return parsed;
            haveParameter = true;
        } else if (arg == u"--verbose" || arg == u"-v") {
            check.verbose = true;
        } else {
            parsed.error = u"unknown argument " + arg;
            return parsed;
        }
    }
    if (!haveHost) parsed.error = u"--host is required";
    else if (!haveParameter) parsed.error = u"--parameter is required";
    else parsed.check = check;
    return parsed;
}

}  // namespace tavrin::tools
