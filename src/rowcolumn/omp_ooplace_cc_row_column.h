// Out-of-place complex rank-2 transforms on nested teams: the row pass reads
// the source and writes the destination; the column pass then runs in place on
// the destination, with the column plans of the layout the destination has in
// that direction. The source is only ever read.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"
#include "rowcolumn/row_column.h"

namespace zun::fft::omp {

template <typename T>
class OmpOoplaceCCRowColumn final : public Strategy<OmpOoplaceCCRowColumn<T>, T, Placement::Ooplace> {
    using Base = Strategy<OmpOoplaceCCRowColumn, T, Placement::Ooplace>;
    friend Base;
    static constexpr Placement P = Placement::Ooplace;

public:
    using RowPlan = OoplaceCompute<T>;
    using ColumnPlan = InplaceCompute<T>;

    OmpOoplaceCCRowColumn(const StrategyContext<T, Kind::Complex>& context, const Dim* dims, const Dim* batch,
                          std::uint64_t transformReals, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : shape(Kind::Complex, P, dims, *batch),
          work(rowColumnTeams(context, shape.howmany, transformReals)),
          rowPlans(shape.rows, 1, work.teams().innerThreads),
          columnPlansIn(shape.columns, lineColumns<T>, work.teams().innerThreads),
          columnPlansOut(shape.columns, lineColumns<T>, work.teams().innerThreads)
    {
        const auto columnsTuning = columnTuning<P>(context.inner, dims, key, tuning);
        const Dim row{shape.columns, 2, 2};
        rowPlans.request(blockTailUnit, subPlans,
                         planMaker<P>(context.inner, 1, &row, shape.rowStride, keyRecord(key, 1), tuning));
        const ComplexFactory<T>* planner = columnPlanner(context, subPlans);
        const auto makeIn =
            columnMaker<Placement::Inplace>(planner, shape.column(shape.rowStride.in), key, columnsTuning);
        const auto makeOut =
            columnMaker<Placement::Inplace>(planner, shape.column(shape.rowStride.out), key, columnsTuning);
        for (const Piece piece : blockTailUnit) {
            columnPlansIn.request(piece, subPlans, makeIn);
            columnPlansOut.request(piece, subPlans, makeOut);
        }
        work.fit(rowPlans, columnPlansIn, columnPlansOut);
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        const auto& columnPlans = call.isForward() ? columnPlansOut : columnPlansIn;
        runRowsAndColumns<Kind::Complex>(shape, work, rowPlans, columnPlans, call, arrays, workBuffer);
    }

    std::string toString() const override
    {
        return shape.describe<T>("OmpOoplaceCC", std::to_string(shape.columns), work.teams());
    }

private:
    RowColumnShape shape;
    NestedSlices<T> work;
    PlanSet<RowPlan> rowPlans;
    PlanSet<ColumnPlan> columnPlansIn;
    PlanSet<ColumnPlan> columnPlansOut;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
