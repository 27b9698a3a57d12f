// Everything a strategy class is written with, and its base. See README.md in
// this directory for how a strategy class is put together.
#pragma once

#include <zun/core.h>

#include <cstddef>
#include <memory>
#include <utility>

#include "parallel/caches.h"
#include "parallel/calls.h"
#include "parallel/context.h"
#include "parallel/describe.h"
#include "parallel/partition.h"
#include "parallel/plan_set.h"
#include "parallel/records.h"
#include "parallel/regions.h"
#include "parallel/subplans.h"
#include "parallel/teams.h"
#include "parallel/work.h"

namespace zun::fft::omp {

// The base of every strategy: routes the four compute operations to
// Derived::run(call, arrays, work) and answers the work getters from the
// derived class's work layout, `work`. The derived class declares
// `friend Base;` so that the base may read its `work` and `subPlans`.
template <typename Derived, typename T, Placement P>
class Strategy : public RoutedCompute<Derived, T, P> {
public:
    std::size_t workSize() const override { return self().work.workSize(); }
    int threadCount() const override { return self().work.threadCount(); }
    std::size_t threadWorkSize() const override { return self().work.threadWorkSize(); }
    void reserveThreadWork(std::size_t n) override { mutableSelf().work.reserveThreadWork(n); }

    // Every required sub-plan came back.
    bool complete() const { return self().subPlans.complete(); }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    Derived& mutableSelf() { return static_cast<Derived&>(*this); }
};

// Returns the strategy when it got every plan it needs; otherwise the request
// declines as a whole and what was built is freed.
template <typename S, typename... Args>
auto makeComplete(Args&&... args)
{
    auto strategy = std::make_unique<S>(std::forward<Args>(args)...);
    using Plan = Compute<typename S::Real, S::placement>;
    return strategy->complete() ? std::unique_ptr<Plan>(std::move(strategy)) : std::unique_ptr<Plan>();
}

}  // namespace zun::fft::omp
