// Real rows: handed out to threads in pairs, with the odd last row on the
// last thread.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "parallel/partition.h"
#include "parallel/regions.h"
#include "parallel/subplans.h"

namespace zun::fft::omp {

// Real rows are handed out in pairs: a block plan for a thread's share at once,
// a pair plan, and, when the row count is odd, a plan for the last row, which
// the last thread runs after its share.
template <typename Plan>
struct RowPairPlans {
    std::unique_ptr<Plan> blockPlan;
    std::unique_ptr<Plan> pairPlan;
    std::unique_ptr<Plan> oddPlan;

    // Requested block, odd, pair: the odd plan only when it will run.
    template <typename Make>
    void request(std::int64_t rows, std::int64_t rowsPerBlock, SubPlans& subPlans, Make&& make)
    {
        blockPlan = subPlans.require(make(rowsPerBlock));
        if (rows % 2 != 0) oddPlan = subPlans.require(make(1));
        pairPlan = subPlans.require(make(2));
    }

    // Walks one thread's share of the rows; run(plan, firstRow).
    template <typename Run>
    void walk(const Share& share, std::int64_t rowsPerBlock, Run&& run) const
    {
        runShare(share, rowsPerBlock, 2, *blockPlan, *pairPlan, oddPlan.get(), std::forward<Run>(run));
    }
};

// Rows per block call: about one thread's share, in whole pairs, and never
// less than two pairs.
inline std::int64_t rowPairsPerBlockFor(std::int64_t rows, int innerThreads)
{
    const std::int64_t share = rows / innerThreads;
    return std::max<std::int64_t>(4, share - share % 2);
}

inline Share rowPairShare(std::int64_t rows, const Team& team) { return splitRange(rows, team.size, team.thread, 2); }

// Complex columns of a real row of n points: n/2 + 1.
inline std::int64_t halfColumns(std::int64_t n) { return (n >> 1) + 1; }

}  // namespace zun::fft::omp
