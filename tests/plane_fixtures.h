// What the plane strategy tests share: machine figures that send small
// rank-3 requests to the plane strategies, and a check of the sub-requests a
// strategy makes (plane requests have two axes, column requests one).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {

// A 1 KiB L1 and a 64 KiB L2: the rank-3 requests of the plane tests are too
// large for one thread, and their planes fit in half the L2 in every precision.
inline Machine planeMachine(int threads) { return Machine{threads, 1, 1, 64}; }

struct Asked {
    const char* op;
    std::vector<Dim> dims;  // one record: a column plan
    Dim batch;
    std::ptrdiff_t keyOffset;
    std::ptrdiff_t tuningIndex = support::none;
    bool companion = false;  // asked of the companion complex factory
};

inline void expectAsked(const std::vector<support::FactoryCall>& calls, const std::vector<Asked>& expected)
{
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i) + ": " + expected[i].op);
        const support::FactoryCall& call = calls[i];
        const Asked& want = expected[i];
        EXPECT_EQ(call.op, want.op);
        EXPECT_FALSE(call.lockFlag);
        EXPECT_EQ(call.companion, want.companion);
        ASSERT_EQ(call.dims.size(), want.dims.size());
        for (std::size_t k = 0; k < call.dims.size(); ++k)
            EXPECT_EQ(support::text(call.dims[k]), support::text(want.dims[k]));
        if (call.op.rfind("tuningIndex", 0) == 0) {
            EXPECT_EQ(call.rank, want.dims.size());
        } else if (call.op.rfind("make", 0) == 0) {
            EXPECT_EQ(call.column, want.dims.size() == 1);
            EXPECT_EQ(support::text(*call.batch), support::text(want.batch));
        }
        EXPECT_EQ(call.keyOffset.value_or(support::none), want.keyOffset);
        EXPECT_EQ(call.tuningIndex.value_or(support::none), want.tuningIndex);
    }
}

}  // namespace zun::fft::testing
