// Times one forward transform per iteration, three ways, in one run on one
// machine: the core library's serial plan on one thread ("serial"), this
// library's parallel plan on P threads ("ours") and FFTW's own threaded plan on
// P threads ("fftw_threads"). All three are planned with FFTW_MEASURE, once per
// workload and outside the timed loop. After Google Benchmark's own report a
// table compares the median times of every workload that ran.
//
// Usage: zun_bench [--threads=N] [Google Benchmark flags, e.g.
//        --benchmark_filter='cc2d.*/float']
#include <zun/fft/omp/factory.h>

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <unistd.h>

#include "machine_figures.h"

namespace {

using zun::fft::Dim;

// Also the order in which a workload's variants run. FFTW's threads sleep when
// idle, libomp's spin for a while, so our plan goes last not to slow FFTW's.
enum class Variant { Serial, FftwThreads, Ours };
constexpr std::array<Variant, 3> allVariants{Variant::Serial, Variant::FftwThreads, Variant::Ours};

const char* variantName(Variant variant)
{
    switch (variant) {
    case Variant::Serial: return "serial";
    case Variant::FftwThreads: return "fftw_threads";
    case Variant::Ours: return "ours";
    }
    return "?";
}

// Real workloads are real to complex, in place on padded rows or out of place;
// complex ones either. All layouts are packed, the same for the three variants.
struct Workload {
    const char* name;
    bool real;
    bool inplace;
    std::vector<std::int64_t> sizes;
    std::int64_t count;
};

const std::vector<Workload>& workloads()
{
    static const std::vector<Workload> list = {
        {"cc1d_1024_batch4096_ip", false, true, {1024}, 4096},
        {"cc2d_1024x1024_ip", false, true, {1024, 1024}, 1},
        {"cc2d_4096x4096_ip", false, true, {4096, 4096}, 1},
        {"cc2d_2048x2048_oop", false, false, {2048, 2048}, 1},
        {"rc2d_2048x2048_oop", true, false, {2048, 2048}, 1},
        {"rc1d_1024_batch4096_oop", true, false, {1024}, 4096},
        {"cc3d_128x128x128_ip", false, true, {128, 128, 128}, 1},
        {"cc3d_64x64x64_oop", false, false, {64, 64, 64}, 1},
        {"cc3d_256x256x256_ip", false, true, {256, 256, 256}, 1},
        {"cc3d_64x512x512_oop", false, false, {64, 512, 512}, 1},
        {"rc3d_128x128x128_oop", true, false, {128, 128, 128}, 1},
        {"cc4d_32x32x32x32_ip", false, true, {32, 32, 32, 32}, 1},
        {"cc5d_16x16x16x16x16_oop", false, false, {16, 16, 16, 16, 16}, 1},
        {"rc4d_32x32x32x32_ip", true, true, {32, 32, 32, 32}, 1},
        {"rc4d_32x32x32x32_oop", true, false, {32, 32, 32, 32}, 1},
        {"rc3d_64x512x512_ip", true, true, {64, 512, 512}, 1},
        {"rc3d_64x512x512_oop", true, false, {64, 512, 512}, 1},
    };
    return list;
}

std::int64_t pointsPerTransform(const Workload& w)
{
    std::int64_t points = 1;
    for (const std::int64_t size : w.sizes) points *= size;
    return points;
}

// A real transform keeps N/2+1 complex values of each innermost row.
std::int64_t halfRowReals(const Workload& w) { return (w.sizes.back() / 2 + 1) * 2; }

std::int64_t outputRealsPerTransform(const Workload& w)
{
    if (!w.real) return 2 * pointsPerTransform(w);
    return pointsPerTransform(w) / w.sizes.back() * halfRowReals(w);
}

// In place, real rows are padded to hold their complex halves.
std::int64_t inputRealsPerTransform(const Workload& w)
{
    if (w.real && w.inplace) return outputRealsPerTransform(w);
    return (w.real ? 1 : 2) * pointsPerTransform(w);
}

// Aligned so that the core library and FFTW run their SIMD plans on it.
template <typename T>
class AlignedArray {
public:
    explicit AlignedArray(std::size_t count) : data_(allocate(count)), size_(count) {}

    T* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t alignment = 64;

