// Sizing of nested teams: at most one outer thread per processor package, and
// a single outer thread when the runtime allows only one active level.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>

#include "parallel/regions.h"

namespace zun::fft::omp {

// `cacheBudget` is the share of the L3 cache (in reals) from which a transform
// counts as large: large transforms divide all threads among the outer threads
// in use, smaller ones give each outer thread one package's share. A budget of
// 0 (no cache size was found) counts every transform as large.
inline NestedTeams sizeNestedTeams(int threads, int packages, std::int64_t count, std::uint64_t transformReals,
                                   std::uint64_t cacheBudget)
{
    const int packageThreads = std::min(packages, threads);
    const std::int64_t outerUsed = std::min<std::int64_t>(std::max<std::int64_t>(count, 1), packageThreads);
    const std::int64_t divisor = transformReals >= cacheBudget ? outerUsed : packageThreads;
    const int perOuter = threads / static_cast<int>(divisor);
    if (omp_get_max_active_levels() == 1) return {1, perOuter * static_cast<int>(outerUsed)};
    return {static_cast<int>(outerUsed), perOuter};
}

// Cache budgets in reals of T, from sizes in KiB.
template <typename T>
std::uint64_t halfCacheReals(std::uint32_t kib)
{
    return std::uint64_t{kib} * 512 / sizeof(T);
}

template <typename T>
std::uint64_t wholeCacheReals(std::uint32_t kib)
{
    return std::uint64_t{kib} * 1024 / sizeof(T);
}

template <typename T>
std::uint64_t threeQuarterCacheReals(std::uint32_t kib)
{
    return std::uint64_t{kib} * 768 / sizeof(T);
}

// Teams of the row/column strategies: the large-transform threshold is half
// the L3 cache.
template <typename T, typename Factory>
NestedTeams rowColumnTeams(const Factory& factory, std::int64_t howmany, std::uint64_t transformReals)
{
    return sizeNestedTeams(factory.threads(), factory.packages(), howmany, transformReals,
                           halfCacheReals<T>(factory.cacheL3()));
}

}  // namespace zun::fft::omp
