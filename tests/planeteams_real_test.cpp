// The real-to-complex plane-team strategies: results against the serial
// planner on one and two active levels, the sub-plans they ask for, their
// descriptions and work sizes, and which calls receive the extra argument.
#include <gtest/gtest.h>

#include <complex>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "parallel_fixtures.h"
#include "planeteams_fixtures.h"
#include "planeteams/omp_inplace_rc_plane_teams.h"
#include "planeteams/omp_ooplace_rc_plane_teams.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {
namespace {

using support::ExpectedRequest;
using support::FactoryCall;
using support::Request;

struct RealCase {
    const char* what;
    Request request;
    bool packedInplace;
};

// N2/2 + 1 complex columns forward and one fewer backward: tails come and go
// with the precision's lineColumns (8, 4, 16); each case says what float has.
const RealCase realCases[] = {
    {"odd rows, forward column tail, first-axis tail", {3, {{3, 0, 0}, {9, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, true},
    {"even rows, backward column tail", {3, {{4, 0, 0}, {10, 0, 0}, {30, 0, 0}}, {2, 0, 0}}, true},
    {"odd N2", {3, {{3, 0, 0}, {11, 0, 0}, {27, 0, 0}}, {1, 0, 0}}, true},
    {"one plane, fewer than the outer team", {3, {{1, 0, 0}, {20, 0, 0}, {30, 0, 0}}, {1, 0, 0}}, true},
    {"rows shorter than a group: column tails only", {3, {{2, 0, 0}, {70, 0, 0}, {6, 0, 0}}, {1, 0, 0}}, true},
    {"gapped rows, different per layout", {3, {{3, 0, 0}, {9, 36, 40}, {32, 0, 0}}, {1, 0, 0}}, false},
    {"padded rows given explicitly", {3, {{3, 0, 0}, {9, 34, 0}, {32, 0, 0}}, {1, 0, 0}}, true},
    {"gapped planes, batch 3 with explicit distances",
     {3, {{3, 400, 420}, {9, 0, 0}, {32, 0, 0}}, {3, 1300, 1400}},
     true},
    {"count 0, as many planes as rows", {3, {{10, 0, 0}, {10, 0, 0}, {30, 0, 0}}, {0, 0, 0}}, true},
    // On one active level the planes go 16 or 17 to each of four inner
    // threads, 11 to each of six: out of place, each thread transforms side
    // columns in whole groups (lineColumns planes) and singly, in every
    // precision on four threads.
    {"66 planes: side column groups per inner thread", {3, {{66, 0, 0}, {3, 0, 0}, {90, 0, 0}}, {1, 0, 0}}, true},
};

template <typename Precision>
class PlaneTeamsRealNumerical : public ::testing::Test {
protected:
    using T = typename Precision::Real;

    void check(const Parallel<RealFactory<T>>& factory, const RealCase& c)
    {
        SCOPED_TRACE(c.what);
        const auto inplace = support::makePlan<Placement::Inplace>(factory, c.request);
        ASSERT_TRUE(inplace);
        const bool packed = dynamic_cast<const omp::OmpInplaceRCPackedPlaneTeams<T>*>(inplace.get()) != nullptr;
        const bool strided = dynamic_cast<const omp::OmpInplaceRCStridedPlaneTeams<T>*>(inplace.get()) != nullptr;
        EXPECT_TRUE(c.packedInplace ? packed : strided) << inplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *inplace, *reference)) << "in place";

        const auto ooplace = support::makePlan<Placement::Ooplace>(factory, c.request);
        ASSERT_TRUE(ooplace);
        EXPECT_TRUE(dynamic_cast<const omp::OmpOoplaceRCStridedPlaneTeams<T>*>(ooplace.get())) << ooplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *ooplace, *reference)) << "out of place";
    }

    const std::unique_ptr<RealFactory<T>> reference = makePlannerFactory<T, T, std::complex<T>>();
};

