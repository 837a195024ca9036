#include "ssh_test_support.h"

#include "common/text.h"
#include "platform/debug_output.h"
#include "platform/message_queue.h"
#include "ssh/remote_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
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
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
void CloseNative(NativeSocket s) { ::close(s); }
#endif
#if defined(MSG_NOSIGNAL)
constexpr int kNoSignal = MSG_NOSIGNAL;  // a peer that is gone must not end the test program
#else
constexpr int kNoSignal = 0;
#endif

#ifndef TAVRIN_SSHD_FIXTURE_ENV
#error "TAVRIN_SSHD_FIXTURE_ENV names the fixture's env file"
#endif

#ifndef _WIN32
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>

// Every close of this process (libssh's included: it is linked statically, so its calls bind to
// this definition) goes through here, and one that finds no such handle is counted: a second
// close of the same number would have closed whatever another thread had opened under it.
namespace {
std::atomic<int> failedCloses{0};
}
extern "C" int close(int fd) {
    const long rc = ::syscall(SYS_close, fd);
    if (rc != 0 && errno == EBADF) failedCloses.fetch_add(1);
    return static_cast<int>(rc);
}
#endif

namespace tavrin::testing {

std::optional<int> FailedCloses() {
#ifdef _WIN32
    return std::nullopt;
#else
    return failedCloses.load();
#endif
}

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

RunResult RunRemote(ssh::ComponentFactory& component, const modTavrin::ConnectionSettings& settings,
                    std::chrono::milliseconds bound) {
    RunResult result;
    auto traces = std::make_shared<int>(0);
    platform::DebugSink previous = platform::SetDebugSink([traces](std::u16string_view text) {
        if (text == u"Disconnected from SSH server") ++*traces;
    });
    {
        modTavrin::Settings() = settings;
        modTavrin::Outcome().collectedOutput.clear();
        ssh::RemoteCommandRun run(component);
        const auto start = std::chrono::steady_clock::now();
        run.Get_mount_list(u"");
        while (modTavrin::Outcome().completionFlag == 0 && std::chrono::steady_clock::now() - start < bound) {
            platform::PumpPending();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.completed = modTavrin::Outcome().completionFlag != 0;
        platform::PumpPending();
        run.ReleaseConnection();
        result.report = run.LastRun();
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

struct CutProxy::Impl {
    NativeSocket listener = kNoSocket;
    std::atomic<bool> stop{false};
    std::thread thread;
};

namespace {

NativeSocket ConnectLoopback(int port) {
    NativeSocket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        CloseNative(s);
        return kNoSocket;
    }
    return s;
}

void CutSocket(NativeSocket s, CutProxy::Cut how) {
    if (how == CutProxy::Cut::kReset) {
        linger hard{};
        hard.l_onoff = 1;
        hard.l_linger = 0;
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    } else {
#if defined(_WIN32)
        ::shutdown(s, SD_BOTH);
#else
        ::shutdown(s, SHUT_RDWR);
#endif
    }
    CloseNative(s);
}

}  // namespace

CutProxy::CutProxy(int serverPort, Cut how, std::uint64_t cutAfterBytes, std::string triggerFile)
    : impl_(std::make_unique<Impl>()) {
    impl_->listener = ListenOnLoopback(port_);
    if (impl_->listener == kNoSocket) {
        ADD_FAILURE() << "no listening socket on 127.0.0.1";
        return;
    }
    impl_->thread = std::thread([this, serverPort, how, cutAfterBytes, trigger = std::move(triggerFile)] {
        // Bounded: the proxy ends with its owner, or after two minutes at the latest. The first
        // connection is cut; later ones (one at a time) are forwarded faithfully.
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        for (bool first = true; !impl_->stop && std::chrono::steady_clock::now() < until; first = false) {
        NativeSocket client = kNoSocket;
        while (client == kNoSocket && !impl_->stop && std::chrono::steady_clock::now() < until) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(impl_->listener, &readable);
            timeval tv{0, 50 * 1000};
            if (::select(static_cast<int>(impl_->listener) + 1, &readable, nullptr, nullptr, &tv) > 0) {
                client = ::accept(impl_->listener, nullptr, nullptr);
            }
        }
        if (client == kNoSocket) return;
        const NativeSocket server = ConnectLoopback(serverPort);
        if (server == kNoSocket) {
            CloseNative(client);
            continue;
        }
        std::uint64_t fromServer = 0;
        char buffer[16384];
        bool open = true;
        while (open && !impl_->stop && std::chrono::steady_clock::now() < until) {
            const bool triggered = first && ((cutAfterBytes > 0 && fromServer >= cutAfterBytes) ||
                                             (!trigger.empty() && std::filesystem::exists(std::filesystem::path(trigger))));
            if (triggered) {
                cut_ = true;  // before the cut: the client may end its run as soon as it sees it
                CutSocket(client, how);
                CloseNative(server);
                break;
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(client, &readable);
            FD_SET(server, &readable);
            timeval tv{0, 20 * 1000};
            const int top = static_cast<int>(std::max(client, server)) + 1;
            if (::select(top, &readable, nullptr, nullptr, &tv) <= 0) continue;
            for (const bool serverSide : {true, false}) {
                const NativeSocket from = serverSide ? server : client;
                const NativeSocket to = serverSide ? client : server;
                if (!FD_ISSET(from, &readable)) continue;
                // From the server, no more than the cut point: the cut lands exactly there.
                std::size_t want = sizeof buffer;
                if (serverSide && cutAfterBytes > 0 && first) {
                    want = static_cast<std::size_t>(std::min<std::uint64_t>(want, cutAfterBytes - fromServer));
                }
                const int got = static_cast<int>(::recv(from, buffer, static_cast<int>(want), 0));
                if (got <= 0) {
                    open = false;
                    break;
                }
                if (serverSide) fromServer += static_cast<std::uint64_t>(got);
                for (int sent = 0; sent < got;) {
                    const int n = static_cast<int>(::send(to, buffer + sent, got - sent, kNoSignal));
                    if (n <= 0) {
                        open = false;
                        break;
                    }
                    sent += n;
                }
            }
        }
        if (!cut_ || !first) {
            CloseNative(client);
            CloseNative(server);
        }
        }
    });
}

CutProxy::~CutProxy() {
    impl_->stop = true;
    if (impl_->thread.joinable()) impl_->thread.join();
    if (impl_->listener != kNoSocket) CloseNative(impl_->listener);
}

struct SilentPort::Impl {
    NativeSocket listener = kNoSocket;
    std::vector<NativeSocket> fillers;
};

SilentPort::SilentPort() : impl_(std::make_unique<Impl>()) {
    impl_->listener = ListenOnLoopback(port_);
    if (impl_->listener == kNoSocket || ::listen(impl_->listener, 0) != 0) {
        ADD_FAILURE() << "no listening socket on 127.0.0.1";
        return;
    }
    // Fill the queue: these connections are completed by the system and never accepted (they
    // are started without waiting: once the queue is full, a connect would wait for minutes).
    for (int i = 0; i < 3; ++i) {
        const NativeSocket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == kNoSocket) continue;
#if defined(_WIN32)
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
#else
        fcntl(s, F_SETFL, fcntl(s, F_GETFL, 0) | O_NONBLOCK);
#endif
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        (void)::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        impl_->fillers.push_back(s);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

SilentPort::~SilentPort() {
    for (const NativeSocket s : impl_->fillers) CloseNative(s);
    if (impl_->listener != kNoSocket) CloseNative(impl_->listener);
}

int ClosedPort() {
    int port = 0;
    const NativeSocket s = ListenOnLoopback(port);
    if (s != kNoSocket) CloseNative(s);
    return port;
}

DroppedConnection::DroppedConnection(int serverPort, int clientPort) {
#if defined(_WIN32)
    (void)serverPort;
    (void)clientPort;
#else
    if (geteuid() != 0) return;
    const std::string server = std::to_string(serverPort), client = std::to_string(clientPort);
    for (const auto& [from, to] : {std::pair{server, client}, std::pair{client, server}}) {
        std::string rule = "INPUT -i lo -p tcp -s 127.0.0.1 --sport " + from + " -d 127.0.0.1 --dport " + to +
                           " -m comment --comment tavrin-test -j DROP";
        // -w: other programs may change the rules at the same moment.
        if (std::system(("iptables -w -I " + rule + " >/dev/null 2>&1").c_str()) != 0) break;
        rules_.push_back(std::move(rule));
    }
    if (rules_.size() != 2) {
        for (const std::string& rule : rules_) (void)std::system(("iptables -w -D " + rule + " >/dev/null 2>&1").c_str());
        rules_.clear();
    }
#endif
}

DroppedConnection::~DroppedConnection() {
#if !defined(_WIN32)
    for (const std::string& rule : rules_) {
        if (std::system(("iptables -w -D " + rule + " >/dev/null 2>&1").c_str()) != 0) {
            ADD_FAILURE() << "the iptables rule '" << rule << "' could not be removed; remove it by hand";
        }
    }
#endif
}

}  // namespace tavrin::testing
