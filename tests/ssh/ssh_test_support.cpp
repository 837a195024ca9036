#include "ssh_test_support.h"

#include "common/text.h"
#include "platform/debug_output.h"
#include "platform/message_queue.h"
#include "ssh/remote_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
const NativeSocket kNoSocket = INVALID_SOCKET;
void CloseNative(NativeSocket s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
void CloseNative(NativeSocket s) { ::close(s); }
#endif

#ifndef TAVRIN_SSHD_FIXTURE_ENV
#error "TAVRIN_SSHD_FIXTURE_ENV names the fixture's env file"
#endif

namespace tavrin::testing {

namespace {

#if defined(_WIN32)
struct Winsock {
    Winsock() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() { WSACleanup(); }
};
const Winsock winsock;
#endif

bool LooksLikePath(const std::string& value) { return !value.empty() && value[0] == '/'; }

// Listens on 127.0.0.1 on a port below 32768 (the check keeps its port in a 16-bit signed
// integer, so the ephemeral ports above are out of its reach).
NativeSocket ListenOnLoopback(int& port) {
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(20000, 32767);
    for (int attempt = 0; attempt < 50; ++attempt) {
        NativeSocket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == kNoSocket) return kNoSocket;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int candidate = pick(generator);
        address.sin_port = htons(static_cast<std::uint16_t>(candidate));
        if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(s, 16) == 0) {
            port = candidate;
            return s;
        }
        CloseNative(s);
    }
    return kNoSocket;
}

}  // namespace

std::string HostPath(const std::string& linuxPath) {
#if defined(_WIN32)
    std::string path = "Z:" + linuxPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
#else
    return linuxPath;
#endif
}

const std::map<std::string, std::string>& FixtureEnv() {
    static const std::map<std::string, std::string> env = [] {
        std::map<std::string, std::string> values;
        std::ifstream in(std::filesystem::path(HostPath(TAVRIN_SSHD_FIXTURE_ENV)));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string value = line.substr(eq + 1);
            values[line.substr(0, eq)] = LooksLikePath(value) ? HostPath(value) : value;
        }
        return values;
    }();
    return env;
}

std::string Fixture(const std::string& key) {
    const auto& env = FixtureEnv();
    const auto it = env.find(key);
    if (it == env.end()) {
        ADD_FAILURE() << "The test sshd is not running: " << key << " is missing from " << TAVRIN_SSHD_FIXTURE_ENV
                      << " (start it with tests/fixtures/sshd-fixture.sh start DIR)";
        return {};
    }
    return it->second;
}

std::u16string FixtureU(const std::string& key) { return FromUtf8(Fixture(key)); }

std::string ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavrin-ssh-tests" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

modTavrin::ConnectionSettings PasswordSettings(const std::u16string& command, std::int16_t timeout) {
    modTavrin::ConnectionSettings s;
    s.hostName = FixtureU("SSHD_HOST");
    s.port = static_cast<std::int16_t>(std::stoi("0" + Fixture("SSHD_PORT")));
    s.protocol.assign(1, u'A');  // (not "= u\"A\"": GCC 12 warns falsely about that assignment)
    s.userName = FixtureU("SSHD_USER");
    s.password = FixtureU("SSHD_PASSWORD");
    s.command = command;
    s.timeout = timeout;
    return s;
}

void PumpFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < until) {
        platform::PumpPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

RunResult RunRemote(const modTavrin::ConnectionSettings& settings, std::chrono::milliseconds bound) {
    RunResult result;
    auto traces = std::make_shared<int>(0);
    platform::DebugSink previous = platform::SetDebugSink([traces](std::u16string_view text) {
        if (text == u"Disconnected from SSH server") ++*traces;
    });
    {
        modTavrin::Settings() = settings;
        modTavrin::Outcome().collectedOutput.clear();
        ssh::RemoteCommandRun run;
        const auto start = std::chrono::steady_clock::now();
        run.Get_mount_list(u"");
        while (modTavrin::Outcome().completionFlag == 0 && std::chrono::steady_clock::now() - start < bound) {
            platform::PumpPending();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.completed = modTavrin::Outcome().completionFlag != 0;
        platform::PumpPending();
    }
    result.output = modTavrin::Outcome().collectedOutput;
    result.error = modTavrin::Outcome().errorText;
    result.disconnectTraces = *traces;
    platform::SetDebugSink(std::move(previous));
    return result;
}

struct FaultServer::Impl {
    NativeSocket listener = kNoSocket;
    std::vector<NativeSocket> open;
    std::atomic<bool> stop{false};
    std::thread thread;
};

FaultServer::FaultServer(Mode mode) : impl_(std::make_unique<Impl>()) {
    impl_->listener = ListenOnLoopback(port_);
    if (impl_->listener == kNoSocket) {
        ADD_FAILURE() << "no listening socket on 127.0.0.1";
        return;
    }
    impl_->thread = std::thread([this, mode] {
        // Bounded: the server ends with its owner, or after two minutes at the latest.
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!impl_->stop && std::chrono::steady_clock::now() < until) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(impl_->listener, &readable);
            timeval tv{0, 50 * 1000};
            const int rc = ::select(static_cast<int>(impl_->listener) + 1, &readable, nullptr, nullptr, &tv);
            if (rc <= 0) continue;
            const NativeSocket client = ::accept(impl_->listener, nullptr, nullptr);
            if (client == kNoSocket) continue;
            ++accepted_;
            switch (mode) {
                case Mode::kCloseAtOnce: CloseNative(client); break;
                case Mode::kSilent: impl_->open.push_back(client); break;
                case Mode::kStallAfterBanner: {
                    static const char banner[] = "SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n";
                    ::send(client, banner, sizeof banner - 1, 0);
                    impl_->open.push_back(client);
                    break;
                }
            }
        }
    });
}

FaultServer::~FaultServer() {
    impl_->stop = true;
    if (impl_->thread.joinable()) impl_->thread.join();
    for (const NativeSocket s : impl_->open) CloseNative(s);
    if (impl_->listener != kNoSocket) CloseNative(impl_->listener);
}

int ClosedPort() {
    int port = 0;
    const NativeSocket s = ListenOnLoopback(port);
    if (s != kNoSocket) CloseNative(s);
    return port;
}

}  // namespace tavrin::testing
