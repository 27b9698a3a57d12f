// In-place real-to-complex rank-2 transforms on nested teams. Forward runs the
// real rows first and then the complex columns of the half spectrum; backward
// runs the columns first, since the complex-to-real rows consume them. Rows go
// to threads in pairs, so an odd last row needs a plan of its own.
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
class OmpInplaceRCRowColumn final : public RoutedCompute<OmpInplaceRCRowColumn<T>, T, Placement::Inplace> {
public:
    using Factory = FftOmpFactory<RealFactory<T>>;
    using Plan = InplaceCompute<T>;

    OmpInplaceRCRowColumn(const Factory& factory, const Dim* dims, const Dim* batch, std::uint64_t transformReals,
                          const PlanKey* key, const std::shared_ptr<T>& tuning)
        : rows(dims[0].size),
          columns(halfColumns(dims[1].size)),
          howmany(transformCount(batch->size)),
          rowStride(dims[0].inStride != 0 ? dims[0].inStride : pad(dims[1].size)),
          distance(distanceOrDefault(batch->inStride, 2, dims, Layout::InplaceReal)),
          teams(rowColumnTeams<T>(factory, howmany, transformReals))
    {
        const auto& inner = factory.inner();
        const auto columnsTuning = columnTuning<Placement::Inplace>(inner, dims, key, tuning);
        const PlanKey* rowKey = keyRecord(key, 1);
        const Dim row{dims[1].size, 1, 0};

        rowsPerBlock = rowPairsPerBlockFor(rows, teams.innerThreads);
        rowPlans.request(rows, rowsPerBlock, subPlans, [&](std::int64_t count) {
            return makeSubPlan<Placement::Inplace>(inner, 1, &row, Dim{count, rowStride, 0}, rowKey, tuning);
        });

        columnsPerBlock = columnsPerBlockFor<T>(columns, teams.innerThreads);
        requestColumnPlans(*inner.complexFactory(),
                           {ColumnRequest<T, Placement::Inplace>{columnPlans, Dim{rows, rowStride, 0}, columns}},
                           columnsPerBlock, key, columnsTuning, subPlans);

        workPerThread = sliceFor<T>(rowPlans.blockPlan.get(), rowPlans.pairPlan.get(), rowPlans.oddPlan.get(),
                                    columnPlans.blockPlan.get(), columnPlans.groupPlan.get(),
                                    columnPlans.tailPlan.get());
    }

    bool complete() const { return subPlans.complete(); }

    void run(const Call& call, const Arrays<T, Placement::Inplace>& arrays, T* work) const
    {
        nestedRegions(teams, howmany, [&](const NestedPlace& at) {
            if (at.items.empty()) return;
            T* slice = work + at.sliceIndex(teams) * workPerThread;
            const Share rowShare = rowPairShare(rows, at.inner);
            const Share columnShare = splitRange(columns, at.inner.size, at.inner.thread, lineColumns<T>);
            for (std::int64_t item = at.items.begin; item < at.items.end; ++item) {
                T* base = arrays.data + item * distance;
                auto rowPass = [&](const Call& rowCall) {
                    rowPlans.walk(rowShare, rowsPerBlock, [&](const Plan& plan, std::int64_t row) {
                        invoke(plan, rowCall, {base + row * rowStride}, slice);
                    });
                };
                auto columnPass = [&](const Call& columnCall) {
                    columnPlans.walk(columnShare, columnsPerBlock, [&](const Plan& plan, std::int64_t column) {
                        invoke(plan, columnCall, {base + 2 * column}, slice);
                    });
                };
                if (call.isForward()) {
                    rowPass(call);
                    teamBarrier();
                    columnPass(call.plain());
                } else {
                    columnPass(call);
                    teamBarrier();
                    rowPass(call.plain());
                }
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
        return describeNested<T>("OmpInplaceRC", rows, sizesBetweenParenAndCount(rowPlans.blockPlan->toString()),
                                 howmany, teams.outerThreads, teams.innerThreads);
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
    RowPairPlans<Plan> rowPlans;
    std::int64_t columnsPerBlock = 0;
    ColumnPlanSet<T, Placement::Inplace> columnPlans;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
