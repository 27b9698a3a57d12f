// The block / unit / tail pattern that every strategy uses to hand a range of
// items (transforms, rows, row pairs, column groups) to serial plans: a block
// plan for about one thread's share at once, a unit plan for each whole unit
// left over, and, when the items are not a whole number of units, a tail plan
// that the last thread runs on the rest.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "parallel/calls.h"
#include "parallel/partition.h"
#include "parallel/regions.h"
#include "parallel/subplans.h"

namespace zun::fft::omp {

enum class Piece { Block, Unit, Tail };

template <typename Plan>
class PlanSet {
public:
    PlanSet() = default;

    // `items` handed out in whole `unit`s; blocks sized for `threads` threads.
    PlanSet(std::int64_t items, std::int64_t unit, std::int64_t threads)
        : items_(items), unit_(unit), perBlock_(itemsPerBlock(items, threads, unit))
    {
    }

    // Asks `make(count)` for one piece's plan and marks it required. The tail
    // plan is asked for only when there is a tail; no plan once a required one
    // was declined.
    template <typename Make>
    void request(Piece piece, SubPlans& subPlans, Make&& make)
    {
        switch (piece) {
        case Piece::Block: block_ = subPlans.require(make, perBlock_); break;
        case Piece::Unit: unitPlan_ = subPlans.require(make, unit_); break;
        case Piece::Tail:
            if (tailCount() != 0) tail_ = subPlans.require(make, tailCount());
            break;
        }
    }

    // Several pieces, in the order given.
    template <std::size_t N, typename Make>
    void request(const Piece (&order)[N], SubPlans& subPlans, Make&& make)
    {
        for (const Piece piece : order) request(piece, subPlans, make);
    }

    // A thread's share of the items, over the team that actually runs.
    Share share(const Team& team) const { return splitRange(items_, team.size, team.thread, unit_); }

    // Walks one share; run(plan, firstItem) makes one call.
    template <typename Run>
    void walk(const Share& share, Run&& run) const
    {
        runShare(share, perBlock_, unit_, *block_, *unitPlan_, tail_.get(), std::forward<Run>(run));
    }

    template <typename Run>
    void walk(const Team& team, Run&& run) const
    {
        walk(share(team), std::forward<Run>(run));
    }

    const Plan& blockPlan() const { return *block_; }
    const Plan& unitPlan() const { return *unitPlan_; }
    std::int64_t items() const { return items_; }
    std::int64_t perBlock() const { return perBlock_; }

    // The largest work of the set's plans, for the slice they run in.
    std::uint64_t workNeed() const
    {
        return std::max({omp::workNeed(block_), omp::workNeed(unitPlan_), omp::workNeed(tail_)});
    }

private:
    std::int64_t tailCount() const { return items_ % unit_; }

    std::int64_t items_ = 0;
    std::int64_t unit_ = 1;
    std::int64_t perBlock_ = 0;
    std::unique_ptr<Plan> block_;
    std::unique_ptr<Plan> unitPlan_;
    std::unique_ptr<Plan> tail_;
};

template <typename Plan>
std::uint64_t workNeed(const PlanSet<Plan>& set)
{
    return set.workNeed();
}

// A pass over one thread's share of a plan set: every plan call at its first
// item, `spacing` apart from `arrays`, with the thread's work slice.
template <typename Plan, typename T, Placement P>
void runPass(const PlanSet<Plan>& set, const Team& team, const Call& call, const Arrays<T, P>& arrays,
             const Spacing& spacing, T* slice)
{
    set.walk(team, [&](const Plan& plan, std::int64_t item) { invoke(plan, call, spacing.item(arrays, item), slice); });
}

// The usual order: block, tail (when needed), unit.
inline constexpr Piece blockTailUnit[] = {Piece::Block, Piece::Tail, Piece::Unit};

}  // namespace zun::fft::omp
