// The real-to-complex plane strategies: results against the serial plan of the
// whole request, how they are chosen, the sub-plans they ask for, which calls
// reach which sub-plan, the side buffer, and refused sub-plans.
#include <gtest/gtest.h>

#include <complex>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "factory/decisions.h"
#include "parallel_fixtures.h"
#include "plane_fixtures.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/roles.h"

namespace zun::fft::testing {
namespace {

using support::FactoryCall;
using support::PlanCall;
using support::Request;
using support::Role;
using support::Routed;
using support::roleOf;

struct NumericalCase {
    const char* what;
    int threads;
    Request request;
    bool packedInplace;  // out of place there is one class for every layout
};

const NumericalCase numericalCases[] = {
    {"even rows, whole column groups", 4, {3, {{16, 0, 0}, {4, 0, 0}, {14, 0, 0}}, {1, 0, 0}}, true},
    {"odd rows, column tails", 4, {3, {{12, 0, 0}, {5, 0, 0}, {9, 0, 0}}, {1, 0, 0}}, true},
    {"200 columns on three threads", 3, {3, {{3, 0, 0}, {10, 0, 0}, {38, 0, 0}}, {1, 0, 0}}, true},
    {"fewer columns than a group", 4, {3, {{128, 0, 0}, {1, 0, 0}, {4, 0, 0}}, {1, 0, 0}}, true},
    {"two planes, eight threads", 8, {3, {{2, 0, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, true},
    {"distances given", 4, {3, {{8, 0, 0}, {6, 0, 0}, {16, 0, 0}}, {3, 900, 900}}, true},
    {"rows with gaps", 4, {3, {{8, 0, 0}, {6, 20, 22}, {16, 0, 0}}, {2, 0, 0}}, false},
    {"in place rows given as an output stride", 4, {3, {{8, 0, 0}, {6, 0, 18}, {16, 0, 0}}, {2, 0, 0}}, false},
    {"odd rows with gaps, fewer rows than threads", 8, {3, {{40, 0, 0}, {3, 10, 10}, {7, 0, 0}}, {1, 0, 0}}, false},
    {"one row", 8, {3, {{64, 0, 0}, {1, 0, 0}, {10, 0, 0}}, {1, 0, 0}}, true},
    {"plane strides given", 4, {3, {{7, 200, 220}, {5, 0, 0}, {16, 0, 0}}, {2, 1500, 1600}}, true},
    {"as many rows as planes", 4, {3, {{6, 0, 0}, {6, 0, 0}, {16, 0, 0}}, {0, 0, 0}}, true},
    {"five transforms in a row", 8, {3, {{7, 0, 0}, {4, 0, 0}, {21, 0, 0}}, {5, 0, 0}}, true},
};

template <typename Precision>
class PlanesRealNumerical : public ::testing::Test {};
TYPED_TEST_SUITE(PlanesRealNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(PlanesRealNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    using T = typename TypeParam::Real;
    const auto reference = makePlannerFactory<T, T, std::complex<T>>();
    for (const NumericalCase& c : numericalCases) {
        SCOPED_TRACE(std::string(c.what) + ": " + support::describe(c.request));
        const Machine machine = planeMachine(c.threads);
        const auto strategy = [&](Placement placement) {
            return planeStrategy<float, omp::Kind::Real>(placement, c.request, machine);
        };
        EXPECT_EQ(strategy(Placement::Inplace),
                  c.packedInplace ? omp::Strategy::PackedPlanes : omp::Strategy::StridedPlanes);
        EXPECT_EQ(strategy(Placement::Ooplace), omp::Strategy::StridedPlanes);
        const auto factory = realParallel<T>(machine);

        const auto inplace = support::makePlan<Placement::Inplace>(*factory, c.request);
        ASSERT_TRUE(inplace);
        EXPECT_EQ(inplace->toString().rfind("OmpInplaceRC<", 0), 0u) << inplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *inplace, *reference));

        const auto ooplace = support::makePlan<Placement::Ooplace>(*factory, c.request);
        ASSERT_TRUE(ooplace);
        EXPECT_EQ(ooplace->toString().rfind("OmpOoplaceRC<", 0), 0u) << ooplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *ooplace, *reference));
    }
}

// Rows that overlap (a row stride below the padded row) have no defined
// result; such a request still goes to the strided class.
TEST(PlanesRealChoice, OverlappingInPlaceRowsGoToTheStridedClass)
{
    const Request overlapping{3, {{4, 0, 0}, {64, 64, 0}, {64, 0, 0}}, {1, 0, 0}};
    const Request padded{3, {{4, 0, 0}, {64, 66, 0}, {64, 0, 0}}, {1, 0, 0}};
    const Machine machine{8, 1, 1, 1024};
    const auto strategy = [&](const Request& request) {
        return planeStrategy<float, omp::Kind::Real>(Placement::Inplace, request, machine);
    };
    EXPECT_EQ(strategy(overlapping), omp::Strategy::StridedPlanes);
    EXPECT_EQ(strategy(padded), omp::Strategy::PackedPlanes);
}

// ---------------------------------------------------------------------------
// Sub-requests, through a recording planner with its key and tuning registered:
// the plane plans get the caller's pointer (entry 0), the column plans entry 2,
// which key record 1 names.

class PlanesRealRecorded : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorded.recorder->registerKey(key.data());
        recorded.recorder->registerTuning(tuning.get());
    }

