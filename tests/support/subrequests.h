// One matcher for the recorded-sequence tests: the calls a strategy made on a
// recording planner, in order, against a table of what each should have been.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "support/recording.h"

namespace zun::fft::support {

// No registered key or tuning array reached the call.
inline constexpr std::ptrdiff_t none = -1;

struct ExpectedRequest {
    std::string op;  // the operation; " column" follows it for column-plan requests
    bool companion;  // made on the complex companion of a real-to-complex planner
    Dim dim;         // the call's one axis
    Dim batch;       // a size of 0: the call has no batch
    std::ptrdiff_t keyOffset;
    std::ptrdiff_t tuningIndex = none;
};

inline std::string text(const Dim& dim)
{
    return "{" + std::to_string(dim.size) + ", " + std::to_string(dim.inStride) + ", " + std::to_string(dim.outStride) +
           "}";
}

inline std::string operationOf(const FactoryCall& call) { return call.column ? call.op + " column" : call.op; }

// Every call a sub-request: lockFlag false, one axis (the rank says whether it
// is a column plan), and the key record and tuning entry the table names.
inline void expectRequests(const std::vector<FactoryCall>& calls, const std::vector<ExpectedRequest>& expected)
{
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const FactoryCall& call = calls[i];
        const ExpectedRequest& want = expected[i];
        SCOPED_TRACE("call " + std::to_string(i) + ": " + want.op);
        EXPECT_EQ(operationOf(call), want.op);
        EXPECT_EQ(call.companion, want.companion);
        EXPECT_FALSE(call.lockFlag);
        if (call.op == "complexFactory") continue;
        EXPECT_EQ(call.rank, call.column ? columnRank : 1);
        ASSERT_EQ(call.dims.size(), 1u);
        EXPECT_EQ(text(call.dims[0]), text(want.dim));
        EXPECT_EQ(call.batch ? text(*call.batch) : "none", want.batch.size ? text(want.batch) : "none");
        EXPECT_EQ(call.keyOffset.value_or(none), want.keyOffset);
        EXPECT_EQ(call.tuningIndex.value_or(none), want.tuningIndex);
    }
}

// How many make calls were asked for, declined or not: the sub-requests a
// decline test refuses one by one.
inline std::int64_t makeCallCount(const std::vector<FactoryCall>& calls)
{
    return std::count_if(calls.begin(), calls.end(), [](const FactoryCall& call) { return call.makeIndex >= 0; });
}

// Once make call `declined` was refused, the request declines as a whole and
// asks for nothing more: no make call, no companion, no tuning entry follows.
inline void expectNothingAskedAfter(const std::vector<FactoryCall>& calls, std::int64_t declined)
{
    const auto refused =
        std::find_if(calls.begin(), calls.end(), [&](const FactoryCall& call) { return call.makeIndex == declined; });
    ASSERT_NE(refused, calls.end()) << "make call " << declined << " was never asked for";
    EXPECT_TRUE(refused->declined);
    for (auto call = std::next(refused); call != calls.end(); ++call)
        ADD_FAILURE() << "asked after make call " << declined << " was declined: " << operationOf(*call)
                      << (call->companion ? " (companion)" : "");
}

// With no caller tuning array, every plan made got an empty tuning pointer.
inline void expectNoTuningPassedOn(const std::vector<FactoryCall>& calls)
{
    for (const FactoryCall& call : calls) {
        if (call.makeIndex >= 0) {
            EXPECT_TRUE(call.tuningEmpty) << call.op << (call.companion ? " (companion)" : "");
        }
    }
}

}  // namespace zun::fft::support
