// The plane family as the factory sees it: one make function, defined with the
// family's explicit instantiations in make_planes.cpp.
#pragma once

#include <zun/core.h>

#include <memory>

#include "parallel/context.h"

namespace zun::fft::omp {

// A rank-3 request whose plane fits in half the L2 cache, on one flat team;
// `packed` when the rows of its planes lie back to back. Empty when a
// sub-plan was declined.
template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makePlanes(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                          bool packed);

}  // namespace zun::fft::omp
