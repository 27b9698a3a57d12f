// In-place real transforms of rank 4 and more whose middle axes are packed:
// the complex values of one slice of axis 0 are then one run of
// `columnCount` adjacent complex columns, which one team of the rest plan's
// size transforms along axis 0 in whole cache-line groups, with column plans
// of the companion complex factory. Forward runs the rest plan first;
// backward the axis-0 pass, whose complex values the complex-to-real rest
// plan then consumes.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "splitfirstdim/split_first_dim.h"

namespace zun::fft::omp {

template <typename T>
class OmpInplaceRCPackedSplitFirstDim final
    : public SplitOnRestTeam<OmpInplaceRCPackedSplitFirstDim<T>, T, Placement::Inplace> {
    using Base = SplitOnRestTeam<OmpInplaceRCPackedSplitFirstDim, T, Placement::Inplace>;
    friend Base;
    static constexpr Placement P = Placement::Inplace;

public:
    using Plan = InplaceCompute<T>;

    OmpInplaceRCPackedSplitFirstDim(const StrategyContext<T, Kind::Real>& context, std::size_t rank, const Dim* dims,
                                    const Dim* batch, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : columnCount(sliceColumns(rank, dims)),
          howmany(transformCount(batch->size)),
          distance(distances(Kind::Real, P, rank, dims, *batch).in)
    {
        const auto axis0Tuning = firstAxisTuning<P>(context, rank, dims, key, tuning);
        restPlan = subPlans.require(restPlanMaker<P>(context, rank, dims, key, tuning));
        if (!restPlan) return;

        work = FlatSlices<T>(restTeam(*restPlan));
        columnPlans = PlanSet<Plan>(columnCount, lineColumns<T>, work.threads());
        const Dim axis0{dims[0].size, effectiveStride(rank, dims, 0, Layout::InplaceReal), 0};
        columnPlans.request(blockTailUnit, subPlans,
                            columnMaker<P>(columnPlanner(context, subPlans), axis0, key, axis0Tuning));
        if (!subPlans.complete()) return;

        work.fit(columnPlans);
        this->shareWorkWithRestPlan();
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        for (std::int64_t item = 0; item < howmany; ++item) {
            const Arrays<T, P> transform{arrays.data + item * distance};
            restFirstForward(
                call, [&](const Call& rest) { invoke(*restPlan, rest, transform, workBuffer); },
                [&](const Call& columns) {
                    flatRegion(work.threads(), [&](const Team& team) {
                        runPass(columnPlans, team, columns, transform, adjacentColumns, work.slice(workBuffer, team));
                    });
                });
        }
    }

    std::string toString() const override
    {
        const std::string rest = restPlan->toString();
        return describeSplit<T>("OmpInplaceRC", rest, columnPlans.unitPlan().toString(), howmany, work.threads());
    }

private:
    // Complex columns of one slice: every line of the middle axes holds the
    // N/2 + 1 complex values of an innermost row.
    static std::int64_t sliceColumns(std::size_t rank, const Dim* dims)
    {
        std::int64_t columns = halfColumns(dims[rank - 1].size);
        for (std::size_t k = 1; k + 1 < rank; ++k) columns *= dims[k].size;
        return columns;
    }

    std::int64_t columnCount;
    std::int64_t howmany;
    std::int64_t distance;
    FlatSlices<T> work{1};
    std::unique_ptr<Plan> restPlan;
    PlanSet<Plan> columnPlans;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
