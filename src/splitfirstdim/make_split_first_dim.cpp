#include "splitfirstdim/make_split_first_dim.h"

#include "parallel/instantiate.h"
#include "splitfirstdim/omp_cc_packed_split_first_dim.h"
#include "splitfirstdim/omp_cc_strided_split_first_dim.h"
#include "splitfirstdim/omp_inplace_rc_packed_split_first_dim.h"
#include "splitfirstdim/omp_inplace_rc_strided_split_first_dim.h"
#include "splitfirstdim/omp_ooplace_rc_strided_split_first_dim.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makeSplitFirstDim(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                                 bool packed)
{
    const auto& [rank, dims, batch, key, tuning] = request;
    if constexpr (K == Kind::Complex) {
        if (packed) return makeComplete<OmpCCPackedSplitFirstDim<T, P>>(context, rank, dims, batch, key, tuning);
        return makeComplete<OmpCCStridedSplitFirstDim<T, P>>(context, rank, dims, batch, key, tuning);
    } else if constexpr (P == Placement::Inplace) {
        if (packed) return makeComplete<OmpInplaceRCPackedSplitFirstDim<T>>(context, rank, dims, batch, key, tuning);
        return makeComplete<OmpInplaceRCStridedSplitFirstDim<T>>(context, rank, dims, batch, key, tuning);
    } else {
        // One class for every out-of-place real request: its backward pass
        // works line by line whatever the strides.
        return makeComplete<OmpOoplaceRCStridedSplitFirstDim<T>>(context, rank, dims, batch, key, tuning);
    }
}

#define ZUN_INSTANTIATE_SPLIT_FIRST_DIM(T, K, P)                                                          \
    template std::unique_ptr<Compute<T, P>> makeSplitFirstDim<T, K, P>(const StrategyContext<T, K>&,    \
                                                                       const PlanRequest<T>&, bool);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_SPLIT_FIRST_DIM)

}  // namespace zun::fft::omp
