// Complex rank-3 transforms with planes too large for half the L2 cache, on
// nested teams: OmpInplaceCCPackedPlaneTeams, OmpOoplaceCCPackedPlaneTeams,
// OmpInplaceCCStridedPlaneTeams and OmpOoplaceCCStridedPlaneTeams.
//
// Per transform, region A transforms the rows and then the in-plane columns of
// each owned plane; region B transforms along the first axis. Both directions
// run the passes in this order. Packed rows make a plane one run of N1 * N2
// adjacent complex columns, which region B hands out in whole groups of
// lineColumns; otherwise region B works row by row, one call covering the N2
// adjacent elements of one dims[1] row in every plane.
//
// Out of place only the row pass reads the source; the later passes run in
// place on the destination, in the layout it has in the direction being
// computed. So the first-axis plans exist once per layout, and so do the
// in-plane column plans when the rows are not packed (their row stride may
// then differ between the layouts).
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "planeteams/plane_teams.h"

namespace zun::fft::omp {

template <typename T, Placement P, bool PackedRows>
class OmpCCPlaneTeams final : public Strategy<OmpCCPlaneTeams<T, P, PackedRows>, T, P> {
    using Base = Strategy<OmpCCPlaneTeams<T, P, PackedRows>, T, P>;
    friend Base;

public:
    using RowPlan = Compute<T, P>;
    using ColumnPlan = InplaceCompute<T>;

    // `batch` is the request's record as passed: a count below 2 is one
    // transform, a distance of 0 the packed default of its layout.
    OmpCCPlaneTeams(const StrategyContext<T, Kind::Complex>& context, const Dim* dims, const Dim& batch,
                    const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rowCount(dims[1].size),
          rowLength(dims[2].size),
          planeCount(dims[0].size),
          howmany(transformCount(batch.size)),
          rowStrides(axisStrides(Kind::Complex, P, 3, dims, 1)),
          planeStrides(axisStrides(Kind::Complex, P, 3, dims, 0)),
          transformDistances(distances(Kind::Complex, P, 3, dims, batch)),
          work(planeTeams(context, 2 * rowCount * rowLength, planeCount)),
          rows(rowCount, 1, work.teams().innerThreads),
          columnsOut(rowLength, lineColumns<T>, work.teams().innerThreads),
          columnsIn(rowLength, lineColumns<T>, work.teams().innerThreads),
          firstDimIn(firstDimPlans<T, PackedRows>(rowCount * rowLength, work.teams())),
          firstDimOut(firstDimPlans<T, PackedRows>(rowCount * rowLength, work.teams()))
    {
        const auto& inner = context.inner;
        const AxisKeys keys = axisKeys(key);
        const OuterAxisTuning<T> outerTuning = outerAxisTuning<P>(inner, dims, keys, tuning);

        const Dim row{rowLength, 2, P == Placement::Inplace ? 0 : 2};
        rows.request({Piece::Block, Piece::Unit}, subPlans,
                     planMaker<P>(inner, 1, &row, rowStrides, keys.rows, tuning));

        const ComplexFactory<T>* planner = columnPlanner(context, subPlans);
        const auto makeColumnsIn = columnMaker<Placement::Inplace>(planner, Dim{rowCount, rowStrides.in, 0},
                                                                   keys.columns, outerTuning.columns);
        const auto makeColumnsOut = columnMaker<Placement::Inplace>(planner, Dim{rowCount, rowStrides.out, 0},
                                                                    keys.columns, outerTuning.columns);
        if constexpr (PackedRows || P == Placement::Inplace) {
            columnsIn.request(blockTailUnit, subPlans, makeColumnsIn);
        } else {
            // The output layout's block plan first, then the input layout leads.
            columnsOut.request(Piece::Block, subPlans, makeColumnsOut);
            columnsIn.request(Piece::Block, subPlans, makeColumnsIn);
            for (const Piece piece : {Piece::Tail, Piece::Unit}) {
                columnsIn.request(piece, subPlans, makeColumnsIn);
                columnsOut.request(piece, subPlans, makeColumnsOut);
            }
        }

        const auto makeFirstDimIn = columnMaker<Placement::Inplace>(planner, Dim{planeCount, planeStrides.in, 0},
                                                                    keys.firstDim, outerTuning.firstDim);
        const auto makeFirstDimOut = columnMaker<Placement::Inplace>(planner, Dim{planeCount, planeStrides.out, 0},
                                                                     keys.firstDim, outerTuning.firstDim);
        if constexpr (PackedRows) {
            for (const Piece piece : blockTailUnit) {
                firstDimIn.request(piece, subPlans, makeFirstDimIn);
                if constexpr (P == Placement::Ooplace) firstDimOut.request(piece, subPlans, makeFirstDimOut);
            }
        } else {
            // One call covers the adjacent elements of one row.
            firstDimIn = subPlans.require(makeFirstDimIn, rowLength);
            if constexpr (P == Placement::Ooplace) firstDimOut = subPlans.require(makeFirstDimOut, rowLength);
        }

        work.fit(rows, columnsOut, columnsIn, firstDimIn, firstDimOut);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const Spacing transforms = spacingFor(call, transformDistances);
        const Spacing rowsApart = spacingFor(call, rowStrides);
        const bool writesOutput = P == Placement::Ooplace && call.isForward();
        const PlanSet<ColumnPlan>& columns = writesOutput && !PackedRows ? columnsOut : columnsIn;
        const FirstDimPlans<T, PackedRows>& firstDim = writesOutput ? firstDimOut : firstDimIn;
        const PlanePlans<T, P, RowPlan> planePlans{rows, columns, spacingFor(call, planeStrides), rowsApart};
        const PlaneTeamShape shape = planeTeamShape<T, PackedRows>(work.teams(), howmany, planeCount, rowCount, rowLength);

        auto planePass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            transformPlanes(planePlans, PlaneSteps::RowsFirst, call, call.plain(), transforms.item(arrays, transform),
                            at.planes, inner, work.slice(workBuffer, at.outer, inner));
        };
        auto firstAxisPass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            transformFirstAxis(firstDim, call.plain(), written(transforms.item(arrays, transform)), rowsApart.second,
                               at.firstAxis, inner, work.slice(workBuffer, at.outer, inner));
        };
        runPlaneTeams(shape, PassOrder::PlanesFirst, planePass, firstAxisPass);
    }

