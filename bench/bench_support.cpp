#include "bench/bench_support.h"

#include "common/base64.h"
#include "common/text.h"
#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <latch>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#else
#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#endif

namespace tavrin::bench {

namespace {

using Clock = std::chrono::steady_clock;

// ------------------------------------------------------------------ output

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
                    out += buffer;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out + "\"";
}

std::string Number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.12g", value);
    return buffer;
}

// One "@bench {...}" line, written and flushed at once.
class Record {
public:
    explicit Record(std::string_view kind) { Text("kind", kind); }
    Record& Text(std::string_view key, std::string_view utf8) { return Raw(key, JsonString(utf8)); }
    Record& Text(std::string_view key, const std::u16string& text) { return Text(key, ToUtf8(text)); }
    Record& Value(std::string_view key, double value) { return Raw(key, Number(value)); }
    Record& Values(std::string_view key, const std::vector<double>& values) {
        std::string list = "[";
        for (std::size_t i = 0; i < values.size(); ++i) list += (i ? "," : "") + Number(values[i]);
        return Raw(key, list + "]");
    }
    Record& State(const std::string& prefix, const ProcessState& s) {
        Value(prefix + "cpu_s", s.cpuSeconds);
        const std::pair<const char*, std::int64_t> fields[] = {
            {"rss", s.rssBytes},          {"peak_rss", s.peakRssBytes}, {"working_set", s.workingSet},
            {"peak_working_set", s.peakWorkingSet}, {"pagefile", s.pagefile}, {"peak_pagefile", s.peakPagefile},
            {"handles", s.handles},       {"fresh_handle", s.freshHandle},
            {"system_list_handles", s.systemListHandles}, {"fds", s.fds},
            {"threads", s.threads},       {"voluntary_switches", s.voluntarySwitches}};
        for (const auto& [name, value] : fields) Value(prefix + name, static_cast<double>(value));
        return *this;
    }
    void Write() {
        const std::string line = "@bench {" + body_ + "}\n";
        std::lock_guard lock(OutputMutex());
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    static std::mutex& OutputMutex() {
        static std::mutex m;
        return m;
    }

private:
    Record& Raw(std::string_view key, const std::string& json) {
        if (!body_.empty()) body_ += ",";
        body_ += JsonString(key) + ":" + json;
        return *this;
    }
    std::string body_;
};

void Say(const std::string& line) {
    std::lock_guard lock(Record::OutputMutex());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::u16string Digits(int value, int width) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    return FromUtf8(text);
}

// With --sync 1: tells bench/bench.py where the measurement stands and waits until it has
// sampled the process from outside (one line on standard input).
void SyncPoint(const Options& o, const char* point) {
    if (!o.sync) return;
    Record("sync").Text("point", point).Write();
    char line[64];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return;  // no one listens: go on
}

// ------------------------------------------------------------------ the process

#if defined(_WIN32)

// The handles of this process, from the system's handle list (GetProcessHandleCount reads 0
// under Wine).
std::int64_t CountOwnHandles() {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    struct List {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
    std::vector<unsigned char> buffer(1 << 16);
    for (int attempt = 0; attempt < 12; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status < 0) return -1;
        const auto* list = reinterpret_cast<const List*>(buffer.data());
        const ULONG self = GetCurrentProcessId();
        std::int64_t count = 0;
        for (ULONG i = 0; i < list->count; ++i) {
            if (list->entries[i].ownerPid == self) ++count;
        }
        return count;
    }
    return -1;
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

#else

std::int64_t ProcStatusField(const std::string& status, const char* name, std::int64_t scale) {
    const std::size_t at = status.find(name);
    if (at == std::string::npos) return -1;
    return std::strtoll(status.c_str() + at + std::strlen(name), nullptr, 10) * scale;
}

std::string ReadUnixFile(const char* path) {
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return {};
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    return text;
}

std::int64_t CountDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    std::int64_t count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

#endif

}  // namespace

ProcessState Sample() {
    ProcessState s;
    s.cpuSeconds = CpuSeconds();
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        s.workingSet = static_cast<std::int64_t>(counters.WorkingSetSize);
        s.peakWorkingSet = static_cast<std::int64_t>(counters.PeakWorkingSetSize);
        s.pagefile = static_cast<std::int64_t>(counters.PagefileUsage);
        s.peakPagefile = static_cast<std::int64_t>(counters.PeakPagefileUsage);
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) s.handles = handles;
    if (HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        s.freshHandle = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(probe));
        CloseHandle(probe);
    }
    s.systemListHandles = CountOwnHandles();