    template <Placement P>
    std::string plan(const Request& request)
    {
        recorded.recorder->clear();
        const auto made = support::makePlan<P>(*recorded.parallel, request, false, key.data(), tuning);
        return made ? made->toString() : "declined";
    }

    RecordedReal<float> recorded{planeMachine(4)};
    const std::vector<PlanKey> key = makePlanKey(3);
    const std::shared_ptr<float> tuning{new float[4]{-1, 0, 0, 0}, std::default_delete<float[]>()};
};

const Dim plane4x12[] = {{4, 0, 0}, {12, 0, 0}};

// 8 planes of 4 rows of 12 reals (7 complex values, padded rows of 14): four
// threads, blocks of 2 planes; 28 columns in blocks of 16 with a tail of 4.
TEST_F(PlanesRealRecorded, InPlacePackedAsksPlanesThenCompanionColumns)
{
    EXPECT_EQ(plan<Placement::Inplace>({3, {{8, 0, 0}, plane4x12[0], plane4x12[1]}, {1, 0, 0}}),
              "OmpInplaceRC<float32_t>(8x4x12_b1/4)");
    EXPECT_EQ(tuning.get()[2], -1.0f);
    expectAsked(recorded.recorder->calls(), {
                                                {"tuningIndexInplace", {{4, 0, 0}, {12, 0, 0}}, {}, 2},
                                                {"makeInplace", {{4, 0, 0}, {12, 0, 0}}, {2, 56, 0}, 2, 0},
                                                {"makeInplace", {{4, 0, 0}, {12, 0, 0}}, {1, 56, 0}, 2, 0},
                                                {"complexFactory", {}, {}, support::none},
                                                {"makeInplace", {{8, 56, 0}}, {16, 2, 0}, 0, 2, true},
                                                {"makeInplace", {{8, 56, 0}}, {4, 2, 0}, 0, 2, true},
                                                {"makeInplace", {{8, 56, 0}}, {8, 2, 0}, 0, 2, true},
                                            });
}

