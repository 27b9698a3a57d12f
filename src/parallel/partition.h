// How index ranges are divided among the threads of a team, how a thread walks
// its share with block, unit and tail plans, and how much of the work buffer
// each thread's slice must hold.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "parallel/caches.h"

namespace zun::fft::omp {

// ceil(count / divisor) for a positive divisor, without the overflow of
// (count + divisor - 1) when the count is near the largest value.
inline std::int64_t ceilDiv(std::int64_t count, std::int64_t divisor)
{
    return count / divisor + (count % divisor != 0);
}

// One thread's contiguous run of items [begin, end), in whole units. The items
// after the last whole unit, [tailBegin, count), belong to no share; the last
// thread of the team runs them (runsTail).
struct Share {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::int64_t tailBegin = 0;
    bool runsTail = false;

    bool empty() const { return begin >= end; }
};

// Deals the whole units of `count` items out in thread order: the first
// (units mod teamSize) threads get one unit more. Always computed over the team
// that actually runs, so a smaller team than asked for still covers every item.
inline Share splitRange(std::int64_t count, int teamSize, int thread, std::int64_t unit)
{
    const std::int64_t team = teamSize;
    const std::int64_t t = thread;
    const std::int64_t whole = count - count % unit;
    const std::int64_t q = whole / team - (whole / team) % unit;
    const std::int64_t r = (count - q * team) / unit;
    Share share;
    if (t < r) {
        share.begin = t * (q + unit);
        share.end = share.begin + q + unit;
    } else if (t == r) {
        share.begin = t * (q + unit);
        share.end = share.begin + q;
    } else {
        share.begin = whole - (team - t) * q;
        share.end = share.begin + q;
    }
    share.tailBegin = whole;
    share.runsTail = t == team - 1 && whole < count;
    return share;
}

// Items per block call: about one thread's share of `items`, in whole units,
// and never less than two units.
inline std::int64_t itemsPerBlock(std::int64_t items, std::int64_t threads, std::int64_t unit)
{
    const std::int64_t share = items / threads;
    return std::max(2 * unit, share - share % unit);
}

// Keeps a parameter out of template argument deduction.
template <typename T>
struct NotDeduced {
    using type = T;
};

// Walks one share: the block plan while a whole block remains, then the unit
// plan on each remaining unit, then (last thread only) the tail plan.
// `run(plan, firstItem)` makes one call.
template <typename Plan, typename Run>
void runShare(const Share& share, std::int64_t block, std::int64_t unit, const Plan& blockPlan,
              const Plan& unitPlan, const typename NotDeduced<Plan>::type* tailPlan, Run&& run)
{
    std::int64_t item = share.begin;
    for (; item + block <= share.end; item += block) run(blockPlan, item);
    for (; item < share.end; item += unit) run(unitPlan, item);
    if (share.runsTail && tailPlan) run(*tailPlan, share.tailBegin);
}

// A sub-plan that runs a team of its own cuts its work into per-thread
// slices; a serial one uses all of its work and keeps nothing per thread.
template <typename Plan>
bool runsTeamOfItsOwn(const Plan& plan)
{
    return plan.threadCount() >= 2;
}

// What a sub-plan needs of each thread's slice: one of its own slices when it
// runs a team of its own, else all of its work.
template <typename Plan>
std::uint64_t threadWorkNeed(const Plan& plan)
{
    return runsTeamOfItsOwn(plan) ? plan.threadWorkSize() : plan.workSize();
}

// A parent that shares its slices with a sub-plan raises the sub-plan's to
// `n` reals; only a sub-plan that runs a team of its own has any.
template <typename Plan>
void reserveInParallel(Plan& plan, std::size_t n)
{
    if (runsTeamOfItsOwn(plan)) plan.reserveThreadWork(n);
}

// The work of a plan that runs in a slice; an absent optional plan needs none.
template <typename Plan>
std::uint64_t workNeed(const Plan* plan)
{
    return plan ? plan->workSize() : 0;
}

template <typename Plan>
std::uint64_t workNeed(const std::unique_ptr<Plan>& plan)
{
    return workNeed(plan.get());
}

// Work sizes in reals saturate at the largest value instead of wrapping: a
// size that does not fit asks for a buffer no caller can have, never for a
// smaller one that the slices would overrun.
inline std::uint64_t saturatingSum(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

inline std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

// A slice must hold the work of every plan that runs in it, rounded up to
// whole lines. Each part is a plan (pointer or owner) or a plan set.
template <typename T, typename... Parts>
std::uint64_t sliceFor(const Parts&... parts)
{
    std::uint64_t need = 0;
    ((need = std::max<std::uint64_t>(need, workNeed(parts))), ...);
    return roundUpToLine<T>(need);
}

// Raising a slice never lowers it and never rounds the value asked for.
inline void raiseSlice(std::uint64_t& workPerThread, std::size_t n)
{
    if (n > workPerThread) workPerThread = n;
}

}  // namespace zun::fft::omp