#else
    const std::string status = ReadUnixFile("/proc/self/status");
    s.fds = CountDescriptors();
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) s.voluntarySwitches = usage.ru_nvcsw;
    s.rssBytes = ProcStatusField(status, "VmRSS:", 1024);
    s.peakRssBytes = ProcStatusField(status, "VmHWM:", 1024);
    s.threads = ProcStatusField(status, "Threads:", 1);
#endif
    return s;
}

// ------------------------------------------------------------------ command line

std::vector<std::u16string> ProgramArguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    std::vector<std::u16string> args;
#if defined(_WIN32)
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        args.emplace_back(reinterpret_cast<const char16_t*>(wide[i]));
    }
    if (wide != nullptr) LocalFree(wide);
#else
    for (int i = 1; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
#endif
    return args;
}

std::optional<Options> ParseOptions(const std::vector<std::u16string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string name = ToUtf8(args[i]);
        if (i + 1 >= args.size()) {
            Say("bench: " + name + " needs a value");
            return std::nullopt;
        }
        const std::u16string& value = args[++i];
        const std::string utf8 = ToUtf8(value);
        try {
            if (name == "--mode") o.mode = utf8;
            else if (name == "--label") o.label = utf8;
            else if (name == "--host") o.host = value;
            else if (name == "--port") o.port = std::stoi(utf8);
            else if (name == "--user") o.user = value;
            else if (name == "--password") o.password = value;
            else if (name == "--key") o.keyFile = value;
            else if (name == "--timeout") o.timeout = std::stoi(utf8);
            else if (name == "--command") o.command = value;
            else if (name == "--cco") o.cco = value;
            else if (name == "--con") o.con = value;
            else if (name == "--rre") o.rre = value;
            else if (name == "--count") o.count = std::stoi(utf8);
            else if (name == "--warmup") o.warmup = std::stoi(utf8);
            else if (name == "--threads") o.threads = std::stoi(utf8);
            else if (name == "--known-hosts-dir") o.knownHostsDir = value;
            else if (name == "--bytes") o.bytes = std::stoull(utf8);
            else if (name == "--sync") o.sync = utf8 == "1";
            else if (name == "--reuse") o.reuse = std::stoi(utf8);
            else if (name == "--object-per-check") o.objectPerCheck = utf8 == "1";
            else if (name == "--kill-every") o.killEvery = std::stoi(utf8);
            else if (name == "--pins") o.pins = value;
            else if (name == "--idle-seconds") o.idleSeconds = std::stoi(utf8);
            else {
                Say("bench: unknown option " + name);
                return std::nullopt;
            }
        } catch (const std::exception&) {
            Say("bench: " + name + " takes a number, not " + utf8);
            return std::nullopt;
        }
    }
    if (o.count < 0 || o.warmup < 0 || o.threads < 1 || o.threads > 64 || o.reuse < 0 || o.killEvery < 1 ||
        o.idleSeconds < 0) {
        Say("bench: counts out of range");
        return std::nullopt;
    }
    return o;
}

// ------------------------------------------------------------------ parameter string

std::u16string Base64(const std::u16string& text) {
    // The plug-in decodes Base64 of ANSI code page bytes; the bench's texts are ASCII.
    const std::string encoded = EncodeBase64(ToUtf8(text));
    return std::u16string(encoded.begin(), encoded.end());
}