TEST_F(PlanesRealRecorded, InPlaceStridedAsksOneCompanionRowPlan)
{
    EXPECT_EQ(plan<Placement::Inplace>({3, {{8, 0, 0}, {4, 16, 0}, {12, 0, 0}}, {2, 0, 0}}),
              "OmpInplaceRC<float32_t>(8x4x12_b2/4)");
    expectAsked(recorded.recorder->calls(), {
                                                {"tuningIndexInplace", {{4, 16, 0}, {12, 0, 0}}, {}, 2},
                                                {"makeInplace", {{4, 16, 0}, {12, 0, 0}}, {2, 64, 0}, 2, 0},
                                                {"makeInplace", {{4, 16, 0}, {12, 0, 0}}, {1, 64, 0}, 2, 0},
                                                {"complexFactory", {}, {}, support::none},
                                                {"makeInplace", {{8, 64, 0}}, {7, 2, 0}, 0, 2, true},
                                            });
}

// Real rows of 12, complex rows of 14; split plans see the side buffer as one
// row of 8 complex values per plane row, planes one value apart.
TEST_F(PlanesRealRecorded, OutOfPlaceAsksPlanesSplitPlanesThenColumns)
{
    EXPECT_EQ(plan<Placement::Ooplace>({3, {{8, 0, 0}, plane4x12[0], plane4x12[1]}, {1, 0, 0}}),
              "OmpOoplaceRC<float32_t>(8x4x12_b1/4)");
    expectAsked(recorded.recorder->calls(),
                {
                    {"tuningIndexOoplace", {{4, 0, 0}, {12, 0, 0}}, {}, 2},
                    {"makeOoplace", {{4, 0, 0}, {12, 0, 0}}, {2, 48, 56}, 2, 0},
                    {"makeOoplace", {{4, 0, 0}, {12, 0, 0}}, {1, 48, 56}, 2, 0},
                    {"makeSplitBackward", {{4, 12, 16}, {12, 1, 2}}, {2, 48, 2}, 2, 0},
                    {"makeSplitBackward", {{4, 12, 16}, {12, 1, 1}}, {1, 48, 2}, 2, 0},
                    {"complexFactory", {}, {}, support::none},
                    {"makeInplace", {{8, 56, 0}}, {7, 2, 0}, 0, 2, true},
                    {"makeOoplace", {{8, 48, 56}}, {6, 2, 2}, 0, 2, true},
                    {"makeOoplace", {{8, 2, 56}}, {1, 2, 2}, 0, 2, true},
                });
}

TEST(PlanesRealTuning, NoCallerArrayGivesEveryPlanAnEmptyPointer)
{
    RecordedReal<float> recorded(planeMachine(4));
    const Request request{3, {{8, 0, 0}, {4, 0, 0}, {12, 0, 0}}, {1, 0, 0}};
    ASSERT_TRUE(support::makePlan<Placement::Inplace>(*recorded.parallel, request));
    ASSERT_TRUE(support::makePlan<Placement::Ooplace>(*recorded.parallel, request));
    EXPECT_EQ(recorded.recorder->calls("tuningIndexInplace").size(), 1u);
    EXPECT_EQ(recorded.recorder->calls("tuningIndexOoplace").size(), 1u);
    support::expectNoTuningPassedOn(recorded.recorder->calls());
}

// ---------------------------------------------------------------------------
// Compute calls: extraArg reaches the plans of the pass that runs first, every
// plan of the direction runs, each within its thread's slice, and out of place
// the side buffer lies before the slices.

struct RoutingCase {
    const char* what;
    Request request;
    Placement placement;
    bool forward;
    std::map<Role, Routed> roles;  // every plan of these roles runs, and no other
};

// Half precision: its plans stage through work memory, so slices matter. Two
// transforms of 9 planes (a block and a plane on thread 0) of 5 rows of 60
// reals: 155 complex columns, in blocks of 32, a group and a tail of 11 in the
// packed class.
const Request packedRequest{3, {{9, 0, 0}, {5, 0, 0}, {60, 0, 0}}, {2, 0, 0}};
const Request stridedRequest{3, {{9, 0, 0}, {5, 64, 64}, {60, 0, 0}}, {2, 0, 0}};

