#include "planes/make_planes.h"

#include "parallel/instantiate.h"
#include "planes/omp_ooplace_rc_strided_planes.h"
#include "planes/omp_packed_planes.h"
#include "planes/omp_strided_planes.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makePlanes(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                          bool packed)
{
    const auto& [rank, dims, batch, key, tuning] = request;
    // Real out of place has one class whatever the layout.
    if constexpr (K == Kind::Real && P == Placement::Ooplace)
        return makeComplete<OmpOoplaceRCStridedPlanes<T>>(context, dims, batch, key, tuning);
    else if (packed) return makeComplete<OmpPackedPlanes<T, K, P>>(context, dims, batch, key, tuning);
    else return makeComplete<OmpStridedPlanes<T, K, P>>(context, dims, batch, key, tuning);
}

#define ZUN_INSTANTIATE_PLANES(T, K, P)                                                                             \
    template std::unique_ptr<Compute<T, P>> makePlanes<T, K, P>(const StrategyContext<T, K>&, const PlanRequest<T>&, \
                                                                bool);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_PLANES)

}  // namespace zun::fft::omp
