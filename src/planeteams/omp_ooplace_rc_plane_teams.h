// Out-of-place real-to-complex rank-3 transforms with planes too large for
// half the L2 cache, on nested teams, whatever their strides:
// OmpOoplaceRCStridedPlaneTeams.
//
// Forward: region A transforms the real rows of each owned plane from the
// source into the destination (in pairs, the odd last row on its own), then
// the complex in-plane columns in place on the destination; region B then
// runs the first axis in place on the destination, row by row.
//
// Backward: a real destination row has room for N2/2 complex values, not for
// the last one. Region B runs first and carries every row's first N2/2
// complex values along the first axis from the source into the destination,
// and its last value into the side buffer at the start of the work buffer,
// shared by all threads of the call. Region A then transforms the side
// buffer's columns and the destination's in-plane columns, and split row
// plans turn each row into N2 reals in place, reading its last value from the
// side buffer. Neither direction writes its source.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "planeteams/plane_teams.h"

namespace zun::fft::omp {

template <typename T>
class OmpOoplaceRCStridedPlaneTeams final
    : public Strategy<OmpOoplaceRCStridedPlaneTeams<T>, T, Placement::Ooplace> {
    using Base = Strategy<OmpOoplaceRCStridedPlaneTeams<T>, T, Placement::Ooplace>;
    friend Base;
    static constexpr Placement P = Placement::Ooplace;

public:
    using RowPlan = OoplaceCompute<T>;
    using SplitRowPlan = SplitBackwardCompute<T>;
    using ColumnPlan = InplaceCompute<T>;
    using CarryPlan = OoplaceCompute<T>;

    // `batch` is the request's record as passed: a count below 2 is one
    // transform, a distance of 0 the packed default of its layout.
    OmpOoplaceRCStridedPlaneTeams(const StrategyContext<T, Kind::Real>& context, const Dim* dims, const Dim& batch,
                                  const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rowCount(dims[1].size),
          lastColumnOffset(dims[2].size & ~std::int64_t{1}),
          columnCount(halfColumns(dims[2].size)),
          planeCount(dims[0].size),
          howmany(transformCount(batch.size)),
          rowStrides(axisStrides(Kind::Real, P, 3, dims, 1)),
          planeStrides(axisStrides(Kind::Real, P, 3, dims, 0)),
          transformDistances(distances(Kind::Real, P, 3, dims, batch)),
          work(planeTeams(context, rowCount * dims[2].size, planeCount), sideBufferReals(planeCount, rowCount)),
          rows(rowCount, 2, work.teams().innerThreads),
          splitRows(rowCount, 2, work.teams().innerThreads),
          columnsOut(columnCount, lineColumns<T>, work.teams().innerThreads),
          columnsIn(columnCount - 1, lineColumns<T>, work.teams().innerThreads)
    {
        const auto& inner = context.inner;
        const AxisKeys keys = axisKeys(key);
        const OuterAxisTuning<T> outerTuning = outerAxisTuning<P>(inner, dims, keys, tuning);

        // Split row plans find the last value of row j of a call 2 * N0 reals
        // after that of row j - 1: the side buffer keeps the plane index fastest.
        const Dim row{dims[2].size, 1, 2};
        const std::int64_t sideRowReals = 2 * planeCount;
        const auto makeRows = planMaker<P>(inner, 1, &row, rowStrides, keys.rows, tuning);
        auto makeSplitRows = [&](std::int64_t count) {
            const Dim rowsWithSide{count, rowStrides.in, sideRowReals};
            return inner.makeSplitBackward(1, &row, &rowsWithSide, keys.rows, tuning);
        };
        rows.request(Piece::Block, subPlans, makeRows);
        splitRows.request(Piece::Block, subPlans, makeSplitRows);
        rows.request(Piece::Tail, subPlans, makeRows);
        splitRows.request(Piece::Tail, subPlans, makeSplitRows);
        splitRows.request(Piece::Unit, subPlans, makeSplitRows);
        rows.request(Piece::Unit, subPlans, makeRows);

        const ComplexFactory<T>* companion = columnPlanner(context, subPlans);
        const Dim inPlaneColumnOut{rowCount, rowStrides.out, 0};
        const Dim inPlaneColumnIn{rowCount, rowStrides.in, 0};
        const auto makeOut = columnMaker<Placement::Inplace>(companion, inPlaneColumnOut, keys.columns,
                                                             outerTuning.columns);
        const auto makeIn = columnMaker<Placement::Inplace>(companion, inPlaneColumnIn, keys.columns,
                                                            outerTuning.columns);
        for (const Piece piece : blockTailUnit) {
            columnsOut.request(piece, subPlans, makeOut);
            columnsIn.request(piece, subPlans, makeIn);
        }
        // The side buffer's columns: G planes per call, or one.
        const Dim sideColumn{rowCount, sideRowReals, 0};
        const auto makeSide = columnMaker<Placement::Inplace>(companion, sideColumn, keys.columns, outerTuning.columns);
        sideColumnGroupPlan = subPlans.require(makeSide, lineColumns<T>);
        sideColumnPlan = subPlans.require(makeSide, 1);

        // Forward, all columns of one row per call; backward, all but the last
        // into the destination and the last into N0 adjacent side values.
        const Dim firstDimColumnOut{planeCount, planeStrides.out, 0};
        const Dim firstDimColumnBackward{planeCount, planeStrides.in, planeStrides.out};
        const Dim lastColumn{planeCount, 2, planeStrides.out};
        const std::shared_ptr<T>& firstDimTuning = outerTuning.firstDim;
        firstDimPlanOut = subPlans.require(
            columnMaker<Placement::Inplace>(companion, firstDimColumnOut, keys.firstDim, firstDimTuning), columnCount);
        firstDimPlanBackward = subPlans.require(
            columnMaker<Placement::Ooplace>(companion, firstDimColumnBackward, keys.firstDim, firstDimTuning),
            columnCount - 1);
        lastColumnPlan =
            subPlans.require(columnMaker<Placement::Ooplace>(companion, lastColumn, keys.firstDim, firstDimTuning), 1);

        work.fit(rows, splitRows, columnsOut, columnsIn, sideColumnGroupPlan, sideColumnPlan, firstDimPlanOut,
                 firstDimPlanBackward, lastColumnPlan);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        if (call.isForward()) runForward(call, arrays, workBuffer);
        else runBackward(call, arrays, workBuffer);
    }

    std::string toString() const override
    {
        return describePlaneTeams<T>("OmpOoplaceRC", planeCount, rowCount,
                                     sizesBetweenParenAndCount(rows.blockPlan().toString()), howmany, work.teams());
    }

private:
    using Transform = Arrays<T, P>;

    // One complex value per (plane, row), whole lines.
    static std::uint64_t sideBufferReals(std::int64_t planes, std::int64_t rowsPerPlane)
    {
        return static_cast<std::uint64_t>(2 * planes * rowsPerPlane);
    }

    PlaneTeamShape shape() const { return planeTeamShape<T, false>(work.teams(), howmany, planeCount, rowCount, 0); }

    void runForward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        const Spacing transforms = spacingFor(call, transformDistances);
        const Spacing rowsApart = spacingFor(call, rowStrides);
        const PlanePlans<T, P, RowPlan> planePlans{rows, columnsOut, spacingFor(call, planeStrides), rowsApart};
        T* slices = work.slices(workBuffer, false);

        auto planePass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            transformPlanes(planePlans, PlaneSteps::RowsFirst, call, call.plain(), transforms.item(arrays, transform),
                            at.planes, inner, work.slice(slices, at.outer, inner));
        };
        auto firstAxisPass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            transformFirstAxis(firstDimPlanOut, call.plain(), written(transforms.item(arrays, transform)),
                               rowsApart.second, at.firstAxis, inner, work.slice(slices, at.outer, inner));
        };
        runPlaneTeams(shape(), PassOrder::PlanesFirst, planePass, firstAxisPass);
    }

    void runBackward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        const Spacing transforms = spacingFor(call, transformDistances);
        const Spacing planesApart = spacingFor(call, planeStrides);
        const Spacing rowsApart = spacingFor(call, rowStrides);
        const std::int64_t sideRowReals = 2 * planeCount;
        T* side = work.side(workBuffer);
        T* slices = work.slices(workBuffer, true);

        // Region B, first: each owned row index from the source into the
        // destination and its last column into the side buffer.
        auto firstAxisPass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            T* slice = work.slice(slices, at.outer, inner);
            const Transform source = transforms.item(arrays, transform);
            const Share rowShare = shareWithin(at.firstAxis, inner, 1);
            for (std::int64_t r = rowShare.begin; r < rowShare.end; ++r) {
                const Transform row = rowsApart.item(source, r);
                invoke(*firstDimPlanBackward, call, row, slice);
                invoke(*lastColumnPlan, call, Transform{row.first + lastColumnOffset, side + sideRowReals * r}, slice);
            }
        };
        // Region A: the side columns of the inner thread's part of the owned
        // planes (all before the first plane's inner barrier, so before any
        // row reads them), then per plane the columns and the split rows.
        auto planePass = [&](std::int64_t transform, const OuterShares& at, const Team& inner) {
            T* slice = work.slice(slices, at.outer, inner);
            const Call plain = call.plain();
            runShare(shareWithin(at.planes, inner, 1), lineColumns<T>, 1, *sideColumnGroupPlan, *sideColumnPlan,
                     nullptr, [&](const ColumnPlan& plan, std::int64_t p) { invoke(plan, plain, {side + 2 * p}, slice); });
            const auto destination = written(transforms.item(arrays, transform));
            const Share rowShare = splitRows.share(inner);
            const Share columnShare = columnsIn.share(inner);
            forEachPlane(
                at.planes,
                [&](std::int64_t p) {
                    const auto plane = destination.at(p * planesApart.second, 0);
                    columnsIn.walk(columnShare, [&](const ColumnPlan& plan, std::int64_t column) {
                        invoke(plan, plain, adjacentColumns.item(plane, column), slice);
                    });
                },
                [&](std::int64_t p) {
                    T* plane = destination.data + p * planesApart.second;
                    splitRows.walk(rowShare, [&](const SplitRowPlan& plan, std::int64_t r) {
                        plan.execute(0, plane + r * rowsApart.second, side + 2 * p + sideRowReals * r, slice);
                    });
                });
        };
        runPlaneTeams(shape(), PassOrder::FirstAxisFirst, planePass, firstAxisPass, true);
    }

    std::int64_t rowCount;
    std::int64_t lastColumnOffset;
    std::int64_t columnCount;
    std::int64_t planeCount;
    std::int64_t howmany;
    ItemSpacing rowStrides;
    ItemSpacing planeStrides;
    ItemSpacing transformDistances;
    SideThenSlices<T, NestedSlices<T>> work;
    PlanSet<RowPlan> rows;
    PlanSet<SplitRowPlan> splitRows;
    PlanSet<ColumnPlan> columnsOut;
    PlanSet<ColumnPlan> columnsIn;
    std::unique_ptr<ColumnPlan> sideColumnGroupPlan;
    std::unique_ptr<ColumnPlan> sideColumnPlan;
    std::unique_ptr<ColumnPlan> firstDimPlanOut;
    std::unique_ptr<CarryPlan> firstDimPlanBackward;
    std::unique_ptr<CarryPlan> lastColumnPlan;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
