// Sizing of nested teams: at most one outer thread per processor package, and
// a single outer thread when the runtime allows only one active level. Pure
// functions: the caller reads the runtime's active levels once and passes them.
#pragma once

#include <algorithm>
#include <cstdint>

#include "parallel/context.h"
#include "parallel/regions.h"

namespace zun::fft::omp {

// `cacheBudget` is the share of the L3 cache (in reals) from which a transform
// counts as large: large transforms divide all threads among the outer threads
// in use, smaller ones give each outer thread one package's share. A budget of
// 0 (no cache size was found) counts every transform as large.
inline NestedTeams sizeNestedTeams(int threads, int packages, std::int64_t count, std::uint64_t transformReals,
                                   std::uint64_t cacheBudget, int activeLevels)
{
    const int packageThreads = std::min(packages, threads);
    const std::int64_t outerUsed = std::min<std::int64_t>(std::max<std::int64_t>(count, 1), packageThreads);
    const std::int64_t divisor = transformReals >= cacheBudget ? outerUsed : packageThreads;
    const int perOuter = threads / static_cast<int>(divisor);
    if (activeLevels == 1) return {1, perOuter * static_cast<int>(outerUsed)};
    return {static_cast<int>(outerUsed), perOuter};
}

// Teams of the row/column strategies: the large-transform threshold is half
// the L3 cache.
template <typename T, Kind K>
NestedTeams rowColumnTeams(const StrategyContext<T, K>& context, std::int64_t howmany, std::uint64_t transformReals)
{
    return sizeNestedTeams(context.threads, context.packages, howmany, transformReals,
                           static_cast<std::uint64_t>(context.caches.halfL3Reals), context.activeLevels);
}

}  // namespace zun::fft::omp
