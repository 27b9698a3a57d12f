// The make operations: classify the request, take the tuning lock when the
// caller asks for it, then build what the classification names.
#include "factory/fft_omp_factory.h"

#include "batch/omp_batch.h"
#include "factory/decisions.h"
#include "rowcolumn/omp_inplace_cc_row_column.h"
#include "rowcolumn/omp_inplace_rc_row_column.h"
#include "rowcolumn/omp_ooplace_cc_row_column.h"
#include "rowcolumn/omp_ooplace_rc_row_column.h"

namespace zun::fft::omp {
namespace {

// A strategy that did not get every plan it needs is not returned: the request
// declines as a whole and what was built is freed.
template <typename T, Placement P, typename Strategy>
std::unique_ptr<Compute<T, P>> completeOrEmpty(std::unique_ptr<Strategy> strategy)
{
    if (!strategy->complete()) return nullptr;
    return strategy;
}

template <typename T, Kind K, Placement P>
struct Builder {
    using Factory = FftOmpFactory<FactoryOf<T, K>>;
    using Result = std::unique_ptr<Compute<T, P>>;

    const Factory& factory;
    std::size_t rank;
    const Dim* dims;
    const Dim* batch;
    const PlanKey* key;
    const std::shared_ptr<T>& tuning;

    // The wrapped factory's own plan for the whole request, asked with lockFlag false.
    Result serial() const { return makeSubPlan<P>(factory.inner(), rank, dims, *batch, key, tuning); }

    template <std::int64_t GroupSize>
    Result batchOf(std::int64_t grain) const
    {
        return completeOrEmpty<T, P>(
            std::make_unique<OmpBatch<T, K, P, GroupSize>>(factory, rank, dims, batch, grain, key, tuning));
    }

    Result rowColumn(std::uint64_t transformReals) const
    {
        if constexpr (K == Kind::Complex && P == Placement::Inplace)
            return completeOrEmpty<T, P>(std::make_unique<OmpInplaceCCRowColumn<T>>(
                factory, dims, batch->size, batch->inStride, transformReals, key, tuning));
        else if constexpr (K == Kind::Complex)
            return completeOrEmpty<T, P>(
                std::make_unique<OmpOoplaceCCRowColumn<T>>(factory, dims, batch, transformReals, key, tuning));
        else if constexpr (P == Placement::Inplace)
            return completeOrEmpty<T, P>(
                std::make_unique<OmpInplaceRCRowColumn<T>>(factory, dims, batch, transformReals, key, tuning));
        else
            return completeOrEmpty<T, P>(
                std::make_unique<OmpOoplaceRCRowColumn<T>>(factory, dims, batch, transformReals, key, tuning));
    }

    Result build(const Decision& decision) const
    {
        switch (decision.strategy) {
        case Strategy::PlainBatch: return batchOf<1>(decision.grain);
        case Strategy::GroupedBatch: return batchOf<batchGroupSize<T, K>>(decision.grain);
        case Strategy::RowColumn: return rowColumn(static_cast<std::uint64_t>(decision.transformReals));
        // Small requests; and rank-3 and higher ones until their strategies exist.
        default: return serial();
        }
    }
};

}  // namespace

template <typename F>
template <Placement P>
std::unique_ptr<Compute<typename F::Real, P>> FftOmpFactory<F>::make(std::size_t rank, const Dim* dims,
                                                                     const Dim* batch, bool lockFlag,
                                                                     const PlanKey* key,
                                                                     const std::shared_ptr<Real>& tuning) const
{
    const Decision decision = classify(kind, P, rank, dims, batch, figuresOf(*this));
    if (decision.strategy == Strategy::PassThrough)
        return makeSubPlan<P>(*inner_, rank, dims, *batch, key, tuning);
    if (decision.strategy == Strategy::Decline) return nullptr;
    const TuningLock lock = takeTuningLock(*inner_, lockFlag, rank, dims, decision.unitStride, tuning);
    return Builder<Real, kind, P>{*this, rank, dims, batch, key, tuning}.build(decision);
}

template <typename F>
std::unique_ptr<InplaceCompute<typename F::Real>> FftOmpFactory<F>::makeInplace(
    std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag, const PlanKey* key,
    const std::shared_ptr<Real>& tuning) const
{
    return make<Placement::Inplace>(rank, dims, batch, lockFlag, key, tuning);
}

template <typename F>
std::unique_ptr<OoplaceCompute<typename F::Real>> FftOmpFactory<F>::makeOoplace(
    std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag, const PlanKey* key,
    const std::shared_ptr<Real>& tuning) const
{
    return make<Placement::Ooplace>(rank, dims, batch, lockFlag, key, tuning);
}

template class FftOmpFactory<ComplexFactory<float>>;
template class FftOmpFactory<RealFactory<float>>;
template class FftOmpFactory<ComplexFactory<double>>;
template class FftOmpFactory<RealFactory<double>>;
template class FftOmpFactory<ComplexFactory<_Float16>>;
template class FftOmpFactory<RealFactory<_Float16>>;

}  // namespace zun::fft::omp
