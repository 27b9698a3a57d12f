#include "planeteams/make_plane_teams.h"

#include "parallel/instantiate.h"
#include "planeteams/omp_cc_plane_teams.h"
#include "planeteams/omp_inplace_rc_plane_teams.h"
#include "planeteams/omp_ooplace_rc_plane_teams.h"

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
    } else if constexpr (P == Placement::Inplace) {
        if (packedRows)
            return makeComplete<OmpInplaceRCPackedPlaneTeams<T>>(context, request.dims, *request.batch, request.key,
                                                                 request.tuning);
        return makeComplete<OmpInplaceRCStridedPlaneTeams<T>>(context, request.dims, *request.batch, request.key,
                                                              request.tuning);
    } else {
        // Real and complex rows differ in length out of place, so one class
        // serves every layout.
        return makeComplete<OmpOoplaceRCStridedPlaneTeams<T>>(context, request.dims, *request.batch, request.key,
                                                              request.tuning);
    }
}

#define ZUN_INSTANTIATE_PLANE_TEAMS(T, K, P)                                                          \
    template std::unique_ptr<Compute<T, P>> makePlaneTeams<T, K, P>(const StrategyContext<T, K>&,    \
                                                                    const PlanRequest<T>&, bool);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_PLANE_TEAMS)

}  // namespace zun::fft::omp
