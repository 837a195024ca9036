#pragma once
// What the two benchmark hosts share: their command line, the parameter string they build,
// the process's CPU time, memory and handle counts, and the measurements themselves, each
// over a Checker that runs one check the way the host runs it (the COM object under Wine,
// the portable object natively). bench/bench.py starts the hosts and reads the "@bench" lines
// they print (one JSON object each).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::bench {

struct Options {
    std::string mode = "checks";  // checks, soak, wait, throughput, concurrency, once, kill-series, kept-idle
    std::string label;
    std::u16string host = u"127.0.0.1";
    int port = 22;
    std::u16string user;
    std::u16string password;
    std::u16string keyFile;  // empty: password login
    int timeout = 10;
    std::u16string command = u"echo ok";
    std::u16string cco = u"CON";
    std::u16string con = u"ok";
    std::u16string rre = u"NO";
    int count = 30;
    int warmup = 3;
    int threads = 8;
    std::u16string knownHostsDir;  // DIR/.ssh/known_hosts is the file the checks use
    std::uint64_t bytes = 0;       // throughput: how much the command prints
    // Kept connections: the parameter string's REUSE field in seconds (0: no field, a fresh
    // login per check).
    int reuse = 0;
    // A new plug-in object for each check (made before the previous one is released, as a host
    // that creates one per check does), instead of one object for the whole series.
    bool objectPerCheck = false;
    // kill-series: a "kill" sync point before every this many checks, where bench/bench.py
    // ends the server's sessions.
    int killEvery = 20;
    // Pause at the measurement's edges: print a "sync" record and wait for a line on standard
    // input, so that bench/bench.py can sample the process (and Wine's server) from outside.
    bool sync = false;
    // The parameter string's HFP field (pinned host keys, a comma list); empty: none. In the
    // kept-idle series each connection adds a pin of its own, which makes its login its own.
    std::u16string pins;
    // kept-idle: how long the kept connections are left idle before they are dropped.
    int idleSeconds = 60;
};

// Parses the arguments after the program's name; prints the reason and returns nothing when
// they are not understood.
std::optional<Options> ParseOptions(const std::vector<std::u16string>& args);

// The arguments of this process, Windows' own command line included.
std::vector<std::u16string> ProgramArguments(int argc, char** argv);

std::u16string Base64(const std::u16string& text);
// The parameter string of a check with these options, running `command`.
std::u16string Parameter(const Options& options, const std::u16string& command);

// One plug-in object, used on the thread that created it.
class Checker {
public:
    virtual ~Checker() = default;
    // Sets the object's host name, time-out and parameter, runs sa_docheck and reads sa_result.
    virtual bool Check(const std::u16string& host, int timeout, const std::u16string& parameter,
                       std::u16string& result) = 0;
};
// Makes a checker for the calling thread (with its apartment, where the platform has one).
using CheckerFactory = std::function<std::unique_ptr<Checker>()>;

// What the process holds at one moment. Values that the platform does not report are -1.
struct ProcessState {
    double cpuSeconds = 0;           // user and kernel time of the whole process so far
    std::int64_t rssBytes = -1;      // resident set (Linux VmRSS)
    std::int64_t peakRssBytes = -1;  // its peak (Linux VmHWM / ru_maxrss)
    std::int64_t workingSet = -1;    // Windows: WorkingSetSize
    std::int64_t peakWorkingSet = -1;
    std::int64_t pagefile = -1;      // Windows: PagefileUsage (private committed bytes)
    std::int64_t peakPagefile = -1;
    std::int64_t handles = -1;       // Windows: GetProcessHandleCount
    std::int64_t freshHandle = -1;   // Windows: the value a new handle gets (grows with leaks)
    std::int64_t systemListHandles = -1;  // Windows: this process's entries in the system handle list
    // Linux only (under Wine, bench/bench.py reads the process's /proc from outside).
    std::int64_t fds = -1;           // open descriptors (/proc/self/fd)
    std::int64_t threads = -1;       // /proc/self/status Threads
    std::int64_t voluntarySwitches = -1;  // Linux: context switches of the process (sleeps)
};

ProcessState Sample();

// The known_hosts file that the options name (DIR/.ssh/known_hosts of --known-hosts-dir, in
// this system's form); empty when they name none.
std::u16string KnownHostsFile(const Options& options);

// How a host gets ready for a measurement: it points the plug-in at the options' known_hosts
// file and returns how it makes its checkers.
using HostSetUp = std::function<CheckerFactory(const Options& options)>;

// What a host can tell of its process's kept connections (ssh/session_pool.h); a host that
// cannot see them leaves the functions empty, and the kept-idle series is not run there.
struct PoolView {
    std::function<double()> kept;                  // links kept, those being probed included
    std::function<std::vector<double>()> probes;   // probes sent, answered, discarded
};

// A host's whole program: reads the arguments, sets the host up and runs the measurement that
// the mode names, printing its figures; returns the exit code.
int HostMain(int argc, char** argv, const HostSetUp& setUp, const PoolView& pool = {});

}  // namespace tavrin::bench
