// What the plane strategy tests share: machine figures that send small
// rank-3 requests to the plane strategies, and a check of the sub-requests a
// strategy makes (plane requests have two axes, column requests one).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "factory/decisions.h"
#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/layout.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {

// A 1 KiB L1 and a 64 KiB L2: the rank-3 requests of the plane tests are too
// large for one thread, and their planes fit in half the L2 in every precision.
inline Machine planeMachine(int threads) { return Machine{threads, 1, 1, 64}; }

// What the factory's decision makes of a request on `machine`.
template <typename T, omp::Kind K>
omp::Strategy planeStrategy(Placement placement, const support::Request& request, const Machine& machine)
{
    const auto factory = [&] {
        if constexpr (K == omp::Kind::Complex) return complexParallel<T>(machine);
        else return realParallel<T>(machine);
    }();
    return omp::classify(K, placement, request.rank, request.dims.data(), &request.batch,
                         omp::figuresOf(factory->context()))
        .strategy;
}

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

// Refusing any one of the sub-plans a request makes declines the whole
// request, in both placements, frees every plan already made and asks for
// nothing more.
template <typename T, typename In, typename Out>
void expectEveryRefusalDeclines(const Recorded<T, In, Out>& recorded, const std::vector<support::Request>& requests)
{
    auto& recorder = *recorded.recorder;
    for (const support::Request& request : requests) {
        for (Placement placement : {Placement::Inplace, Placement::Ooplace}) {
            SCOPED_TRACE(support::describe(request) + ", " + support::name(placement));
            auto planComesBack = [&] {
                if (placement == Placement::Inplace)
                    return support::makePlan<Placement::Inplace>(*recorded.parallel, request) != nullptr;
                return support::makePlan<Placement::Ooplace>(*recorded.parallel, request) != nullptr;
            };
            recorder.declineNothing();
            recorder.clear();
            ASSERT_TRUE(planComesBack());
            const std::int64_t makes = support::makeCallCount(recorder.calls());
            ASSERT_GE(makes, 3);
            for (std::int64_t k = 0; k < makes; ++k) {
                recorder.clear();
                recorder.declineMake(k);
                EXPECT_FALSE(planComesBack()) << "make call " << k << " refused";
                EXPECT_EQ(recorder.livePlans(), 0) << "make call " << k << " refused";
                support::expectNothingAskedAfter(recorder.calls(), k);
            }
        }
    }
    recorder.declineNothing();
}

}  // namespace zun::fft::testing
