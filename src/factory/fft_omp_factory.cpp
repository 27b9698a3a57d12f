// The make operations: classify the request, take the tuning lock when the
// caller asks for it, then build what the classification names.
#include "factory/fft_omp_factory.h"

#include "batch/batch.h"
#include "factory/decisions.h"
#include "parallel/subplans.h"
#include "planes/make_planes.h"
#include "planeteams/make_plane_teams.h"
#include "rowcolumn/make_row_column.h"
#include "splitfirstdim/make_split_first_dim.h"

namespace zun::fft::omp {
namespace {

// Every strategy of the classification has a case here and there is no
// default, so a strategy added to the classification without a builder does
// not compile.
template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> build(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                     const Decision& decision)
{
    // The wrapped factory's own answer to the whole request as it stands,
    // asked with lockFlag false.
    auto serial = [&] {
        return makeSubPlan<P>(context.inner, request.rank, request.dims, request.batch, request.key, request.tuning);
    };
    switch (decision.strategy) {
    case Strategy::PassThrough:
    case Strategy::Serial: return serial();
    case Strategy::Decline: return nullptr;
    case Strategy::PlainBatch: return makeBatch<T, K, P>(context, request, decision.grain, false);
    case Strategy::GroupedBatch: return makeBatch<T, K, P>(context, request, decision.grain, true);
    case Strategy::RowColumn:
        return makeRowColumn<T, K, P>(context, request, static_cast<std::uint64_t>(decision.transformReals));
    case Strategy::PackedPlanes: return makePlanes<T, K, P>(context, request, true);
    case Strategy::StridedPlanes: return makePlanes<T, K, P>(context, request, false);
    case Strategy::PackedPlaneTeams: return makePlaneTeams<T, K, P>(context, request, true);
    case Strategy::StridedPlaneTeams: return makePlaneTeams<T, K, P>(context, request, false);
    case Strategy::PackedSplitFirstDim: return makeSplitFirstDim<T, K, P>(context, request, true);
    case Strategy::StridedSplitFirstDim: return makeSplitFirstDim<T, K, P>(context, request, false);
    }
    return nullptr;
}

}  // namespace

template <typename F>
template <Placement P>
std::unique_ptr<Compute<typename F::Real, P>> FftOmpFactory<F>::make(std::size_t rank, const Dim* dims,
                                                                     const Dim* batch, bool lockFlag,
                                                                     const PlanKey* key,
                                                                     const std::shared_ptr<Real>& tuning) const
{
    const StrategyContext<Real, kind> strategyContext = context();
    // Only strategies read the key: without one, the request is the wrapped
    // factory's as it stands, like one with a missing dims or batch record.
    const Decision decision =
        key ? classify(kind, P, rank, dims, batch, figuresOf(strategyContext)) : Decision{Strategy::PassThrough};
    const PlanRequest<Real> request{rank, dims, batch, key, tuning};
    // Pass-through requests and declined ones take no lock.
    if (decision.strategy == Strategy::PassThrough || decision.strategy == Strategy::Decline)
        return build<Real, kind, P>(strategyContext, request, decision);
    const TuningLock lock = takeTuningLock(*inner_, lockFlag, rank, dims, decision.unitStride, tuning);
    return build<Real, kind, P>(strategyContext, request, decision);
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
