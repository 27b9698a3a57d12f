// What the four row/column strategies share beyond the parallel mechanics:
// the sizes and spacings of a rank-2 request, its description, and the tuning
// pointer of the column plans.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/describe.h"
#include "parallel/kind.h"
#include "parallel/records.h"
#include "parallel/regions.h"

namespace zun::fft::omp {

// Complex columns of a real row of n points: n/2 + 1.
inline std::int64_t halfColumns(std::int64_t n) { return (n >> 1) + 1; }

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
