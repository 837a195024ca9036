// tavrin-check: one check from a terminal.
#include "common/text.h"
#include "common/automation_error.h"
#include "common/version.h"
#include "parameters/fields.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/secret.h"
#include "platform/secret_store.h"
#include "plugin/check_run.h"
#include "plugin/portable_object.h"
#include "ssh/host_key_pins.h"
#include "ssh/key_store.h"
#include "ssh/known_hosts.h"
#include "ssh/library.h"
#include "ssh/remote_run.h"
#include "ssh/session.h"
#include "tools/cli.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

using namespace tavrin;

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

// A parameter string or a password is never larger than this.
constexpr std::size_t kLargestInput = 1024 * 1024;

// The first line of a file (UTF-8), without its line end. The bytes read are wiped.
std::optional<std::u16string> ReadFirstLine(const std::u16string& path) {
    platform::FileContents file = platform::ReadWholeFile(path, kLargestInput);
    if (file.status != platform::FileStatus::Read) return std::nullopt;
    std::u16string line = tools::ParameterFromBytes(file.bytes);
    platform::SecureWipe(file.bytes);
    return line;
}

std::optional<std::u16string> ReadStandardInputLine() {
    std::string bytes;
    char buffer[4096];
    std::size_t got = 0;
    while (bytes.find('\n') == std::string::npos && bytes.size() < kLargestInput &&
           (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        bytes.append(buffer, got);
    }
    platform::SecureWipe(buffer, sizeof buffer);
    std::u16string line = tools::ParameterFromBytes(bytes);
    platform::SecureWipe(bytes);
    return line;
}

// The parameter string from where the command line says; nullopt (with a message) when it
// cannot be read.
std::optional<std::u16string> ReadParameter(const tools::ParameterSource& source) {
    switch (source.kind) {
        case tools::ParameterSource::Kind::Text: return source.value;
        case tools::ParameterSource::Kind::StandardInput: return ReadStandardInputLine();
        case tools::ParameterSource::Kind::File: break;
    }
    auto text = ReadFirstLine(source.value);
    if (!text) WriteLine(stderr, u"tavrin-check: cannot read the parameter file " + source.value);
    return text;
}

// The bastion of a parameter string, logged in to as a check would (JPW and JKF, else the
// check's own PWD and KEYF; JFP or the known_hosts files), for fetching the key of a server
// behind it. Null without JMP; `error` set when the string's bastion cannot be used.
std::unique_ptr<ssh::SessionRequest> BastionOf(std::u16string_view parameter, std::chrono::seconds timeout,
                                               std::u16string& error) {
    using parameters::Field;
    const parameters::JumpParse jump = parameters::ParseJump(parameters::StoredValue(parameter, Field::Jump));
    if (!jump.ok()) error = jump.error;
    if (!jump.jump) return nullptr;
    const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(parameters::StoredValue(parameter, Field::JumpHostKeys));
    if (!pins.ok()) {
        error = u"JFP: " + pins.error;
        return nullptr;
    }
    try {
        struct Wiped {
            std::u16string text;
            ~Wiped() { platform::SecureWipe(text); }
        } password{parameters::Value(parameter, Field::JumpPassword)};
        std::u16string keyFile = TrimBlanks(parameters::StoredValue(parameter, Field::JumpKeyFile));
        if (password.text.empty() && keyFile.empty()) {
            password.text = parameters::Value(parameter, Field::Password);
            keyFile = TrimBlanks(parameters::StoredValue(parameter, Field::KeyFile));
        }
        std::shared_ptr<const ssh::LoadedKey> key;
        if (!keyFile.empty()) {
            key = ssh::LoadPrivateKeyFile(keyFile, password.text.empty() ? std::nullopt
                                                                         : std::optional<std::u16string>(password.text));
        }
        return ssh::MakeBastionRequest(ToUtf8(jump.jump->host), jump.jump->port, ToUtf8(jump.jump->user),
                                       platform::SecretUtf8(password.text), std::move(key), pins.fingerprints,
                                       ssh::DefaultKnownHostsFiles(), timeout, std::chrono::seconds(0));
    } catch (const AutomationError& e) {
        error = u"the bastion's login: " + e.description();
        return nullptr;
    }
}

int Pin(const tools::PinCommand& command) {
    std::optional<std::u16string> parameter;
    if (command.parameter) {
        parameter = ReadParameter(*command.parameter);
        if (!parameter) return tools::kExitUnknown;
    }
    std::u16string host = command.host;
    int port = tools::PinPort(command.port, parameter);
    if (command.jump) {
        const parameters::JumpParse jump =
            parameters::ParseJump(parameters::StoredValue(*parameter, parameters::Field::Jump));
        if (!jump.ok() || !jump.jump) {
            WriteLine(stderr, u"tavrin-check: " + (jump.ok() ? u"the parameter string names no bastion (JMP)" : jump.error));
            return tools::kExitUnknown;
        }
        host = jump.jump->host;
        port = jump.jump->port;
    }
    // A server behind a bastion is reached through it, as its checks reach it.
    std::unique_ptr<ssh::SessionRequest> bastion;
    if (parameter && !command.jump) {
        std::u16string error;
        bastion = BastionOf(*parameter, std::chrono::seconds(command.timeoutSeconds), error);
        if (!error.empty()) {
            WriteLine(stderr, u"tavrin-check: " + error);
            return tools::kExitUnknown;
        }
    }
    const ssh::HostKeyProbe probe =
        ssh::ProbeHostKey(ToUtf8(host), port, std::chrono::seconds(command.timeoutSeconds),
                          ssh::DefaultKnownHostsFiles(), nullptr, std::move(bastion));
    if (!probe.error.empty() || probe.fingerprint.empty()) {
        WriteLine(stderr, u"tavrin-check: " + (probe.error.empty() ? u"the server sent no host key" : probe.error));
        return tools::kExitDown;
    }
    WriteLine(stdout, probe.keyType + u" " + probe.fingerprint);
    if (parameter) {
        WriteLine(stdout, command.jump ? tools::WithBastionHostKeyPin(*parameter, probe.fingerprint)
                                       : tools::WithHostKeyPin(*parameter, probe.fingerprint));
    }
    return tools::kExitUp;
}

// credential set|delete: 0 done, 3 for anything that failed; the password is never printed.
int Credential(const tools::CredentialCommand& command) {
    const bool set = command.action == tools::CredentialCommand::Action::Set;
    const std::u16string what = set ? u"credential set" : u"credential delete";
    if (!platform::HasWindowsSecretStores()) {
        WriteLine(stderr, u"tavrin-check: " + what +
                              u": the Windows Credential Manager is a Windows store, there is none on this system");
        return tools::kExitUnknown;
    }
    std::u16string error;
    if (set) {
        std::optional<std::u16string> password = ReadFirstLine(command.passwordFile);
        if (!password) {
            WriteLine(stderr, u"tavrin-check: cannot read the password file " + command.passwordFile);
            return tools::kExitUnknown;
        }
        const platform::SecretText secret(std::move(*password));
        if (secret.empty()) {
            WriteLine(stderr, u"tavrin-check: credential set: the password file's first line is empty");
            return tools::kExitUnknown;
        }
        error = platform::WriteGenericCredential(command.target, command.user, secret.get());
    } else {
        error = platform::DeleteGenericCredential(command.target);
    }
    if (!error.empty()) {
        WriteLine(stderr, u"tavrin-check: " + what + u" \"" + command.target + u"\": " + error);
        return tools::kExitUnknown;
    }
    WriteLine(stdout, set ? u"the credential \"" + command.target + u"\" is stored for this account" +
                                (command.user.empty() ? u" (no user name)" : u", user name \"" + command.user + u"\"")
                          : u"the credential \"" + command.target + u"\" is deleted for this account");
    return tools::kExitUp;
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
    if (parsed.version && parsed.error.empty()) {
        WriteLine(stdout, u"tavrin-check " + FromUtf8(TAVRIN_VERSION_TEXT));
        WriteLine(stdout, u"libssh " + FromUtf8(ssh::LibraryVersion()));
        return tools::kExitUp;
    }
    if (parsed.describe) {
        const auto parameter = ReadParameter(parsed.describe->parameter);
        if (!parameter) return tools::kExitUnknown;
        for (const auto& line : tools::Describe(*parameter, parsed.describe->showPassword)) {
            WriteLine(stdout, line);
        }
        return tools::kExitUp;
    }
    if (parsed.compose) {
        tools::ComposeRequest request = parsed.compose->request;
        for (const auto& [file, slot] : {std::pair{&parsed.compose->passwordFile, &request.password},
                                         std::pair{&parsed.compose->jumpPasswordFile, &request.jumpPassword}}) {
            if (!*file) continue;
            auto password = ReadFirstLine(**file);
            if (!password) {
                WriteLine(stderr, u"tavrin-check: cannot read the password file " + **file);
                platform::SecureWipe(request.password);
                return tools::kExitUnknown;
            }
            *slot = *password;
            platform::SecureWipe(*password);
        }
        const auto result = tools::Compose(request);
        platform::SecureWipe(request.password);
        platform::SecureWipe(request.jumpPassword);
        if (!result.parameter) {
            WriteLine(stderr, u"tavrin-check: " + result.error);
            return tools::kExitUnknown;
        }
        WriteLine(stdout, *result.parameter);
        return tools::kExitUp;
    }
    if (parsed.pin) return Pin(*parsed.pin);
    if (parsed.credential) return Credential(*parsed.credential);
    if (!parsed.check) {
        WriteLine(stderr, u"tavrin-check: " + parsed.error);
        std::fputs(tools::kUsage, stderr);
        return tools::kExitUnknown;
    }
    const tools::CheckCommand& command = *parsed.check;
    if (command.verbose) {
        platform::SetDebugSink([](std::u16string_view text) { WriteLine(stderr, text); });
        ssh::SetRunDetailListener([](std::u16string_view text) { WriteLine(stderr, text); });
    }
    auto parameter = ReadParameter(command.parameter);
    if (!parameter) return tools::kExitUnknown;

    plugin::PortableObject object;
    object.sa_hostname = command.host;
    if (command.timeout) object.sa_timeout = *command.timeout;
    object.sa_parameter = tools::WithOverrides(*parameter, command);
    platform::SecureWipe(*parameter);
    // The run that fills in the output, for the ranges; nothing here ever cancels it.
    const std::atomic<bool> neverCancelled{false};
    plugin::CheckDetails details;
    const auto started = std::chrono::steady_clock::now();
    const bool up = plugin::sa_docheck(object, neverCancelled, details);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const std::u16string result = std::get<std::u16string>(object.sa_result);
    const tools::MonitoringResult shown = tools::ForMonitoring(command, up, result, details.output, took.count());
    WriteLine(stdout, shown.text);
    return shown.exitStatus;
}
