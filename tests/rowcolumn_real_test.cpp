// The real-to-complex rank-2 row/column strategies: results against the serial
// planner, the sub-plans they ask for, which calls reach which sub-plan, and
// what happens when a sub-plan is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "parallel_fixtures.h"
#include "rowcolumn/omp_inplace_row_column.h"
#include "rowcolumn/omp_ooplace_rc_row_column.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/roles.h"
#include "support/subrequests.h"

namespace zun::fft::testing {
namespace {

using support::FactoryCall;
using support::PlanCall;
using support::Request;
using support::Role;
using support::Routed;
using support::roleOf;

template <typename T, Placement P>
using RealRowColumn =
    std::conditional_t<P == Placement::Inplace, omp::OmpInplaceRCRowColumn<T>, omp::OmpOoplaceRCRowColumn<T>>;

Request rank2(const Dim& rowAxis, std::int64_t n, const Dim& batch) { return Request{2, {rowAxis, {n, 0, 0}}, batch}; }

// The strategy as the factory's decision would build it for `request`.
template <Placement P, typename T>
std::unique_ptr<RealRowColumn<T, P>> makeStrategy(const Parallel<RealFactory<T>>& factory, const Request& request,
                                                  const std::vector<PlanKey>& key,
                                                  const std::shared_ptr<T>& tuning = {})
{
    const auto reals = static_cast<std::uint64_t>(request.dims[0].size * request.dims[1].size);
    return std::make_unique<RealRowColumn<T, P>>(factory.context(), request.dims.data(), &request.batch, reals,
                                                 key.data(), tuning);
}

// ---------------------------------------------------------------------------
// Numerical results, with guards around every array and the work buffer.

struct NumericalCase {
    const char* what;
    Machine machine;
    Dim rowAxis;  // {rows, inStride, outStride}
    std::int64_t n;
    Dim batch;
    bool reserve = false;  // run with a slice larger than the strategy asked for
};

// Two packages: under nesting two outer teams share the transforms. Column
// counts n/2 + 1 are chosen so that forward and backward (one column fewer)
// have tails in some precisions and none in others.
const NumericalCase numericalCases[] = {
    {"one row", {4, 2}, {1, 0, 0}, 16, {1, 0, 0}},
    {"odd rows and column tails", {4, 2}, {9, 0, 0}, 20, {1, 0, 0}},
    {"N = 2: columns only in tails", {4, 2}, {7, 0, 0}, 2, {3, 0, 0}},
    {"N = 5", {4, 2}, {6, 0, 0}, 5, {2, 0, 0}},
    {"N = 14, several transforms per outer thread", {4, 2}, {10, 0, 0}, 14, {5, 0, 0}},
    {"N = 16", {4, 2}, {12, 0, 0}, 16, {4, 0, 0}},
    {"no forward tail in any precision", {4, 2}, {4, 0, 0}, 30, {1, 0, 0}},
    {"no backward tail in any precision", {4, 2}, {5, 0, 0}, 32, {2, 0, 0}},
    {"whole column and row blocks", {4, 2}, {20, 0, 0}, 256, {2, 0, 0}},
    {"strided rows and transforms", {4, 2}, {5, 11, 12}, 6, {3, 61, 67}},
    {"batch count 0", {4, 2}, {3, 0, 0}, 8, {0, 0, 0}},
    {"three inner threads", {3, 1}, {9, 0, 0}, 40, {2, 0, 0}},
    {"larger reserved slice", {4, 2}, {9, 0, 0}, 20, {3, 0, 0}, true},
};

template <typename Precision>
class RowColumnRealNumerical : public ::testing::Test {
protected:
    using T = typename Precision::Real;

    template <Placement P>
    void check(const NumericalCase& c)
    {
        SCOPED_TRACE(std::string(c.what) + (P == Placement::Inplace ? ", in place" : ", out of place"));
        const auto factory = realParallel<T>(c.machine);
        const Request request = rank2(c.rowAxis, c.n, c.batch);
        const auto plan = makeStrategy<P>(*factory, request, key);
        ASSERT_TRUE(plan->complete());
        if (c.reserve) {
            const std::size_t before = plan->workSize();
            const std::size_t larger = plan->threadWorkSize() + 40;
            plan->reserveThreadWork(larger);
            ASSERT_EQ(plan->threadWorkSize(), larger);
            ASSERT_EQ(plan->workSize(), before + static_cast<std::size_t>(plan->threadCount()) * 40);
        }
        EXPECT_TRUE(support::checkPlanWithArg(request, *plan, *reference));
    }