std::u16string Parameter(const Options& o, const std::u16string& command) {
    return u"#ENC=T#USR=" + o.user + u"#PWD=" + Base64(o.password) + u"#PROTO=A#PORT=" +
           FromUtf8(std::to_string(o.port)) + u"#KEYF=" + o.keyFile + u"#KEYT=RSA#CMD=" + Base64(command) +
           u"#CCO=" + o.cco + u"#CON=" + o.con + u"#RRE=" + o.rre + u"#" +
           (o.reuse > 0 ? u"REUSE=" + FromUtf8(std::to_string(o.reuse)) + u"#" : u"") +
           (o.pins.empty() ? u"" : u"HFP=" + o.pins + u"#");
}

// ------------------------------------------------------------------ the measurements

namespace {

struct Timed {
    bool up = false;
    std::u16string result;
    double wallMs = 0;
    double cpuMs = 0;
};

// Wall-clock time and the whole process's CPU time since it was made.
class Stopwatch {
public:
    double WallMs() const { return std::chrono::duration<double, std::milli>(Clock::now() - start_).count(); }
    double CpuMs() const { return (CpuSeconds() - cpuStart_) * 1000; }

private:
    double cpuStart_ = CpuSeconds();
    Clock::time_point start_ = Clock::now();
};

Timed TimedCheck(Checker& checker, const Options& o, const std::u16string& parameter) {
    Timed t;
    const Stopwatch watch;
    t.up = checker.Check(o.host, o.timeout, parameter, t.result);
    t.wallMs = watch.WallMs();
    t.cpuMs = watch.CpuMs();
    return t;
}

// The parameter of a check whose command prints `marker` and whose result must hold it.
std::u16string MarkedParameter(const Options& o, const std::u16string& marker) {
    Options mine = o;
    mine.con = marker;
    mine.rre = u"YEA";
    return Parameter(mine, u"echo " + marker);
}

// Whether `result` holds a marker that begins with `kind` (any check's) but not with `own`
// (this check's, or its thread's).
bool HoldsForeignMarker(const std::u16string& result, const std::u16string& kind, const std::u16string& own) {
    for (std::size_t at = result.find(kind); at != std::u16string::npos; at = result.find(kind, at + 1)) {
        if (result.compare(at, own.size(), own) != 0) return true;
    }
    return false;
}

int RunChecks(const Options& o, const CheckerFactory& factory) {
    auto checker = factory();
    const std::u16string parameter = Parameter(o, o.command);
    const ProcessState before = Sample();
    int warmFailures = 0;
    std::vector<double> warmWall;
    for (int i = 0; i < o.warmup; ++i) {
        const Timed t = TimedCheck(*checker, o, parameter);
        warmWall.push_back(t.wallMs);
        if (!t.up) ++warmFailures;
    }
    std::vector<double> wall, cpu;
    int up = 0;
    std::u16string firstDown, lastResult;
    SyncPoint(o, "start");
    const Stopwatch series;
    for (int i = 0; i < o.count; ++i) {
        // The object's making and release count as part of the check.
        const Stopwatch check;
        if (o.objectPerCheck) checker = factory();
        Timed t = TimedCheck(*checker, o, parameter);
        t.wallMs = check.WallMs();
        t.cpuMs = check.CpuMs();
        wall.push_back(t.wallMs);
        cpu.push_back(t.cpuMs);
        if (t.up) ++up;
        else if (firstDown.empty()) firstDown = t.result;
        lastResult = t.result;
    }
    const double totalWallMs = series.WallMs();
    const double totalCpuMs = series.CpuMs();
    SyncPoint(o, "end");
    Record("checks")
        .Text("label", o.label)
        .Value("count", o.count)
        .Value("up", up)
        .Value("warmup", o.warmup)
        .Value("warmup_down", warmFailures)
        .Values("warmup_wall_ms", warmWall)
        .Values("wall_ms", wall)
        .Values("cpu_ms", cpu)
        .Value("total_wall_ms", totalWallMs)
        .Value("total_cpu_ms", totalCpuMs)
        .Text("result", lastResult)
        .Text("first_down", firstDown)
        .State("before_", before)
        .State("after_", Sample())
        .Write();
    Say("bench: " + o.label + ": " + std::to_string(up) + "/" + std::to_string(o.count) + " UP, median " +
        Number(Median(wall)) + " ms wall, " + Number(totalCpuMs / std::max(o.count, 1)) + " ms CPU per check");
    return up == o.count ? 0 : 2;
}

int RunSoak(const Options& o, const CheckerFactory& factory) {
    auto checker = factory();
    const std::u16string parameter = Parameter(o, o.command);
    const auto sample = [&](int after) {
        Record("soak-sample").Value("after", after).State("", Sample()).Write();
        SyncPoint(o, "sample");
    };
    sample(0);
    int up = 0;
    std::u16string firstDown;
    std::vector<double> wall;
    const Stopwatch series;
    for (int i = 1; i <= o.count; ++i) {
        const Timed t = TimedCheck(*checker, o, parameter);
        wall.push_back(t.wallMs);
        if (t.up) ++up;
        else if (firstDown.empty()) firstDown = t.result;
        if (i % 100 == 0 || i == o.count) sample(i);
    }
    Record("soak")
        .Text("label", o.label)
        .Value("count", o.count)
        .Value("up", up)
        .Value("total_wall_ms", series.WallMs())
        .Value("wall_median_ms", Median(wall))
        .Text("first_down", firstDown)
        .Write();
    return up == o.count ? 0 : 2;
}

// One check after a warm-up, with the process's state around it: the wait cost (a command
// that sleeps) and the output throughput (a command that prints much).
int RunSingleMeasured(const Options& o, const CheckerFactory& factory) {
    auto checker = factory();
    for (int i = 0; i < o.warmup; ++i) {
        std::u16string ignored;
        Options warm = o;
        warm.con = u"ok";
        checker->Check(o.host, o.timeout, Parameter(warm, u"echo ok"), ignored);
    }
    SyncPoint(o, "start");
    const ProcessState before = Sample();
    const Timed t = TimedCheck(*checker, o, Parameter(o, o.command));
    const ProcessState after = Sample();
    SyncPoint(o, "end");
    Record(o.mode)
        .Text("label", o.label)
        .Value("up", t.up)
        .Value("wall_ms", t.wallMs)
        .Value("cpu_ms", t.cpuMs)
        .Value("bytes", static_cast<double>(o.bytes))
        .Value("result_length", static_cast<double>(t.result.size()))
        .Text("result", t.result.substr(0, 400))
        .State("before_", before)
        .State("after_", after)
        .Write();
    return t.up ? 0 : 2;
}

int RunOnce(const Options& o, const CheckerFactory& factory) {
    auto checker = factory();
    const Timed t = TimedCheck(*checker, o, Parameter(o, o.command));
    Record("once")
        .Text("label", o.label)
        .Value("up", t.up)
        .Value("wall_ms", t.wallMs)
        .Value("cpu_ms", t.cpuMs)
        .Text("result", t.result.substr(0, 2000))
        .Write();
    return t.up ? 0 : 2;
}

// Threads, each with its own object, each check printing the thread's marker and the check's
// number; a result that names another thread's marker, or lacks its own, is counted.
int RunConcurrency(const Options& o, const CheckerFactory& factory) {
    const int threads = o.threads;
    std::latch ready(threads + 1);
    std::latch go(1);
    std::atomic<int> up{0}, down{0}, foreign{0}, missing{0}, failedToStart{0};
    std::mutex firstMutex;
    std::u16string firstProblem;
    std::vector<std::vector<double>> walls(static_cast<std::size_t>(threads));
    const std::u16string kMark = u"TAVRIN-MARK-";
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            std::unique_ptr<Checker> checker;
            try {
                checker = factory();
            } catch (const std::exception&) {
                ++failedToStart;
            }
            ready.count_down();
            go.wait();
            if (!checker) return;
            const std::u16string own = kMark + Digits(t, 2);
            for (int i = 0; i < o.count; ++i) {
                const std::u16string marker = own + u"-" + Digits(i, 4);
                Timed r;
                try {
                    if (o.objectPerCheck) checker = factory();
                    r = TimedCheck(*checker, o, MarkedParameter(o, marker));
                } catch (const std::exception& e) {
                    r.result = FromUtf8(e.what());
                }
                walls[static_cast<std::size_t>(t)].push_back(r.wallMs);
                bool problem = false;
                if (r.up) ++up;
                else {
                    ++down;
                    problem = true;
                }
                if (HoldsForeignMarker(r.result, kMark, own)) {
                    ++foreign;
                    problem = true;
                }
                if (r.result.find(marker) == std::u16string::npos) {
                    ++missing;
                    problem = true;
                }
                if (problem) {
                    std::lock_guard lock(firstMutex);
                    if (firstProblem.empty()) firstProblem = r.result;
                }
            }
        });
    }
    ready.arrive_and_wait();
    SyncPoint(o, "start");
    const Stopwatch series;
    go.count_down();
    for (auto& thread : pool) thread.join();
    const double wallMs = series.WallMs();
    const double cpuMs = series.CpuMs();
    SyncPoint(o, "end");
    std::vector<double> all;
    for (const auto& w : walls) all.insert(all.end(), w.begin(), w.end());
    const int total = threads * o.count;
    Record("concurrency")
        .Text("label", o.label)
        .Value("threads", threads)
        .Value("per_thread", o.count)
        .Value("up", up)
        .Value("down", down)
        .Value("foreign", foreign)
        .Value("missing_own", missing)
        .Value("failed_to_start", failedToStart)
        .Value("total_wall_ms", wallMs)
        .Value("total_cpu_ms", cpuMs)
        .Value("checks_per_second", total / (wallMs / 1000))
        .Value("wall_median_ms", Median(all))
        .Text("first_problem", firstProblem)
        .Write();
    return (up == total && foreign == 0 && missing == 0) ? 0 : 2;
}

