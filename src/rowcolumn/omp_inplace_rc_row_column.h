// In-place real-to-complex rank-2 transforms on nested teams. Forward runs the
// real rows first and then the complex columns of the half spectrum; backward
// runs the columns first, since the complex-to-real rows consume them. Rows go
// to threads in pairs, so an odd last row needs a plan of its own.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "rowcolumn/row_column.h"

namespace zun::fft::omp {

template <typename T>
class OmpInplaceRCRowColumn final : public Strategy<OmpInplaceRCRowColumn<T>, T, Placement::Inplace> {
    using Base = Strategy<OmpInplaceRCRowColumn, T, Placement::Inplace>;
    friend Base;
    static constexpr Placement P = Placement::Inplace;

public:
    using Plan = InplaceCompute<T>;

    OmpInplaceRCRowColumn(const StrategyContext<T, Kind::Real>& context, const Dim* dims, const Dim* batch,
                          std::uint64_t transformReals, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : shape(Kind::Real, P, dims, *batch),
          work(rowColumnTeams(context, shape.howmany, transformReals)),
          rowPlans(shape.rows, 2, work.teams().innerThreads),
          columnPlans(shape.columns, lineColumns<T>, work.teams().innerThreads)
    {
        const auto columnsTuning = columnTuning<P>(context.inner, dims, key, tuning);
        const Dim row{dims[1].size, 1, 0};
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
            rowsFirstForward(
                call, [&](const Call& rows) { runPass(rowPlans, at.inner, rows, transform, rowsApart, slice); },
                [&](const Call& columns) {
                    runPass(columnPlans, at.inner, columns, transform, adjacentColumns, slice);
                });
        });
    }

    std::string toString() const override
    {
        return shape.describe<T>("OmpInplaceRC", sizesBetweenParenAndCount(rowPlans.blockPlan().toString()),
                                 work.teams());
    }

private:
    RowColumnShape shape;
    NestedSlices<T> work;
    PlanSet<Plan> rowPlans;
    PlanSet<Plan> columnPlans;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
