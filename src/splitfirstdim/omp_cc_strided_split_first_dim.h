// Complex transforms of rank 4 and more whose middle axes may have any
// strides. The rest plan (from the parallel factory) runs first in both
// directions; then one team of the rest plan's size walks every line of the
// middle axes, each thread below its own axis-1 indices, and calls one column
// plan per line: all N(n-1) complex columns of the innermost row along axis 0.
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

template <typename T, Placement P>
class OmpCCStridedSplitFirstDim final : public SplitOnRestTeam<OmpCCStridedSplitFirstDim<T, P>, T, P> {
    using Base = SplitOnRestTeam<OmpCCStridedSplitFirstDim, T, P>;
    friend Base;

public:
    using RestPlan = Compute<T, P>;
    using ColumnPlan = InplaceCompute<T>;

    OmpCCStridedSplitFirstDim(const StrategyContext<T, Kind::Complex>& context, std::size_t rank, const Dim* dims,
                              const Dim* batch, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : middleDims(P == Placement::Inplace
                         ? makeMiddleDims(rank, dims, Layout::ComplexInput)
                         : makeMiddleDims(rank, dims, Layout::ComplexInput, Layout::ComplexOutput)),
          howmany(transformCount(batch->size)),
          distance(distances(Kind::Complex, P, rank, dims, *batch))
    {
        const auto axis0Tuning = firstAxisTuning<P>(context, rank, dims, key, tuning);
        restPlan = subPlans.require(restPlanMaker<P>(context, rank, dims, key, tuning));

        const ItemSpacing axis0 = axisStrides(Kind::Complex, P, rank, dims, 0);
        const ComplexFactory<T>* planner = columnPlanner(context, subPlans);
        auto columnPlanAlong = [&](std::int64_t stride) {
            const Dim axis{dims[0].size, stride, 0};
            return subPlans.require(columnMaker<Placement::Inplace>(planner, axis, key, axis0Tuning),
                                    dims[rank - 1].size);
        };
        firstDimPlanIn = columnPlanAlong(axis0.in);
        if constexpr (P == Placement::Ooplace) firstDimPlanOut = columnPlanAlong(axis0.out);
        if (!subPlans.complete()) return;

        work = FlatSlices<T>(restTeam(*restPlan));
        work.fit(firstDimPlanIn, firstDimPlanOut);
        this->shareWorkWithRestPlan();
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const Spacing transforms = spacingFor(call, distance);
        // Out of place the lines lie in the written array's layout: the output
        // one forward, the input one backward.
        const bool outLayout = P == Placement::Ooplace && call.isForward();
        const ColumnPlan& columnPlan = outLayout ? *firstDimPlanOut : *firstDimPlanIn;
        for (std::int64_t item = 0; item < howmany; ++item) {
            const Arrays<T, P> transform = transforms.item(arrays, item);
            invoke(*restPlan, call, transform, workBuffer);
            linePass(middleDims, work, columnPlan, call.plain(), written(transform).data, outLayout, workBuffer);
        }
    }

    std::string toString() const override
    {
        const char* name = P == Placement::Inplace ? "OmpInplaceCC" : "OmpOoplaceCC";
        const ColumnPlan& described = P == Placement::Inplace ? *firstDimPlanIn : *firstDimPlanOut;
        const std::string rest = restPlan->toString();
        return describeSplit<T>(name, rest, described.toString(), howmany, work.threads());
    }

private:
    std::vector<Dim> middleDims;
    std::int64_t howmany;
    ItemSpacing distance;
    FlatSlices<T> work{1};
    std::unique_ptr<RestPlan> restPlan;
    // In place the one column plan; out of place the one for the input layout.
    std::unique_ptr<ColumnPlan> firstDimPlanIn;
    std::unique_ptr<ColumnPlan> firstDimPlanOut;
    SubPlans subPlans;
};

template <typename T>
using OmpInplaceCCStridedSplitFirstDim = OmpCCStridedSplitFirstDim<T, Placement::Inplace>;
template <typename T>
using OmpOoplaceCCStridedSplitFirstDim = OmpCCStridedSplitFirstDim<T, Placement::Ooplace>;

}  // namespace zun::fft::omp
