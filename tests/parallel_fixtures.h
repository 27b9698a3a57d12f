// Parallel factories over stand-in (or recording) planners with chosen
// machine figures, so that tests can steer the decisions with small sizes.
#pragma once

#include <gtest/gtest.h>
#include <zun/fft/omp/factory.h>

#include <omp.h>

#include <complex>
#include <cstdint>
#include <memory>
#include <thread>

#include "factory/fft_omp_factory.h"
#include "support/harness.h"
#include "support/hungry.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {

struct Machine {
    int threads = 4;
    int packages = 1;
    int cacheL1 = 32;    // KiB
    int cacheL2 = 1024;  // KiB
    int cacheL3 = 8192;  // KiB
};

inline zun::Configuration configurationOf(const Machine& machine)
{
    zun::Configuration configuration;
    configuration.set(zun::Parameter::Threads, machine.threads);
    configuration.set(zun::Parameter::Packages, machine.packages);
    configuration.set(zun::Parameter::DataCacheL1, machine.cacheL1);
    configuration.set(zun::Parameter::DataCacheL2, machine.cacheL2);
    configuration.set(zun::Parameter::DataCacheL3, machine.cacheL3);
    return configuration;
}

template <typename F>
using Parallel = omp::FftOmpFactory<F>;

// Wraps `inner` (a serial planner) and returns the parallel factory itself.
template <typename F>
std::unique_ptr<Parallel<F>> parallelOver(std::unique_ptr<F> inner, const Machine& machine)
{
    auto factory = omp::makeFactory(std::move(inner), configurationOf(machine));
    return std::unique_ptr<Parallel<F>>(static_cast<Parallel<F>*>(factory.release()));
}

// What a parallel factory builds strategies from, as if the runtime allowed
// `levels` active levels: team sizing reads no global state.
template <typename F>
auto contextAtLevels(const Parallel<F>& parallel, int levels)
{
    auto context = parallel.context();
    context.activeLevels = levels;
    return context;
}

// The runtime's limit of active levels for as long as the object lives: for
// running a plan where fewer levels are active than when it was made.
class ActiveLevels {
public:
    explicit ActiveLevels(int levels) : saved_(omp_get_max_active_levels()) { omp_set_max_active_levels(levels); }
    ~ActiveLevels() { omp_set_max_active_levels(saved_); }

private:
    int saved_;
};

// Parallel factories over a work-hungry stand-in planner: its plans need
// work in every precision and fail the test when another call writes it, so
// every strategy's slices are checked wherever its plans run.
template <typename T>
std::unique_ptr<Parallel<ComplexFactory<T>>> complexParallel(const Machine& machine,
                                                             const support::Appetite& appetite = {})
{
    auto planner = support::hungryPlanner<T, std::complex<T>, std::complex<T>>(appetite);
    return parallelOver<ComplexFactory<T>>(std::move(planner.factory), machine);
}

template <typename T>
std::unique_ptr<Parallel<RealFactory<T>>> realParallel(const Machine& machine, const support::Appetite& appetite = {})
{
    return parallelOver<RealFactory<T>>(support::hungryPlanner<T, T, std::complex<T>>(appetite).factory, machine);
}

// A recording planner under a parallel factory, with the recorder at hand.
template <typename T, typename In, typename Out>
struct Recorded {
    std::shared_ptr<support::Recorder<T>> recorder;
    std::unique_ptr<Parallel<Factory<T, In, Out>>> parallel;

    explicit Recorded(const Machine& machine)
    {
        auto planner = std::make_unique<support::RecordingPlannerFactory<T, In, Out>>();
        recorder = planner->recorder();
        parallel = parallelOver<Factory<T, In, Out>>(std::move(planner), machine);
    }
};

// Whether another thread could take the tuning mutex right now.
inline bool tuningMutexFree()
{
    bool free = false;
    std::thread([&] {
        free = tuningMutex().try_lock();
        if (free) tuningMutex().unlock();
    }).join();
    return free;
}

// A strategy context whose requests to the parallel factory itself pass
// through a second recorder, `reentered`: a strategy built on it shows both
// what it asks of the wrapped planner and what it asks of the parallel factory.
template <typename T, omp::Kind K>
struct ReenteringContext {
    using F = omp::FactoryOf<T, K>;
    using In = typename F::Input;
    using Out = typename F::Output;

    Recorded<T, In, Out> recorded;
    std::shared_ptr<support::Recorder<T>> reentered = std::make_shared<support::Recorder<T>>();
    support::RecordingFactoryBase<T, In, Out, F> parallelView;
    omp::StrategyContext<T, K> context;

    ReenteringContext(const Machine& machine, const PlanKey* key)
        : recorded(machine), parallelView(*recorded.parallel, reentered, false), context(reentering(*recorded.parallel))
    {
        recorded.recorder->registerKey(key);
        reentered->registerKey(key);
    }

    void registerTuning(const T* tuning)
    {
        recorded.recorder->registerTuning(tuning);
        reentered->registerTuning(tuning);
    }

private:
    omp::StrategyContext<T, K> reentering(const Parallel<F>& factory) const
    {
        const omp::StrategyContext<T, K> own = factory.context();
        return {own.inner, parallelView, own.threads, own.packages, own.activeLevels, own.caches};
    }
};

// Whatever sub-request of a request (the whole tree of them) is declined, the request declines,
// frees what it built, asks for nothing more and releases the tuning lock,
// which it took once and held across every sub-request.
template <typename T, typename In, typename Out>
void expectEveryDeclineDeclinesTheTree(const Machine& machine, const support::Request& request, Placement placement)
{
    SCOPED_TRACE(support::describe(request) + ", " + support::name(placement));
    const auto key = makePlanKey(request.rank);
    auto make = [&](Recorded<T, In, Out>& recorded) {
        const std::shared_ptr<T> tuning(new T[8]{T(-1), 0, 0, 0, 0, 0, 0, 0}, std::default_delete<T[]>());
        if (placement == Placement::Inplace)
            return support::makePlan<Placement::Inplace>(*recorded.parallel, request, true, key.data(), tuning) !=
                   nullptr;
        return support::makePlan<Placement::Ooplace>(*recorded.parallel, request, true, key.data(), tuning) != nullptr;
    };
    Recorded<T, In, Out> whole(machine);
    ASSERT_TRUE(make(whole));
    EXPECT_EQ(whole.recorder->calls("lockForTuning").size(), 1u);
    std::int64_t makes = 0;
    for (const auto& call : whole.recorder->calls()) {
        if (call.makeIndex < 0) continue;
        ++makes;
        EXPECT_FALSE(call.lockFlag) << call.op;
        EXPECT_TRUE(call.tuningLocked) << call.op;
    }
    EXPECT_TRUE(tuningMutexFree());
    for (std::int64_t declined = 0; declined < makes; ++declined) {
        Recorded<T, In, Out> recorded(machine);
        recorded.recorder->declineMake(declined);
        EXPECT_FALSE(make(recorded)) << "declined sub-request " << declined;
        EXPECT_EQ(recorded.recorder->livePlans(), 0) << "declined sub-request " << declined;
        support::expectNothingAskedAfter(recorded.recorder->calls(), declined);
        EXPECT_TRUE(tuningMutexFree());
    }
}

template <typename T>
using RecordedComplex = Recorded<T, std::complex<T>, std::complex<T>>;
template <typename T>
using RecordedReal = Recorded<T, T, std::complex<T>>;

}  // namespace zun::fft::testing
