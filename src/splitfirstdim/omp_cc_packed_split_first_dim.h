// Complex transforms of rank 4 and more whose middle axes are packed: one
// slice of axis 0 is then a contiguous run of P complex elements, so axis 0 is
// one rank-1 transform of N(0) points applied to P adjacent elements. Both
// the rest plan and that first-axis plan come from the parallel factory
// itself and bring their own teams: this class opens no region, and calls
// them one after the other, rest first, in both directions.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "splitfirstdim/split_first_dim.h"

namespace zun::fft::omp {

template <typename T, Placement P>
class OmpCCPackedSplitFirstDim final : public RoutedCompute<OmpCCPackedSplitFirstDim<T, P>, T, P> {
public:
    using Context = StrategyContext<T, Kind::Complex>;
    using RestPlan = Compute<T, P>;
    using FirstDimPlan = InplaceCompute<T>;

    OmpCCPackedSplitFirstDim(const Context& context, std::size_t rank, const Dim* dims, const Dim* batch,
                             const PlanKey* key, const std::shared_ptr<T>& tuning)
        : howmany(transformCount(batch->size)), distance(distances(Kind::Complex, P, rank, dims, *batch))
    {
        const auto axis0Tuning = firstAxisTuning<P>(context, rank, dims, key, tuning);
        restPlan = subPlans.require(restPlanMaker<P>(context, rank, dims, key, tuning));

        // Axis 0 at every complex element of a slice, in place on the array the rest plan wrote.
        std::int64_t sliceElements = 1;
        for (std::size_t k = 1; k < rank; ++k) sliceElements *= dims[k].size;
        const ItemSpacing axis0 = axisStrides(Kind::Complex, P, rank, dims, 0);
        auto firstDimPlanAlong = [&](std::int64_t stride) {
            const Dim axis{dims[0].size, stride, 0};
            const ItemSpacing adjacentElements{2, 2};
            return subPlans.require(
                planMaker<Placement::Inplace>(context.parallel, 1, &axis, adjacentElements, key, axis0Tuning),
                sliceElements);
        };
        firstDimPlanIn = firstDimPlanAlong(axis0.in);
        if constexpr (P == Placement::Ooplace) firstDimPlanOut = firstDimPlanAlong(axis0.out);
        if (!subPlans.complete()) return;

        // The sub-plans run one after the other on the same slices.
        reserveThreadWork(threadWorkSize());
    }

    bool complete() const { return subPlans.complete(); }

    void run(const Call& call, const Arrays<T, P>& arrays, T* work) const
    {
        const Spacing transforms = spacingFor(call, distance);
        const FirstDimPlan& firstDimPlan = firstDimPlanOn(call);
        for (std::int64_t item = 0; item < howmany; ++item) {
            const Arrays<T, P> transform = transforms.item(arrays, item);
            invoke(*restPlan, call, transform, work);
            invoke(firstDimPlan, call.plain(), written(transform), work);
        }
    }

    std::size_t workSize() const override
    {
        return forEachSubPlan([](const auto&... plans) { return std::max({std::size_t{plans.workSize()}...}); });
    }
    int threadCount() const override
    {
        return forEachSubPlan([](const auto&... plans) { return std::max({plans.threadCount()...}); });
    }
    std::size_t threadWorkSize() const override
    {
        return forEachSubPlan([](const auto&... plans) { return std::max({threadWorkNeed(plans)...}); });
    }
    // Stored nowhere: the parallel sub-plans hold the slices.
    void reserveThreadWork(std::size_t n) override
    {
        forEachSubPlan([n](auto&... plans) { (reserveInParallel(plans, n), ...); });
    }
    std::string toString() const override
    {
        const char* name = P == Placement::Inplace ? "OmpInplaceCC" : "OmpOoplaceCC";
        const FirstDimPlan& described = P == Placement::Inplace ? *firstDimPlanIn : *firstDimPlanOut;
        const std::string rest = restPlan->toString();
        return describeSplit<T>(name, rest, described.toString(), howmany, threadCount());
    }

private:
    // Out of place the pass runs on the written array, in the output layout
    // forward and the input layout backward.
    const FirstDimPlan& firstDimPlanOn(const Call& call) const
    {
        if constexpr (P == Placement::Ooplace)
            if (call.isForward()) return *firstDimPlanOut;
        return *firstDimPlanIn;
    }

    // Visits every sub-plan at once; reserving work changes them, not this object.
    template <typename Visit>
    decltype(auto) forEachSubPlan(Visit&& visit) const
    {
        if constexpr (P == Placement::Inplace) return visit(*restPlan, *firstDimPlanIn);
        else return visit(*restPlan, *firstDimPlanIn, *firstDimPlanOut);
    }

    std::int64_t howmany;
    ItemSpacing distance;
    std::unique_ptr<RestPlan> restPlan;
    // In place the one first-axis plan; out of place the one for the input layout.
    std::unique_ptr<FirstDimPlan> firstDimPlanIn;
    std::unique_ptr<FirstDimPlan> firstDimPlanOut;
    SubPlans subPlans;
};

template <typename T>
using OmpInplaceCCPackedSplitFirstDim = OmpCCPackedSplitFirstDim<T, Placement::Inplace>;
template <typename T>
using OmpOoplaceCCPackedSplitFirstDim = OmpCCPackedSplitFirstDim<T, Placement::Ooplace>;

}  // namespace zun::fft::omp
