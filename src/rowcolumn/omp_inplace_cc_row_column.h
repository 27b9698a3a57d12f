// In-place complex rank-2 transforms on nested teams: per transform a pass over
// blocks of rows, a barrier of the inner team, then a pass over groups of
// adjacent columns; rows first in both directions.
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
class OmpInplaceCCRowColumn final : public RoutedCompute<OmpInplaceCCRowColumn<T>, T, Placement::Inplace> {
public:
    using Factory = FftOmpFactory<ComplexFactory<T>>;
    using Plan = InplaceCompute<T>;

    OmpInplaceCCRowColumn(const Factory& factory, const Dim* dims, std::int64_t count, std::int64_t batchDistance,
                          std::uint64_t transformReals, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rows(dims[0].size),
          columns(dims[1].size),
          howmany(transformCount(count)),
          rowStride(dims[0].inStride != 0 ? dims[0].inStride : 2 * columns),
          distance(distanceOrDefault(batchDistance, 2, dims, Layout::ComplexInput)),
          teams(rowColumnTeams<T>(factory, howmany, transformReals))
    {
        const auto& inner = factory.inner();
        const auto columnsTuning = columnTuning<Placement::Inplace>(inner, dims, key, tuning);
        const PlanKey* rowKey = keyRecord(key, 1);
        const Dim row{columns, 2, 0};

        rowsPerBlock = std::max<std::int64_t>(2, rows / teams.innerThreads);
        rowBlockPlan = subPlans.require(
            makeSubPlan<Placement::Inplace>(inner, 1, &row, Dim{rowsPerBlock, rowStride, 0}, rowKey, tuning));
        oneRowPlan =
            subPlans.require(makeSubPlan<Placement::Inplace>(inner, 1, &row, Dim{1, rowStride, 0}, rowKey, tuning));

        columnsPerBlock = columnsPerBlockFor<T>(columns, teams.innerThreads);
        requestColumnPlans(inner, {ColumnRequest<T, Placement::Inplace>{columnPlans, Dim{rows, rowStride, 0}, columns}},
                           columnsPerBlock, key, columnsTuning, subPlans);

        workPerThread = sliceFor<T>(rowBlockPlan.get(), oneRowPlan.get(), columnPlans.blockPlan.get(),
                                    columnPlans.groupPlan.get(), columnPlans.tailPlan.get());
    }

    bool complete() const { return subPlans.complete(); }

    void run(const Call& call, const Arrays<T, Placement::Inplace>& arrays, T* work) const
    {
        nestedRegions(teams, howmany, [&](const NestedPlace& at) {
            if (at.items.empty()) return;
            T* slice = work + at.sliceIndex(teams) * workPerThread;
            const Share rowShare = splitRange(rows, at.inner.size, at.inner.thread, 1);
            const Share columnShare = splitRange(columns, at.inner.size, at.inner.thread, lineColumns<T>);
            for (std::int64_t item = at.items.begin; item < at.items.end; ++item) {
                T* base = arrays.data + item * distance;
                runShare(rowShare, rowsPerBlock, 1, *rowBlockPlan, *oneRowPlan, nullptr,
                         [&](const Plan& plan, std::int64_t row) { invoke(plan, call, {base + row * rowStride}, slice); });
                teamBarrier();
                columnPlans.walk(columnShare, columnsPerBlock, [&](const Plan& plan, std::int64_t column) {
                    invoke(plan, call.plain(), {base + 2 * column}, slice);
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
        return describeNested<T>("OmpInplaceCC", rows, std::to_string(columns), howmany, teams.outerThreads,
                                 teams.innerThreads);
    }
    std::size_t threadWorkSize() const override { return workPerThread; }
    void reserveThreadWork(std::size_t n) override { raiseSlice(workPerThread, n); }

private:
    std::int64_t rows;
    std::int64_t columns;
    std::int64_t howmany;
    std::int64_t rowStride;
    std::int64_t distance;
    NestedTeams teams;
    std::uint64_t workPerThread = 0;
    std::int64_t rowsPerBlock = 0;
    std::unique_ptr<Plan> rowBlockPlan;
    std::unique_ptr<Plan> oneRowPlan;
    std::int64_t columnsPerBlock = 0;
    ColumnPlanSet<T, Placement::Inplace> columnPlans;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
