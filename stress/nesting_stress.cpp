// One run of the nesting stress: a few user threads, each opening nested
// OpenMP teams whose sizes change from one iteration to the next (outer teams
// of 1-4 threads bound spread, inner teams of 1-17 bound close), either bare
// (no code of ours: the runtime alone) or by running our nested plans made for
// those team sizes. The runtime grows its thread table while such teams form,
// which is where a race in the runtime would show; scripts/stress.sh runs this
// program many times and counts the runs that end by a signal or hang.
//
//   zun_nesting_stress bare|plans threads|region [iterations] [seed]
//
// `threads`: the users are std::threads (each is its own root of teams, so two
// active levels let both levels run). `region`: the users are the threads of
// an outer OpenMP region, so the outer teams are the second level and the
// inner teams the third (they run only with OMP_MAX_ACTIVE_LEVELS=3).
#include <zun/fft/omp/factory.h>

#include <execinfo.h>
#include <omp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int users = 3;
constexpr int maxOuter = 4;
constexpr int maxInner = 17;

// Where a crash read from: the address a faulting access used, and the stack
// of the thread that made it (libomp's frames as offsets into the library).
// Written without allocating, then the signal is raised again.
void reportFault(int signal, siginfo_t* info, void*)
{
    char line[64] = "fault address 0x";
    char* end = line + std::strlen(line);
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (int shift = 60; shift >= 0; shift -= 4) *end++ = "0123456789abcdef"[(address >> shift) & 0xf];
    *end++ = '\n';
    if (write(STDERR_FILENO, line, static_cast<std::size_t>(end - line)) < 0) {}
    void* frames[32];
    backtrace_symbols_fd(frames, backtrace(frames, 32), STDERR_FILENO);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void reportFaults()
{
    void* frame;
    backtrace(&frame, 1);  // loads the unwinder now, not in the handler
    struct sigaction action {};
    action.sa_sigaction = reportFault;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
    sigaction(SIGBUS, &action, nullptr);
}

struct TeamSizes {
    int outer;
    int inner;
};

class RandomTeams {
public:
    explicit RandomTeams(unsigned seed) : random_(seed) {}
    TeamSizes next() { return {outer_(random_), inner_(random_)}; }

private:
    std::mt19937 random_;
    std::uniform_int_distribution<int> outer_{1, maxOuter};
    std::uniform_int_distribution<int> inner_{1, maxInner};
};

// The runtime alone: nested teams doing a little arithmetic.
std::atomic<std::uint64_t> sink{0};

void bareTeams(const TeamSizes& sizes)
{
#pragma omp parallel num_threads(sizes.outer) proc_bind(spread)
    {
#pragma omp parallel num_threads(sizes.inner) proc_bind(close)
        {
            std::uint64_t sum = 0;
            for (int i = 0; i < 256; ++i) sum += static_cast<std::uint64_t>(i) * omp_get_thread_num();
            sink.fetch_add(sum, std::memory_order_relaxed);
        }
    }
}

// Our plans: a rank-3 request sent to nested plane teams and a rank-4 request
// sent to a split of its first dimension (whose rest runs on plane teams), for
// every pair of team sizes. Caches of 1 KiB make every plane too large for one
// team and every transform large, so the factory gives each of `outer`
// packages one outer thread with an inner team of `inner` threads.
using Factory = zun::fft::ComplexFactory<float>;
using Plan = zun::fft::InplaceCompute<float>;

std::unique_ptr<Factory> factoryFor(const TeamSizes& sizes)
{
    zun::Configuration configuration;
    configuration.set(zun::Parameter::Threads, sizes.outer * sizes.inner);
    configuration.set(zun::Parameter::Packages, sizes.outer);
    configuration.set(zun::Parameter::DataCacheL1, 1);
    configuration.set(zun::Parameter::DataCacheL2, 1);
    configuration.set(zun::Parameter::DataCacheL3, 1);
    return zun::fft::omp::makeFactory(
        zun::fft::makePlannerFactory<float, std::complex<float>, std::complex<float>>(), configuration);
}

const std::vector<zun::fft::Dim> planeTeamDims{{8, 0, 0}, {16, 0, 0}, {16, 0, 0}};
const std::vector<zun::fft::Dim> splitDims{{4, 0, 0}, {8, 0, 0}, {8, 0, 0}, {16, 0, 0}};

std::size_t complexReals(const std::vector<zun::fft::Dim>& dims)
{
    std::size_t points = 1;
    for (const zun::fft::Dim& dim : dims) points *= static_cast<std::size_t>(dim.size);
    return 2 * points;
}

struct PlanPair {
    std::unique_ptr<Plan> planeTeams;
    std::unique_ptr<Plan> split;
};

class PlanTable {
public:
    PlanTable()
    {
        const zun::fft::Dim batch{1, 0, 0};
        const auto key = zun::fft::makePlanKey(4);
        for (int outer = 1; outer <= maxOuter; ++outer)
            for (int inner = 1; inner <= maxInner; ++inner) {
                const auto factory = factoryFor({outer, inner});
                PlanPair& pair = at({outer, inner});
                pair.planeTeams = factory->makeInplace(3, planeTeamDims.data(), &batch, false, key.data(), {});
                pair.split = factory->makeInplace(4, splitDims.data(), &batch, false, key.data(), {});
                if (!pair.planeTeams || !pair.split) {
                    std::fprintf(stderr, "no plan for %d x %d threads\n", outer, inner);
                    std::exit(2);
                }
            }
    }

    const PlanPair& at(const TeamSizes& sizes) const { return plans_[index(sizes)]; }

    void describe() const
    {
        for (const PlanPair& pair : plans_)
            std::printf("%s\n%s\n", pair.planeTeams->toString().c_str(), pair.split->toString().c_str());
    }

private:
    static std::size_t index(const TeamSizes& sizes)
    {
        return static_cast<std::size_t>((sizes.outer - 1) * maxInner + sizes.inner - 1);
    }
    PlanPair& at(const TeamSizes& sizes) { return plans_[index(sizes)]; }

    std::array<PlanPair, maxOuter * maxInner> plans_;
};

// One user's buffers: plans run on several threads at once with separate data
// and work.
class PlanUser {
public:
    explicit PlanUser(const PlanTable& table) : table_(table), data_(std::max(complexReals(planeTeamDims), complexReals(splitDims)), 1.0f) {}

    void run(const TeamSizes& sizes, bool split)
    {
        const PlanPair& pair = table_.at(sizes);
        const Plan& plan = split ? *pair.split : *pair.planeTeams;
        if (work_.size() < plan.workSize()) work_.resize(plan.workSize());
        plan.forward(data_.data(), work_.data());
        plan.backward(data_.data(), work_.data());
        // Keeps the values bounded: forward then backward scales by the size.
        for (float& x : data_) x = 1.0f;
    }

private:
    const PlanTable& table_;
    std::vector<float> data_;
    std::vector<float> work_;
};

void userLoop(int user, int iterations, unsigned seed, const PlanTable* table)
{
    RandomTeams teams(seed * users + static_cast<unsigned>(user));
    std::unique_ptr<PlanUser> planUser = table ? std::make_unique<PlanUser>(*table) : nullptr;
    for (int i = 0; i < iterations; ++i) {
        const TeamSizes sizes = teams.next();
        if (planUser) planUser->run(sizes, i % 2 == 1);
        else bareTeams(sizes);
    }
}

void runUsersAsThreads(int iterations, unsigned seed, const PlanTable* table)
{
    std::vector<std::thread> threads;
    for (int user = 0; user < users; ++user) threads.emplace_back(userLoop, user, iterations, seed, table);
    for (std::thread& thread : threads) thread.join();
}

void runUsersInRegion(int iterations, unsigned seed, const PlanTable* table)
{
#pragma omp parallel num_threads(users)
    userLoop(omp_get_thread_num(), iterations, seed, table);
}

int usage()
{
    std::fprintf(stderr, "usage: zun_nesting_stress bare|plans|describe threads|region [iterations] [seed]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return usage();
    const std::string variant = argv[1];
    if (variant == "describe") {
        PlanTable().describe();
        return 0;
    }
    if (argc < 3 || (variant != "bare" && variant != "plans")) return usage();
    const std::string users = argv[2];
    if (users != "threads" && users != "region") return usage();
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 40;
    const unsigned seed = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 1;

    reportFaults();
    const std::unique_ptr<PlanTable> table = variant == "plans" ? std::make_unique<PlanTable>() : nullptr;
    if (users == "threads") runUsersAsThreads(iterations, seed, table.get());
    else runUsersInRegion(iterations, seed, table.get());
    return 0;
}
