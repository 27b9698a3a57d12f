// Rank-3 transforms whose rows do not lie back to back: the first-axis pass
// cannot treat a plane as one run of columns, so it deals out whole rows in
// balanced shares and makes one column-plan call per row, covering that row's
// complex values in every plane.
//
// Out of place the plane pass reads the source and writes the destination, and
// the row pass runs in place on the destination with the column plan of the
// layout the destination has in that direction. The source is only ever read.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "planes/planes.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
class OmpStridedPlanes final : public PlaneStrategy<OmpStridedPlanes<T, K, P>, T, K, P> {
    using Frame = PlaneStrategy<OmpStridedPlanes, T, K, P>;
    friend Strategy<OmpStridedPlanes, T, P>;

public:
    using ColumnPlan = InplaceCompute<T>;

    OmpStridedPlanes(const StrategyContext<T, K>& context, const Dim* dims, const Dim* batch, const PlanKey* key,
                     const std::shared_ptr<T>& tuning)
        : Frame(context, dims, batch)
    {
        const auto columnsTuning = this->requestPlanePlans(context, dims, key, tuning);
        const ComplexFactory<T>* planner = columnPlanner(context, this->subPlans);
        auto rowPlan = [&](std::int64_t planeStride) {
            const auto make =
                columnMaker<Placement::Inplace>(planner, this->shape.firstAxis(planeStride), key, columnsTuning);
            return this->subPlans.require(make, this->shape.rowLength);
        };
        firstDimPlanIn = rowPlan(this->shape.planeStride.in);
        if constexpr (P == Placement::Ooplace) firstDimPlanOut = rowPlan(this->shape.planeStride.out);
        this->work.fit(this->planePlans, firstDimPlanIn, firstDimPlanOut);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const ColumnPlan& rowPlan = P == Placement::Ooplace && call.isForward() ? *firstDimPlanOut : *firstDimPlanIn;
        this->runTransforms(call, arrays, workBuffer, [&](const Call& rows, const Team& team,
                                                          const Arrays<T, Placement::Inplace>& written, T* slice) {
            this->rowPass(rowPlan, rows, team, written, slice);
        });
    }

private:
    std::unique_ptr<ColumnPlan> firstDimPlanIn;   // in place: the only first-axis plan
    std::unique_ptr<ColumnPlan> firstDimPlanOut;  // out of place only
};

template <typename T>
using OmpInplaceCCStridedPlanes = OmpStridedPlanes<T, Kind::Complex, Placement::Inplace>;
template <typename T>
using OmpOoplaceCCStridedPlanes = OmpStridedPlanes<T, Kind::Complex, Placement::Ooplace>;
template <typename T>
using OmpInplaceRCStridedPlanes = OmpStridedPlanes<T, Kind::Real, Placement::Inplace>;

}  // namespace zun::fft::omp
