#include "planes/make_planes.h"

#include "parallel/instantiate.h"
#include "planes/omp_packed_planes.h"
#include "planes/omp_strided_planes.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makePlanes(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                          bool packed)
{
    if (packed)
        return makeComplete<OmpPackedPlanes<T, K, P>>(context, request.dims, request.batch, request.key, request.tuning);
    return makeComplete<OmpStridedPlanes<T, K, P>>(context, request.dims, request.batch, request.key, request.tuning);
}

#define ZUN_INSTANTIATE_PLANES(T, K, P)                                                                             \
    template std::unique_ptr<Compute<T, P>> makePlanes<T, K, P>(const StrategyContext<T, K>&, const PlanRequest<T>&, \
                                                                bool);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_PLANES)

}  // namespace zun::fft::omp