    const std::unique_ptr<RealFactory<T>> reference = makePlannerFactory<T, T, std::complex<T>>();
    const std::vector<PlanKey> key = makePlanKey(2);
};

TYPED_TEST_SUITE(RowColumnRealNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(RowColumnRealNumerical, MatchesSerialPlanInAndOutOfPlace)
{
    for (const NumericalCase& c : numericalCases) {
        this->template check<Placement::Inplace>(c);
        this->template check<Placement::Ooplace>(c);
    }
}

// ---------------------------------------------------------------------------
// Descriptions and work sizes.

template <typename Precision>
class RowColumnRealShape : public ::testing::Test {};
TYPED_TEST_SUITE(RowColumnRealShape, support::AllPrecisions, support::PrecisionNames);

template <typename T>
std::string digits()
{
    if constexpr (std::is_same_v<T, float>) return "32";
    else if constexpr (std::is_same_v<T, double>) return "64";
    else return "16";
}

TYPED_TEST(RowColumnRealShape, DescribesRowsRowPlanSizesCountAndTeams)
{
    using T = typename TypeParam::Real;
    const auto factory = realParallel<T>(Machine{4, 1});
    const std::vector<PlanKey> key = makePlanKey(2);
    const std::string type = "<float" + digits<T>() + "_t>";
    const Request three = rank2({9, 0, 0}, 20, {3, 0, 0});
    const Request none = rank2({9, 0, 0}, 20, {0, 0, 0});
    EXPECT_EQ(makeStrategy<Placement::Inplace>(*factory, three, key)->toString(),
              "OmpInplaceRC" + type + "(9x20_b3/1/4)");
    EXPECT_EQ(makeStrategy<Placement::Ooplace>(*factory, three, key)->toString(),
              "OmpOoplaceRC" + type + "(9x20_b3/1/4)");
    EXPECT_EQ(makeStrategy<Placement::Inplace>(*factory, none, key)->toString(),
              "OmpInplaceRC" + type + "(9x20_b1/1/4)");
}

TYPED_TEST(RowColumnRealShape, OutOfPlaceWorkAddsOneSideBufferPerOuterThread)
{
    using T = typename TypeParam::Real;
    constexpr std::size_t line = 64 / sizeof(T);
    const auto factory = realParallel<T>(Machine{4, 1});
    const std::vector<PlanKey> key = makePlanKey(2);
    const Request request = rank2({9, 0, 0}, 20, {1, 0, 0});
    const std::size_t side = (2 * 9 + line - 1) / line * line;  // one complex value per row, whole lines

    const auto inplace = makeStrategy<Placement::Inplace>(*factory, request, key);
    EXPECT_EQ(inplace->workSize(), 4 * inplace->threadWorkSize());

    const auto ooplace = makeStrategy<Placement::Ooplace>(*factory, request, key);
    const std::size_t slice = ooplace->threadWorkSize();
    EXPECT_EQ(slice % line, 0u);
    EXPECT_EQ(ooplace->workSize(), 4 * slice + side);
    ooplace->reserveThreadWork(slice - 1);
    EXPECT_EQ(ooplace->threadWorkSize(), slice);
    ooplace->reserveThreadWork(slice + 3);
    EXPECT_EQ(ooplace->threadWorkSize(), slice + 3);
    EXPECT_EQ(ooplace->workSize(), 4 * (slice + 3) + side);
}

// ---------------------------------------------------------------------------
// Sub-requests and sub-plan calls, seen through a recording planner.

using support::expectRequests;
using support::none;
using support::text;

// Float, 9 rows of 20 reals (11 complex columns), one outer and four inner
// threads: four rows per block, sixteen columns per block, eight per group.
// Key record 1 starts at word 2 and names tuning entry 2; row plans get the
// caller's pointer (entry 0), column plans the aliased entry 2.
const Dim rowProblem{20, 0, 0};  // what the tuning index is asked about
const Dim noAxis{};

// A recording planner in tuning mode, its key and tuning array registered.
class RowColumnRealRecordedTuning : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder->registerKey(key.data());
        recorder->registerTuning(tuning.get());
        recorder->clear();
    }

