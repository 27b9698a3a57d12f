// Out-of-place real-to-complex rank-3 transforms whose planes fit in half the
// L2 cache, whatever their layout.
//
// Forward: real planes from the source into the destination, then one column
// call per row along the first axis, in place on the complex destination.
//
// Backward: the real destination has no room for the last complex column of a
// row, so the first-axis pass writes columns 0 .. n-2 of every row into the
// destination and the last column into a side buffer at the start of the work
// buffer, one side row of N0 values per plane row; split plane plans then
// finish each plane from both. The side buffer serves the whole team, so every
// transform ends with a barrier before the next one writes it again. Neither
// direction writes its source.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>

#include "planes/planes.h"

namespace zun::fft::omp {

template <typename T>
class OmpOoplaceRCStridedPlanes final
    : public PlaneStrategy<OmpOoplaceRCStridedPlanes<T>, T, Kind::Real, Placement::Ooplace,
                           SideThenSlices<T, FlatSlices<T>>> {
    using Frame = PlaneStrategy<OmpOoplaceRCStridedPlanes, T, Kind::Real, Placement::Ooplace,
                                SideThenSlices<T, FlatSlices<T>>>;
    friend Strategy<OmpOoplaceRCStridedPlanes, T, Placement::Ooplace>;
    static constexpr Placement P = Placement::Ooplace;

public:
    using SplitPlanePlan = SplitBackwardCompute<T>;
    using ColumnPlan = InplaceCompute<T>;
    using BackwardColumnPlan = OoplaceCompute<T>;

    // One complex value per plane row and plane in the side buffer.
    OmpOoplaceRCStridedPlanes(const StrategyContext<T, Kind::Real>& context, const Dim* dims, const Dim* batch,
                              const PlanKey* key, const std::shared_ptr<T>& tuning)
        : Frame(context, dims, batch, static_cast<std::uint64_t>(2 * dims[0].size * dims[1].size)),
          splitPlanePlans(this->shape.planes, 1, this->work.threads())
    {
        const PlaneShape& shape = this->shape;
        const auto columnsTuning = this->requestPlanePlans(context, dims, key, tuning);
        // One plane's rows in the destination and their side rows, the
        // innermost record carrying the plan's plane count; consecutive planes
        // lie one complex value apart in every side row.
        splitPlanePlans.request({Piece::Block, Piece::Unit}, this->subPlans, [&](std::int64_t count) {
            const Dim rows[] = {{shape.rows, shape.rowStride.in, 2 * shape.planes}, {dims[2].size, 1, count}};
            const Dim planes{count, shape.planeStride.in, 2};
            return context.inner.makeSplitBackward(2, rows, &planes, keyRecord(key, 1), tuning);
        });

        const ComplexFactory<T>* companion = columnPlanner(context, this->subPlans);
        auto columns = [&](const Dim& firstAxis, std::int64_t count, auto maker) {
            return this->subPlans.require(maker(companion, firstAxis, key, columnsTuning), count);
        };
        firstDimPlanOut = columns(shape.firstAxis(shape.planeStride.out), shape.rowLength,
                                  columnMaker<Placement::Inplace, T>);
        // Backward reads the complex source and writes the real destination:
        // the plans' input-layout stride is the real one.
        backwardColumnsPlan = columns(shape.firstAxis(shape.planeStride.in, shape.planeStride.out),
                                      shape.rowLength - 1, columnMaker<P, T>);
        lastColumnPlan = columns(shape.firstAxis(2, shape.planeStride.out), 1, columnMaker<P, T>);

        this->work.fit(this->planePlans, splitPlanePlans, firstDimPlanOut, backwardColumnsPlan, lastColumnPlan);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        if (call.isForward()) runForward(call, arrays, workBuffer);
        else runBackward(call, arrays, workBuffer);
    }

private:
    using Transform = Arrays<T, P>;

    void runForward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        this->runTransforms(call, arrays, this->work.slices(workBuffer, false),
                            [&](const Call& rows, const Team& team, const Arrays<T, Placement::Inplace>& written,
                                T* slice) { this->rowPass(*firstDimPlanOut, rows, team, written, slice); });
    }

    void runBackward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        const PlaneShape& shape = this->shape;
        const Spacing transforms = spacingFor(call, shape.distance);
        const Spacing rowsApart = spacingFor(call, shape.rowStride);
        const Spacing planesApart = spacingFor(call, shape.planeStride);
        T* side = this->work.side(workBuffer);
        T* slices = this->work.slices(workBuffer, true);
        flatBatch(this->work.threads(), shape.howmany, [&](const Team& team, std::int64_t item) {
            T* slice = this->work.slice(slices, team);
            const Transform transform = transforms.item(arrays, item);
            auto firstAxis = [&](const Call& columns) {
                const Share rows = this->rowShare(team);
                for (std::int64_t row = rows.begin; row < rows.end; ++row) {
                    const Transform rowArrays = rowsApart.item(transform, row);
                    const Transform lastColumn{adjacentColumns.item(rowArrays, shape.rowLength - 1).first,
                                               side + 2 * shape.planes * row};
                    invoke(*backwardColumnsPlan, columns, rowArrays, slice);
                    invoke(*lastColumnPlan, columns, lastColumn, slice);
                }
            };
            auto splitPlanes = [&](const Call&) {
                splitPlanePlans.walk(team, [&](const SplitPlanePlan& plan, std::int64_t plane) {
                    plan.execute(2, planesApart.item(transform, plane).second, side + 2 * plane, slice);
                });
            };
            passesInOrder(call, firstAxis, splitPlanes);
            // The next transform's first pass rewrites the side buffer.
            teamBarrier();
        });
    }

    PlanSet<SplitPlanePlan> splitPlanePlans;
    std::unique_ptr<ColumnPlan> firstDimPlanOut;
    std::unique_ptr<BackwardColumnPlan> backwardColumnsPlan;
    std::unique_ptr<BackwardColumnPlan> lastColumnPlan;
};

}  // namespace zun::fft::omp
