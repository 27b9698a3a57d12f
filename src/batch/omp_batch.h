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

// Transforms that stay together on one thread in a grouped batch: a cache
// line of interleaved complex transforms, or a pair of real ones.
template <typename T, Kind K>
inline constexpr std::int64_t batchGroupSize = K == Kind::Complex ? lineColumns<T> : 2;

template <typename T, Kind K, Placement P, std::int64_t GroupSize>
class OmpBatch final : public Strategy<OmpBatch<T, K, P, GroupSize>, T, P> {
    using Base = Strategy<OmpBatch, T, P>;
    friend Base;

public:
    using Plan = Compute<T, P>;

    OmpBatch(const StrategyContext<T, K>& context, std::size_t rank, const Dim* dims, const Dim* batch,
             std::int64_t grain, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : howmany(transformCount(batch->size)),
          distance(distances(K, P, rank, dims, *batch)),
          work(static_cast<int>(std::min<std::int64_t>(context.threads, ceilDiv(howmany, grain)))),
          transforms(howmany, GroupSize, work.threads())
    {
        transforms.request(blockTailUnit, subPlans, planMaker<P>(context.inner, rank, dims, distance, key, tuning));
        work.fit(transforms);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const Spacing spacing = spacingFor(call, distance);
        flatRegion(work.threads(), [&](const Team& team) {
            T* slice = work.slice(workBuffer, team);
            transforms.walk(team, [&](const Plan& plan, std::int64_t first) {
                invoke(plan, call, spacing.item(arrays, first), slice);
            });
        });
    }

    std::string toString() const override
    {
        return "OmpBatch(" + upToLastCountMark(transforms.blockPlan().toString()) + std::to_string(howmany) + ")/" +
               std::to_string(work.threads()) + ")";
    }

private:
    std::int64_t howmany;
    ItemSpacing distance;
    FlatSlices<T> work;
    PlanSet<Plan> transforms;
    SubPlans subPlans;
};

template <typename T, Kind K, std::int64_t GroupSize>
using OmpBatchInplace = OmpBatch<T, K, Placement::Inplace, GroupSize>;
template <typename T, Kind K, std::int64_t GroupSize>
using OmpBatchOoplace = OmpBatch<T, K, Placement::Ooplace, GroupSize>;

}  // namespace zun::fft::omp