    RecordedReal<float> recorded{Machine{4, 1}};
    const std::shared_ptr<support::Recorder<float>>& recorder = recorded.recorder;
    const std::unique_ptr<Parallel<RealFactory<float>>>& factory = recorded.parallel;
    const std::vector<PlanKey> key = makePlanKey(2);
    const std::shared_ptr<float> tuning{new float[3]{-1, 0, 0}, std::default_delete<float[]>()};
};

TEST_F(RowColumnRealRecordedTuning, InPlaceRequestsRowPlansThenColumnPlans)
{

    const auto plan = makeStrategy<Placement::Inplace>(*factory, rank2({9, 0, 0}, 20, {1, 0, 0}), key, tuning);
    ASSERT_TRUE(plan->complete());
    expectRequests(recorder->calls(), {
                                          {"tuningIndexInplace", false, rowProblem, {}, 2},
                                          {"makeInplace", false, {20, 1, 0}, {4, 22, 0}, 2, 0},
                                          {"makeInplace", false, {20, 1, 0}, {1, 22, 0}, 2, 0},
                                          {"makeInplace", false, {20, 1, 0}, {2, 22, 0}, 2, 0},
                                          {"complexFactory", false, noAxis, {}, none},
                                          {"makeInplace column", true, {9, 22, 0}, {16, 2, 0}, 0, 2},
                                          {"makeInplace column", true, {9, 22, 0}, {3, 2, 0}, 0, 2},
                                          {"makeInplace column", true, {9, 22, 0}, {8, 2, 0}, 0, 2},
                                      });
    // Tuning mode and a key header of 2 or more: the aliased entry gets the
    // first tuning value before the column plans are asked for.
    EXPECT_EQ(tuning.get()[2], -1.0f);
}

TEST_F(RowColumnRealRecordedTuning, OutOfPlaceRequestsForwardThenBackwardPlans)
{

    const auto plan = makeStrategy<Placement::Ooplace>(*factory, rank2({9, 0, 0}, 20, {1, 0, 0}), key, tuning);
    ASSERT_TRUE(plan->complete());
    expectRequests(recorder->calls(), {
                                          {"tuningIndexOoplace", false, rowProblem, {}, 2},
                                          {"makeOoplace", false, {20, 1, 2}, {4, 20, 22}, 2, 0},
                                          {"makeOoplace", false, {20, 1, 2}, {1, 20, 22}, 2, 0},
                                          {"makeOoplace", false, {20, 1, 2}, {2, 20, 22}, 2, 0},
                                          {"complexFactory", false, noAxis, {}, none},
                                          {"makeInplace column", true, {9, 22, 0}, {16, 2, 0}, 0, 2},
                                          {"makeInplace column", true, {9, 22, 0}, {3, 2, 0}, 0, 2},
                                          {"makeInplace column", true, {9, 22, 0}, {8, 2, 0}, 0, 2},
                                          {"makeOoplace column", true, {9, 20, 22}, {16, 2, 2}, 0, 2},
                                          {"makeOoplace column", true, {9, 20, 22}, {2, 2, 2}, 0, 2},
                                          {"makeOoplace column", true, {9, 20, 22}, {8, 2, 2}, 0, 2},
                                          {"makeOoplace column", true, {9, 2, 22}, {1, 2, 2}, 0, 2},
                                          {"makeSplitBackward", false, {20, 1, 2}, {4, 20, 2}, 2, 0},
                                          {"makeSplitBackward", false, {20, 1, 2}, {1, 20, 2}, 2, 0},
                                          {"makeSplitBackward", false, {20, 1, 2}, {2, 20, 2}, 2, 0},
                                      });
    EXPECT_EQ(tuning.get()[2], -1.0f);
}

TEST(RowColumnRealRecorded, NoCallerTuningGivesEverySubPlanAnEmptyPointer)
{
    RecordedReal<float> recorded(Machine{4, 1});
    auto& [recorder, factory] = recorded;
    const std::vector<PlanKey> key = makePlanKey(2);
    const Request request = rank2({9, 0, 0}, 20, {1, 0, 0});
    ASSERT_TRUE(makeStrategy<Placement::Inplace>(*factory, request, key)->complete());
    ASSERT_TRUE(makeStrategy<Placement::Ooplace>(*factory, request, key)->complete());
    support::expectNoTuningPassedOn(recorder->calls());
}

struct RoutingCase {
    const char* what;
    Placement placement;
    bool forward;
    std::map<Role, Routed> roles;  // every plan of these roles runs, and no other
};

// Only the plans of the pass that runs first see extraArg; split row plans are
// always executed in mode 0.
const RoutingCase routingCases[] = {
    {"in place forward", Placement::Inplace, true,
     {{Role::Innermost, {"forwardWithArg", true}}, {Role::Column, {"forward", false}}}},
    {"in place backward", Placement::Inplace, false,
     {{Role::Column, {"backwardWithArg", true}}, {Role::Innermost, {"backward", false}}}},
    {"out of place forward", Placement::Ooplace, true,
     {{Role::Innermost, {"forwardWithArg", true}}, {Role::Column, {"forward", false}}}},
    {"out of place backward", Placement::Ooplace, false,
     {{Role::BackwardColumn, {"backwardWithArg", true}},
      {Role::LastColumn, {"backwardWithArg", true}},
      {Role::Split, {"execute", false}}}},
};

// Float, two transforms, one outer and four inner threads. 23 rows: thread 0
// gets a block of 4 and a pair, the last thread the odd row. 75 complex
// columns (74 backward): thread 0 gets a block of 16 and a group, the others a
// block each, and both directions have a tail. Each case gets its own
// recorder, so that no buffer of an earlier case can be mistaken for one of
// its regions.
class RoutingRun {
public:
    static constexpr std::int64_t rows = 23;
    static constexpr std::int64_t realRow = 148;
    static constexpr std::int64_t complexRow = 150;
    static constexpr std::int64_t transforms = 2;

