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
class OmpOoplaceRCRowColumn final : public RoutedCompute<OmpOoplaceRCRowColumn<T>, T, Placement::Ooplace> {
public:
    using Factory = FftOmpFactory<RealFactory<T>>;
    using RowPlan = OoplaceCompute<T>;
    using SplitRowPlan = SplitBackwardCompute<T>;
    using ColumnPlan = InplaceCompute<T>;
    using BackwardColumnPlan = OoplaceCompute<T>;

    OmpOoplaceRCRowColumn(const Factory& factory, const Dim* dims, const Dim* batch, std::uint64_t transformReals,
                          const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rows(dims[0].size),
          columns(halfColumns(dims[1].size)),
          lastColumnOffset(2 * (columns - 1)),
          sideReals(static_cast<std::int64_t>(roundUpToLine<T>(static_cast<std::uint64_t>(2 * rows)))),
          howmany(transformCount(batch->size)),
          inRowStride(dims[0].inStride != 0 ? dims[0].inStride : dims[1].size),
          outRowStride(dims[0].outStride != 0 ? dims[0].outStride : pad(dims[1].size)),
          inDistance(distanceOrDefault(batch->inStride, 2, dims, Layout::RealInput)),
          outDistance(distanceOrDefault(batch->outStride, 2, dims, Layout::ComplexHalfOutput)),
          teams(rowColumnTeams<T>(factory, howmany, transformReals))
    {
        const auto& inner = factory.inner();
        const auto columnsTuning = columnTuning<Placement::Ooplace>(inner, dims, key, tuning);
        const PlanKey* rowKey = keyRecord(key, 1);
        const Dim row{dims[1].size, 1, 2};

        rowsPerBlock = rowPairsPerBlockFor(rows, teams.innerThreads);
        rowPlans.request(rows, rowsPerBlock, subPlans, [&](std::int64_t count) {
            return makeSubPlan<Placement::Ooplace>(inner, 1, &row, Dim{count, inRowStride, outRowStride}, rowKey,
                                                   tuning);
        });

        const auto& companion = *inner.complexFactory();
        columnsPerBlock = columnsPerBlockFor<T>(columns, teams.innerThreads);
        requestColumnPlans(companion,
                           {ColumnRequest<T, Placement::Inplace>{columnPlans, Dim{rows, outRowStride, 0}, columns}},
                           columnsPerBlock, key, columnsTuning, subPlans);

        // Backward reads the complex source and writes the real destination:
        // the plan's input-layout stride is the real one.
        backwardColumnsPerBlock = columnsPerBlockFor<T>(columns - 1, teams.innerThreads);
        requestColumnPlans(companion,
                           {ColumnRequest<T, Placement::Ooplace>{
                               backwardColumnPlans, Dim{rows, inRowStride, outRowStride}, columns - 1}},
                           backwardColumnsPerBlock, key, columnsTuning, subPlans);
        // One complex value per row in the side buffer.
        lastColumnPlan = subPlans.require(makeColumnPlan(companion, Dim{rows, 2, outRowStride}, 1, key, columnsTuning,
                                                         static_cast<BackwardColumnPlan*>(nullptr)));

        splitRowPlans.request(rows, rowsPerBlock, subPlans, [&](std::int64_t count) {
            const Dim rowsWithSide{count, inRowStride, 2};
            return inner.makeSplitBackward(1, &row, &rowsWithSide, rowKey, tuning);
        });

        workPerThread = sliceFor<T>(rowPlans.blockPlan.get(), rowPlans.pairPlan.get(), rowPlans.oddPlan.get(),
                                    splitRowPlans.blockPlan.get(), splitRowPlans.pairPlan.get(),
                                    splitRowPlans.oddPlan.get(), columnPlans.blockPlan.get(),
                                    columnPlans.groupPlan.get(), columnPlans.tailPlan.get(),
                                    backwardColumnPlans.blockPlan.get(), backwardColumnPlans.groupPlan.get(),
                                    backwardColumnPlans.tailPlan.get(), lastColumnPlan.get());
    }

    bool complete() const { return subPlans.complete(); }

    void run(const Call& call, const Arrays<T, Placement::Ooplace>& arrays, T* work) const
    {
        if (call.isForward()) runForward(call, arrays, work);
        else runBackward(call, arrays, work);
    }

    std::size_t workSize() const override
    {
        const std::uint64_t perOuter = static_cast<std::uint64_t>(teams.innerThreads) * workPerThread + sideReals;
        return static_cast<std::size_t>(teams.outerThreads) * perOuter;
    }
    int threadCount() const override { return teams.threadCount(); }
    std::string toString() const override
    {
        return describeNested<T>("OmpOoplaceRC", rows, sizesBetweenParenAndCount(rowPlans.blockPlan->toString()),
                                 howmany, teams.outerThreads, teams.innerThreads);
    }
    std::size_t threadWorkSize() const override { return workPerThread; }
    void reserveThreadWork(std::size_t n) override { raiseSlice(workPerThread, n); }

private:
    using Transform = Arrays<T, Placement::Ooplace>;

    void runForward(const Call& call, const Transform& arrays, T* work) const
    {
        const Spacing transforms = spacingFor(call, inDistance, outDistance);
        const Spacing rowsApart = spacingFor(call, inRowStride, outRowStride);
        nestedRegions(teams, howmany, [&](const NestedPlace& at) {
            if (at.items.empty()) return;
            T* slice = work + at.sliceIndex(teams) * workPerThread;
            const Share rowShare = rowPairShare(rows, at.inner);
            const Share columnShare = splitRange(columns, at.inner.size, at.inner.thread, lineColumns<T>);
            for (std::int64_t item = at.items.begin; item < at.items.end; ++item) {
                const Transform transform = transforms.item(arrays, item);
                rowPlans.walk(rowShare, rowsPerBlock, [&](const RowPlan& plan, std::int64_t row) {
                    invoke(plan, call, rowsApart.item(transform, row), slice);
                });
                teamBarrier();
                columnPlans.walk(columnShare, columnsPerBlock, [&](const ColumnPlan& plan, std::int64_t column) {
                    invoke(plan, call.plain(), {transform.second + 2 * column}, slice);
                });
            }
        });
    }

    void runBackward(const Call& call, const Transform& arrays, T* work) const
    {
        const Spacing transforms = spacingFor(call, inDistance, outDistance);
        nestedRegions(teams, howmany, [&](const NestedPlace& at) {
            if (at.items.empty()) return;
            T* slice = work + at.sliceIndex(teams) * workPerThread;
            T* side = sideBuffer(at, work);
            const Share rowShare = rowPairShare(rows, at.inner);
            const Share columnShare = splitRange(columns - 1, at.inner.size, at.inner.thread, lineColumns<T>);
            for (std::int64_t item = at.items.begin; item < at.items.end; ++item) {
                const Transform transform = transforms.item(arrays, item);
                backwardColumnPlans.walk(columnShare, backwardColumnsPerBlock,
                                         [&](const BackwardColumnPlan& plan, std::int64_t column) {
                                             invoke(plan, call, transform.at(2 * column, 2 * column), slice);
                                         });
                if (at.inner.isLast())
                    invoke(*lastColumnPlan, call, Transform{transform.first + lastColumnOffset, side}, slice);
                teamBarrier();
                splitRowPlans.walk(rowShare, rowsPerBlock, [&](const SplitRowPlan& plan, std::int64_t row) {
                    plan.execute(0, transform.second + row * inRowStride, side + 2 * row, slice);
                });
                // The next transform's column pass rewrites the side buffer.
                teamBarrier();
            }
        });
    }

    // Side buffers follow the slices of the outer threads that actually run.
    T* sideBuffer(const NestedPlace& at, T* work) const
    {
        const std::int64_t slabs = static_cast<std::int64_t>(at.outer.size) * teams.innerThreads;
        return work + slabs * static_cast<std::int64_t>(workPerThread) + at.outer.thread * sideReals;
    }

    std::int64_t rows;
    std::int64_t columns;
    std::int64_t lastColumnOffset;
    std::int64_t sideReals;
    std::int64_t howmany;
    std::int64_t inRowStride;
    std::int64_t outRowStride;
    std::int64_t inDistance;
    std::int64_t outDistance;
    NestedTeams teams;
    std::uint64_t workPerThread = 0;
    std::int64_t rowsPerBlock = 0;
    RowPairPlans<RowPlan> rowPlans;
    RowPairPlans<SplitRowPlan> splitRowPlans;
    std::int64_t columnsPerBlock = 0;
    std::int64_t backwardColumnsPerBlock = 0;
    ColumnPlanSet<T, Placement::Inplace> columnPlans;
    ColumnPlanSet<T, Placement::Ooplace> backwardColumnPlans;
    std::unique_ptr<BackwardColumnPlan> lastColumnPlan;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
