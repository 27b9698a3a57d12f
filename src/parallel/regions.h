// The parallel regions of the compute operations. Each hands its body the
// thread numbers and team sizes that the runtime actually formed: shares are
// always split over the team that runs, not the team that was asked for.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "parallel/calls.h"
#include "parallel/partition.h"

namespace zun::fft::omp {

struct Team {
    int thread;
    int size;

    bool isLast() const { return thread == size - 1; }
};

// Most threads one region of ours asks for. The runtime aborts the process
// when it cannot create the threads a region asks for, and it reports no bound
// of its own: its thread limit is INT_MAX unless OMP_THREAD_LIMIT is set. (When
// it is set, the runtime forms a smaller team instead of aborting, and every
// share is split over the team that actually runs, so that limit needs no cap
// here.) The LLVM runtime creates 4096 threads for one region on the machines
// we build on; 1024 is more than the hardware threads of any machine we target
// and leaves a wide margin below the system's thread limits.
inline constexpr int regionThreadBound = 1024;

// The thread count a factory keeps: what it was configured with, within what
// the runtime can create.
inline int runnableThreads(int configured) { return std::min(configured, regionThreadBound); }

inline Team currentTeam() { return {omp_get_thread_num(), omp_get_num_threads()}; }

// An inner thread's part of its outer thread's share, in whole units. The
// items after the last whole unit of the whole range stay with the last inner
// thread of the outer thread that runs them.
inline Share shareWithin(const Share& outer, const Team& inner, std::int64_t unit)
{
    Share share = splitRange(outer.end - outer.begin, inner.size, inner.thread, unit);
    share.begin += outer.begin;
    share.end += outer.begin;
    share.tailBegin = outer.tailBegin;
    share.runsTail = outer.runsTail && inner.isLast();
    return share;
}

// How many levels of teams the runtime lets run at once; strategies read it
// once while they are made.
inline int maxActiveLevels() { return omp_get_max_active_levels(); }

// One flat team, bound close. Opened on every call, even for one thread.
template <typename Body>
void flatRegion(int threads, Body&& body)
{
#pragma omp parallel num_threads(threads) proc_bind(close)
    body(currentTeam());
}

// One flat team (bound close) every thread of which walks all transforms of
// the batch in order: body(team, transform).
template <typename Body>
void flatBatch(int threads, std::int64_t howmany, Body&& body)
{
    flatRegion(threads, [&](const Team& team) {
        for (std::int64_t item = 0; item < howmany; ++item) body(team, item);
    });
}

// One flat team with no binding request.
template <typename Body>
void unboundRegion(int threads, Body&& body)
{
#pragma omp parallel num_threads(threads)
    body(currentTeam());
}

// The outer team of a nested strategy, bound spread; its body opens inner
// teams with innerRegion.
template <typename Body>
void outerRegion(int threads, Body&& body)
{
#pragma omp parallel num_threads(threads) proc_bind(spread)
    body(currentTeam());
}

// An inner team under one outer thread, bound close like a flat team.
template <typename Body>
void innerRegion(int threads, Body&& body)
{
    flatRegion(threads, std::forward<Body>(body));
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
};

// Outer team over the items; each outer thread opens one inner team for its
// whole share, also an empty one.
template <typename Body>
void nestedRegions(const NestedTeams& teams, std::int64_t items, Body&& body)
{
    outerRegion(teams.outerThreads, [&](const Team& outer) {
        const Share share = splitRange(items, outer.size, outer.thread, 1);
        innerRegion(teams.innerThreads, [&](const Team& inner) { body(NestedPlace{outer, inner, share}); });
    });
}

// Each outer thread's inner team works through the outer thread's share of
// the transforms one at a time: body(place, transform).
template <typename Body>
void nestedBatch(const NestedTeams& teams, std::int64_t howmany, Body&& body)
{
    nestedRegions(teams, howmany, [&](const NestedPlace& at) {
        for (std::int64_t item = at.items.begin; item < at.items.end; ++item) body(at, item);
    });
}

// A barrier of the innermost team that runs the caller: inside an outer
// region's body (between inner regions) it is the outer team's barrier.
inline void teamBarrier()
{
#pragma omp barrier
}

}  // namespace zun::fft::omp

namespace zun::fft::omp {

// Two passes of one transform with a barrier of the team between them. The
// extra argument of the call reaches only the pass that runs first.
template <typename First, typename Second>
void passesInOrder(const Call& call, First&& first, Second&& second)
{
    first(call);
    teamBarrier();
    second(call.plain());
}

// The order of real transforms: forward `rows` then `columns`; backward the
// other way round, since the complex-to-real rows consume the columns.
template <typename Rows, typename Columns>
void rowsFirstForward(const Call& call, Rows&& rows, Columns&& columns)
{
    if (call.isForward()) passesInOrder(call, rows, columns);
    else passesInOrder(call, columns, rows);
}

}  // namespace zun::fft::omp
