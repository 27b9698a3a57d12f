// In-place real transforms of rank 4 and more whose middle axes may have any
// strides: as the packed class, but the axis-0 pass goes line by line, one
// column plan call over the N/2 + 1 complex columns of each line, the lines
// dealt out to the team by their axis-1 index. Forward runs the rest plan
// first; backward the axis-0 pass.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parallel/strategy.h"
#include "splitfirstdim/lines.h"
#include "splitfirstdim/split_first_dim.h"

namespace zun::fft::omp {

template <typename T>
class OmpInplaceRCStridedSplitFirstDim final
    : public SplitOnRestTeam<OmpInplaceRCStridedSplitFirstDim<T>, T, Placement::Inplace> {
    using Base = SplitOnRestTeam<OmpInplaceRCStridedSplitFirstDim, T, Placement::Inplace>;
    friend Base;
    static constexpr Placement P = Placement::Inplace;

public:
    using Plan = InplaceCompute<T>;

    OmpInplaceRCStridedSplitFirstDim(const StrategyContext<T, Kind::Real>& context, std::size_t rank, const Dim* dims,
                                     const Dim* batch, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : middleDims(makeMiddleDims(rank, dims, Layout::InplaceReal)),
          howmany(transformCount(batch->size)),
          distance(distances(Kind::Real, P, rank, dims, *batch).in)
    {
        const auto axis0Tuning = firstAxisTuning<P>(context, rank, dims, key, tuning);
        restPlan = subPlans.require(restPlanMaker<P>(context, rank, dims, key, tuning));
        const Dim axis0{dims[0].size, effectiveStride(rank, dims, 0, Layout::InplaceReal), 0};
        firstDimPlan = subPlans.require(columnMaker<P>(columnPlanner(context, subPlans), axis0, key, axis0Tuning),
                                        halfColumns(dims[rank - 1].size));
        if (!subPlans.complete()) return;

        work = FlatSlices<T>(restTeam(*restPlan));
        work.fit(firstDimPlan);
        this->shareWorkWithRestPlan();
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        for (std::int64_t item = 0; item < howmany; ++item) {
            const Arrays<T, P> transform{arrays.data + item * distance};
            restFirstForward(
                call, [&](const Call& rest) { invoke(*restPlan, rest, transform, workBuffer); },
                [&](const Call& lines) {
                    linePass(middleDims, work, *firstDimPlan, lines, transform.data, false, workBuffer);
                });
        }
    }

    std::string toString() const override
    {
        const std::string rest = restPlan->toString();
        return describeSplit<T>("OmpInplaceRC", rest, firstDimPlan->toString(), howmany, work.threads());
    }

private:
    std::vector<Dim> middleDims;
    std::int64_t howmany;
    std::int64_t distance;
    FlatSlices<T> work{1};
    std::unique_ptr<Plan> restPlan;
    std::unique_ptr<Plan> firstDimPlan;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
