// Plans a handful of workloads with a parallel factory over the serial core
// planner, checks each result against the serial plan of the same request and
// times both.
#include <zun/fft/omp/factory.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "machine_figures.h"

namespace {

using zun::fft::Dim;

struct Workload {
    std::string name;
    bool real;
    bool inplace;
    std::vector<Dim> dims;
    Dim batch;
};

// Median time of `run` over a few repeats; `prepare` restores the input before
// each one and is not timed.
double medianSeconds(const std::function<void()>& prepare, const std::function<void()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::size_t reals(const Workload& w, bool output)
{
    std::size_t points = 1;
    for (const Dim& d : w.dims) points *= static_cast<std::size_t>(d.size);
    const std::size_t count = static_cast<std::size_t>(std::max<std::int64_t>(w.batch.size, 1));
    if (!w.real) return 2 * points * count;
    const std::int64_t last = w.dims.back().size;
    const std::size_t padded = points / static_cast<std::size_t>(last) * static_cast<std::size_t>((last | 1) + 1);
    return (output || w.inplace ? padded : points) * count;
}

// Runs the forward transform of `plan` on a fresh copy of `source`, returning
// the median time; `result` holds the output of the last run.
double timeForward(const zun::fft::InplaceCompute<float>& plan, const std::vector<float>& source,
                   std::vector<float>& result)
{
    std::vector<float> work(std::max<std::size_t>(plan.workSize(), 1));
    return medianSeconds([&] { result = source; }, [&] { plan.forward(result.data(), work.data()); });
}

double timeForward(const zun::fft::OoplaceCompute<float>& plan, const std::vector<float>& source,
                   std::vector<float>& result)
{
    std::vector<float> work(std::max<std::size_t>(plan.workSize(), 1));
    return medianSeconds([] {}, [&] { plan.forward(source.data(), result.data(), work.data()); });
}

template <typename F>
void runWorkload(const Workload& w, const F& serialFactory, const F& parallelFactory, const zun::fft::PlanKey* key)
{
    const std::shared_ptr<float> noTuning;
    const auto rank = w.dims.size();
    auto make = [&](const F& factory) {
        if (w.inplace) return std::make_pair(factory.makeInplace(rank, w.dims.data(), &w.batch, false, key, noTuning),
                                             std::unique_ptr<zun::fft::OoplaceCompute<float>>());
        return std::make_pair(std::unique_ptr<zun::fft::InplaceCompute<float>>(),
                              factory.makeOoplace(rank, w.dims.data(), &w.batch, false, key, noTuning));
    };
    const auto serial = make(serialFactory);
    const auto parallel = make(parallelFactory);
    if (!(serial.first || serial.second) || !(parallel.first || parallel.second)) {
        std::printf("%-40s declined\n", w.name.c_str());
        return;
    }

    std::vector<float> source(std::max(reals(w, false), reals(w, true)));
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1, 1);
    for (float& x : source) x = value(random);
    std::vector<float> serialOut(source.size()), parallelOut(source.size());
    auto timed = [&](const auto& plans, std::vector<float>& out) {
        return plans.first ? timeForward(*plans.first, source, out) : timeForward(*plans.second, source, out);
    };
    const double serialTime = timed(serial, serialOut);
    const double parallelTime = timed(parallel, parallelOut);
    const std::string description = parallel.first ? parallel.first->toString() : parallel.second->toString();

    double maxError = 0, maxValue = 0;
    for (std::size_t i = 0; i < reals(w, true); ++i) {
        maxError = std::max(maxError, static_cast<double>(std::abs(serialOut[i] - parallelOut[i])));
        maxValue = std::max(maxValue, static_cast<double>(std::abs(serialOut[i])));
    }
    std::printf("%-40s %-52s %9.1e %9.2f %9.2f %7.2fx\n", w.name.c_str(), description.c_str(),
                maxValue > 0 ? maxError / maxValue : maxError, serialTime * 1e3, parallelTime * 1e3,
                serialTime / parallelTime);
}

// A rank-3 request goes to plane teams when one of its planes holds more than
// half the L2 cache, so the plane is sized from the detected L2: the smallest
// plane of powers of two above that half (a complex float point takes 8 bytes).
// An L2 that no source knows counts as 0, and then any plane qualifies.
Workload planeTeamWorkload(const examples::MachineFigures& figures)
{
    const std::int64_t halfL2Bytes = std::int64_t{figures.l2KiB} * 512;
    std::int64_t rows = 64, columns = 64;
    while (rows * columns * 8 <= halfL2Bytes) (rows < columns ? rows : columns) *= 2;
    const std::string name = "3-D 8 x " + std::to_string(rows) + " x " + std::to_string(columns) + " (plane teams)";
    return {name, false, true, {{8, 0, 0}, {rows, 0, 0}, {columns, 0, 0}}, {1, 0, 0}};
}

}  // namespace

int main()
{
    const examples::MachineFigures figures = examples::detectMachineFigures(zun::detectCores());
    const zun::Configuration configuration = examples::configurationOf(figures);
    const auto key = zun::fft::makePlanKey(4);

    auto complexSerial = zun::fft::makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    auto complexParallel = zun::fft::omp::makeFactory(
        zun::fft::makePlannerFactory<float, std::complex<float>, std::complex<float>>(), configuration);
    auto realSerial = zun::fft::makePlannerFactory<float, float, std::complex<float>>();
    auto realParallel =
        zun::fft::omp::makeFactory(zun::fft::makePlannerFactory<float, float, std::complex<float>>(), configuration);

    std::printf("zun_fft_iomp %s (%s)\nmachine figures: %s\n\n", zun_fft_omp_version,
                complexParallel->toString().c_str(), examples::describe(figures).c_str());
    std::printf("%-40s %-52s %9s %9s %9s %8s\n", "workload (float, forward)", "parallel plan", "rel.err",
                "serial ms", "par. ms", "speedup");

    const std::vector<Workload> complexWork = {
        {"2-D 32 x 32, in place", false, true, {{32, 0, 0}, {32, 0, 0}}, {1, 0, 0}},
        {"batch 4096 x 1-D 1024, in place", false, true, {{1024, 0, 0}}, {4096, 0, 0}},
        {"2-D 1024 x 1024, in place", false, true, {{1024, 0, 0}, {1024, 0, 0}}, {1, 0, 0}},
        {"2-D 2048 x 2048, out of place", false, false, {{2048, 0, 0}, {2048, 0, 0}}, {1, 0, 0}},
        {"3-D 128 x 128 x 128, in place", false, true, {{128, 0, 0}, {128, 0, 0}, {128, 0, 0}}, {1, 0, 0}},
        planeTeamWorkload(figures),
        // Rank 4 and more always go to a split strategy once a transform
        // outgrows the L1 cache, which 4 MiB does on any machine.
        {"4-D 16 x 16 x 32 x 64 (split first dim)", false, true,
         {{16, 0, 0}, {16, 0, 0}, {32, 0, 0}, {64, 0, 0}}, {1, 0, 0}},
    };
    for (const auto& w : complexWork) runWorkload(w, *complexSerial, *complexParallel, key.data());

    const std::vector<Workload> realWork = {
        {"real batch 4096 x 1-D 1024, oop", true, false, {{1024, 0, 0}}, {4096, 0, 0}},
        {"real 2-D 2048 x 2048, out of place", true, false, {{2048, 0, 0}, {2048, 0, 0}}, {1, 0, 0}},
    };
    for (const auto& w : realWork) runWorkload(w, *realSerial, *realParallel, key.data());
    return 0;
}
