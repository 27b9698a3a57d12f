// In-place rank-2 transforms on nested teams: per transform a pass over blocks
// of rows, a barrier of the inner team, then a pass over groups of adjacent
// complex columns. Complex transforms run the rows first in both directions;
// real ones run the columns of the half spectrum first backward, since the
// complex-to-real rows consume them. Real rows go to threads in pairs, so an
// odd last row needs a plan of its own.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "rowcolumn/row_column.h"

namespace zun::fft::omp {

template <typename T, Kind K>
class OmpInplaceRowColumn final : public Strategy<OmpInplaceRowColumn<T, K>, T, Placement::Inplace> {
    using Base = Strategy<OmpInplaceRowColumn, T, Placement::Inplace>;
    friend Base;
    static constexpr Placement P = Placement::Inplace;
    static constexpr bool complex = K == Kind::Complex;

public:
    using Plan = InplaceCompute<T>;

    OmpInplaceRowColumn(const StrategyContext<T, K>& context, const Dim* dims, const Dim& batch,
                        std::uint64_t transformReals, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : shape(K, P, dims, batch),
          work(rowColumnTeams(context, shape.howmany, transformReals)),
          rowPlans(shape.rows, complex ? 1 : 2, work.teams().innerThreads),
          columnPlans(shape.columns, lineColumns<T>, work.teams().innerThreads)
    {
        const auto columnsTuning = columnTuning<P>(context.inner, dims, key, tuning);
        const Dim row{dims[1].size, innermostDefault(inputLayout(K, P)), 0};
        rowPlans.request(blockTailUnit, subPlans,
                         planMaker<P>(context.inner, 1, &row, shape.rowStride, keyRecord(key, 1), tuning));
        columnPlans.request(
            blockTailUnit, subPlans,
            columnMaker<P>(columnPlanner(context, subPlans), shape.column(shape.rowStride.in), key, columnsTuning));
        work.fit(rowPlans, columnPlans);
    }

    OmpInplaceRowColumn(const StrategyContext<T, K>& context, const Dim* dims, const Dim* batch,
                        std::uint64_t transformReals, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : OmpInplaceRowColumn(context, dims, *batch, transformReals, key, tuning)
    {
    }

    // The complex class is also made from the batch's count and distance.
    OmpInplaceRowColumn(const StrategyContext<T, K>& context, const Dim* dims, std::int64_t count,
                        std::int64_t batchDistance, std::uint64_t transformReals, const PlanKey* key,
                        const std::shared_ptr<T>& tuning)
        : OmpInplaceRowColumn(context, dims, Dim{count, batchDistance, 0}, transformReals, key, tuning)
    {
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        runRowsAndColumns<K>(shape, work, rowPlans, columnPlans, call, arrays, workBuffer);
    }

    std::string toString() const override
    {
        if constexpr (complex) return shape.describe<T>("OmpInplaceCC", std::to_string(shape.columns), work.teams());
        else
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

template <typename T>
using OmpInplaceCCRowColumn = OmpInplaceRowColumn<T, Kind::Complex>;
template <typename T>
using OmpInplaceRCRowColumn = OmpInplaceRowColumn<T, Kind::Real>;

}  // namespace zun::fft::omp
