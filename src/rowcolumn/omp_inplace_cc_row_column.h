// In-place complex rank-2 transforms on nested teams: per transform a pass over
// blocks of rows, a barrier of the inner team, then a pass over groups of
// adjacent columns; rows first in both directions.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "rowcolumn/row_column.h"

namespace zun::fft::omp {

template <typename T>
class OmpInplaceCCRowColumn final : public Strategy<OmpInplaceCCRowColumn<T>, T, Placement::Inplace> {
    using Base = Strategy<OmpInplaceCCRowColumn, T, Placement::Inplace>;
    friend Base;
    static constexpr Placement P = Placement::Inplace;

public:
    using Plan = InplaceCompute<T>;

    OmpInplaceCCRowColumn(const StrategyContext<T, Kind::Complex>& context, const Dim* dims, std::int64_t count,
                          std::int64_t batchDistance, std::uint64_t transformReals, const PlanKey* key,
                          const std::shared_ptr<T>& tuning)
        : shape(Kind::Complex, P, dims, Dim{count, batchDistance, 0}),
          work(rowColumnTeams(context, shape.howmany, transformReals)),
          rowPlans(shape.rows, 1, work.teams().innerThreads),
          columnPlans(shape.columns, lineColumns<T>, work.teams().innerThreads)
    {
        const auto columnsTuning = columnTuning<P>(context.inner, dims, key, tuning);
        const Dim row{shape.columns, 2, 0};
        rowPlans.request(blockTailUnit, subPlans,
                         planMaker<P>(context.inner, 1, &row, shape.rowStride, keyRecord(key, 1), tuning));
        columnPlans.request(
            blockTailUnit, subPlans,
            columnMaker<P>(context.complexPlanner(), shape.column(shape.rowStride.in), key, columnsTuning));
        work.fit(rowPlans, columnPlans);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const Spacing transforms = spacingFor(call, shape.distance);
        const Spacing rowsApart = spacingFor(call, shape.rowStride);
        nestedBatch(work.teams(), shape.howmany, [&](const NestedPlace& at, std::int64_t item) {
            T* slice = work.slice(workBuffer, at);
            const auto transform = transforms.item(arrays, item);
            passesInOrder(
                call, [&](const Call& rows) { runPass(rowPlans, at.inner, rows, transform, rowsApart, slice); },
                [&](const Call& columns) {
                    runPass(columnPlans, at.inner, columns, transform, adjacentColumns, slice);
                });
        });
    }

    std::string toString() const override
    {
        return shape.describe<T>("OmpInplaceCC", std::to_string(shape.columns), work.teams());
    }

private:
    RowColumnShape shape;
    NestedSlices<T> work;
    PlanSet<Plan> rowPlans;
    PlanSet<Plan> columnPlans;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
