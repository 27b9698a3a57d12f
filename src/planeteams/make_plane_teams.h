// The plane-team family as the factory sees it: one make function, defined
// with the family's explicit instantiations in make_plane_teams.cpp.
#pragma once

#include <zun/core.h>

#include <memory>

#include "parallel/context.h"

namespace zun::fft::omp {

// A rank-3 request whose plane is too large for half the L2 cache, on nested
// teams; `packedRows` when dims[1] holds its rows back to back in every
// layout. Empty when a sub-plan was declined.
template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makePlaneTeams(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                              bool packedRows);

}  // namespace zun::fft::omp
