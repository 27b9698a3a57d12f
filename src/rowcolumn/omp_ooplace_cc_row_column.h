// Out-of-place complex rank-2 transforms on nested teams: the row pass reads
// the source and writes the destination; the column pass then runs in place on
// the destination, with the column plans of the layout the destination has in
// that direction. The source is only ever read.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "rowcolumn/row_column.h"

namespace zun::fft::omp {

template <typename T>
class OmpOoplaceCCRowColumn final : public RoutedCompute<OmpOoplaceCCRowColumn<T>, T, Placement::Ooplace> {
public:
    using Factory = FftOmpFactory<ComplexFactory<T>>;
    using RowPlan = OoplaceCompute<T>;
    using ColumnPlan = InplaceCompute<T>;

    OmpOoplaceCCRowColumn(const Factory& factory, const Dim* dims, const Dim* batch, std::uint64_t transformReals,
                          const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rows(dims[0].size),
          columns(dims[1].size),
          howmany(transformCount(batch->size)),
          inRowStride(dims[0].inStride != 0 ? dims[0].inStride : 2 * columns),
          outRowStride(dims[0].outStride != 0 ? dims[0].outStride : 2 * columns),
          inDistance(distanceOrDefault(batch->inStride, 2, dims, Layout::ComplexInput)),
          outDistance(distanceOrDefault(batch->outStride, 2, dims, Layout::ComplexOutput)),
          teams(rowColumnTeams<T>(factory, howmany, transformReals))
    {
        const auto& inner = factory.inner();
        const auto columnsTuning = columnTuning<Placement::Ooplace>(inner, dims, key, tuning);
        const PlanKey* rowKey = keyRecord(key, 1);
        const Dim row{columns, 2, 2};

        rowsPerBlock = std::max<std::int64_t>(2, rows / teams.innerThreads);
        rowBlockPlan = subPlans.require(makeSubPlan<Placement::Ooplace>(
            inner, 1, &row, Dim{rowsPerBlock, inRowStride, outRowStride}, rowKey, tuning));
        oneRowPlan = subPlans.require(
            makeSubPlan<Placement::Ooplace>(inner, 1, &row, Dim{1, inRowStride, outRowStride}, rowKey, tuning));

        columnsPerBlock = columnsPerBlockFor<T>(columns, teams.innerThreads);
        requestColumnPlans(inner,
                           {ColumnRequest<T, Placement::Inplace>{columnPlansIn, Dim{rows, inRowStride, 0}, columns},
                            ColumnRequest<T, Placement::Inplace>{columnPlansOut, Dim{rows, outRowStride, 0}, columns}},
                           columnsPerBlock, key, columnsTuning, subPlans);

        workPerThread = sliceFor<T>(rowBlockPlan.get(), oneRowPlan.get(), columnPlansIn.blockPlan.get(),
                                    columnPlansIn.groupPlan.get(), columnPlansIn.tailPlan.get(),
                                    columnPlansOut.blockPlan.get(), columnPlansOut.groupPlan.get(),
                                    columnPlansOut.tailPlan.get());
    }

    bool complete() const { return subPlans.complete(); }

    void run(const Call& call, const Arrays<T, Placement::Ooplace>& arrays, T* work) const
    {
        const Spacing transforms = spacingFor(call, inDistance, outDistance);
        const Spacing rowsApart = spacingFor(call, inRowStride, outRowStride);
        const auto& columnPlans = call.isForward() ? columnPlansOut : columnPlansIn;
        nestedRegions(teams, howmany, [&](const NestedPlace& at) {
            if (at.items.empty()) return;
            T* slice = work + at.sliceIndex(teams) * workPerThread;
            const Share rowShare = splitRange(rows, at.inner.size, at.inner.thread, 1);
            const Share columnShare = splitRange(columns, at.inner.size, at.inner.thread, lineColumns<T>);
            for (std::int64_t item = at.items.begin; item < at.items.end; ++item) {
                const auto transform = transforms.item(arrays, item);
                runShare(rowShare, rowsPerBlock, 1, *rowBlockPlan, *oneRowPlan, nullptr,
                         [&](const RowPlan& plan, std::int64_t row) {
                             invoke(plan, call, rowsApart.item(transform, row), slice);
                         });
                teamBarrier();
                columnPlans.walk(columnShare, columnsPerBlock, [&](const ColumnPlan& plan, std::int64_t column) {
                    invoke(plan, call.plain(), {transform.second + 2 * column}, slice);
                });
            }
        });
    }

    std::size_t workSize() const override
    {
        return static_cast<std::size_t>(teams.outerThreads) * teams.innerThreads * workPerThread;
    }
    int threadCount() const override { return teams.threadCount(); }
    std::string toString() const override
    {
        return describeNested<T>("OmpOoplaceCC", rows, std::to_string(columns), howmany, teams.outerThreads,
                                 teams.innerThreads);
    }
    std::size_t threadWorkSize() const override { return workPerThread; }
    void reserveThreadWork(std::size_t n) override { raiseSlice(workPerThread, n); }

private:
    std::int64_t rows;
    std::int64_t columns;
    std::int64_t howmany;
    std::int64_t inRowStride;
    std::int64_t outRowStride;
    std::int64_t inDistance;
    std::int64_t outDistance;
    NestedTeams teams;
    std::uint64_t workPerThread = 0;
    std::int64_t rowsPerBlock = 0;
    std::unique_ptr<RowPlan> rowBlockPlan;
    std::unique_ptr<RowPlan> oneRowPlan;
    std::int64_t columnsPerBlock = 0;
    ColumnPlanSet<T, Placement::Inplace> columnPlansIn;
    ColumnPlanSet<T, Placement::Inplace> columnPlansOut;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
