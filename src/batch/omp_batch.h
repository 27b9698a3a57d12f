// A batch of independent transforms of any rank on one flat team: each thread
// takes a run of whole groups of transforms and hands it to serial plans of
// the wrapped factory, a block at a time, then group by group; the transforms
// that fill no whole group go to the last thread's tail plan.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P, std::int64_t GroupSize>
class OmpBatch final : public RoutedCompute<OmpBatch<T, K, P, GroupSize>, T, P> {
public:
    using Factory = FftOmpFactory<FactoryOf<T, K>>;
    using Plan = Compute<T, P>;

    OmpBatch(const Factory& factory, std::size_t rank, const Dim* dims, const Dim* batch, std::int64_t grain,
             const PlanKey* key, const std::shared_ptr<T>& tuning)
        : howmany(transformCount(batch->size)),
          inDistance(distanceOrDefault(batch->inStride, rank, dims, inputLayout())),
          outDistance(P == Placement::Inplace ? inDistance
                                              : distanceOrDefault(batch->outStride, rank, dims, outputLayout())),
          threads(static_cast<int>(std::min<std::int64_t>(factory.threads(), (howmany + grain - 1) / grain))),
          block(std::max(2 * GroupSize, howmany / threads - (howmany / threads) % GroupSize))
    {
        const auto& inner = factory.inner();
        blockPlan = subPlans.require(makeSubPlan<P>(inner, rank, dims, batchOf(block), key, tuning));
        if (howmany % GroupSize != 0)
            tailPlan = subPlans.require(makeSubPlan<P>(inner, rank, dims, batchOf(howmany % GroupSize), key, tuning));
        groupPlan = subPlans.require(makeSubPlan<P>(inner, rank, dims, batchOf(GroupSize), key, tuning));
        workPerThread = sliceFor<T>(blockPlan.get(), groupPlan.get(), tailPlan.get());
    }

    bool complete() const { return subPlans.complete(); }

    void run(const Call& call, const Arrays<T, P>& arrays, T* work) const
    {
        const Spacing spacing = spacingFor(call, inDistance, outDistance);
        flatRegion(threads, [&](const Team& team) {
            T* slice = work + team.thread * workPerThread;
            const Share share = splitRange(howmany, team.size, team.thread, GroupSize);
            runShare(share, block, GroupSize, *blockPlan, *groupPlan, tailPlan.get(),
                     [&](const Plan& plan, std::int64_t first) { invoke(plan, call, spacing.item(arrays, first), slice); });
        });
    }

    std::size_t workSize() const override { return static_cast<std::size_t>(threads) * workPerThread; }
    int threadCount() const override { return threads; }
    std::string toString() const override
    {
        return "OmpBatch(" + upToLastCountMark(blockPlan->toString()) + std::to_string(howmany) + ")/" +
               std::to_string(threads) + ")";
    }
    std::size_t threadWorkSize() const override { return workPerThread; }
    void reserveThreadWork(std::size_t n) override { raiseSlice(workPerThread, n); }

private:
    static constexpr Layout inputLayout()
    {
        if constexpr (K == Kind::Complex) return Layout::ComplexInput;
        else return P == Placement::Inplace ? Layout::InplaceReal : Layout::RealInput;
    }
    static constexpr Layout outputLayout() { return K == Kind::Complex ? Layout::ComplexOutput : Layout::ComplexHalfOutput; }

    Dim batchOf(std::int64_t count) const
    {
        return {count, inDistance, P == Placement::Inplace ? 0 : outDistance};
    }

    std::int64_t howmany;
    std::int64_t inDistance;   // in place: the one array's distance
    std::int64_t outDistance;  // out of place only
    int threads;
    std::int64_t block;
    std::uint64_t workPerThread = 0;
    std::unique_ptr<Plan> blockPlan;
    std::unique_ptr<Plan> groupPlan;
    std::unique_ptr<Plan> tailPlan;
    SubPlans subPlans;
};

template <typename T, Kind K, std::int64_t GroupSize>
using OmpBatchInplace = OmpBatch<T, K, Placement::Inplace, GroupSize>;
template <typename T, Kind K, std::int64_t GroupSize>
using OmpBatchOoplace = OmpBatch<T, K, Placement::Ooplace, GroupSize>;

// Transforms that stay together on one thread in a grouped batch: a cache
// line of interleaved complex transforms, or a pair of real ones.
template <typename T, Kind K>
inline constexpr std::int64_t batchGroupSize = K == Kind::Complex ? lineColumns<T> : 2;

}  // namespace zun::fft::omp