TYPED_TEST_SUITE(PlaneTeamsRealNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(PlaneTeamsRealNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    using T = typename TypeParam::Real;
    for (const Machine& machine : {twoPackages, manyPlanesInL3}) {
        const auto factory = realParallel<T>(machine);
        for (const RealCase& c : realCases) this->check(*factory, c);
    }
}

// Team sizes are fixed when a plan is made: one made for two outer threads
// still covers everything, side buffer included, when each inner team then
// runs on one thread.
TYPED_TEST(PlaneTeamsRealNumerical, MadeForTwoLevelsRunsOnOne)
{
    using T = typename TypeParam::Real;
    const auto factory = realParallel<T>(twoPackages);
    const RealCase& c = realCases[7];
    const auto context = contextAtLevels(*factory, 2);
    const auto key = makePlanKey(3);
    const omp::OmpInplaceRCPackedPlaneTeams<T> inplace(context, c.request.dims.data(), c.request.batch, key.data(), {});
    const omp::OmpOoplaceRCStridedPlaneTeams<T> ooplace(context, c.request.dims.data(), c.request.batch, key.data(),
                                                        {});
    ASSERT_TRUE(inplace.complete() && ooplace.complete());
    EXPECT_EQ(ooplace.threadCount(), 4);
    const ActiveLevels flat(1);
    EXPECT_TRUE(support::checkPlan(c.request, inplace, *this->reference));
    EXPECT_TRUE(support::checkPlan(c.request, ooplace, *this->reference));
}

// ---------------------------------------------------------------------------
// Descriptions and work sizes.

template <typename Precision>
class PlaneTeamsRealShape : public ::testing::Test {};
TYPED_TEST_SUITE(PlaneTeamsRealShape, support::AllPrecisions, support::PrecisionNames);

template <typename T>
std::string digits()
{
    if constexpr (std::is_same_v<T, float>) return "32";
    else if constexpr (std::is_same_v<T, double>) return "64";
    else return "16";
}

// The sizes piece comes from the row block plan's own description.
TYPED_TEST(PlaneTeamsRealShape, DescribesPlanesRowsRowPlanSizesCountAndTeams)
{
    using T = typename TypeParam::Real;
    const auto factory = realParallel<T>(Machine{4, 1, 1, 1, 1});
    const auto context = contextAtLevels(*factory, 1);
    const auto key = makePlanKey(3);
    const Dim dims[] = {{5, 0, 0}, {13, 24, 0}, {20, 0, 0}};
    const std::string type = "<float" + digits<T>() + "_t>";
    EXPECT_EQ(omp::OmpInplaceRCPackedPlaneTeams<T>(context, dims, Dim{3, 0, 0}, key.data(), {}).toString(),
              "OmpInplaceRC" + type + "(5x13x20_b3/1/4)");
    EXPECT_EQ(omp::OmpInplaceRCStridedPlaneTeams<T>(context, dims, Dim{0, 0, 0}, key.data(), {}).toString(),
              "OmpInplaceRC" + type + "(5x13x20_b1/1/4)");
    EXPECT_EQ(omp::OmpOoplaceRCStridedPlaneTeams<T>(context, dims, Dim{2, 0, 0}, key.data(), {}).toString(),
              "OmpOoplaceRC" + type + "(5x13x20_b2/1/4)");
}

// Out of place the work buffer starts with one side buffer for the whole call,
// 2 * N0 * N1 reals in whole lines, then the slices.
TYPED_TEST(PlaneTeamsRealShape, OutOfPlaceWorkAddsOneSideBuffer)
{
    using T = typename TypeParam::Real;
    constexpr std::size_t line = 64 / sizeof(T);
    const auto factory = realParallel<T>(Machine{4, 1, 1, 1, 1});
    const auto key = makePlanKey(3);
    const Dim dims[] = {{3, 0, 0}, {5, 0, 0}, {40, 0, 0}};
    omp::OmpOoplaceRCStridedPlaneTeams<T> plan(contextAtLevels(*factory, 1), dims, Dim{1, 0, 0}, key.data(), {});
    const std::size_t side = (30 + line - 1) / line * line;
    const std::size_t slice = plan.threadWorkSize();
    EXPECT_EQ(slice % line, 0u);
    EXPECT_EQ(plan.workSize(), 4 * slice + side);
    plan.reserveThreadWork(slice + 3);
    EXPECT_EQ(plan.workSize(), 4 * (slice + 3) + side);
}

// ---------------------------------------------------------------------------
// Sub-requests, seen through a recording planner.

const ExpectedRequest companionAsked{"complexFactory", false, {}, {}, support::none};

// Float, one outer thread of four, 5 planes of 13 rows of 20 reals (11
// complex columns): blocks of 4 rows, an odd last row, 16 columns per block.
class PlaneTeamsRealRecorded : public PlaneTeamsRecordedFixture<RecordedReal<float>> {
protected:
    template <typename Strategy>
    std::unique_ptr<Strategy> make(const Dim (&dims)[3])
    {
        return PlaneTeamsRecordedFixture::make<Strategy>(dims, Dim{1, 0, 0}, tuning);
    }

    template <typename Strategy>
    void declineEachMakeOf(const Dim (&dims)[3])
    {
        PlaneTeamsRecordedFixture::declineEachMakeOf<Strategy>(dims, Dim{1, 0, 0});
    }
};

TEST_F(PlaneTeamsRealRecorded, PackedInPlace)
{
    const auto plan = make<omp::OmpInplaceRCPackedPlaneTeams<float>>({{5, 0, 0}, {13, 0, 0}, {20, 0, 0}});
    ASSERT_TRUE(plan->complete());
    expectTuningIndices("tuningIndexInplace", 2);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeInplace", false, {20, 1, 0}, {4, 22, 0}, rowRecord, callersPointer},
                                {"makeInplace", false, {20, 1, 0}, {1, 22, 0}, rowRecord, callersPointer},
                                {"makeInplace", false, {20, 1, 0}, {2, 22, 0}, rowRecord, callersPointer},
                                companionAsked,
                                {"makeInplace column", true, {13, 22, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 22, 0}, {3, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 22, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {5, 286, 0}, {32, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", true, {5, 286, 0}, {7, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", true, {5, 286, 0}, {8, 2, 0}, 0, firstDimEntry},
                            });
}

TEST_F(PlaneTeamsRealRecorded, StridedInPlace)
{
    const auto plan = make<omp::OmpInplaceRCStridedPlaneTeams<float>>({{5, 0, 0}, {13, 24, 0}, {20, 0, 0}});
    ASSERT_TRUE(plan->complete());
    expectTuningIndices("tuningIndexInplace", 2);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeInplace", false, {20, 1, 0}, {4, 24, 0}, rowRecord, callersPointer},
                                {"makeInplace", false, {20, 1, 0}, {1, 24, 0}, rowRecord, callersPointer},
                                {"makeInplace", false, {20, 1, 0}, {2, 24, 0}, rowRecord, callersPointer},
                                companionAsked,
                                {"makeInplace column", true, {13, 24, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 24, 0}, {3, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 24, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {5, 312, 0}, {11, 2, 0}, 0, firstDimEntry},
                            });
}

