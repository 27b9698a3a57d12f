// What the four row/column strategies share beyond the parallel mechanics:
// the sizes and spacings of a rank-2 request, its description, and the tuning
// pointer of the column plans.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/calls.h"
#include "parallel/describe.h"
#include "parallel/kind.h"
#include "parallel/plan_set.h"
#include "parallel/records.h"
#include "parallel/regions.h"

namespace zun::fft::omp {

// A batch of rank-2 transforms: rows along dims[0], complex columns along
// dims[1], with the row stride and the distance of each layout.
struct RowColumnShape {
    std::int64_t rows;
    std::int64_t columns;
    std::int64_t howmany;
    ItemSpacing rowStride;
    ItemSpacing distance;

    RowColumnShape(Kind kind, Placement placement, const Dim* dims, const Dim& batch)
        : rows(dims[0].size),
          columns(kind == Kind::Complex ? dims[1].size : halfColumns(dims[1].size)),
          howmany(transformCount(batch.size)),
          rowStride(axisStrides(kind, placement, 2, dims, 0)),
          distance(distances(kind, placement, 2, dims, batch))
    {
    }

    // The column axis of a layout whose rows are `stride` reals apart, and out
    // of place `outStride` in the plan's second layout.
    Dim column(std::int64_t stride, std::int64_t outStride = 0) const { return {rows, stride, outStride}; }

    template <typename T>
    std::string describe(const char* name, const std::string& sizes, const NestedTeams& teams) const
    {
        return describeNested<T>(name, rows, sizes, howmany, teams.outerThreads, teams.innerThreads);
    }
};

// The passes of a row/column strategy over its batch: per transform, the row
// pass from the source and the column pass in place on what the row pass
// wrote, complex transforms rows first, real ones rows first only forward.
template <Kind K, typename T, Placement P, typename Work, typename RowSet, typename ColumnSet>
void runRowsAndColumns(const RowColumnShape& shape, const Work& work, const RowSet& rowPlans,
                       const ColumnSet& columnPlans, const Call& call, const Arrays<T, P>& arrays, T* workBuffer)
{
    const Spacing transforms = spacingFor(call, shape.distance);
    const Spacing rowsApart = spacingFor(call, shape.rowStride);
    nestedBatch(work.teams(), shape.howmany, [&](const NestedPlace& at, std::int64_t item) {
        T* slice = work.slice(workBuffer, at);
        const auto transform = transforms.item(arrays, item);
        auto rows = [&](const Call& rowCall) { runPass(rowPlans, at.inner, rowCall, transform, rowsApart, slice); };
        auto columns = [&](const Call& columnCall) {
            runPass(columnPlans, at.inner, columnCall, written(transform), adjacentColumns, slice);
        };
        if constexpr (K == Kind::Complex) passesInOrder(call, rows, columns);
        else rowsFirstForward(call, rows, columns);
    });
}

// Column plans run along dims[0] only, so they get the tuning entry that the
// wrapped factory names for the row sub-problem, aliased into the caller's
// array; the copy rule reads the header of record 0, the key they receive.
template <Placement P, typename Planner, typename T>
std::shared_ptr<T> columnTuning(const Planner& inner, const Dim* dims, const PlanKey* key,
                                const std::shared_ptr<T>& tuning)
{
    const std::int64_t index = tuningIndexFor<P>(inner, 1, &dims[1], keyRecord(key, 1));
    return aliasTuning(tuning, index, key[0]);
}

}  // namespace zun::fft::omp
