// The split-first-dimension family as the factory sees it: one make function,
// defined with the family's explicit instantiations in make_split_first_dim.cpp.
#pragma once

#include <zun/core.h>

#include <memory>

#include "parallel/context.h"

namespace zun::fft::omp {

// A request of rank 4 or more as a rest plan that re-enters the parallel
// factory and a pass along axis 0; `packed` when the middle axes are packed.
// Empty when a sub-plan was declined.
template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makeSplitFirstDim(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                                 bool packed);

}  // namespace zun::fft::omp
