// How a strategy cuts the caller's work buffer: per-thread slices of
// `workPerThread` reals (slice o * innerThreads + i for inner thread i of outer
// thread o; a flat team is one outer thread), and for some strategies a side
// area. Each layout answers the work getters of the plan interface, so a
// strategy forwards them and writes none of its own.
//
// Slice offsets use the stored team sizes: an inner team smaller than asked
// for leaves gaps but never overlaps another thread's slice. Work sizes
// saturate (saturatingSum, saturatingProduct): a parent may reserve slices no
// buffer can hold, and workSize() then never wraps below what they reach.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parallel/caches.h"
#include "parallel/partition.h"
#include "parallel/regions.h"

namespace zun::fft::omp {

template <typename T>
class Slices {
public:
    explicit Slices(const NestedTeams& teams) : teams_(teams) {}

    // Sizes each slice for the plans (or plan sets) that run in it.
    template <typename... Parts>
    void fit(const Parts&... parts)
    {
        workPerThread_ = sliceFor<T>(parts...);
    }

    const NestedTeams& teams() const { return teams_; }
    std::size_t workSize() const { return slicesReals(); }
    int threadCount() const { return teams_.threadCount(); }
    std::size_t threadWorkSize() const { return workPerThread_; }
    void reserveThreadWork(std::size_t n) { raiseSlice(workPerThread_, n); }

protected:
    std::uint64_t slicesReals() const
    {
        return saturatingProduct(static_cast<std::uint64_t>(teams_.threadCount()), workPerThread_);
    }
    T* slice(T* base, int outerThread, int innerThread) const
    {
        const std::int64_t index = static_cast<std::int64_t>(outerThread) * teams_.innerThreads + innerThread;
        return base + index * static_cast<std::int64_t>(workPerThread_);
    }

    NestedTeams teams_;
    std::uint64_t workPerThread_ = 0;
};

// Slice t for thread t of one flat team.
template <typename T>
class FlatSlices : public Slices<T> {
public:
    explicit FlatSlices(int threads) : Slices<T>({1, threads}) {}

    int threads() const { return this->teams_.innerThreads; }
    T* slice(T* work, const Team& team) const { return Slices<T>::slice(work, 0, team.thread); }
};

// Slices by outer × inner thread of nested teams.
template <typename T>
class NestedSlices : public Slices<T> {
public:
    using Slices<T>::Slices;

    T* slice(T* work, const Team& outer, const Team& inner) const
    {
        return Slices<T>::slice(work, outer.thread, inner.thread);
    }
    T* slice(T* work, const NestedPlace& at) const { return slice(work, at.outer, at.inner); }
};

// A side area at the start of the buffer, shared by all threads of a call,
// rounded up to whole lines; the directions that use it place the slices
// behind it, the others at the start. `Grid` is FlatSlices or NestedSlices.
template <typename T, typename Grid>
class SideThenSlices : public Grid {
public:
    template <typename Teams>
    SideThenSlices(const Teams& teams, std::uint64_t sideReals) : Grid(teams), sideReals_(roundUpToLine<T>(sideReals))
    {
    }

    T* side(T* work) const { return work; }
    // Where the slices start in a direction that does or does not use the side area.
    T* slices(T* work, bool usesSide) const { return usesSide ? work + sideReals_ : work; }
    std::size_t workSize() const { return saturatingSum(sideReals_, Grid::workSize()); }

private:
    std::uint64_t sideReals_;
};

// Nested slices followed by one side buffer per outer thread, each rounded up
// to whole lines. The side buffers follow the slices of the outer threads
// that actually run.
template <typename T>
class SlicesThenSideBuffers : public NestedSlices<T> {
public:
    SlicesThenSideBuffers(const NestedTeams& teams, std::uint64_t sideReals)
        : NestedSlices<T>(teams), sideReals_(roundUpToLine<T>(sideReals))
    {
    }

    T* side(T* work, const NestedPlace& at) const
    {
        const std::int64_t slabs = static_cast<std::int64_t>(at.outer.size) * this->teams_.innerThreads;
        return work + slabs * static_cast<std::int64_t>(this->workPerThread_) +
               at.outer.thread * static_cast<std::int64_t>(sideReals_);
    }
    std::size_t workSize() const
    {
        const std::uint64_t sideBuffers = saturatingProduct(this->teams_.outerThreads, sideReals_);
        return saturatingSum(this->slicesReals(), sideBuffers);
    }

private:
    std::uint64_t sideReals_;
};

}  // namespace zun::fft::omp
