// Which object serves a make request: a pure function of the request and the
// factory's figures, kept apart from construction so it can be read and
// checked on its own.
#pragma once

#include <zun/core.h>

#include <cstdint>

#include "parallel/caches.h"
#include "parallel/context.h"
#include "parallel/records.h"

namespace zun::fft::omp {

enum class Strategy {
    PassThrough,  // the wrapped factory answers the request as it stands
    Decline,      // an empty plan
    Serial,       // the wrapped factory's plan: small enough for one thread
    PlainBatch,
    GroupedBatch,
    RowColumn,
    PackedPlanes,
    StridedPlanes,
    PackedPlaneTeams,
    StridedPlaneTeams,
    PackedSplitFirstDim,
    StridedSplitFirstDim,
};

const char* strategyName(Strategy strategy);

struct Decision {
    Strategy strategy = Strategy::Decline;
    std::int64_t grain = 0;           // transforms per thread from which a batch sizes its team
    std::int64_t transformReals = 0;  // reals of one transform
    bool unitStride = true;           // the innermost axis is contiguous
};

// The factory's figures: its cache budgets in reals of its type, its threads,
// and the bytes of one real of its type.
struct Figures : CacheBudgets {
    std::int64_t threads;
    std::int64_t realBytes;
};

template <typename T, Kind K>
Figures figuresOf(const StrategyContext<T, K>& context)
{
    return {context.caches, context.threads, static_cast<std::int64_t>(sizeof(T))};
}

Decision classify(Kind kind, Placement placement, std::size_t rank, const Dim* dims, const Dim* batch,
                  const Figures& figures);

}  // namespace zun::fft::omp