TEST_F(PlaneTeamsRealRecorded, OutOfPlace)
{
    // Real rows of 20 reals, complex rows of 22; the side buffer keeps 5
    // planes' values of a row index together: 10 reals per row index.
    const auto plan = make<omp::OmpOoplaceRCStridedPlaneTeams<float>>({{5, 0, 0}, {13, 0, 0}, {20, 0, 0}});
    ASSERT_TRUE(plan->complete());
    expectTuningIndices("tuningIndexOoplace", 2);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeOoplace", false, {20, 1, 2}, {4, 20, 22}, rowRecord, callersPointer},
                                {"makeSplitBackward", false, {20, 1, 2}, {4, 20, 10}, rowRecord, callersPointer},
                                {"makeOoplace", false, {20, 1, 2}, {1, 20, 22}, rowRecord, callersPointer},
                                {"makeSplitBackward", false, {20, 1, 2}, {1, 20, 10}, rowRecord, callersPointer},
                                {"makeSplitBackward", false, {20, 1, 2}, {2, 20, 10}, rowRecord, callersPointer},
                                {"makeOoplace", false, {20, 1, 2}, {2, 20, 22}, rowRecord, callersPointer},
                                companionAsked,
                                {"makeInplace column", true, {13, 22, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 20, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 22, 0}, {3, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 20, 0}, {2, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 22, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 20, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 10, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {13, 10, 0}, {1, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", true, {5, 286, 0}, {11, 2, 0}, 0, firstDimEntry},
                                {"makeOoplace column", true, {5, 260, 286}, {10, 2, 2}, 0, firstDimEntry},
                                {"makeOoplace column", true, {5, 2, 286}, {1, 2, 2}, 0, firstDimEntry},
                            });
}

// A declined sub-request leaves the strategy incomplete; what was made is
// freed with it.
TEST_F(PlaneTeamsRealRecorded, DeclinedSubRequestLeavesItIncomplete)
{
    declineEachMakeOf<omp::OmpInplaceRCPackedPlaneTeams<float>>({{5, 0, 0}, {13, 0, 0}, {20, 0, 0}});
    declineEachMakeOf<omp::OmpInplaceRCStridedPlaneTeams<float>>({{5, 0, 0}, {13, 24, 0}, {20, 0, 0}});
    declineEachMakeOf<omp::OmpOoplaceRCStridedPlaneTeams<float>>({{5, 0, 0}, {13, 0, 0}, {20, 0, 0}});
}

// Backward out of place, every split row plan runs through execute in mode 0
// (the stand-in ignores the mode, so no numerical test would see another),
// on its plane's rows of the destination and the side values of those rows:
// a plane's values one complex value apart, 2 x 5 reals per row index.
TEST_F(PlaneTeamsRealRecorded, SplitRowPlansRunInModeZeroOnTheirSideValues)
{
    const auto plan = make<omp::OmpOoplaceRCStridedPlaneTeams<float>>({{5, 0, 0}, {13, 0, 0}, {20, 0, 0}});
    ASSERT_TRUE(plan->complete());
    const std::vector<FactoryCall> made = recorder->calls();
    std::vector<float> spectrum(5 * 13 * 22), rows(5 * 13 * 20), work(plan->workSize());
    recorder->registerRegion(spectrum.data(), spectrum.size());
    const int destination = recorder->registerRegion(rows.data(), rows.size());
    const int workRegion = recorder->registerRegion(work.data(), work.size());
    plan->backward(spectrum.data(), rows.data(), work.data());

    // Which of the block and pair plans run depends on the team the runtime
    // forms; the odd row's plan runs whatever it forms.
    std::set<std::size_t> splitPlans, ran;
    std::size_t oddRowPlan = made.size();
    for (std::size_t i = 0; i < made.size(); ++i) {
        if (made[i].op != "makeSplitBackward") continue;
        splitPlans.insert(i);
        if (made[i].batch->size == 1) oddRowPlan = i;
    }
    for (const support::PlanCall& call : recorder->planCalls()) {
        if (!splitPlans.count(call.call)) continue;
        ran.insert(call.call);
        EXPECT_EQ(call.op, "execute");
        EXPECT_EQ(call.value, 0) << "split row plans run in mode 0";
        ASSERT_EQ(call.arrays[0].region, destination);
        const std::int64_t planeOf = call.arrays[0].offset / (13 * 20);
        const std::int64_t rowOf = call.arrays[0].offset % (13 * 20) / 20;
        EXPECT_EQ(call.arrays[1].region, workRegion);
        EXPECT_EQ(call.arrays[1].offset, 2 * planeOf + 10 * rowOf) << "plane " << planeOf << ", row " << rowOf;
    }
    EXPECT_EQ(ran.count(oddRowPlan), 1u) << "the odd row's split plan runs";
}

// The extra argument reaches the plans of the pass that runs first: forward
// the row plans, backward the first-axis plans; split row plans never get it.
TEST_F(PlaneTeamsRealRecorded, ExtraArgReachesTheFirstPassOnly)
{
    const Request requests[] = {{3, {{5, 0, 0}, {13, 0, 0}, {20, 0, 0}}, {2, 0, 0}},
                                {3, {{5, 0, 0}, {13, 24, 0}, {20, 0, 0}}, {1, 0, 0}}};
    const auto reference = makePlannerFactory<float, float, std::complex<float>>();
    const support::CheckOptions options;
    auto expectFirstPassOnly = [&](const std::vector<FactoryCall>& made) {
        std::map<std::string, int> rowCalls, firstAxisCalls;
        for (const auto& call : recorder->planCalls()) {
            const FactoryCall& maker = made[call.call];
            const bool withArg = call.op.find("WithArg") != std::string::npos;
            const bool firstAxis = maker.column && maker.keyOffset == 0;
            if (!maker.column) ++rowCalls[call.op];
            else if (firstAxis) ++firstAxisCalls[call.op];
            else {
                EXPECT_FALSE(withArg) << "in-plane column plans run the plain form";
            }
            if (withArg) {
                EXPECT_EQ(call.extraArg, options.extraArg);
            }
        }
        EXPECT_EQ(rowCalls["backwardWithArg"], 0);
        EXPECT_EQ(firstAxisCalls["forwardWithArg"], 0);
        EXPECT_GT(rowCalls["forwardWithArg"], 0);
        EXPECT_EQ(rowCalls["forwardWithArg"], rowCalls["forward"]);
        EXPECT_GT(firstAxisCalls["backwardWithArg"], 0);
        EXPECT_EQ(firstAxisCalls["backwardWithArg"], firstAxisCalls["backward"]);
    };
    for (const Request& request : requests) {
        recorder->clear();
        const auto inplace = support::makePlan<Placement::Inplace>(*recorded.parallel, request, false, unevenKey.data());
        const auto madeInplace = recorder->calls();
        ASSERT_TRUE(inplace);
        recorder->clear();
        EXPECT_TRUE(support::checkPlanWithArg(request, *inplace, *reference, options));
        expectFirstPassOnly(madeInplace);

        recorder->clear();
        const auto ooplace = support::makePlan<Placement::Ooplace>(*recorded.parallel, request, false, unevenKey.data());
        const auto madeOoplace = recorder->calls();
        ASSERT_TRUE(ooplace);
        recorder->clear();
        EXPECT_TRUE(support::checkPlanWithArg(request, *ooplace, *reference, options));
        expectFirstPassOnly(madeOoplace);
    }
}

}  // namespace
}  // namespace zun::fft::testing
