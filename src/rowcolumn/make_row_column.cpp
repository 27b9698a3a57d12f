#include "rowcolumn/make_row_column.h"

#include "parallel/instantiate.h"
#include "rowcolumn/omp_inplace_row_column.h"
#include "rowcolumn/omp_ooplace_cc_row_column.h"
#include "rowcolumn/omp_ooplace_rc_row_column.h"

namespace zun::fft::omp {

template <typename T, Kind K, Placement P>
std::unique_ptr<Compute<T, P>> makeRowColumn(const StrategyContext<T, K>& context, const PlanRequest<T>& request,
                                             std::uint64_t transformReals)
{
    const Dim* dims = request.dims;
    const Dim* batch = request.batch;
    const PlanKey* key = request.key;
    const std::shared_ptr<T>& tuning = request.tuning;
    if constexpr (K == Kind::Complex && P == Placement::Inplace)
        return makeComplete<OmpInplaceCCRowColumn<T>>(context, dims, batch->size, batch->inStride, transformReals, key,
                                                      tuning);
    else if constexpr (K == Kind::Complex)
        return makeComplete<OmpOoplaceCCRowColumn<T>>(context, dims, batch, transformReals, key, tuning);
    else if constexpr (P == Placement::Inplace)
        return makeComplete<OmpInplaceRCRowColumn<T>>(context, dims, batch, transformReals, key, tuning);
    else return makeComplete<OmpOoplaceRCRowColumn<T>>(context, dims, batch, transformReals, key, tuning);
}

#define ZUN_INSTANTIATE_ROW_COLUMN(T, K, P)                                                      \
    template std::unique_ptr<Compute<T, P>> makeRowColumn<T, K, P>(const StrategyContext<T, K>&, \
                                                                   const PlanRequest<T>&, std::uint64_t);
ZUN_FOR_EACH_TYPE_AND_PLACEMENT(ZUN_INSTANTIATE_ROW_COLUMN)

}  // namespace zun::fft::omp
