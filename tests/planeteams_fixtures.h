// What the plane-team tests share: machines that force plane teams with small
// sizes, and for the recorded tests a key with records of different lengths,
// the tuning entries it names, and a fixture that builds a strategy on a
// recording planner with one outer thread of four.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {

// Tiny L1 and L2 figures send the rank-3 requests of the tests to plane-team
// strategies. With two active levels, the first machine runs two outer
// threads (one per package, no plane fits in its L3) of two, the second six
// outer threads of one, more than most requests have planes.
inline const Machine twoPackages{4, 2, 1, 1, 1};
inline const Machine manyPlanesInL3{6, 1, 1, 1, 64};

// Records 1 and 2 start at words 3 and 5 (not 2 and 4: the first record is
// longer) and name tuning entries 2 and 3.
inline const std::vector<PlanKey> unevenKey{0x102, 7, 9, 0x101, 2, 0x101, 3};
inline constexpr std::ptrdiff_t rowRecord = 5;
inline constexpr std::ptrdiff_t columnRecord = 3;
inline constexpr std::ptrdiff_t callersPointer = 0;
inline constexpr std::ptrdiff_t columnEntry = 3;    // named by the row record
inline constexpr std::ptrdiff_t firstDimEntry = 2;  // named by the column record

// The make requests and the companion's fetch, in order.
inline std::vector<support::FactoryCall> requestsOf(const support::Recorder<float>& recorder)
{
    std::vector<support::FactoryCall> requests;
    for (const support::FactoryCall& call : recorder.calls())
        if (call.op.rfind("make", 0) == 0 || call.op == "complexFactory") requests.push_back(call);
    return requests;
}

template <typename Recorded>
class PlaneTeamsRecordedFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder->registerKey(unevenKey.data());
        recorder->registerTuning(tuning.get());
    }

    // The strategy made directly, with one active level: one outer thread.
    template <typename Strategy>
    std::unique_ptr<Strategy> make(const Dim* dims, const Dim& batch, const std::shared_ptr<float>& callersTuning)
    {
        recorder->clear();
        return std::make_unique<Strategy>(contextAtLevels(*recorded.parallel, 1), dims, batch, unevenKey.data(),
                                          callersTuning);
    }

    // Declines each make call in turn, of the planner or of its companion: the
    // strategy is left incomplete, frees what it made and asks for nothing
    // more. The calls are counted on an undeclined make, so the last one is
    // declined too.
    template <typename Strategy>
    void declineEachMakeOf(const Dim* dims, const Dim& batch)
    {
        SCOPED_TRACE(make<Strategy>(dims, batch, tuning)->toString());
        const std::int64_t makes = support::makeCallCount(recorder->calls());
        ASSERT_GE(makes, 5);
        for (std::int64_t declined = 0; declined < makes; ++declined) {
            recorder->declineMake(declined);
            EXPECT_FALSE(make<Strategy>(dims, batch, tuning)->complete()) << "make call " << declined << " declined";
            EXPECT_EQ(recorder->livePlans(), 0) << "make call " << declined << " declined";
            support::expectNothingAskedAfter(recorder->calls(), declined);
        }
        recorder->declineNothing();
    }

    // Both entries asked for (one when N0 = N1) and, in tuning mode, written.
    void expectTuningIndices(const char* op, std::size_t count)
    {
        const auto indices = recorder->calls(op);
        ASSERT_EQ(indices.size(), count);
        EXPECT_EQ(indices[0].rank, 1u);
        EXPECT_EQ(indices[0].keyOffset, rowRecord);
        if (count == 2) {
            EXPECT_EQ(indices[1].rank, 2u);
            EXPECT_EQ(indices[1].keyOffset, columnRecord);
        }
        EXPECT_EQ(tuning.get()[columnEntry], -1.0f);
        EXPECT_EQ(tuning.get()[firstDimEntry], count == 2 ? -1.0f : 0.0f);
    }

    Recorded recorded{Machine{4, 1, 1, 1, 1}};
    const std::shared_ptr<support::Recorder<float>>& recorder = recorded.recorder;
    const std::shared_ptr<float> tuning{new float[4]{-1, 0, 0, 0}, std::default_delete<float[]>()};
};

}  // namespace zun::fft::testing
