// Cache budgets and line sizes in reals of a precision: the one place where
// the machine's cache sizes (KiB) become the figures that the decisions, the
// team sizing and the work slices read.
#pragma once

#include <cstdint>
#include <limits>

namespace zun::fft::omp {

// Complex elements and reals of T in one 64-byte cache line.
template <typename T>
inline constexpr std::int64_t lineColumns = 64 / (2 * static_cast<std::int64_t>(sizeof(T)));
template <typename T>
inline constexpr std::int64_t lineReals = 64 / static_cast<std::int64_t>(sizeof(T));

// Least multiple of lineReals<T> not below n: slices start on whole lines.
// Above the largest such multiple there is none, and the size saturates at
// the largest value rather than wrap to a small one.
template <typename T>
constexpr std::uint64_t roundUpToLine(std::uint64_t n)
{
    const std::uint64_t line = lineReals<T>;
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    if (n > largest - (line - 1)) return largest;
    return (n + line - 1) & ~(line - 1);
}

// Cache sizes as configured or detected, in KiB.
struct CacheSizes {
    std::uint32_t l1KiB = 0;
    std::uint32_t l2KiB = 0;
    std::uint32_t l3KiB = 0;
};

// The budgets in reals of one precision. A size of at most 2^32 KiB gives at
// most 2^42 reals, so every figure fits a signed 64-bit value.
struct CacheBudgets {
    std::int64_t l1Reals;
    std::int64_t halfL2Reals;
    std::int64_t halfL3Reals;
    std::int64_t threeQuarterL3Reals;
    std::int64_t lineColumns;
    std::int64_t lineReals;
};

template <typename T>
constexpr CacheBudgets cacheBudgets(const CacheSizes& sizes)
{
    auto reals = [](std::uint32_t kib, std::uint64_t bytesPerKiB) {
        return static_cast<std::int64_t>(std::uint64_t{kib} * bytesPerKiB / sizeof(T));
    };
    return {reals(sizes.l1KiB, 1024), reals(sizes.l2KiB, 512), reals(sizes.l3KiB, 512),
            reals(sizes.l3KiB, 768),  lineColumns<T>,          lineReals<T>};
}

}  // namespace zun::fft::omp
