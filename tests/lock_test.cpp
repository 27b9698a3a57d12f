#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>
#include <thread>

#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {
namespace {

using support::Request;

std::shared_ptr<float> tuningStartingWith(float first)
{
    // Room for the entries that the keys of every rank below name.
    return std::shared_ptr<float>(new float[8]{first, 0, 0, 0, 0, 0, 0, 0}, std::default_delete<float[]>());
}

const Machine smallCaches{4, 1, 1, 1, 1};

struct LockCase {
    const char* name;
    Request request;
    bool locks;
    bool unitStride;
};

// Serial, batch, grouped batch, row/column; pass-through and declined requests.
const LockCase complexCases[] = {
    {"serial", {1, {{16, 0, 0}}, {2, 0, 0}}, true, true},
    {"batch", {1, {{64, 0, 0}}, {40, 0, 0}}, true, true},
    {"grouped batch", {1, {{64, 6, 0}}, {40, 0, 0}}, true, false},
    {"row/column", {2, {{16, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, true, true},
    {"rank 3 (serial for now)", {3, {{4, 0, 0}, {8, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, true, true},
    {"rank 4: split over a batch", {4, {{4, 0, 0}, {2, 0, 0}, {2, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, true, true},
    {"rank 5: a split inside a split", {5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, true,
     true},
    {"pass-through", {1, {{64, 0, 0}}, {-1, 0, 0}}, false, true},
    {"declined", {2, {{64, 0, 0}, {1, 0, 0}}, {1, 0, 0}}, false, true},
};

TEST(TuningLock, TakenOnceAndHeldAcrossEverySubRequest)
{
    for (const LockCase& c : complexCases) {
        RecordedComplex<float> recorded(smallCaches);
        const auto tuning = tuningStartingWith(-1.0f);
        const auto key = makePlanKey(c.request.axes());
        auto plan = support::makePlan<Placement::Inplace>(*recorded.parallel, c.request, true, key.data(), tuning);
        EXPECT_TRUE(tuningMutexFree()) << c.name << ": released on return";
        const auto locks = recorded.recorder->calls("lockForTuning");
        ASSERT_EQ(locks.size(), c.locks ? 1u : 0u) << c.name;
        if (c.locks) {
            EXPECT_EQ(locks[0].unitStride, c.unitStride) << c.name;
            EXPECT_EQ(locks[0].result, 1) << c.name << ": the lock owns the mutex";
        }
        for (const auto& call : recorded.recorder->calls()) {
            if (call.op.rfind("make", 0) != 0) continue;
            EXPECT_FALSE(call.lockFlag) << c.name << ": " << call.op;
            EXPECT_EQ(call.tuningLocked, c.locks) << c.name << ": " << call.op;
        }
    }
}

TEST(TuningLock, NotTakenOutsideTuningMode)
{
    const Request request{2, {{16, 0, 0}, {32, 0, 0}}, {1, 0, 0}};
    const std::shared_ptr<float> tunings[] = {tuningStartingWith(-0.0f),
                                              tuningStartingWith(std::numeric_limits<float>::quiet_NaN()),
                                              tuningStartingWith(2.0f), {}};
    for (const auto& tuning : tunings) {
        RecordedComplex<float> recorded(smallCaches);
        const auto key = makePlanKey(2);
        EXPECT_TRUE(support::makePlan<Placement::Inplace>(*recorded.parallel, request, true, key.data(), tuning));
        EXPECT_TRUE(recorded.recorder->calls("lockForTuning").empty());
    }
    // lockFlag false: the caller holds whatever lock it needs.
    RecordedComplex<float> recorded(smallCaches);
    const auto key = makePlanKey(2);
    EXPECT_TRUE(support::makePlan<Placement::Inplace>(*recorded.parallel, request, false, key.data(),
                                                      tuningStartingWith(-1.0f)));
    EXPECT_TRUE(recorded.recorder->calls("lockForTuning").empty());
}

TEST(TuningLock, RealRequestsLockWithUnitStride)
{
    RecordedReal<float> recorded(smallCaches);
    const Request request{2, {{16, 0, 0}, {32, 0, 0}}, {1, 0, 0}};
    const auto key = makePlanKey(2);
    EXPECT_TRUE(support::makePlan<Placement::Ooplace>(*recorded.parallel, request, true, key.data(),
                                                      tuningStartingWith(-1.0f)));
    const auto locks = recorded.recorder->calls("lockForTuning");
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_TRUE(locks[0].unitStride);
    EXPECT_TRUE(tuningMutexFree());
}

TEST(TuningLock, ReleasedWhenTheWrappedFactoryThrows)
{
    RecordedComplex<float> recorded(smallCaches);
    recorded.recorder->declineWhen([](const support::FactoryCall& call) -> bool {
        if (call.column) throw std::runtime_error("planner failure");
        return false;
    });
    const Request request{2, {{16, 0, 0}, {32, 0, 0}}, {1, 0, 0}};
    const auto key = makePlanKey(2);
    EXPECT_THROW(support::makePlan<Placement::Inplace>(*recorded.parallel, request, true, key.data(),
                                                       tuningStartingWith(-1.0f)),
                 std::runtime_error);
    EXPECT_TRUE(tuningMutexFree());
    EXPECT_EQ(recorded.recorder->livePlans(), 0) << "the row plans made before the failure are freed";
}

TEST(TuningLock, DeclinedSubPlanReleasesEverything)
{
    for (std::int64_t declined = 0; declined < 4; ++declined) {
        RecordedComplex<float> recorded(smallCaches);
        recorded.recorder->declineMake(declined);
        const Request request{2, {{16, 0, 0}, {28, 0, 0}}, {1, 0, 0}};
        const auto key = makePlanKey(2);
        EXPECT_FALSE(support::makePlan<Placement::Inplace>(*recorded.parallel, request, true, key.data(),
                                                           tuningStartingWith(-1.0f)))
            << "declined sub-request " << declined;
        EXPECT_TRUE(tuningMutexFree());
        EXPECT_EQ(recorded.recorder->livePlans(), 0);
        support::expectNothingAskedAfter(recorded.recorder->calls(), declined);
    }
}

}  // namespace
}  // namespace zun::fft::testing
