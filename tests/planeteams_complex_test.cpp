// The complex plane-team strategies: results against the serial planner on
// one and two active levels, the sub-plans they ask for, and which calls
// receive the extra argument.
#include <gtest/gtest.h>

#include <complex>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "planeteams_fixtures.h"
#include "planeteams/omp_cc_plane_teams.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {
namespace {

using support::FactoryCall;
using support::Request;

struct ComplexCase {
    const char* what;
    Request request;
    bool packedInplace;
    bool packedOoplace;
};

// Column tails and first-axis tails come and go with the precision's
// lineColumns (8, 4, 16): every case says which it has in float.
const ComplexCase complexCases[] = {
    {"column tail, no first-axis tail", {3, {{3, 0, 0}, {12, 0, 0}, {12, 0, 0}}, {1, 0, 0}}, true, true},
    {"odd rows, both tails", {3, {{5, 0, 0}, {7, 0, 0}, {20, 0, 0}}, {1, 0, 0}}, true, true},
    {"one plane, fewer than the outer team", {3, {{1, 0, 0}, {10, 0, 0}, {30, 0, 0}}, {1, 0, 0}}, true, true},
    {"rows shorter than a group: column tail only", {3, {{2, 0, 0}, {70, 0, 0}, {4, 0, 0}}, {2, 0, 0}}, true, true},
    {"gapped rows, different per layout", {3, {{4, 0, 0}, {9, 38, 44}, {16, 0, 0}}, {1, 0, 0}}, false, false},
    {"gapped rows in the input layout only", {3, {{3, 0, 0}, {11, 30, 0}, {12, 0, 0}}, {2, 0, 0}}, false, false},
    {"packed rows in a padded output layout", {3, {{3, 0, 0}, {11, 24, 30}, {12, 0, 0}}, {1, 0, 0}}, false, false},
    {"gapped planes, batch 3 with explicit distances",
     {3, {{3, 300, 310}, {11, 0, 0}, {12, 0, 0}}, {3, 1000, 1050}},
     true,
     true},
    {"count 0, as many planes as rows", {3, {{9, 0, 0}, {9, 0, 0}, {30, 0, 0}}, {0, 0, 0}}, true, true},
};

template <typename T, Placement P>
bool isPacked(const Compute<T, P>& plan)
{
    return dynamic_cast<const omp::OmpCCPlaneTeams<T, P, true>*>(&plan) != nullptr;
}

template <typename T, Placement P>
bool isStrided(const Compute<T, P>& plan)
{
    return dynamic_cast<const omp::OmpCCPlaneTeams<T, P, false>*>(&plan) != nullptr;
}

template <typename Precision>
class PlaneTeamsComplexNumerical : public ::testing::Test {
protected:
    using T = typename Precision::Real;

    template <Placement P>
    void check(const Parallel<ComplexFactory<T>>& factory, const ComplexCase& c, bool packed)
    {
        SCOPED_TRACE(std::string(c.what) + (P == Placement::Inplace ? ", in place" : ", out of place"));
        const auto plan = support::makePlan<P>(factory, c.request);
        ASSERT_TRUE(plan);
        EXPECT_TRUE(packed ? isPacked(*plan) : isStrided(*plan)) << plan->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *plan, *reference));
    }

    const std::unique_ptr<ComplexFactory<T>> reference = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
};

