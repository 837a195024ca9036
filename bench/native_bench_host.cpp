// The benchmark host over the portable plug-in object: many checks in one process, the way a
// monitoring host runs them, without COM. Natively on Linux (and, built for Windows, as a
// plain Windows program).
//   tavrin-bench-native --mode checks|soak|wait|throughput|concurrency|once|kill-series|kept-idle [options]
// The options are those of bench/bench_support.cpp; bench/run.sh passes them.

#include "bench/bench_support.h"
#include "plugin/host_value.h"
#include "plugin/portable_object.h"
#include "ssh/libssh_component.h"
#include "ssh/session_pool.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

class PortableChecker final : public tavrin::bench::Checker {
public:
    explicit PortableChecker(tavrin::ssh::ComponentFactory& component) : object_(component) {}

    bool Check(const std::u16string& host, int timeout, const std::u16string& parameter,
               std::u16string& result) override {
        object_.sa_hostname = host;
        object_.sa_timeout = static_cast<std::int32_t>(timeout);
        object_.sa_parameter = parameter;
        const bool up = object_.sa_docheck();
        result = tavrin::plugin::ToText(object_.sa_result);
        return up;
    }

private:
    tavrin::plugin::PortableObject object_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace tavrin;
    bench::PoolView pool;
    pool.kept = [] { return static_cast<double>(ssh::SessionPool::Instance().IdleCount()); };
    pool.probes = [] {
        const ssh::ProbeCounts c = ssh::SessionPool::Instance().Probes();
        return std::vector<double>{static_cast<double>(c.sent), static_cast<double>(c.answered),
                                   static_cast<double>(c.discarded)};
    };
    return bench::HostMain(
        argc, argv,
        [](const bench::Options& options) -> bench::CheckerFactory {
            ssh::LibsshOptions libssh;
            const std::u16string knownHosts = bench::KnownHostsFile(options);
            if (!knownHosts.empty()) libssh.knownHostsFiles = std::vector{knownHosts};
            const std::shared_ptr<ssh::ComponentFactory> component = ssh::MakeLibsshFactory(std::move(libssh));
            return [component] { return std::make_unique<PortableChecker>(*component); };
        },
        pool);
}