    struct Free {
        void operator()(T* p) const { std::free(p); }
    };

    static T* allocate(std::size_t count)
    {
        const std::size_t bytes = (std::max<std::size_t>(count, 1) * sizeof(T) + alignment - 1) / alignment * alignment;
        void* memory = std::aligned_alloc(alignment, bytes);
        if (!memory) throw std::bad_alloc();
        return static_cast<T*>(memory);
    }

    std::unique_ptr<T, Free> data_;
    std::size_t size_;
};

template <typename T>
struct FftwApi;

template <>
struct FftwApi<double> {
    using Plan = fftw_plan;
    static void planWithThreads(int threads) { fftw_plan_with_nthreads(threads); }
    static Plan planDft(int rank, const int* n, int howmany, double* in, int inDistance, double* out, int outDistance)
    {
        return fftw_plan_many_dft(rank, n, howmany, reinterpret_cast<fftw_complex*>(in), nullptr, 1, inDistance,
                                  reinterpret_cast<fftw_complex*>(out), nullptr, 1, outDistance, FFTW_FORWARD,
                                  FFTW_MEASURE);
    }
    static Plan planR2c(int rank, const int* n, const int* inEmbed, int howmany, double* in, int inDistance,
                        double* out, int outDistance)
    {
        return fftw_plan_many_dft_r2c(rank, n, howmany, in, inEmbed, 1, inDistance,
                                      reinterpret_cast<fftw_complex*>(out), nullptr, 1, outDistance, FFTW_MEASURE);
    }
    static void execute(Plan plan) { fftw_execute(plan); }
    static void destroy(Plan plan) { fftw_destroy_plan(plan); }
};

template <>
struct FftwApi<float> {
    using Plan = fftwf_plan;
    static void planWithThreads(int threads) { fftwf_plan_with_nthreads(threads); }
    static Plan planDft(int rank, const int* n, int howmany, float* in, int inDistance, float* out, int outDistance)
    {
        return fftwf_plan_many_dft(rank, n, howmany, reinterpret_cast<fftwf_complex*>(in), nullptr, 1, inDistance,
                                   reinterpret_cast<fftwf_complex*>(out), nullptr, 1, outDistance, FFTW_FORWARD,
                                   FFTW_MEASURE);
    }
    static Plan planR2c(int rank, const int* n, const int* inEmbed, int howmany, float* in, int inDistance, float* out,
                        int outDistance)
    {
        return fftwf_plan_many_dft_r2c(rank, n, howmany, in, inEmbed, 1, inDistance,
                                       reinterpret_cast<fftwf_complex*>(out), nullptr, 1, outDistance, FFTW_MEASURE);
    }
    static void execute(Plan plan) { fftwf_execute(plan); }
    static void destroy(Plan plan) { fftwf_destroy_plan(plan); }
};

template <typename T>
const char* precisionName()
{
    return std::is_same_v<T, float> ? "float" : "double";
}

// One planned variant: `forward` runs one forward transform on the workspace
// arrays and is empty when the planner declined the request.
struct Transformer {
    std::function<void()> forward;
    std::string label;
};

// The core library stands in for the serial FFTW planner, so FFTW is asked for
// threads only while its own plan is made.
template <typename T>
Transformer makeFftwTransformer(const Workload& w, T* input, T* output, int threads)
{
    using Api = FftwApi<T>;
    const std::vector<int> n(w.sizes.begin(), w.sizes.end());
    const int rank = static_cast<int>(n.size());
    const int howmany = static_cast<int>(w.count);
    const int inDistance = static_cast<int>(inputRealsPerTransform(w) / (w.real ? 1 : 2));
    const int outDistance = static_cast<int>(outputRealsPerTransform(w) / 2);
    // In place the real rows are laid out with the padded row length.
    std::vector<int> inEmbed = n;
    inEmbed.back() = static_cast<int>(halfRowReals(w));
    Api::planWithThreads(threads);
    typename Api::Plan raw =
        w.real ? Api::planR2c(rank, n.data(), w.inplace ? inEmbed.data() : nullptr, howmany, input, inDistance, output,
                              outDistance)
               : Api::planDft(rank, n.data(), howmany, input, inDistance, output, outDistance);
    Api::planWithThreads(1);
    if (!raw) return {};
    const std::shared_ptr<std::remove_pointer_t<typename Api::Plan>> plan(raw, Api::destroy);
    return {[plan] { Api::execute(plan.get()); }, "FFTW plan_many, " + std::to_string(threads) + " threads"};
}

// Plans in tuning mode under the tuning lock, as a caller that wants its
// plans measured does. Plans may refer to their factory, so it stays alive
// with them.
template <typename F>
Transformer makeCoreTransformer(const std::shared_ptr<F>& factory, const Workload& w, typename F::Real* input,
                                typename F::Real* output)
{
    using T = typename F::Real;
    const std::size_t rank = w.sizes.size();
    std::vector<Dim> dims;
    for (const std::int64_t size : w.sizes) dims.push_back({size, 0, 0});
    const Dim batch{w.count, 0, 0};
    const std::vector<zun::fft::PlanKey> key = zun::fft::makePlanKey(rank);
    // The key names tuning entries 1 .. rank; a negative first entry asks for
    // FFTW_MEASURE.
    const std::shared_ptr<T> tuning(new T[rank + 1](), std::default_delete<T[]>());
    tuning.get()[0] = T(-1);

    if (w.inplace) {
        const std::shared_ptr<zun::fft::InplaceCompute<T>> plan =
            factory->makeInplace(rank, dims.data(), &batch, true, key.data(), tuning);
        if (!plan) return {};
        const auto work = std::make_shared<AlignedArray<T>>(plan->workSize());
        return {[factory, plan, work, input] { plan->forward(input, work->data()); }, plan->toString()};
    }
    const std::shared_ptr<zun::fft::OoplaceCompute<T>> plan =
        factory->makeOoplace(rank, dims.data(), &batch, true, key.data(), tuning);
    if (!plan) return {};
    const auto work = std::make_shared<AlignedArray<T>>(plan->workSize());
    return {[factory, plan, work, input, output] { plan->forward(input, output, work->data()); }, plan->toString()};
}

template <typename T, typename In>
std::shared_ptr<zun::fft::Factory<T, In, std::complex<T>>> makeCoreFactory(Variant variant, int threads)
{
    auto serial = zun::fft::makePlannerFactory<T, In, std::complex<T>>();
    if (variant == Variant::Serial) return serial;
    return zun::fft::omp::makeFactory(std::move(serial),
                                      examples::configurationOf(examples::detectMachineFigures(threads)));
}

class AnyWorkspace {
public:
    virtual ~AnyWorkspace() = default;
};

// The arrays of one workload in one precision and the plans of its variants,
// each made the first time that variant runs.
template <typename T>
class Workspace final : public AnyWorkspace {
public:
    Workspace(const Workload& w, int threads)
        : workload_(w), threads_(threads), pristine_(inputReals(w)), input_(inputReals(w)),
          output_(w.inplace ? 0 : static_cast<std::size_t>(outputRealsPerTransform(w) * w.count)),
          passesPerRestore_(passesBeforeOverflow(w))
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<T> value(-1, 1);
        std::generate(pristine_.data(), pristine_.data() + pristine_.size(), [&] { return value(random); });
    }

