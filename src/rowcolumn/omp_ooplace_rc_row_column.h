// Out-of-place real-to-complex rank-2 transforms on nested teams.
//
// Forward: real rows from the source into the destination, then the complex
// columns in place on the destination.
//
// Backward: the destination is real and has no room for the last complex
// column of the half spectrum, so the column pass writes columns 0..columns-2
// into the destination and the last column into a side buffer of the outer
// thread; split row plans then read each row's last value from there. Neither
// direction writes its source.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "rowcolumn/row_column.h"

namespace zun::fft::omp {

template <typename T>
class OmpOoplaceRCRowColumn final : public Strategy<OmpOoplaceRCRowColumn<T>, T, Placement::Ooplace> {
    using Base = Strategy<OmpOoplaceRCRowColumn, T, Placement::Ooplace>;
    friend Base;
    static constexpr Placement P = Placement::Ooplace;

public:
    using RowPlan = OoplaceCompute<T>;
    using SplitRowPlan = SplitBackwardCompute<T>;
    using ColumnPlan = InplaceCompute<T>;
    using BackwardColumnPlan = OoplaceCompute<T>;

    OmpOoplaceRCRowColumn(const StrategyContext<T, Kind::Real>& context, const Dim* dims, const Dim* batch,
                          std::uint64_t transformReals, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : shape(Kind::Real, P, dims, *batch),
          // One complex value per row of the last column.
          work(rowColumnTeams(context, shape.howmany, transformReals), 2 * static_cast<std::uint64_t>(shape.rows)),
          rowPlans(shape.rows, 2, work.teams().innerThreads),
          splitRowPlans(shape.rows, 2, work.teams().innerThreads),
          columnPlans(shape.columns, lineColumns<T>, work.teams().innerThreads),
          backwardColumnPlans(shape.columns - 1, lineColumns<T>, work.teams().innerThreads)
    {
        const auto& inner = context.inner;
        const auto columnsTuning = columnTuning<P>(inner, dims, key, tuning);
        const PlanKey* rowKey = keyRecord(key, 1);
        const Dim row{dims[1].size, 1, 2};
        rowPlans.request(blockTailUnit, subPlans, planMaker<P>(inner, 1, &row, shape.rowStride, rowKey, tuning));

        const ComplexFactory<T>* companion = columnPlanner(context, subPlans);
        const ItemSpacing& rowStride = shape.rowStride;
        columnPlans.request(
            blockTailUnit, subPlans,
            columnMaker<Placement::Inplace>(companion, shape.column(rowStride.out), key, columnsTuning));
        // Backward reads the complex source and writes the real destination:
        // the plan's input-layout stride is the real one.
        backwardColumnPlans.request(
            blockTailUnit, subPlans,
            columnMaker<P>(companion, shape.column(rowStride.in, rowStride.out), key, columnsTuning));
        lastColumnPlan =
            subPlans.require(columnMaker<P>(companion, Dim{shape.rows, 2, rowStride.out}, key, columnsTuning), 1);
        splitRowPlans.request(blockTailUnit, subPlans, [&](std::int64_t count) {
            const Dim rowsWithSide{count, rowStride.in, 2};
            return inner.makeSplitBackward(1, &row, &rowsWithSide, rowKey, tuning);
        });
        work.fit(rowPlans, splitRowPlans, columnPlans, backwardColumnPlans, lastColumnPlan);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        if (call.isForward())
            runRowsAndColumns<Kind::Real>(shape, work, rowPlans, columnPlans, call, arrays, workBuffer);
        else runBackward(call, arrays, workBuffer);
    }

    std::string toString() const override
    {
        return shape.describe<T>("OmpOoplaceRC", sizesBetweenParenAndCount(rowPlans.blockPlan().toString()),
                                 work.teams());
    }

private:
    using Transform = Arrays<T, P>;

    void runBackward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        const Spacing transforms = spacingFor(call, shape.distance);
        const Spacing rowsApart = spacingFor(call, shape.rowStride);
        nestedBatch(work.teams(), shape.howmany, [&](const NestedPlace& at, std::int64_t item) {
            T* slice = work.slice(workBuffer, at);
            T* side = work.side(workBuffer, at);
            const Transform transform = transforms.item(arrays, item);
            auto columnPass = [&](const Call& columns) {
                runPass(backwardColumnPlans, at.inner, columns, transform, adjacentColumns, slice);
                const Transform lastColumn{adjacentColumns.item(transform, shape.columns - 1).first, side};
                if (at.inner.isLast()) invoke(*lastColumnPlan, columns, lastColumn, slice);
            };
            auto splitRowPass = [&](const Call&) {
                splitRowPlans.walk(at.inner, [&](const SplitRowPlan& plan, std::int64_t row) {
                    plan.execute(0, rowsApart.item(transform, row).second, side + 2 * row, slice);
                });
            };
            passesInOrder(call, columnPass, splitRowPass);
            // The next transform's column pass rewrites the side buffer.
            teamBarrier();
        });
    }

    RowColumnShape shape;
    SlicesThenSideBuffers<T> work;
    PlanSet<RowPlan> rowPlans;
    PlanSet<SplitRowPlan> splitRowPlans;
    PlanSet<ColumnPlan> columnPlans;
    PlanSet<BackwardColumnPlan> backwardColumnPlans;
    std::unique_ptr<BackwardColumnPlan> lastColumnPlan;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
