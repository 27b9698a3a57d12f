// Sub-requests of a strategy under construction. A strategy needs every plan
// it asks for (optional plans are only asked for when they will run): when a
// factory declines one, the strategy is incomplete and the request that built
// it declines as a whole. From then on nothing more is asked: each further
// plan would only be planned (in tuning mode, measured) to be freed unused.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "parallel/context.h"
#include "parallel/records.h"

namespace zun::fft::omp {

class SubPlans {
public:
    // The plan `make(args...)` returns, asked for only while every required
    // plan so far came back; once one was declined, an empty plan.
    template <typename Make, typename... Args>
    auto require(Make&& make, Args&&... args)
    {
        using Plan = std::invoke_result_t<Make, Args...>;
        if (!complete_) return Plan();
        Plan plan = std::invoke(std::forward<Make>(make), std::forward<Args>(args)...);
        complete_ = plan != nullptr;
        return plan;
    }

    bool complete() const { return complete_; }

private:
    bool complete_ = true;
};

// The planner of column plans, fetched at this point of the sub-request
// sequence unless a required plan was already declined. Null then, or when a
// real planner has no companion: column makers over it make nothing.
template <typename T, Kind K>
const ComplexFactory<T>* columnPlanner(const StrategyContext<T, K>& context, const SubPlans& subPlans)
{
    return subPlans.complete() ? context.complexPlanner() : nullptr;
}

// A sub-request of the given placement; every sub-request passes lockFlag false.
template <Placement P, typename Factory, typename T>
std::unique_ptr<Compute<T, P>> makeSubPlan(const Factory& factory, std::size_t rank, const Dim* dims, const Dim* batch,
                                          const PlanKey* key, const std::shared_ptr<T>& tuning)
{
    if constexpr (P == Placement::Inplace) return factory.makeInplace(rank, dims, batch, false, key, tuning);
    else return factory.makeOoplace(rank, dims, batch, false, key, tuning);
}

template <Placement P, typename Factory, typename T>
std::unique_ptr<Compute<T, P>> makeSubPlan(const Factory& factory, std::size_t rank, const Dim* dims, const Dim& batch,
                                          const PlanKey* key, const std::shared_ptr<T>& tuning)
{
    return makeSubPlan<P>(factory, rank, dims, &batch, key, tuning);
}

// The maker of one family of sub-plans that differ only in their batch count:
// `maker(count)` asks `factory` for `count` items of (rank, dims), `spacing`
// apart (in place the batch's second stride is 0). Everything
// it refers to must outlive the calls, which happen while the strategy is made.
template <Placement P, typename Factory, typename T>
auto planMaker(const Factory& factory, std::size_t rank, const Dim* dims, ItemSpacing spacing, const PlanKey* key,
               const std::shared_ptr<T>& tuning)
{
    return [&factory, rank, dims, spacing, key, &tuning](std::int64_t count) {
        const Dim batch{count, spacing.in, P == Placement::Inplace ? 0 : spacing.out};
        return makeSubPlan<P>(factory, rank, dims, batch, key, tuning);
    };
}

// Column plans: `column` is the axis {length, stride, stride'} the plans run
// along, applied to adjacent complex columns (two reals apart). Over a null
// planner (see columnPlanner) every request is declined.
template <Placement P, typename T>
auto columnMaker(const ComplexFactory<T>* factory, const Dim& column, const PlanKey* key,
                 const std::shared_ptr<T>& tuning)
{
    return [factory, column, key, &tuning](std::int64_t count) -> std::unique_ptr<Compute<T, P>> {
        if (!factory) return nullptr;
        const Dim batch{count, 2, P == Placement::Inplace ? 0 : 2};
        return makeSubPlan<P>(*factory, columnRank, &column, batch, key, tuning);
    };
}

}  // namespace zun::fft::omp