    const Transformer& transformer(Variant variant)
    {
        std::optional<Transformer>& slot = transformers_[static_cast<std::size_t>(variant)];
        if (!slot) {
            slot = plan(variant);
            passesLeft_ = 0;  // FFTW_MEASURE runs transforms on our arrays
        }
        return *slot;
    }

    bool inputSpent() const { return passesLeft_ == 0; }

    void restoreInput()
    {
        std::copy(pristine_.data(), pristine_.data() + pristine_.size(), input_.data());
        passesLeft_ = passesPerRestore_;
    }

    void countPass() { --passesLeft_; }

private:
    static std::size_t inputReals(const Workload& w)
    {
        return static_cast<std::size_t>(inputRealsPerTransform(w) * w.count);
    }

    // An unnormalised forward transform grows magnitudes by at most the number
    // of points (partial sums inside it included). In place the input is
    // restored before it could overflow; out of place it is only read.
    static std::int64_t passesBeforeOverflow(const Workload& w)
    {
        if (!w.inplace) return std::numeric_limits<std::int64_t>::max();
        const double headroom = std::log(static_cast<double>(std::numeric_limits<T>::max()) / 16);
        const auto passes = static_cast<std::int64_t>(headroom / std::log(static_cast<double>(pointsPerTransform(w))));
        return std::max<std::int64_t>(passes, 1);
    }

