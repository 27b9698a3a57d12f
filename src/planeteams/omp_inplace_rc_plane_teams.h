// In-place real-to-complex rank-3 transforms with planes too large for half
// the L2 cache, on nested teams: OmpInplaceRCPackedPlaneTeams and
// OmpInplaceRCStridedPlaneTeams.
//
// Each row holds N2 reals or N2/2 + 1 complex values in the same padded
// space. Forward, region A transforms the real rows of each owned plane (in
// pairs, the odd last row on its own) and then its complex in-plane columns;
// region B the first axis. Backward undoes this in reverse: region B first,
// then in each plane the columns before the rows. Packed rows make a plane one
// run of N1 * (N2/2 + 1) adjacent complex columns, handed out in whole groups
// by region B; strided rows are handed out row by row.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "planeteams/plane_teams.h"

namespace zun::fft::omp {

template <typename T, bool PackedRows>
class OmpInplaceRCPlaneTeams final : public Strategy<OmpInplaceRCPlaneTeams<T, PackedRows>, T, Placement::Inplace> {
    using Base = Strategy<OmpInplaceRCPlaneTeams<T, PackedRows>, T, Placement::Inplace>;
    friend Base;
    static constexpr Placement P = Placement::Inplace;

public:
    using Plan = InplaceCompute<T>;

    // `batch` is the request's record as passed: a count below 2 is one
    // transform, a distance of 0 the packed default.
    OmpInplaceRCPlaneTeams(const StrategyContext<T, Kind::Real>& context, const Dim* dims, const Dim& batch,
                           const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rowCount(dims[1].size),
          columnCount(halfColumns(dims[2].size)),
          planeCount(dims[0].size),
          howmany(transformCount(batch.size)),
          rowStride(axisStrides(Kind::Real, P, 3, dims, 1).in),
          planeStride(axisStrides(Kind::Real, P, 3, dims, 0).in),
          distance(distances(Kind::Real, P, 3, dims, batch).in),
          work(planeTeams(context, rowCount * dims[2].size, planeCount)),
          rows(rowCount, 2, work.teams().innerThreads),
          columns(columnCount, lineColumns<T>, work.teams().innerThreads),
          firstDim(firstDimPlans<T, PackedRows>(rowCount * columnCount, work.teams()))
    {
        const AxisKeys keys = axisKeys(key);
        const OuterAxisTuning<T> outerTuning = outerAxisTuning<P>(context.inner, dims, keys, tuning);

        const Dim row{dims[2].size, 1, 0};
        rows.request(blockTailUnit, subPlans,
                     planMaker<P>(context.inner, 1, &row, {rowStride, rowStride}, keys.rows, tuning));

        const ComplexFactory<T>* companion = columnPlanner(context, subPlans);
        const Dim inPlaneColumn{rowCount, rowStride, 0};
        columns.request(blockTailUnit, subPlans,
                        columnMaker<P>(companion, inPlaneColumn, keys.columns, outerTuning.columns));

        const Dim firstDimColumn{planeCount, planeStride, 0};
        const auto makeFirstDim = columnMaker<P>(companion, firstDimColumn, keys.firstDim, outerTuning.firstDim);
        if constexpr (PackedRows) firstDim.request(blockTailUnit, subPlans, makeFirstDim);
        else firstDim = subPlans.require(makeFirstDim, columnCount);  // all columns of one row per call

        work.fit(rows, columns, firstDim);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const bool forward = call.isForward();
        const Call planeCall = forward ? call : call.plain();
        const Call firstAxisCall = forward ? call.plain() : call;
        const PlanePlans<T, P, Plan> planePlans{rows, columns, {planeStride, planeStride}, {rowStride, rowStride}};
        const PlaneTeamShape shape =
            planeTeamShape<T, PackedRows>(work.teams(), howmany, planeCount, rowCount, columnCount);

        auto planePass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            transformPlanes(planePlans, forward ? PlaneSteps::RowsFirst : PlaneSteps::ColumnsFirst, planeCall,
                            call.plain(), arrays.at(transform * distance, 0), at.planes, inner,
                            work.slice(workBuffer, at.outer, inner));
        };
        auto firstAxisPass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            transformFirstAxis(firstDim, firstAxisCall, arrays.at(transform * distance, 0), rowStride, at.firstAxis,
                               inner, work.slice(workBuffer, at.outer, inner));
        };
        runPlaneTeams(shape, forward ? PassOrder::PlanesFirst : PassOrder::FirstAxisFirst, planePass, firstAxisPass);
    }

    std::string toString() const override
    {
        return describePlaneTeams<T>("OmpInplaceRC", planeCount, rowCount,
                                     sizesBetweenParenAndCount(rows.blockPlan().toString()), howmany, work.teams());
    }

private:
    std::int64_t rowCount;
    std::int64_t columnCount;
    std::int64_t planeCount;
    std::int64_t howmany;
    std::int64_t rowStride;
    std::int64_t planeStride;
    std::int64_t distance;
    NestedSlices<T> work;
    PlanSet<Plan> rows;
    PlanSet<Plan> columns;
    FirstDimPlans<T, PackedRows> firstDim;
    SubPlans subPlans;
};

template <typename T>
using OmpInplaceRCPackedPlaneTeams = OmpInplaceRCPlaneTeams<T, true>;
template <typename T>
using OmpInplaceRCStridedPlaneTeams = OmpInplaceRCPlaneTeams<T, false>;

}  // namespace zun::fft::omp