const RoutingCase routingCases[] = {
    {"in place packed forward", packedRequest, Placement::Inplace, true,
     {{Role::Innermost, {"forwardWithArg", true}}, {Role::Column, {"forward", false}}}},
    {"in place packed backward", packedRequest, Placement::Inplace, false,
     {{Role::Column, {"backwardWithArg", true}}, {Role::Innermost, {"backward", false}}}},
    {"in place strided backward", stridedRequest, Placement::Inplace, false,
     {{Role::Column, {"backwardWithArg", true}}, {Role::Innermost, {"backward", false}}}},
    {"out of place forward", stridedRequest, Placement::Ooplace, true,
     {{Role::Innermost, {"forwardWithArg", true}}, {Role::Column, {"forward", false}}}},
    {"out of place backward", stridedRequest, Placement::Ooplace, false,
     {{Role::BackwardColumn, {"backwardWithArg", true}},
      {Role::LastColumn, {"backwardWithArg", true}},
      {Role::Split, {"execute", false}}}},
};

class RoutingRun {
public:
    using T = _Float16;

    void run(const RoutingCase& c)
    {
        const std::size_t reals = 6000;
        std::vector<T> first(reals), second(reals);
        if (c.placement == Placement::Inplace) {
            const auto plan = support::makePlan<Placement::Inplace>(*recorded.parallel, c.request);
            ASSERT_TRUE(plan);
            std::vector<T> work(plan->workSize());
            registerRegions(first, second, work);
            if (c.forward) plan->forwardWithArg(marker, first.data(), work.data());
            else plan->backwardWithArg(marker, first.data(), work.data());
            checkCalls(c, plan->threadWorkSize(), 0);
        } else {
            const auto plan = support::makePlan<Placement::Ooplace>(*recorded.parallel, c.request);
            ASSERT_TRUE(plan);
            std::vector<T> work(plan->workSize());
            registerRegions(first, second, work);
            if (c.forward) plan->forwardWithArg(marker, first.data(), second.data(), work.data());
            else plan->backwardWithArg(marker, first.data(), second.data(), work.data());
            // 2 x 9 x 5 reals of side buffer, in whole lines of 32.
            checkCalls(c, plan->threadWorkSize(), c.forward ? 0 : 96);
        }
    }

private:
    void registerRegions(const std::vector<T>& first, const std::vector<T>& second, const std::vector<T>& work)
    {
        recorded.recorder->registerRegion(first.data(), first.size());
        recorded.recorder->registerRegion(second.data(), second.size());
        workRegion = recorded.recorder->registerRegion(work.data(), work.size());
    }

    void checkCalls(const RoutingCase& c, std::int64_t slice, std::int64_t sideReals)
    {
        ASSERT_GT(slice, 0);
        const std::vector<FactoryCall> made = recorded.recorder->calls();
        const std::int64_t planes = c.request.dims[0].size;
        std::set<std::size_t> ran;
        for (const PlanCall& call : recorded.recorder->planCalls()) {
            const Role role = roleOf(made[call.call]);
            const auto routed = c.roles.find(role);
            ASSERT_NE(routed, c.roles.end()) << "a plan of role " << static_cast<int>(role) << " ran";
            ran.insert(call.call);
            EXPECT_EQ(call.op, routed->second.op);
            EXPECT_EQ(call.extraArg, routed->second.getsExtraArg ? marker : nullptr) << call.op;
            EXPECT_LE(static_cast<std::int64_t>(call.workSize), slice) << call.op;
            EXPECT_EQ(call.work.region, workRegion);
            EXPECT_GE(call.work.offset, sideReals) << call.op;
            EXPECT_EQ((call.work.offset - sideReals) % slice, 0) << call.op;
            if (role == Role::LastColumn) {
                const std::int64_t row = call.arrays[0].offset % (planes * 5 * 64) / 64;
                EXPECT_EQ(call.arrays[0].offset % 64, 60) << "the last complex value of a row";
                EXPECT_EQ(call.arrays[1].region, workRegion);
                EXPECT_EQ(call.arrays[1].offset, 2 * planes * row) << "one side row per plane row";
            }
            if (role == Role::Split) {
                EXPECT_EQ(call.value, 2) << "split plans run in mode 2";
                const std::int64_t plane = call.arrays[0].offset % (planes * 5 * 64) / (5 * 64);
                EXPECT_EQ(call.arrays[1].region, workRegion);
                EXPECT_EQ(call.arrays[1].offset, 2 * plane) << "a plane's values lie one complex value apart";
            }
        }
        std::set<std::size_t> planned;
        for (std::size_t i = 0; i < made.size(); ++i) {
            if (made[i].makeIndex >= 0 && c.roles.count(roleOf(made[i]))) planned.insert(i);
        }
        EXPECT_EQ(ran, planned) << "every plan of the direction runs, tails included";
    }