    std::string toString() const override
    {
        return describePlaneTeams<T>(P == Placement::Inplace ? "OmpInplaceCC" : "OmpOoplaceCC", planeCount, rowCount,
                                     std::to_string(rowLength), howmany, work.teams());
    }

private:
    std::int64_t rowCount;
    std::int64_t rowLength;
    std::int64_t planeCount;
    std::int64_t howmany;
    ItemSpacing rowStrides;
    ItemSpacing planeStrides;
    ItemSpacing transformDistances;
    NestedSlices<T> work;
    PlanSet<RowPlan> rows;
    PlanSet<ColumnPlan> columnsOut;  // strided rows out of place only
    PlanSet<ColumnPlan> columnsIn;
    FirstDimPlans<T, PackedRows> firstDimIn;
    FirstDimPlans<T, PackedRows> firstDimOut;  // out of place only
    SubPlans subPlans;
};

template <typename T>
using OmpInplaceCCPackedPlaneTeams = OmpCCPlaneTeams<T, Placement::Inplace, true>;
template <typename T>
using OmpOoplaceCCPackedPlaneTeams = OmpCCPlaneTeams<T, Placement::Ooplace, true>;
template <typename T>
using OmpInplaceCCStridedPlaneTeams = OmpCCPlaneTeams<T, Placement::Inplace, false>;
template <typename T>
using OmpOoplaceCCStridedPlaneTeams = OmpCCPlaneTeams<T, Placement::Ooplace, false>;

}  // namespace zun::fft::omp
