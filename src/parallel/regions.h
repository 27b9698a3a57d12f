// The parallel regions of the compute operations. Each hands its body the
// thread numbers and team sizes that the runtime actually formed: shares are
// always split over the team that runs, not the team that was asked for.
#pragma once

#include <omp.h>

#include <cstdint>

#include "parallel/partition.h"

namespace zun::fft::omp {

struct Team {
    int thread;
    int size;

    bool isLast() const { return thread == size - 1; }
};

inline Team currentTeam() { return {omp_get_thread_num(), omp_get_num_threads()}; }

// One flat team, bound close. Opened on every call, even for one thread.
template <typename Body>
void flatRegion(int threads, Body&& body)
{
#pragma omp parallel num_threads(threads) proc_bind(close)
    body(currentTeam());
}

// Sizes of the two levels of a nested strategy, stored side by side.
struct NestedTeams {
    int outerThreads;
    int innerThreads;

    int threadCount() const { return outerThreads * innerThreads; }
};

// Where a thread of a nested region stands: its outer thread, the outer
// thread's share of the items, and its own place in the inner team.
struct NestedPlace {
    Team outer;
    Team inner;
    Share items;

    // Slices are laid out by the stored inner team size, so an inner team
    // smaller than asked for leaves gaps but never overlaps another's slices.
    std::int64_t sliceIndex(const NestedTeams& teams) const
    {
        return static_cast<std::int64_t>(outer.thread) * teams.innerThreads + inner.thread;
    }
};

// Outer team (bound spread) over the items; each outer thread opens one inner
// team (bound close) for its whole share, also an empty one.
template <typename Body>
void nestedRegions(const NestedTeams& teams, std::int64_t items, Body&& body)
{
#pragma omp parallel num_threads(teams.outerThreads) proc_bind(spread)
    {
        const Team outer = currentTeam();
        const Share share = splitRange(items, outer.size, outer.thread, 1);
#pragma omp parallel num_threads(teams.innerThreads) proc_bind(close)
        body(NestedPlace{outer, currentTeam(), share});
    }
}

// A barrier of the innermost team that runs the caller.
inline void teamBarrier()
{
#pragma omp barrier
}

}  // namespace zun::fft::omp