    void run(const RoutingCase& c)
    {
        const Request request = rank2({rows, 0, 0}, realRow, {transforms, 0, 0});
        if (c.placement == Placement::Inplace) {
            const auto plan = makeStrategy<Placement::Inplace>(*recorded.parallel, request, key);
            ASSERT_TRUE(plan->complete());
            std::vector<float> data(rows * complexRow * transforms);
            std::vector<float> work(plan->workSize());
            registerRegions({&data}, work);
            if (c.forward) plan->forwardWithArg(marker, data.data(), work.data());
            else plan->backwardWithArg(marker, data.data(), work.data());
            checkCalls(c, *plan);
        } else {
            const auto plan = makeStrategy<Placement::Ooplace>(*recorded.parallel, request, key);
            ASSERT_TRUE(plan->complete());
            std::vector<float> real(rows * realRow * transforms);
            std::vector<float> half(rows * complexRow * transforms);
            std::vector<float> work(plan->workSize());
            auto& source = c.forward ? real : half;
            auto& destination = c.forward ? half : real;
            registerRegions({&source, &destination}, work);
            if (c.forward) plan->forwardWithArg(marker, source.data(), destination.data(), work.data());
            else plan->backwardWithArg(marker, source.data(), destination.data(), work.data());
            checkCalls(c, *plan);
        }
    }

private:
    void registerRegions(std::initializer_list<std::vector<float>*> arrays, const std::vector<float>& work)
    {
        for (auto* array : arrays) recorded.recorder->registerRegion(array->data(), array->size());
        workRegion = recorded.recorder->registerRegion(work.data(), work.size());
    }

