// The row/column family as the factory sees it: one make function, defined
// with the family's explicit instantiations in make_row_column.cpp.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>

#include "parallel/context.h"

namespace zun::fft::omp {

// A rank-2 request of `transformReals` reals per transform on nested teams.
// Empty when a sub-plan was declined.
template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makeRowColumn(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                             std::uint64_t transformReals);

}  // namespace zun::fft::omp
