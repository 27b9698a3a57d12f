#include "planeteams/make_plane_teams.h"

#include "parallel/instantiate.h"
#include "parallel/subplans.h"
#include "planeteams/omp_cc_plane_teams.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makePlaneTeams(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                              bool packedRows)
{
    if constexpr (K == Kind::Complex) {
        if (packedRows)
            return makeComplete<OmpCCPlaneTeams<T, P, true>>(context, request.dims, *request.batch, request.key,
                                                             request.tuning);
        return makeComplete<OmpCCPlaneTeams<T, P, false>>(context, request.dims, *request.batch, request.key,
                                                          request.tuning);
    } else {
        // Real requests run serially until their strategies exist.
        return makeSubPlan<P>(context.inner, request.rank, request.dims, *request.batch, request.key, request.tuning);
    }
}

#define ZUN_INSTANTIATE_PLANE_TEAMS(T, K, P)                                                          \
    template std::unique_ptr<Compute<T, P>> makePlaneTeams<T, K, P>(const StrategyContext<T, K>&,    \
                                                                    const PlanRequest<T>&, bool);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_PLANE_TEAMS)

}  // namespace zun::fft::omp
