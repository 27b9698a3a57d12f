// Column plans: 1-D transforms along an outer axis applied to groups of
// adjacent complex columns. A set holds a block plan (a thread's share at
// once), a group plan (lineColumns columns: one 64-byte run per row) and, when
// the column count is not a whole number of groups, a tail plan for the rest.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "parallel/partition.h"
#include "parallel/subplans.h"

namespace zun::fft::omp {

template <typename T, Placement P>
struct ColumnPlanSet {
    std::unique_ptr<Compute<T, P>> blockPlan;
    std::unique_ptr<Compute<T, P>> groupPlan;
    std::unique_ptr<Compute<T, P>> tailPlan;

    // Walks one thread's share of the columns; run(plan, firstColumn).
    template <typename Run>
    void walk(const Share& share, std::int64_t columnsPerBlock, Run&& run) const
    {
        runShare(share, columnsPerBlock, lineColumns<T>, *blockPlan, *groupPlan, tailPlan.get(),
                 std::forward<Run>(run));
    }
};

// Columns per block call: about one thread's share, in whole groups.
template <typename T>
std::int64_t columnsPerBlockFor(std::int64_t columns, int innerThreads)
{
    const std::int64_t share = columns / innerThreads;
    return std::max(2 * lineColumns<T>, share - share % lineColumns<T>);
}

// One set to request: the column axis {length, stride, stride'} in the plan's
// layouts, and how many columns it covers.
template <typename T, Placement P>
struct ColumnRequest {
    ColumnPlanSet<T, P>& set;
    Dim column;
    std::int64_t columns;
};

template <typename Factory, typename T>
std::unique_ptr<InplaceCompute<T>> makeColumnPlan(const Factory& factory, const Dim& column, std::int64_t count,
                                                  const PlanKey* key, const std::shared_ptr<T>& tuning,
                                                  InplaceCompute<T>*)
{
    const Dim batch{count, 2, 0};
    return factory.makeInplace(columnRank, &column, &batch, false, key, tuning);
}

template <typename Factory, typename T>
std::unique_ptr<OoplaceCompute<T>> makeColumnPlan(const Factory& factory, const Dim& column, std::int64_t count,
                                                  const PlanKey* key, const std::shared_ptr<T>& tuning,
                                                  OoplaceCompute<T>*)
{
    const Dim batch{count, 2, 2};
    return factory.makeOoplace(columnRank, &column, &batch, false, key, tuning);
}

// Requests the sets stage by stage: every set's block plan, then every tail
// plan that is needed, then every group plan.
template <typename Factory, typename T, Placement P>
void requestColumnPlans(const Factory& factory, std::initializer_list<ColumnRequest<T, P>> requests,
                        std::int64_t columnsPerBlock, const PlanKey* key, const std::shared_ptr<T>& tuning,
                        SubPlans& subPlans)
{
    using Plan = Compute<T, P>;
    auto make = [&](const ColumnRequest<T, P>& request, std::int64_t count) {
        return subPlans.require(makeColumnPlan(factory, request.column, count, key, tuning, static_cast<Plan*>(nullptr)));
    };
    for (const auto& request : requests) request.set.blockPlan = make(request, columnsPerBlock);
    for (const auto& request : requests) {
        const std::int64_t rest = request.columns % lineColumns<T>;
        if (rest != 0) request.set.tailPlan = make(request, rest);
    }
    for (const auto& request : requests) request.set.groupPlan = make(request, lineColumns<T>);
}

}  // namespace zun::fft::omp