    RecordedReal<T> recorded{planeMachine(4)};
    int workRegion = -1;
    void* const marker = &workRegion;
};

TEST(PlanesRealRecordedRun, ExtraArgReachesOnlyTheFirstPassAndWorkStaysInSlices)
{
    for (const RoutingCase& c : routingCases) {
        SCOPED_TRACE(c.what);
        RoutingRun().run(c);
    }
}

// ---------------------------------------------------------------------------
// Descriptions and work sizes.

template <typename Precision>
class PlanesRealShape : public ::testing::Test {};
TYPED_TEST_SUITE(PlanesRealShape, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(PlanesRealShape, DescriptionsAndTheSideBufferInTheWorkSize)
{
    using T = typename TypeParam::Real;
    constexpr std::size_t line = 64 / sizeof(T);
    const auto factory = realParallel<T>(planeMachine(8));
    const std::string type = std::string("<float") + (sizeof(T) == 2 ? "16" : sizeof(T) == 4 ? "32" : "64") + "_t>";
    // N0 = 2, N1 = 5: 20 reals of side buffer in whole lines.
    const Request request{3, {{2, 0, 0}, {5, 0, 0}, {64, 0, 0}}, {0, 0, 0}};
    const std::size_t side = (20 + line - 1) / line * line;

    const auto inplace = support::makePlan<Placement::Inplace>(*factory, request);
    ASSERT_TRUE(inplace);
    EXPECT_EQ(inplace->toString(), "OmpInplaceRC" + type + "(2x5x64_b1/2)");
    EXPECT_EQ(inplace->workSize(), 2 * inplace->threadWorkSize());

    const auto ooplace = support::makePlan<Placement::Ooplace>(*factory, request);
    ASSERT_TRUE(ooplace);
    EXPECT_EQ(ooplace->toString(), "OmpOoplaceRC" + type + "(2x5x64_b1/2)");
    const std::size_t slice = ooplace->threadWorkSize();
    EXPECT_EQ(slice % line, 0u);
    EXPECT_EQ(ooplace->workSize(), 2 * slice + side);
    ooplace->reserveThreadWork(slice + 3);
    EXPECT_EQ(ooplace->workSize(), 2 * (slice + 3) + side);
    const auto reference = makePlannerFactory<T, T, std::complex<T>>();
    EXPECT_TRUE(support::checkPlan(request, *ooplace, *reference));
}

// ---------------------------------------------------------------------------
// A refused sub-plan declines the whole request and frees what was built.

TEST(PlanesRealDecline, ARefusedSubPlanDeclinesTheRequest)
{
    const RecordedReal<float> recorded(planeMachine(4));
    expectEveryRefusalDeclines(recorded, {{3, {{8, 0, 0}, {4, 0, 0}, {12, 0, 0}}, {1, 0, 0}},
                                          {3, {{8, 0, 0}, {4, 16, 16}, {12, 0, 0}}, {1, 0, 0}}});
}

}  // namespace
}  // namespace zun::fft::testing
