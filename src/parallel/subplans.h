// Sub-requests of a strategy under construction. A strategy needs every plan
// it asks for (optional plans are only asked for when they will run): when the
// wrapped factory declines one, the strategy is incomplete and the request
// that built it declines as a whole.
#pragma once

#include <zun/core.h>

#include <memory>

namespace zun::fft::omp {

class SubPlans {
public:
    template <typename Plan>
    std::unique_ptr<Plan> require(std::unique_ptr<Plan> plan)
    {
        if (!plan) complete_ = false;
        return plan;
    }

    bool complete() const { return complete_; }

private:
    bool complete_ = true;
};

// A sub-request of the same placement as the strategy that makes it.
template <Placement P, typename Factory, typename T>
std::unique_ptr<Compute<T, P>> makeSubPlan(const Factory& factory, std::size_t rank, const Dim* dims, const Dim& batch,
                                          const PlanKey* key, const std::shared_ptr<T>& tuning)
{
    if constexpr (P == Placement::Inplace) return factory.makeInplace(rank, dims, &batch, false, key, tuning);
    else return factory.makeOoplace(rank, dims, &batch, false, key, tuning);
}

}  // namespace zun::fft::omp
