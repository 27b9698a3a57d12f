// Rank-3 transforms whose rows lie back to back in every plane: the first-axis
// pass sees a plane as one run of adjacent complex columns and deals it out in
// whole cache lines, a block per call while a whole block of the share
// remains, then a line of columns per call; the columns that fill no whole
// line go to the last thread's tail plan.
//
// Out of place the plane pass reads the source and writes the destination, and
// the first-axis pass runs in place on the destination with the column plans
// of the layout the destination has in that direction. The source is only
// ever read.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "planes/planes.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
class OmpPackedPlanes final : public PlaneStrategy<OmpPackedPlanes<T, K, P>, T, K, P> {
    using Frame = PlaneStrategy<OmpPackedPlanes, T, K, P>;
    friend Strategy<OmpPackedPlanes, T, P>;

public:
    using ColumnPlan = InplaceCompute<T>;

    OmpPackedPlanes(const StrategyContext<T, K>& context, const Dim* dims, const Dim* batch, const PlanKey* key,
                    const std::shared_ptr<T>& tuning)
        : Frame(context, dims, batch),
          columnPlansIn(this->shape.planeColumns(), lineColumns<T>, this->work.threads()),
          columnPlansOut(this->shape.planeColumns(), lineColumns<T>, this->work.threads())
    {
        const auto columnsTuning = this->requestPlanePlans(context, dims, key, tuning);
        const ComplexFactory<T>* planner = columnPlanner(context, this->subPlans);
        auto columnsOf = [&](std::int64_t planeStride) {
            return columnMaker<Placement::Inplace>(planner, this->shape.firstAxis(planeStride), key, columnsTuning);
        };
        const auto makeIn = columnsOf(this->shape.planeStride.in);
        if constexpr (P == Placement::Inplace) {
            columnPlansIn.request(blockTailUnit, this->subPlans, makeIn);
        } else {
            const auto makeOut = columnsOf(this->shape.planeStride.out);
            for (const Piece piece : blockTailUnit) {
                columnPlansIn.request(piece, this->subPlans, makeIn);
                columnPlansOut.request(piece, this->subPlans, makeOut);
            }
        }
        this->work.fit(this->planePlans, columnPlansIn, columnPlansOut);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const auto& columnPlans = P == Placement::Ooplace && call.isForward() ? columnPlansOut : columnPlansIn;
        this->runTransforms(call, arrays, workBuffer, [&](const Call& columns, const Team& team,
                                                          const Arrays<T, Placement::Inplace>& written, T* slice) {
            runPass(columnPlans, team, columns, written, adjacentColumns, slice);
        });
    }

private:
    PlanSet<ColumnPlan> columnPlansIn;   // in place: the only column plans
    PlanSet<ColumnPlan> columnPlansOut;  // out of place only
};

template <typename T>
using OmpInplaceCCPackedPlanes = OmpPackedPlanes<T, Kind::Complex, Placement::Inplace>;
template <typename T>
using OmpOoplaceCCPackedPlanes = OmpPackedPlanes<T, Kind::Complex, Placement::Ooplace>;
template <typename T>
using OmpInplaceRCPackedPlanes = OmpPackedPlanes<T, Kind::Real, Placement::Inplace>;

}  // namespace zun::fft::omp
