// The batch family as the factory sees it: one make function, defined with the
// family's explicit instantiations in batch.cpp.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>

#include "parallel/context.h"

namespace zun::fft::omp {

// A batch of transforms `grain` or more per thread, grouped (whole cache lines
// of interleaved transforms, or real pairs) or plain. Empty when a sub-plan
// was declined.
template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makeBatch(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                         std::int64_t grain, bool grouped);

}  // namespace zun::fft::omp
