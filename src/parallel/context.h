// What a strategy is built from: a plain value that the parallel factory fills
// in for each make request. Strategies never see the factory's own class, so
// src/parallel/ and the strategy families depend on nothing in src/factory/.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>

#include "parallel/caches.h"
#include "parallel/kind.h"

namespace zun::fft::omp {

template <typename T, Kind K>
struct StrategyContext {
    const PlannerOf<T, K>& inner;     // the wrapped serial planner
    const FactoryOf<T, K>& parallel;  // the parallel factory, for requests that re-enter it
    int threads;
    int packages;
    int activeLevels;  // omp_get_max_active_levels(), read once per make request
    CacheBudgets caches;

    // Where column plans come from: the complex planner itself, or the real
    // planner's companion, which a real planner of real transforms only may
    // not have (null). Asked only when a strategy needs it, so the companion
    // is fetched at that point of the sub-request sequence.
    const ComplexFactory<T>* complexPlanner() const
    {
        if constexpr (K == Kind::Complex) return &inner;
        else return inner.complexFactory();
    }
};

// A make request as it reached the parallel factory (lockFlag aside: every
// sub-request passes false).
template <typename T>
struct PlanRequest {
    std::size_t rank;
    const Dim* dims;
    const Dim* batch;
    const PlanKey* key;
    const std::shared_ptr<T>& tuning;
};

}  // namespace zun::fft::omp
