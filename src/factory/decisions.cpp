#include "factory/decisions.h"

#include "parallel/partition.h"

namespace zun::fft::omp {
namespace {

struct Request {
    Kind kind;
    Placement placement;
    std::size_t rank;
    const Dim* dims;
    std::int64_t count;  // 0 counts as one
};

// Complex data: every layout the request has must hold the innermost axis
// contiguously. Real data: unit real stride in, unit complex stride out; the
// real kind has no strided batch, so this holds at every rank.
bool innermostContiguous(const Request& request)
{
    const Dim& innermost = request.dims[request.rank - 1];
    const bool ooplace = request.placement == Placement::Ooplace;
    if (request.kind == Kind::Complex)
        return isUnitStride(innermost.inStride, 2) && (!ooplace || isUnitStride(innermost.outStride, 2));
    return static_cast<std::uint64_t>(innermost.inStride) <= 1 && (!ooplace || isUnitStride(innermost.outStride, 2));
}

// Reals of one transform; 0 when an axis is empty or negative or the product
// does not fit, which the procedure declines.
std::int64_t transformReals(const Request& request)
{
    std::int64_t reals = request.kind == Kind::Complex ? 2 : 1;
    for (std::size_t k = 0; k < request.rank; ++k) {
        if (request.dims[k].size <= 0 || __builtin_mul_overflow(reals, request.dims[k].size, &reals)) return 0;
    }
    return reals;
}

// A grain slightly above the L1 figure that divides the unit count evenly
// gives every thread the same number of whole blocks. A candidate above the
// unit count cannot divide it, so the search starts no higher.
std::int64_t evenGrain(std::int64_t grain, std::int64_t units)
{
    for (std::int64_t candidate = std::min(grain + grain / 4, units); candidate > grain; --candidate) {
        if (units % candidate == 0) return candidate;
    }
    return grain;
}

std::int64_t complexGrain(const Request& request, bool contiguous, std::int64_t reals, const Figures& figures)
{
    const std::int64_t group = contiguous ? 1 : figures.lineColumns;
    std::int64_t grain = figures.l1Reals / group / reals;
    if (grain == 0) grain = 1;
    if (request.count >= 2) {
        const std::int64_t units = contiguous ? request.count : ceilDiv(request.count, group);
        grain = evenGrain(grain, units);
    }
    return grain * group;
}

std::int64_t realGrain(const Request& request, std::int64_t reals, const Figures& figures)
{
    std::int64_t grain = figures.l1Reals / reals;
    if (grain == 0) grain = 1;
    if (request.count >= 2) grain = evenGrain(grain, request.count);
    // Odd-length real batches go in pairs: keep the grain even.
    if (request.rank == 1 && request.dims[0].size % 2 != 0 && grain % 2 != 0) grain = grain == 1 ? 2 : grain - 1;
    return grain;
}

Strategy strategyByRank(const Request& request, const Figures& figures)
{
    const Dim* dims = request.dims;
    if (request.rank == 2) return Strategy::RowColumn;
    const bool real = request.kind == Kind::Real;
    const bool ooplace = request.placement == Placement::Ooplace;
    if (request.rank == 3) {
        const std::int64_t plane = (real ? 1 : 2) * dims[1].size * dims[2].size;
        const bool small = plane <= figures.halfL2Reals;
        const bool packed = !(real && ooplace) &&
                            isPackedStride(dims[1], packedRowReals(request.kind, dims[2].size), request.placement);
        if (small) return packed ? Strategy::PackedPlanes : Strategy::StridedPlanes;
        return packed ? Strategy::PackedPlaneTeams : Strategy::StridedPlaneTeams;
    }
    const bool dense = !(real && ooplace) && middleAxesDense(request.kind, request.placement, request.rank, dims);
    return dense ? Strategy::PackedSplitFirstDim : Strategy::StridedSplitFirstDim;
}

Strategy batchKind(const Request& request, bool contiguous, const Figures& figures)
{
    if (request.rank != 1) return Strategy::PlainBatch;
    if (request.kind == Kind::Complex) return contiguous ? Strategy::PlainBatch : Strategy::GroupedBatch;
    const std::int64_t n = request.dims[0].size;
    return n % 2 != 0 || n <= figures.lineReals ? Strategy::GroupedBatch : Strategy::PlainBatch;
}

}  // namespace

const char* strategyName(Strategy strategy)
{
    switch (strategy) {
    case Strategy::PassThrough: return "PassThrough";
    case Strategy::Decline: return "Decline";
    case Strategy::Serial: return "Serial";
    case Strategy::PlainBatch: return "PlainBatch";
    case Strategy::GroupedBatch: return "GroupedBatch";
    case Strategy::RowColumn: return "RowColumn";
    case Strategy::PackedPlanes: return "PackedPlanes";
    case Strategy::StridedPlanes: return "StridedPlanes";
    case Strategy::PackedPlaneTeams: return "PackedPlaneTeams";
    case Strategy::StridedPlaneTeams: return "StridedPlaneTeams";
    case Strategy::PackedSplitFirstDim: return "PackedSplitFirstDim";
    case Strategy::StridedSplitFirstDim: return "StridedSplitFirstDim";
    }
    return "?";
}

Decision classify(Kind kind, Placement placement, std::size_t rank, const Dim* dims, const Dim* batch,
                  const Figures& figures)
{
    // Rank 0, negative counts and column requests are the wrapped factory's;
    // so is a request with a missing record, which this factory never reads
    // through.
    if (!dims || !batch) return {Strategy::PassThrough};
    if (rank == 0 || rank == columnRank || batch->size < 0) return {Strategy::PassThrough};
    const Request request{kind, placement, rank, dims, batch->size};
    const std::int64_t count = transformCount(batch->size);

    const bool contiguous = innermostContiguous(request);
    Decision decision{Strategy::Decline, 0, 0, kind == Kind::Real || contiguous};
    if (rank >= 2 && (dims[rank - 1].size <= 1 || !contiguous)) return decision;
    if (kind == Kind::Real && !contiguous) return decision;

    const std::int64_t reals = transformReals(request);
    std::int64_t total = 0;
    if (reals == 0 || __builtin_mul_overflow(reals, count, &total)) return decision;
    if (!layoutsFit(kind, placement, rank, dims, *batch, count, figures.realBytes)) return decision;
    decision.transformReals = reals;
    decision.grain = kind == Kind::Complex ? complexGrain(request, contiguous, reals, figures)
                                           : realGrain(request, reals, figures);

    if (total < figures.l1Reals) decision.strategy = Strategy::Serial;
    else if (reals < figures.l1Reals || (reals <= figures.halfL2Reals && count >= figures.threads) || rank == 1)
        decision.strategy = batchKind(request, contiguous, figures);
    else if (reals <= figures.halfL2Reals && dims[0].size <= count) decision.strategy = Strategy::PlainBatch;
    else decision.strategy = strategyByRank(request, figures);
    return decision;
}

}  // namespace zun::fft::omp