    template <typename Plan>
    void checkCalls(const RoutingCase& c, const Plan& plan)
    {
        const std::vector<FactoryCall> made = recorded.recorder->calls();
        const std::int64_t slice = static_cast<std::int64_t>(plan.threadWorkSize());
        const std::int64_t slices = plan.threadCount() * slice;  // one outer thread: its side buffer follows
        std::set<std::size_t> ran;
        for (const PlanCall& call : recorded.recorder->planCalls()) {
            const Role role = roleOf(made[call.call]);
            const auto routed = c.roles.find(role);
            ASSERT_NE(routed, c.roles.end()) << "a plan of role " << static_cast<int>(role) << " ran";
            ran.insert(call.call);
            EXPECT_EQ(call.op, routed->second.op);
            EXPECT_EQ(call.extraArg, routed->second.getsExtraArg ? marker : nullptr) << call.op;
            // Every sub-plan's work fits in one thread's slice.
            EXPECT_LE(static_cast<std::int64_t>(call.workSize), slice) << call.op;
            if (slice > 0) {
                EXPECT_EQ(call.work.region, workRegion);
                EXPECT_EQ(call.work.offset % slice, 0) << call.op;
                EXPECT_LT(call.work.offset, slices) << call.op;
            }
            if (role == Role::LastColumn) {
                EXPECT_EQ(call.arrays[0].offset % (rows * complexRow), complexRow - 2);
                EXPECT_EQ(call.arrays[1].region, workRegion);
                EXPECT_EQ(call.arrays[1].offset, slices);
            }
            if (role == Role::Split) {
                EXPECT_EQ(call.value, 0);
                const std::int64_t row = call.arrays[0].offset % (rows * realRow) / realRow;
                EXPECT_EQ(call.arrays[1].region, workRegion);
                EXPECT_EQ(call.arrays[1].offset, slices + 2 * row);
            }
        }
        std::set<std::size_t> planned;
        for (std::size_t i = 0; i < made.size(); ++i) {
            if (made[i].makeIndex >= 0 && c.roles.count(roleOf(made[i]))) planned.insert(i);
        }
        EXPECT_EQ(ran, planned) << "every plan of the direction runs, odd-row and tail plans included";
    }

    RecordedReal<float> recorded{Machine{4, 1}};
    const std::vector<PlanKey> key = makePlanKey(2);
    int workRegion = -1;
    void* const marker = &workRegion;
};

TEST(RowColumnRealRecorded, ExtraArgReachesOnlyTheFirstPassAndWorkStaysInSlices)
{
    for (const RoutingCase& c : routingCases) {
        SCOPED_TRACE(c.what);
        RoutingRun().run(c);
    }
}

// ---------------------------------------------------------------------------
// A refused sub-plan declines the whole request and frees what was built.

TEST(RowColumnRealRecorded, ARefusedSubPlanDeclinesTheRequest)
{
    RecordedReal<float> recorded(Machine{4, 1, 1});
    auto& [recorder, factory] = recorded;  // 1 KiB L1: 9 x 64 goes row/column
    const std::vector<PlanKey> key = makePlanKey(2);
    const Request request = rank2({9, 0, 0}, 64, {1, 0, 0});
    auto planComesBack = [&](Placement placement) {
        if (placement == Placement::Inplace)
            return support::makePlan<Placement::Inplace>(*factory, request, false, key.data()) != nullptr;
        return support::makePlan<Placement::Ooplace>(*factory, request, false, key.data()) != nullptr;
    };
    for (Placement placement : {Placement::Inplace, Placement::Ooplace}) {
        SCOPED_TRACE(support::name(placement));
        recorder->clear();
        ASSERT_TRUE(planComesBack(placement));
        const std::int64_t makes = support::makeCallCount(recorder->calls());
        ASSERT_GE(makes, 6);
        for (std::int64_t k = 0; k < makes; ++k) {
            recorder->clear();
            recorder->declineMake(k);
            EXPECT_FALSE(planComesBack(placement)) << "make call " << k << " refused";
            EXPECT_EQ(recorder->livePlans(), 0) << "make call " << k << " refused";
            support::expectNothingAskedAfter(recorder->calls(), k);
        }
        recorder->declineNothing();
    }
}

TEST(RowColumnRealRecorded, FactoryBuildsTheStrategiesForRank2Requests)
{
    const auto factory = realParallel<float>(Machine{4, 1, 1});
    const std::vector<PlanKey> key = makePlanKey(2);
    const Request request = rank2({9, 0, 0}, 64, {1, 0, 0});
    EXPECT_EQ(support::makePlan<Placement::Inplace>(*factory, request, false, key.data())->toString(),
              "OmpInplaceRC<float32_t>(9x64_b1/1/4)");
    EXPECT_EQ(support::makePlan<Placement::Ooplace>(*factory, request, false, key.data())->toString(),
              "OmpOoplaceRC<float32_t>(9x64_b1/1/4)");
}

}  // namespace
}  // namespace zun::fft::testing