// Checks on kept connections while bench/bench.py ends the server's sessions now and then (at
// a "kill" sync point before every killEvery-th check, at once or a moment later, so that a
// session dies while idle or while a check runs). Each check prints a marker of its own; a
// check is right when it is UP with its marker in the result, or DOWN without another check's
// output (bench/bench.py also reads the DOWN texts). Everything else is a wrong result.
int RunKillSeries(const Options& o, const CheckerFactory& factory) {
    std::unique_ptr<Checker> checker = factory();
    const std::u16string kMark = u"TAVRIN-KILL-";
    int up = 0, down = 0, wrongUp = 0, downForeign = 0, kills = 0;
    std::vector<double> wall;
    std::u16string downTexts;  // "N: result" of each DOWN check, one a line
    SyncPoint(o, "start");
    const Stopwatch series;
    for (int i = 0; i < o.count; ++i) {
        if (i > 0 && i % o.killEvery == 0) {
            SyncPoint(o, "kill");
            ++kills;
        }
        const std::u16string marker = kMark + Digits(i, 4);
        if (o.objectPerCheck) checker = factory();
        const Timed t = TimedCheck(*checker, o, MarkedParameter(o, marker));
        wall.push_back(t.wallMs);
        const bool foreign = HoldsForeignMarker(t.result, kMark, marker);
        const bool own = t.result.find(marker) != std::u16string::npos;
        if (t.up) {
            ++up;
            if (!own || foreign) ++wrongUp;
        } else {
            ++down;
            if (foreign) ++downForeign;
            std::u16string text = t.result.substr(0, 300);
            std::replace(text.begin(), text.end(), u'\n', u' ');
            downTexts += FromUtf8(std::to_string(i)) + u": " + text + u"\n";
        }
    }
    const double wallMs = series.WallMs();
    const double cpuMs = series.CpuMs();
    SyncPoint(o, "end");
    Record("kill-series")
        .Text("label", o.label)
        .Value("count", o.count)
        .Value("kills", kills)
        .Value("up", up)
        .Value("down", down)
        .Value("wrong_up", wrongUp)
        .Value("down_foreign", downForeign)
        .Values("wall_ms", wall)
        .Value("total_wall_ms", wallMs)
        .Value("total_cpu_ms", cpuMs)
        .Text("down_texts", downTexts)
        .Write();
    Say("bench: " + o.label + ": " + std::to_string(up) + " UP, " + std::to_string(down) + " DOWN, " +
        std::to_string(wrongUp + downForeign) + " wrong, " + std::to_string(kills) + " kills");
    return wrongUp == 0 && downForeign == 0 ? 0 : 2;
}

