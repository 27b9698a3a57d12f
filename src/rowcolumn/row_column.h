// What the four row/column strategies share beyond the parallel mechanics:
// the tuning pointer of their column plans.
#pragma once

#include <zun/core.h>

#include <memory>

#include "parallel/records.h"

namespace zun::fft::omp {

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
