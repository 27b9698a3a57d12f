#include "batch/batch.h"

#include "batch/omp_batch.h"
#include "parallel/instantiate.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makeBatch(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                         std::int64_t grain, bool grouped)
{
    if (grouped)
        return makeComplete<OmpBatch<T, K, P, batchGroupSize<T, K>>>(context, request.rank, request.dims, request.batch,
                                                                     grain, request.key, request.tuning);
    return makeComplete<OmpBatch<T, K, P, 1>>(context, request.rank, request.dims, request.batch, grain, request.key,
                                              request.tuning);
}

#define ZUN_INSTANTIATE_BATCH(T, K, P)                                                                              \
    template std::unique_ptr<Compute<T, P>> makeBatch<T, K, P>(const StrategyContext<T, K>&, const PlanRequest<T>&, \
                                                               std::int64_t, bool);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_BATCH)

}  // namespace zun::fft::omp
