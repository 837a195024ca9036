#pragma once
// What the SSH tests share: the test sshd's data (tests/fixtures/sshd-fixture.sh), a run of the
// remote command run driven like the check run drives it, and fault servers on 127.0.0.1.

#include "ssh/component.h"
#include "ssh/records.h"
#include "ssh/remote_run.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tavrin::testing {

// The fixture's env file as KEY=VALUE pairs; paths already in this platform's form
// (under Wine, Z:\ and backslashes). Empty when the file cannot be read.
const std::map<std::string, std::string>& FixtureEnv();
// One value; fails the current test when it is missing.
std::string Fixture(const std::string& key);
std::u16string FixtureU(const std::string& key);
// A Linux path as this platform names it.
std::string HostPath(const std::string& linuxPath);
// A directory for the current test's files (created empty).
std::string ScratchDir();

struct RunResult {
    bool completed = false;  // the completion flag was raised within the bound
    std::u16string output;
    std::u16string error;
    double seconds = 0;      // from Get_mount_list until the flag was raised
    int disconnectTraces = 0;
    ssh::RunReport report;   // what the run showed of the server
};

// The settings of a password login at the fixture's main server, running `command`.
modTavrin::ConnectionSettings PasswordSettings(const std::u16string& command, std::int16_t timeout = 10);

// Fills this thread's settings, clears the collected output, calls Get_mount_list of a remote
// command run over `component` and pumps until the completion flag is raised or `bound` has
// passed.
RunResult RunRemote(ssh::ComponentFactory& component, const modTavrin::ConnectionSettings& settings,
                    std::chrono::milliseconds bound = std::chrono::seconds(30));

// Pumps this thread's queue for a while (events that come late).
void PumpFor(std::chrono::milliseconds time);

// A TCP server on 127.0.0.1 that misbehaves in one way.
class FaultServer {
public:
    enum class Mode { kSilent, kCloseAtOnce, kStallAfterBanner };
    explicit FaultServer(Mode mode);
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;
    int Port() const { return port_; }
    int Accepted() const { return accepted_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    std::atomic<int> accepted_{0};
};

// How many closes of this process found no such handle (EBADF) so far; nothing where closes
// cannot be watched (Windows).
std::optional<int> FailedCloses();

// A port on 127.0.0.1 on which nothing listens (found free a moment ago).
int ClosedPort();

// A TCP proxy on 127.0.0.1 in front of a server port that cuts its first connection in the
// middle: after `cutAfterBytes` bytes from the server (0: no count), or once `triggerFile`
// exists (empty: no file). The client side is cut with a FIN or a reset; the server side is
// closed. Without either trigger it forwards faithfully, and so it does the connections that
// come after the first (one at a time).
class CutProxy {
public:
    enum class Cut { kFin, kReset };
    CutProxy(int serverPort, Cut how, std::uint64_t cutAfterBytes, std::string triggerFile);
    ~CutProxy();
    CutProxy(const CutProxy&) = delete;
    CutProxy& operator=(const CutProxy&) = delete;
    int Port() const { return port_; }
    bool HasCut() const { return cut_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    std::atomic<bool> cut_{false};
};

// A port on 127.0.0.1 that never answers a connect: its listener takes no connection, and
// once its queue is full the system drops further connection requests unanswered.
class SilentPort {
public:
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    int Port() const { return port_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

// One TCP connection on 127.0.0.1 whose packets vanish in both directions while the object
// lives, as when a NAT or firewall on the way forgets it: iptables rules in INPUT, added by the
// constructor and removed by the destructor (so also when the test fails). Linux as root with
// iptables only; elsewhere, or when a rule cannot be added, Active() is false and nothing is
// left behind. The rules carry the comment "tavrin-test" (`iptables -S INPUT` shows leftovers
// of a test program that was killed).
class DroppedConnection {
public:
    DroppedConnection(int serverPort, int clientPort);
    ~DroppedConnection();
    DroppedConnection(const DroppedConnection&) = delete;
    DroppedConnection& operator=(const DroppedConnection&) = delete;
    bool Active() const { return rules_.size() == 2; }

private:
    std::vector<std::string> rules_;  // the match of each rule added, as iptables arguments
};

}  // namespace tavrin::testing