TYPED_TEST_SUITE(PlaneTeamsComplexNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(PlaneTeamsComplexNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    using T = typename TypeParam::Real;
    for (const Machine& machine : {twoPackages, manyPlanesInL3}) {
        const auto factory = complexParallel<T>(machine);
        for (const ComplexCase& c : complexCases) {
            this->template check<Placement::Inplace>(*factory, c, c.packedInplace);
            this->template check<Placement::Ooplace>(*factory, c, c.packedOoplace);
        }
    }
}

// Team sizes are fixed when a plan is made: one made for two outer threads
// still covers everything when the runtime then runs each inner team on one.
TYPED_TEST(PlaneTeamsComplexNumerical, MadeForTwoLevelsRunsOnOne)
{
    using T = typename TypeParam::Real;
    const auto factory = complexParallel<T>(twoPackages);
    for (const ComplexCase& c : {complexCases[1], complexCases[4]}) {
        std::unique_ptr<InplaceCompute<T>> inplace;
        std::unique_ptr<OoplaceCompute<T>> ooplace;
        {
            const ActiveLevels nested(2);
            inplace = support::makePlan<Placement::Inplace>(*factory, c.request);
            ooplace = support::makePlan<Placement::Ooplace>(*factory, c.request);
        }
        ASSERT_TRUE(inplace && ooplace);
        EXPECT_EQ(inplace->threadCount(), 4);
        EXPECT_NE(inplace->toString().find("/2/2)"), std::string::npos) << inplace->toString();
        const ActiveLevels flat(1);
        EXPECT_TRUE(support::checkPlan(c.request, *inplace, *this->reference)) << c.what;
        EXPECT_TRUE(support::checkPlan(c.request, *ooplace, *this->reference)) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Sub-requests, seen through a recording planner.

using support::ExpectedRequest;

// Float, one outer thread of four.
class PlaneTeamsComplexRecorded : public PlaneTeamsRecordedFixture<RecordedComplex<float>> {
protected:
    template <typename Strategy>
    std::unique_ptr<Strategy> make(const Request& request, const std::shared_ptr<float>& callersTuning)
    {
        return PlaneTeamsRecordedFixture::make<Strategy>(request.dims.data(), request.batch, callersTuning);
    }

    template <typename Strategy>
    std::unique_ptr<Strategy> make(const Request& request)
    {
        return make<Strategy>(request, tuning);
    }
};

TEST_F(PlaneTeamsComplexRecorded, PackedInPlace)
{
    const auto plan = make<omp::OmpInplaceCCPackedPlaneTeams<float>>({3, {{5, 0, 0}, {12, 0, 0}, {20, 0, 0}}, {1, 0, 0}});
    ASSERT_TRUE(plan->complete());
    EXPECT_EQ(plan->toString(), "OmpInplaceCC<float32_t>(5x12x20_b1/1/4)");
    expectTuningIndices("tuningIndexInplace", 2);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeInplace", false, {20, 2, 0}, {3, 40, 0}, rowRecord, callersPointer},
                                {"makeInplace", false, {20, 2, 0}, {1, 40, 0}, rowRecord, callersPointer},
                                {"makeInplace column", false, {12, 40, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 40, 0}, {4, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 40, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {5, 480, 0}, {56, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 480, 0}, {8, 2, 0}, 0, firstDimEntry},
                            });
}

TEST_F(PlaneTeamsComplexRecorded, PackedOutOfPlace)
{
    // 13 x 20 = 260 flattened columns leave a first-axis tail of 4.
    const auto plan =
        make<omp::OmpOoplaceCCPackedPlaneTeams<float>>({3, {{5, 600, 0}, {13, 0, 40}, {20, 0, 0}}, {1, 0, 0}});
    ASSERT_TRUE(plan->complete());
    EXPECT_EQ(plan->toString(), "OmpOoplaceCC<float32_t>(5x13x20_b1/1/4)");
    expectTuningIndices("tuningIndexOoplace", 2);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeOoplace", false, {20, 2, 2}, {3, 40, 40}, rowRecord, callersPointer},
                                {"makeOoplace", false, {20, 2, 2}, {1, 40, 40}, rowRecord, callersPointer},
                                {"makeInplace column", false, {13, 40, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {13, 40, 0}, {4, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {13, 40, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {5, 600, 0}, {64, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 520, 0}, {64, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 600, 0}, {4, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 520, 0}, {4, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 600, 0}, {8, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 520, 0}, {8, 2, 0}, 0, firstDimEntry},
                            });
}

TEST_F(PlaneTeamsComplexRecorded, StridedInPlaceWithAsManyPlanesAsRows)
{
    // Rows 48 reals apart; one tuning index serves both outer axes.
    const auto plan =
        make<omp::OmpInplaceCCStridedPlaneTeams<float>>({3, {{12, 0, 0}, {12, 48, 0}, {20, 0, 0}}, {3, 0, 0}});
    ASSERT_TRUE(plan->complete());
    EXPECT_EQ(plan->toString(), "OmpInplaceCC<float32_t>(12x12x20_b3/1/4)");
    expectTuningIndices("tuningIndexInplace", 1);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeInplace", false, {20, 2, 0}, {3, 48, 0}, rowRecord, callersPointer},
                                {"makeInplace", false, {20, 2, 0}, {1, 48, 0}, rowRecord, callersPointer},
                                {"makeInplace column", false, {12, 48, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 48, 0}, {4, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 48, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 576, 0}, {20, 2, 0}, 0, columnEntry},
                            });
}

TEST_F(PlaneTeamsComplexRecorded, StridedOutOfPlace)
{
    const auto plan =
        make<omp::OmpOoplaceCCStridedPlaneTeams<float>>({3, {{5, 0, 0}, {12, 44, 0}, {12, 0, 0}}, {1, 0, 0}});
    ASSERT_TRUE(plan->complete());
    EXPECT_EQ(plan->toString(), "OmpOoplaceCC<float32_t>(5x12x12_b1/1/4)");
    expectTuningIndices("tuningIndexOoplace", 2);
    support::expectRequests(requestsOf(*recorder),
                            {
                                {"makeOoplace", false, {12, 2, 2}, {3, 44, 24}, rowRecord, callersPointer},
                                {"makeOoplace", false, {12, 2, 2}, {1, 44, 24}, rowRecord, callersPointer},
                                {"makeInplace column", false, {12, 24, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 44, 0}, {16, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 44, 0}, {4, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 24, 0}, {4, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 44, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {12, 24, 0}, {8, 2, 0}, columnRecord, columnEntry},
                                {"makeInplace column", false, {5, 528, 0}, {12, 2, 0}, 0, firstDimEntry},
                                {"makeInplace column", false, {5, 288, 0}, {12, 2, 0}, 0, firstDimEntry},
                            });
}

// Without a caller's tuning array the entries are still asked for, and every
// plan gets an empty pointer.
TEST_F(PlaneTeamsComplexRecorded, EmptyTuningStaysEmpty)
{
    const auto plan =
        make<omp::OmpOoplaceCCStridedPlaneTeams<float>>({3, {{5, 0, 0}, {12, 44, 0}, {16, 0, 0}}, {1, 0, 0}}, {});
    ASSERT_TRUE(plan->complete());
    EXPECT_EQ(recorder->calls("tuningIndexOoplace").size(), 2u);
    for (const FactoryCall& call : requestsOf(*recorder)) EXPECT_TRUE(call.tuningEmpty) << call.op;
}

// Each outer axis's entry gets the first tuning value only when the header of
// the record its plans receive asks for it: record 1's for the column entry,
// record 0's for the first-axis entry. Headers below 2 ask for no copy.
TEST_F(PlaneTeamsComplexRecorded, EachEntryIsCopiedByTheHeaderOfItsPlansRecord)
{
    struct Case {
        std::vector<PlanKey> key;  // records 1 and 2 name entries 2 and 3, as in unevenKey
        float firstDim;
        float column;
    };
    const Case cases[] = {
        {{0x102, 7, 9, 0x001, 2, 0x101, 3}, -1, 0},
        {{0x001, 7, 0x101, 2, 0x101, 3}, 0, -1},
    };
    const Dim dims[] = {{5, 0, 0}, {12, 0, 0}, {20, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("headers " + std::to_string(c.key[0]) + ", " + std::to_string(c.key[1 + (c.key[0] & 0xffu)]));
        const std::shared_ptr<float> fresh{new float[4]{-1, 0, 0, 0}, std::default_delete<float[]>()};
        const omp::OmpInplaceCCPackedPlaneTeams<float> plan(contextAtLevels(*recorded.parallel, 1), dims,
                                                            Dim{1, 0, 0}, c.key.data(), fresh);
        ASSERT_TRUE(plan.complete());
        EXPECT_EQ(fresh.get()[firstDimEntry], c.firstDim);
        EXPECT_EQ(fresh.get()[columnEntry], c.column);
    }
}

// A declined sub-request leaves the strategy incomplete, so that the factory
// declines the whole request; what was made is freed with it, and nothing is
// asked after it.
TEST_F(PlaneTeamsComplexRecorded, DeclinedSubRequestLeavesItIncomplete)
{
    const Request packed{3, {{5, 0, 0}, {12, 0, 0}, {20, 0, 0}}, {1, 0, 0}};
    const Request strided{3, {{5, 0, 0}, {12, 44, 0}, {16, 0, 0}}, {1, 0, 0}};
    declineEachMakeOf<omp::OmpInplaceCCPackedPlaneTeams<float>>(packed.dims.data(), packed.batch);
    declineEachMakeOf<omp::OmpOoplaceCCPackedPlaneTeams<float>>(packed.dims.data(), packed.batch);
    declineEachMakeOf<omp::OmpInplaceCCStridedPlaneTeams<float>>(strided.dims.data(), strided.batch);
    declineEachMakeOf<omp::OmpOoplaceCCStridedPlaneTeams<float>>(strided.dims.data(), strided.batch);

    recorder->declineMake(6);
    recorder->clear();
    EXPECT_FALSE(support::makePlan<Placement::Inplace>(*recorded.parallel, packed)) << "the factory declines";
    recorder->declineNothing();
}

// extraArg reaches the row plans, the first pass, and nothing else: the
// WithArg forms make as many row-plan calls as the plain ones, all of them
// WithArg with the caller's value.
TEST_F(PlaneTeamsComplexRecorded, ExtraArgReachesTheRowPlansOnly)
{
    const Request requests[] = {{3, {{5, 0, 0}, {12, 0, 0}, {20, 0, 0}}, {1, 0, 0}},
                                {3, {{5, 0, 0}, {12, 44, 0}, {16, 0, 0}}, {2, 0, 0}}};
    const auto reference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    const support::CheckOptions options;
    auto expectRowPlansOnly = [&](const std::vector<FactoryCall>& made) {
        std::map<std::string, int> rowCalls;
        for (const auto& call : recorder->planCalls()) {
            const bool withArg = call.op.find("WithArg") != std::string::npos;
            if (made[call.call].column) {
                EXPECT_FALSE(withArg) << call.op;
                continue;
            }
            ++rowCalls[call.op];
            if (withArg) {
                EXPECT_EQ(call.extraArg, options.extraArg);
            }
        }
        EXPECT_GT(rowCalls["forward"], 0);
        EXPECT_EQ(rowCalls["forwardWithArg"], rowCalls["forward"]);
        EXPECT_EQ(rowCalls["backwardWithArg"], rowCalls["backward"]);
    };
    for (const Request& request : requests) {
        recorder->clear();
        const auto inplace = support::makePlan<Placement::Inplace>(*recorded.parallel, request);
        const auto made = recorder->calls();
        ASSERT_TRUE(inplace);
        recorder->clear();
        EXPECT_TRUE(support::checkPlanWithArg(request, *inplace, *reference, options));
        expectRowPlansOnly(made);

        recorder->clear();
        const auto ooplace = support::makePlan<Placement::Ooplace>(*recorded.parallel, request);
        const auto madeOoplace = recorder->calls();
        ASSERT_TRUE(ooplace);
        recorder->clear();
        EXPECT_TRUE(support::checkPlanWithArg(request, *ooplace, *reference, options));
        expectRowPlansOnly(madeOoplace);
    }
}

}  // namespace
}  // namespace zun::fft::testing
