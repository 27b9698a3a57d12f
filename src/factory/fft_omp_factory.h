// The parallel factory: wraps a serial planner factory of the core library and
// answers make requests with the wrapped factory's plans or with strategies
// that run them on OpenMP threads.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>

#include "parallel/context.h"
#include "parallel/regions.h"

namespace zun::fft::omp {

template <typename F>
class FftOmpFactory final : public F {
public:
    using Real = typename F::Real;
    using Planner = PlannerFactory<Real, typename F::Input, typename F::Output>;
    static constexpr Kind kind = F::isRealToComplex ? Kind::Real : Kind::Complex;

    explicit FftOmpFactory(int threads) : threads_(threads) {}

    // Takes ownership only once the factory itself exists, so a failed
    // allocation leaves the caller's factory with the caller.
    void adopt(std::unique_ptr<Planner> inner) { inner_ = std::move(inner); }

    // Packages and cache sizes, read once, in this order, detecting only what
    // is not configured.
    void readMachine(const zun::Configuration& configuration);

    ~FftOmpFactory() override { inner_.reset(); }

    std::int64_t queryInplace(std::size_t rank, const Dim* dims, bool unitStride) const override
    {
        return inner_->queryInplace(rank, dims, unitStride);
    }
    std::unique_ptr<InplaceCompute<Real>> makeInplace(std::size_t rank, const Dim* dims, const Dim* batch,
                                                      bool lockFlag, const PlanKey* key,
                                                      const std::shared_ptr<Real>& tuning) const override;
    std::int64_t queryOoplace(std::size_t rank, const Dim* dims, bool unitStride) const override
    {
        return inner_->queryOoplace(rank, dims, unitStride);
    }
    std::unique_ptr<OoplaceCompute<Real>> makeOoplace(std::size_t rank, const Dim* dims, const Dim* batch,
                                                      bool lockFlag, const PlanKey* key,
                                                      const std::shared_ptr<Real>& tuning) const override;
    std::int64_t auxiliaryA(std::int64_t value) const override { return inner_->auxiliaryA(value); }
    std::int64_t auxiliaryB(std::int64_t value) const override { return inner_->auxiliaryB(value); }
    int threadCount() const override { return threads_; }
    std::string toString() const override { return "FftOmpFactory(" + inner_->toString() + ")"; }

    const Planner& inner() const { return *inner_; }
    int threads() const { return threads_; }
    int packages() const { return packages_; }
    std::uint32_t cacheL1() const { return cacheL1_; }
    std::uint32_t cacheL2() const { return cacheL2_; }
    std::uint32_t cacheL3() const { return cacheL3_; }

    // What strategies are built from; the runtime's active levels are read here,
    // once per make request.
    StrategyContext<Real, kind> context() const
    {
        return {
            *inner_, *this, threads_, packages_, maxActiveLevels(), cacheBudgets<Real>({cacheL1_, cacheL2_, cacheL3_})};
    }

private:
    template <Placement P>
    std::unique_ptr<Compute<Real, P>> make(std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag,
                                           const PlanKey* key, const std::shared_ptr<Real>& tuning) const;

    std::unique_ptr<Planner> inner_;
    int threads_;
    int packages_ = 1;
    std::uint32_t cacheL1_ = 0;
    std::uint32_t cacheL2_ = 0;
    std::uint32_t cacheL3_ = 0;
};

}  // namespace zun::fft::omp