    T* output() const { return workload_.inplace ? input_.data() : output_.data(); }

    Transformer plan(Variant variant) const
    {
        if (variant == Variant::FftwThreads) return makeFftwTransformer(workload_, input_.data(), output(), threads_);
        if (workload_.real)
            return makeCoreTransformer(makeCoreFactory<T, T>(variant, threads_), workload_, input_.data(), output());
        return makeCoreTransformer(makeCoreFactory<T, std::complex<T>>(variant, threads_), workload_, input_.data(),
                                   output());
    }

    const Workload& workload_;
    int threads_;
    AlignedArray<T> pristine_;
    AlignedArray<T> input_;
    AlignedArray<T> output_;
    std::int64_t passesPerRestore_;
    std::int64_t passesLeft_ = 0;
    std::array<std::optional<Transformer>, allVariants.size()> transformers_;
};

// Only one workspace lives at a time: the largest take hundreds of megabytes.
// The variants of a workload run back to back, so each is still planned once.
class CurrentWorkspace {
public:
    template <typename T>
    Workspace<T>& acquire(std::size_t workload, int threads)
    {
        const std::pair<std::size_t, std::size_t> owner{workload, sizeof(T)};
        if (!workspace_ || owner_ != owner) {
            workspace_.reset();  // before the next one allocates
            workspace_ = std::make_unique<Workspace<T>>(workloads()[workload], threads);
            owner_ = owner;
        }
        return static_cast<Workspace<T>&>(*workspace_);
    }

private:
    std::unique_ptr<AnyWorkspace> workspace_;
    std::pair<std::size_t, std::size_t> owner_;
};

CurrentWorkspace currentWorkspace;

template <typename T>
void runVariant(benchmark::State& state, std::size_t workload, Variant variant, int threads)
{
    Workspace<T>& workspace = currentWorkspace.acquire<T>(workload, threads);
    const Transformer& transformer = workspace.transformer(variant);
    if (!transformer.forward) {
        state.SkipWithError("the planner declined this request");
        return;
    }
    state.SetLabel(transformer.label);
    for (auto _ : state) {
        if (workspace.inputSpent()) {
            state.PauseTiming();
            workspace.restoreInput();
            state.ResumeTiming();
        }
        transformer.forward();
        workspace.countPass();
    }
}

// Where a benchmark's result goes in the summary.
struct Cell {
    std::size_t workload;
    int precision;  // 0 float, 1 double: the summary lists float first
    Variant variant;
};

std::map<std::string, Cell>& cellsByName()
{
    static std::map<std::string, Cell> cells;
    return cells;
}

