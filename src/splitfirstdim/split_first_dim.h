// What every split-first-dimension strategy shares. A transform of rank n >= 4
// is a rest plan over axes 1 to n-1 of every slice of axis 0, which the
// parallel factory makes for itself (so it may be any strategy, another split
// included), and a pass along axis 0.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"

namespace zun::fft::omp {

// The maker of the rest plan: axes 1 to n-1 as a batch whose count and
// distances are the first axis's size and strides. Its sub-requests re-enter
// the factory with lockFlag false, so the whole tree is planned under the
// outermost request's tuning lock, if it took one.
template <Placement P, typename T, Kind K>
auto restPlanMaker(const StrategyContext<T, K>& context, std::size_t rank, const Dim* dims, const PlanKey* key,
                   const std::shared_ptr<T>& tuning)
{
    return [&context, rank, dims, key, &tuning] {
        return makeSubPlan<P>(context.parallel, rank - 1, dims + 1, dims[0], keyRecord(key, 1), tuning);
    };
}

// The tuning entry of the plans along axis 0 names the sub-problem that
// starts at the first middle axis whose length differs from N(0), or at the
// innermost axis when they all match it. The plans get a pointer into the
// caller's array at that entry (empty when there is no array).
template <Placement P, typename T, Kind K>
std::shared_ptr<T> firstAxisTuning(const StrategyContext<T, K>& context, std::size_t rank, const Dim* dims,
                                   const PlanKey* key, const std::shared_ptr<T>& tuning)
{
    std::size_t k = 1;
    while (k + 1 < rank && dims[k].size == dims[0].size) ++k;
    const std::int64_t index = tuningIndexFor<P>(context.inner, rank - k, dims + k, keyRecord(key, k));
    return aliasTuning(tuning, index, key[0]);
}

// The team of the axis-0 pass is the rest plan's, so both passes use the same
// threads and slices; a plan reporting fewer than one thread runs on one.
template <typename Plan>
int restTeam(const Plan& restPlan)
{
    return std::max(1, restPlan.threadCount());
}

// The base of the split strategies that run passes of their own on the rest
// plan's team. The rest plan and the strategy's slices cut one work buffer,
// one pass after the other: the buffer holds the larger of the two, and every
// slice is raised to what one of the rest plan's threads needs, so that a
// parent's reservation reaches both. Derived holds `restPlan`, its slices'
// layout `work` and `subPlans`, and declares `friend` this base.
template <typename Derived, typename T, Placement P>
class SplitOnRestTeam : public RoutedCompute<Derived, T, P> {
public:
    std::size_t workSize() const override { return std::max(restPlan().workSize(), self().work.workSize()); }
    int threadCount() const override { return self().work.threadCount(); }
    std::size_t threadWorkSize() const override
    {
        return std::max<std::uint64_t>(self().work.threadWorkSize(), threadWorkNeed(restPlan()));
    }
    void reserveThreadWork(std::size_t n) override
    {
        reserveInParallel(restPlan(), n);
        mutableSelf().work.reserveThreadWork(n);
    }

    bool complete() const { return self().subPlans.complete(); }

protected:
    // Once the rest plan and the plans that run in the slices exist.
    void shareWorkWithRestPlan() { reserveThreadWork(threadWorkSize()); }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    Derived& mutableSelf() { return static_cast<Derived&>(*this); }
    auto& restPlan() const { return *self().restPlan; }
};

// The rest plan runs first forward; backward the axis-0 pass does, as real
// transforms need: the complex-to-real rest consumes the complex axis 0. The
// extra argument reaches only the pass that runs first.
template <typename Rest, typename Axis0>
void restFirstForward(const Call& call, Rest&& rest, Axis0&& axis0)
{
    if (call.isForward()) {
        rest(call);
        axis0(call.plain());
    } else {
        axis0(call);
        rest(call.plain());
    }
}

// "Name<floatNN_t>(AXIS0xREST_bHOWMANY/THREADS)": the axis-0 plan's sizes (cut
// before its "_v") and the rest plan's (cut before its "_b"). The rest plan's
// description is fetched first.
template <typename T>
std::string describeSplit(const char* name, const std::string& restDescription,
                          const std::string& axis0Description, std::int64_t howmany, int threads)
{
    const std::string rest = pieceBefore(restDescription, "_b");
    return std::string(name) + "<" + precisionName<T>() + ">(" + pieceBefore(axis0Description, "_v") + "x" + rest +
           "_b" + std::to_string(howmany) + "/" + std::to_string(threads) + ")";
}

}  // namespace zun::fft::omp
