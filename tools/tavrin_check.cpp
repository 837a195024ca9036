// tavrin-check: one check from a terminal.
#include "common/text.h"
#include "platform/debug_output.h"
#include "plugin/portable_object.h"
#include "tools/cli.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

std::vector<std::u16string> Arguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    std::vector<std::u16string> args;
#ifdef _WIN32
    int count = 0;
    const auto freeArgv = [](LPWSTR* p) { LocalFree(p); };
    std::unique_ptr<LPWSTR, decltype(freeArgv)> wide(CommandLineToArgvW(GetCommandLineW(), &count), freeArgv);
    for (int i = 1; wide && i < count; ++i) {
        args.emplace_back(reinterpret_cast<const char16_t*>(wide.get()[i]));
    }
#else
    for (int i = 1; i < argc; ++i) args.push_back(tavrin::FromUtf8(argv[i]));
#endif
    return args;
}

void WriteLine(std::FILE* to, std::u16string_view text) {
    const std::string utf8 = tavrin::ToUtf8(text) + "\n";
    std::fwrite(utf8.data(), 1, utf8.size(), to);
    std::fflush(to);
}

// The first line of a file, without its line end, as UTF-8.
std::optional<std::u16string> ReadPasswordFile(const std::u16string& path) {
#ifdef _WIN32
    std::ifstream in(std::filesystem::path(reinterpret_cast<const wchar_t*>(path.c_str())), std::ios::binary);
#else
    std::ifstream in(tavrin::ToUtf8(path), std::ios::binary);
#endif
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return tavrin::FromUtf8(line);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tavrin;
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    const auto parsed = tools::ParseCommandLine(Arguments(argc, argv));
    if (parsed.help) {
        std::fputs(tools::kUsage, stdout);
        return tools::kExitUp;
    }
    if (parsed.describe) {
        for (const auto& line : tools::Describe(parsed.describe->parameter, parsed.describe->showPassword)) {
            WriteLine(stdout, line);
        }
        return tools::kExitUp;
    }
    if (parsed.compose) {
        tools::ComposeRequest request = parsed.compose->request;
        if (parsed.compose->passwordFile) {
            const auto password = ReadPasswordFile(*parsed.compose->passwordFile);
            if (!password) {
                WriteLine(stderr, u"tavrin-check: cannot read the password file " + *parsed.compose->passwordFile);
                return tools::kExitUsage;
            }
            request.password = *password;
        }
        const auto result = tools::Compose(request);
        if (!result.parameter) {
            WriteLine(stderr, u"tavrin-check: " + result.error);
            return tools::kExitUsage;
        }
        WriteLine(stdout, *result.parameter);
        return tools::kExitUp;
    }
    if (!parsed.check) {
        WriteLine(stderr, u"tavrin-check: " + parsed.error);
        std::fputs(tools::kUsage, stderr);
        return tools::kExitUsage;
    }
    const tools::CheckCommand& command = *parsed.check;
    if (command.verbose) {
        platform::SetDebugSink([](std::u16string_view text) { WriteLine(stderr, text); });
    }

    plugin::PortableObject object;
    object.sa_hostname = command.host;
    if (command.timeout) object.sa_timeout = *command.timeout;
    object.sa_parameter = command.parameter;
    const bool up = object.sa_docheck();
    WriteLine(stdout, std::get<std::u16string>(object.sa_result));
    return up ? tools::kExitUp : tools::kExitDown;
}