template <typename T>
void registerWorkload(std::size_t workload, int threads)
{
    for (const Variant variant : allVariants) {
        const std::string name =
            std::string(workloads()[workload].name) + "/" + precisionName<T>() + "/" + variantName(variant);
        cellsByName()[name] = {workload, std::is_same_v<T, float> ? 0 : 1, variant};
        benchmark::RegisterBenchmark(name.c_str(),
                                     [workload, variant, threads](benchmark::State& state) {
                                         runVariant<T>(state, workload, variant, threads);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
}

// The console report, plus the median of every benchmark (or its only run
// when there are no repetitions) kept for the summary.
class SummaryReporter final : public benchmark::ConsoleReporter {
public:
    explicit SummaryReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || !isMedian(run)) continue;
            const auto cell = cellsByName().find(run.run_name.function_name);
            if (cell == cellsByName().end()) continue;
            const Cell& c = cell->second;
            rows_[{c.workload, c.precision}][static_cast<std::size_t>(c.variant)] =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }

    void printSummary(int threads) const
    {
        if (rows_.empty()) return;
        std::cout << std::flush;
        std::printf("\nMedian wall time of one forward transform, ms. serial: core plan, 1 thread; "
                    "ours: this library, %d threads; fftw_threads: FFTW's threads, %d threads.\n"
                    "speedup = serial / ours; fftw/ours = fftw_threads / ours (above 1: ours is faster).\n\n",
                    threads, threads);
        std::printf("%-26s %-7s %10s %10s %13s %8s %10s\n", "workload", "prec", "serial", "ours", "fftw_threads",
                    "speedup", "fftw/ours");
        for (const auto& [key, times] : rows_) {
            const auto& serial = times[static_cast<std::size_t>(Variant::Serial)];
            const auto& ours = times[static_cast<std::size_t>(Variant::Ours)];
            const auto& fftw = times[static_cast<std::size_t>(Variant::FftwThreads)];
            std::printf("%-26s %-7s %10s %10s %13s %8s %10s%s\n", workloads()[key.first].name,
                        key.second == 0 ? "float" : "double", milliseconds(serial).c_str(),
                        milliseconds(ours).c_str(), milliseconds(fftw).c_str(), ratio(serial, ours).c_str(),
                        ratio(fftw, ours).c_str(), serial && ours && *ours > *serial ? "  ours slower than serial" : "");
        }
    }

private:
    using Seconds = std::optional<double>;

    static bool isMedian(const Run& run)
    {
        if (run.run_type == Run::RT_Aggregate) return run.aggregate_name == "median";
        return run.repetitions <= 1;
    }

    static std::string milliseconds(const Seconds& seconds)
    {
        if (!seconds) return "-";
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", *seconds * 1e3);
        return text;
    }

    static std::string ratio(const Seconds& numerator, const Seconds& denominator)
    {
        if (!numerator || !denominator) return "-";
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", *numerator / *denominator);
        return text;
    }

    std::map<std::pair<std::size_t, int>, std::array<Seconds, allVariants.size()>> rows_;
};

// Takes every --threads=N out of the arguments, as Google Benchmark rejects
// flags it does not know; the last one counts. Returns 0 when one of them has
// no positive count.
int takeThreadsFlag(std::vector<char*>& arguments)
{
    int threads = zun::detectCores();
    const char* const prefix = "--threads=";
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (std::strncmp(*it, prefix, std::strlen(prefix)) != 0) {
            ++it;
            continue;
        }
        threads = std::atoi(*it + std::strlen(prefix));
        if (threads < 1) return 0;
        it = arguments.erase(it);
    }
    return threads;
}

// A reporter handed to RunSpecifiedBenchmarks is not told --benchmark_color,
// so it is read here: the last one given wins, and "auto" means colour on a
// terminal, as for Google Benchmark's own reporter.
benchmark::ConsoleReporter::OutputOptions consoleOptions(const std::vector<char*>& arguments)
{
    const std::string prefix = "--benchmark_color=";
    std::string color = "auto";
    for (const char* argument : arguments) {
        if (std::string(argument).rfind(prefix, 0) == 0) color = argument + prefix.size();
    }
    const bool colored = color == "auto" ? isatty(STDOUT_FILENO) != 0 : color == "true" || color == "yes" || color == "1";
    return colored ? benchmark::ConsoleReporter::OO_Color : benchmark::ConsoleReporter::OO_None;
}

}  // namespace

int main(int argc, char** argv)
{
    // Defaults for a default run of a few minutes: the user's flags come after
    // them and override them.
    static char repetitions[] = "--benchmark_repetitions=5";
    static char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    static char minTime[] = "--benchmark_min_time=0.2";
    std::vector<char*> arguments{argv[0], repetitions, aggregatesOnly, minTime};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    const int threads = takeThreadsFlag(arguments);
    if (threads == 0) {
        std::fprintf(stderr, "%s: --threads needs a positive count\n", argv[0]);
        return 1;
    }

    fftw_init_threads();
    fftwf_init_threads();
    for (std::size_t workload = 0; workload < workloads().size(); ++workload) {
        registerWorkload<float>(workload, threads);
        registerWorkload<double>(workload, threads);
    }

    SummaryReporter reporter(consoleOptions(arguments));
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
    benchmark::AddCustomContext("machine figures", examples::describe(examples::detectMachineFigures(threads)));
    benchmark::AddCustomContext("zun_fft_iomp", zun_fft_omp_version);

    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary(threads);
    benchmark::Shutdown();
    return 0;
}