// A pin that no server's key has, the same for the same number: pinned beside the real ones it
// changes nothing but the login's identity, and so gives each connection a pool key of its own.
std::u16string PinOfItsOwn(int n) {
    std::u16string digits = Digits(n, 29);
    return u"SHA256:tavrinbenchkp" + digits + u"A";  // 13 + 29 + 1 characters
}

// Many kept connections in one process, each with a login of its own (as a host that checks as
// many servers with REUSE), left idle while the pool's reaper probes them, then dropped on the
// way without a word (bench/bench.py makes the packets of every connection the process has to
// the server vanish at the "drop" sync point, and lets them through again at "end"). Measures
// the memory per kept connection, the process's CPU per idle minute, the first check after the
// drop (its kept connection is dead: it pays the kept link's bound, then logs in afresh), how
// long the reaper takes to close the rest, and a check after that.
int RunKeptIdle(const Options& o, const CheckerFactory& factory, const PoolView& pool) {
    if (!pool.kept || !pool.probes || o.reuse <= 0 || o.pins.empty() || o.count < 2) {
        Say("bench: kept-idle needs a host that sees its pool, --reuse, --pins and --count 2 or more");
        return 3;
    }
    auto checker = factory();
    const auto ownLogin = [&](int n) {
        Options mine = o;
        mine.pins = o.pins + u"," + PinOfItsOwn(n);
        return Parameter(mine, o.command);
    };
    // Everything a check loads and keeps for the process (libssh, the crypto library, the
    // object's first allocations) is there before the first figure.
    Options fresh = o;
    fresh.reuse = 0;
    int warmDown = 0;
    for (int i = 0; i < std::max(o.warmup, 1); ++i) {
        std::u16string ignored;
        if (!checker->Check(o.host, o.timeout, Parameter(fresh, o.command), ignored)) ++warmDown;
    }
    SyncPoint(o, "start");
    const ProcessState before = Sample();
    const double keptBefore = pool.kept();
    int up = 0;
    std::u16string firstDown;
    std::vector<double> loginWall;
    for (int i = 0; i < o.count; ++i) {
        const Timed t = TimedCheck(*checker, o, ownLogin(i));
        loginWall.push_back(t.wallMs);
        if (t.up) ++up;
        else if (firstDown.empty()) firstDown = t.result;
    }
    const ProcessState kept = Sample();
    const double keptAfter = pool.kept();
    SyncPoint(o, "kept");

    const std::vector<double> probesBefore = pool.probes();
    const ProcessState idleStart = Sample();
    const Stopwatch idle;
    std::this_thread::sleep_for(std::chrono::seconds(o.idleSeconds));
    const double idleWallMs = idle.WallMs();
    const double idleCpuMs = idle.CpuMs();
    const ProcessState idleEnd = Sample();
    const std::vector<double> probesIdle = pool.probes();
    const double keptIdle = pool.kept();
    SyncPoint(o, "idle-end");

    SyncPoint(o, "drop");  // from here on nothing of the kept connections arrives
    const Stopwatch dropped;
    const double keptAtDrop = pool.kept();
    const Timed first = TimedCheck(*checker, o, ownLogin(0));
    // The reaper closes the rest when their probes go unanswered: all but the new connection of
    // the check above.
    const double bound = 60000 + (o.count / 32.0 + 2) * 2000 + 15000;
    double closedAfterMs = -1;
    while (dropped.WallMs() < bound) {
        if (pool.kept() <= 1) {
            closedAfterMs = dropped.WallMs();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<double> probesDrop = pool.probes();
    const Timed later = TimedCheck(*checker, o, ownLogin(1));
    const double keptEnd = pool.kept();
    SyncPoint(o, "end");
    Record("kept-idle")
        .Text("label", o.label)
        .Value("count", o.count)
        .Value("up", up)
        .Value("warmup_down", warmDown)
        .Text("first_down", firstDown)
        .Values("login_wall_ms", loginWall)
        .Value("kept_before", keptBefore)
        .Value("kept_after", keptAfter)
        .Value("kept_idle_end", keptIdle)
        .Value("kept_at_drop", keptAtDrop)
        .Value("kept_end", keptEnd)
        .State("before_", before)
        .State("kept_", kept)
        .State("idle_start_", idleStart)
        .State("idle_end_", idleEnd)
        .Value("idle_wall_ms", idleWallMs)
        .Value("idle_cpu_ms", idleCpuMs)
        .Values("probes_before", probesBefore)
        .Values("probes_idle_end", probesIdle)
        .Values("probes_drop_end", probesDrop)
        .Value("first_up", first.up)
        .Value("first_wall_ms", first.wallMs)
        .Text("first_result", first.result.substr(0, 300))
        .Value("closed_after_ms", closedAfterMs)
        .Value("later_up", later.up)
        .Value("later_wall_ms", later.wallMs)
        .Text("later_result", later.result.substr(0, 300))
        .Write();
    Say("bench: " + o.label + ": " + std::to_string(up) + "/" + std::to_string(o.count) + " kept, " +
        Number(static_cast<double>(kept.rssBytes - before.rssBytes) / o.count / 1024) + " KiB each, " +
        Number(idleCpuMs * 60000 / std::max(idleWallMs, 1.0)) + " ms CPU per idle minute; after the drop: " +
        Number(first.wallMs) + " ms, the rest closed after " + Number(closedAfterMs) + " ms, then " +
        Number(later.wallMs) + " ms");
    return up == o.count && first.up && later.up ? 0 : 2;
}

int RunMode(const Options& o, const HostSetUp& setUp, const PoolView& pool) {
    try {
        const CheckerFactory factory = setUp(o);
        if (o.mode == "kept-idle") return RunKeptIdle(o, factory, pool);
        if (o.mode == "checks") return RunChecks(o, factory);
        if (o.mode == "soak") return RunSoak(o, factory);
        if (o.mode == "wait" || o.mode == "throughput") return RunSingleMeasured(o, factory);
        if (o.mode == "once") return RunOnce(o, factory);
        if (o.mode == "concurrency") return RunConcurrency(o, factory);
        if (o.mode == "kill-series") return RunKillSeries(o, factory);
        Say("bench: unknown mode " + o.mode);
        return 3;
    } catch (const std::exception& e) {
        Say(std::string("bench: failed: ") + e.what());
        Record("error").Text("label", o.label).Text("error", e.what()).Write();
        return 1;
    }
}

}  // namespace

std::u16string KnownHostsFile(const Options& o) {
    if (o.knownHostsDir.empty()) return {};
    const std::u16string separator(1, platform::kPathSeparator);
    return o.knownHostsDir + separator + u".ssh" + separator + u"known_hosts";
}

int HostMain(int argc, char** argv, const HostSetUp& setUp, const PoolView& pool) {
    const std::optional<Options> options = ParseOptions(ProgramArguments(argc, argv));
    return options ? RunMode(*options, setUp, pool) : 3;
}

}  // namespace tavrin::bench
