// The complex plane strategies: results against the serial plan of the whole
// request, the shares each thread takes, the sub-plans they ask for, and what
// happens when one is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "factory/decisions.h"
#include "parallel/partition.h"
#include "parallel/describe.h"
#include "parallel_fixtures.h"
#include "plane_fixtures.h"
#include "support/harness.h"
#include "support/recording.h"

namespace zun::fft::testing {
namespace {

using support::FactoryCall;
using support::PlanCall;
using support::Request;

struct NumericalCase {
    const char* what;
    int threads;
    Request request;
    bool packedInplace;
    bool packedOoplace;
};

const NumericalCase numericalCases[] = {
    {"block of planes per thread, whole column groups", 4, {3, {{16, 0, 0}, {8, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, true,
     true},
    {"a block and a plane, column tails", 4, {3, {{9, 0, 0}, {5, 0, 0}, {20, 0, 0}}, {3, 0, 0}}, true, true},
    {"fewer columns than a group", 4, {3, {{64, 0, 0}, {3, 0, 0}, {2, 0, 0}}, {1, 0, 0}}, true, true},
    {"two planes, eight threads", 8, {3, {{2, 0, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, true, true},
    {"rows with gaps, distance with gaps", 8, {3, {{6, 0, 0}, {5, 30, 30}, {12, 0, 0}}, {2, 1000, 1100}}, false,
     false},
    {"packed out of place, not in place", 8, {3, {{6, 0, 0}, {5, 0, 24}, {12, 0, 0}}, {3, 0, 0}}, false, true},
    {"layouts differ in rows and planes", 4, {3, {{8, 500, 600}, {10, 0, 48}, {20, 0, 0}}, {1, 0, 0}}, false, false},
    {"plane strides and distances given", 8, {3, {{12, 300, 340}, {5, 0, 0}, {14, 0, 0}}, {4, 4000, 4200}}, true,
     true},
    {"count 0", 4, {3, {{4, 0, 0}, {6, 0, 0}, {16, 0, 0}}, {0, 0, 0}}, true, true},
    {"five transforms", 8, {3, {{7, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {5, 0, 0}}, true, true},
    {"one row", 8, {3, {{10, 0, 0}, {1, 80, 80}, {32, 0, 0}}, {1, 0, 0}}, false, false},
    {"fewer rows than threads", 8, {3, {{8, 0, 0}, {3, 70, 70}, {32, 0, 0}}, {1, 0, 0}}, false, false},
    {"as many rows as planes", 4, {3, {{6, 0, 0}, {6, 0, 0}, {10, 0, 0}}, {1, 0, 0}}, true, true},
};

template <typename Precision>
class PlanesComplexNumerical : public ::testing::Test {};
TYPED_TEST_SUITE(PlanesComplexNumerical, support::AllPrecisions, support::PrecisionNames);

std::string prefixOf(const std::string& description) { return description.substr(0, description.find('<')); }

TYPED_TEST(PlanesComplexNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    using T = typename TypeParam::Real;
    const auto reference = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    for (const NumericalCase& c : numericalCases) {
        SCOPED_TRACE(std::string(c.what) + ": " + support::describe(c.request));
        const auto factory = complexParallel<T>(planeMachine(c.threads));
        const auto packed = [](bool yes) { return yes ? omp::Strategy::PackedPlanes : omp::Strategy::StridedPlanes; };
        const auto strategy = [&](Placement placement) {
            return planeStrategy<T, omp::Kind::Complex>(placement, c.request, planeMachine(c.threads));
        };
        EXPECT_EQ(strategy(Placement::Inplace), packed(c.packedInplace));
        EXPECT_EQ(strategy(Placement::Ooplace), packed(c.packedOoplace));

        const auto inplace = support::makePlan<Placement::Inplace>(*factory, c.request);
        ASSERT_TRUE(inplace);
        EXPECT_EQ(prefixOf(inplace->toString()), "OmpInplaceCC") << inplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *inplace, *reference));

        const auto ooplace = support::makePlan<Placement::Ooplace>(*factory, c.request);
        ASSERT_TRUE(ooplace);
        EXPECT_EQ(prefixOf(ooplace->toString()), "OmpOoplaceCC") << ooplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(c.request, *ooplace, *reference));
    }
}

// ---------------------------------------------------------------------------
// Which thread share reaches which plan: the plans that ran in one forward call,
// by the size they were made for and the first plane or column they got.

struct Ran {
    bool column;
    std::int64_t count;  // planes or columns per call
    std::int64_t first;  // first plane, or first column of the plane

    bool operator<(const Ran& other) const
    {
        return std::tie(column, count, first) < std::tie(other.column, other.count, other.first);
    }
    bool operator==(const Ran& other) const
    {
        return column == other.column && count == other.count && first == other.first;
    }
};

std::string text(const std::vector<Ran>& calls)
{
    std::string out;
    for (const Ran& call : calls)
        out += std::string(call.column ? " column " : " plane ") + std::to_string(call.count) + "@" +
               std::to_string(call.first);
    return out;
}

struct ShareCase {
    const char* what;
    int threads;
    std::int64_t n0, n1, n2;
    std::vector<Ran> ran;
};

// float: 8 columns per line, so at least 16 per column block.
const ShareCase shareCases[] = {
    {"N0 = 9, four threads: blocks of 2 and one plane", 4, 9, 4, 16,
     {{false, 2, 0}, {false, 1, 2}, {false, 2, 3}, {false, 2, 5}, {false, 2, 7}, {true, 16, 0}, {true, 16, 16},
      {true, 16, 32}, {true, 16, 48}}},
    {"N0 = 12, four threads: one block of 3 each; a group of columns each", 4, 12, 4, 8,
     {{false, 3, 0}, {false, 3, 3}, {false, 3, 6}, {false, 3, 9}, {true, 8, 0}, {true, 8, 8}, {true, 8, 16},
      {true, 8, 24}}},
    {"N0 = 2, eight threads: two threads, one plane each", 8, 2, 16, 32,
     {{false, 1, 0}, {false, 1, 1}, {true, 256, 0}, {true, 256, 256}}},
    {"200 columns, three threads: blocks of 64 and a group", 3, 3, 10, 20,
     {{false, 1, 0}, {false, 1, 1}, {false, 1, 2}, {true, 64, 0}, {true, 8, 64}, {true, 64, 72}, {true, 64, 136}}},
    {"100 columns, four threads: blocks of 24 and a tail of 4", 4, 4, 10, 10,
     {{false, 1, 0}, {false, 1, 1}, {false, 1, 2}, {false, 1, 3}, {true, 24, 0}, {true, 24, 24}, {true, 24, 48},
      {true, 24, 72}, {true, 4, 96}}},
    {"six columns: the tail plan only", 4, 64, 3, 2,
     {{false, 16, 0}, {false, 16, 16}, {false, 16, 32}, {false, 16, 48}, {true, 6, 0}}},
};

// The calls a flat team of `team` threads makes in one transform: each thread
// walks its share of the planes one by one and its share of a plane's columns
// a line at a time, the last thread the tail; blocks are sized for the
// `planned` threads the plans were made for. A plan is named by its count.
std::vector<Ran> sharesOf(const ShareCase& c, int team, int planned)
{
    std::vector<Ran> ran;
    auto walk = [&](bool column, std::int64_t items, std::int64_t unit) {
        const std::int64_t block = omp::itemsPerBlock(items, planned, unit);
        const std::int64_t tail = items % unit;
        for (int thread = 0; thread < team; ++thread)
            omp::runShare(omp::splitRange(items, team, thread, unit), block, unit, block, unit, tail ? &tail : nullptr,
                          [&](std::int64_t count, std::int64_t first) { ran.push_back({column, count, first}); });
    };
    walk(false, c.n0, 1);
    walk(true, c.n1 * c.n2, omp::lineColumns<float>);
    std::sort(ran.begin(), ran.end());
    return ran;
}

// The worked examples hold for the full team. A run may get a smaller team
// (a thread limit, a dynamic runtime): it must make the calls of the team
// that actually ran, with the plans made for the full one.
TEST(PlanesComplexShares, WorkedExamples)
{
    for (const ShareCase& c : shareCases) {
        SCOPED_TRACE(c.what);
        const int planned = static_cast<int>(std::min<std::int64_t>(c.n0, c.threads));
        std::vector<Ran> expected = c.ran;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(text(sharesOf(c, planned, planned)), text(expected));

        RecordedComplex<float> recorded(planeMachine(c.threads));
        const Request request{3, {{c.n0, 0, 0}, {c.n1, 0, 0}, {c.n2, 0, 0}}, {1, 0, 0}};
        const auto plan = support::makePlan<Placement::Inplace>(*recorded.parallel, request);
        ASSERT_TRUE(plan);
        const std::int64_t planeReals = 2 * c.n1 * c.n2;
        std::vector<float> data(static_cast<std::size_t>(c.n0 * planeReals));
        std::vector<float> work(plan->workSize());
        recorded.recorder->registerRegion(data.data(), data.size());
        plan->forward(data.data(), work.data());

        const std::vector<FactoryCall> made = recorded.recorder->calls();
        std::vector<Ran> ran;
        std::set<std::thread::id> team;  // every thread of the team gets a plane
        for (const PlanCall& call : recorded.recorder->planCalls()) {
            const FactoryCall& maker = made[call.call];
            const std::int64_t offset = call.arrays[0].offset;
            ran.push_back(maker.column ? Ran{true, maker.batch->size, offset / 2}
                                       : Ran{false, maker.batch->size, offset / planeReals});
            team.insert(call.thread);
        }
        std::sort(ran.begin(), ran.end());
        EXPECT_EQ(text(ran), text(sharesOf(c, static_cast<int>(team.size()), planned))) << team.size() << " threads ran";
    }
}

// ---------------------------------------------------------------------------
// Sub-requests, through a recording planner with its key and tuning registered.

class PlanesComplexRecorded : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorded.recorder->registerKey(key.data());
        recorded.recorder->registerTuning(tuning.get());
    }

    template <Placement P>
    std::unique_ptr<Compute<float, P>> plan(const Request& request)
    {
        recorded.recorder->clear();
        return support::makePlan<P>(*recorded.parallel, request, false, key.data(), tuning);
    }

    RecordedComplex<float> recorded{planeMachine(4)};
    // Records at words 0, 2 and 4; record k names tuning entry k + 1.
    const std::vector<PlanKey> key = makePlanKey(3);
    const std::shared_ptr<float> tuning{new float[4]{-1, 0, 0, 0}, std::default_delete<float[]>()};
};

// 8 planes of 4 x 21: four threads, blocks of 2 planes, 84 columns in blocks
// of 16 with a tail of 4. The first-axis plans get tuning entry 2 (record 1).
const Dim plane4x21[] = {{4, 0, 0}, {21, 0, 0}};

TEST_F(PlanesComplexRecorded, InPlacePackedAsksPlanesThenColumnBlockTailGroup)
{
    const auto made = plan<Placement::Inplace>({3, {{8, 0, 0}, plane4x21[0], plane4x21[1]}, {1, 0, 0}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->toString(), "OmpInplaceCC<float32_t>(8x4x21_b1/4)");
    EXPECT_EQ(tuning.get()[2], -1.0f) << "tuning mode reaches the first-axis entry before any plan is asked";
    expectAsked(recorded.recorder->calls(), {
                                                {"tuningIndexInplace", {{4, 0, 0}, {21, 0, 0}}, {}, 2},
                                                {"makeInplace", {{4, 0, 0}, {21, 0, 0}}, {2, 168, 0}, 2, 0},
                                                {"makeInplace", {{4, 0, 0}, {21, 0, 0}}, {1, 168, 0}, 2, 0},
                                                {"makeInplace", {{8, 168, 0}}, {16, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 168, 0}}, {4, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 168, 0}}, {8, 2, 0}, 0, 2},
                                            });
}

TEST_F(PlanesComplexRecorded, OutOfPlacePackedAsksColumnSetsPerLayoutStageByStage)
{
    const auto made = plan<Placement::Ooplace>(
        {3, {{8, 200, 240}, plane4x21[0], plane4x21[1]}, {2, 2000, 2400}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->toString(), "OmpOoplaceCC<float32_t>(8x4x21_b2/4)");
    expectAsked(recorded.recorder->calls(), {
                                                {"tuningIndexOoplace", {{4, 0, 0}, {21, 0, 0}}, {}, 2},
                                                {"makeOoplace", {{4, 0, 0}, {21, 0, 0}}, {2, 200, 240}, 2, 0},
                                                {"makeOoplace", {{4, 0, 0}, {21, 0, 0}}, {1, 200, 240}, 2, 0},
                                                {"makeInplace", {{8, 200, 0}}, {16, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 240, 0}}, {16, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 200, 0}}, {4, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 240, 0}}, {4, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 200, 0}}, {8, 2, 0}, 0, 2},
                                                {"makeInplace", {{8, 240, 0}}, {8, 2, 0}, 0, 2},
                                            });
}

TEST_F(PlanesComplexRecorded, InPlaceStridedAsksOneRowPlan)
{
    const auto made = plan<Placement::Inplace>({3, {{8, 0, 0}, {4, 50, 0}, {21, 0, 0}}, {3, 0, 0}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->toString(), "OmpInplaceCC<float32_t>(8x4x21_b3/4)");
    expectAsked(recorded.recorder->calls(), {
                                                {"tuningIndexInplace", {{4, 50, 0}, {21, 0, 0}}, {}, 2},
                                                {"makeInplace", {{4, 50, 0}, {21, 0, 0}}, {2, 200, 0}, 2, 0},
                                                {"makeInplace", {{4, 50, 0}, {21, 0, 0}}, {1, 200, 0}, 2, 0},
                                                {"makeInplace", {{8, 200, 0}}, {21, 2, 0}, 0, 2},
                                            });
}

TEST_F(PlanesComplexRecorded, OutOfPlaceStridedAsksARowPlanPerLayout)
{
    // N0 = N1: the first-axis entry is named by the innermost axis (record 2).
    const auto made = plan<Placement::Ooplace>({3, {{4, 0, 0}, {4, 0, 50}, {21, 0, 0}}, {1, 0, 0}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->toString(), "OmpOoplaceCC<float32_t>(4x4x21_b1/4)");
    EXPECT_EQ(tuning.get()[3], -1.0f);
    expectAsked(recorded.recorder->calls(), {
                                                {"tuningIndexOoplace", {{21, 0, 0}}, {}, 4},
                                                {"makeOoplace", {{4, 0, 50}, {21, 0, 0}}, {2, 168, 200}, 2, 0},
                                                {"makeOoplace", {{4, 0, 50}, {21, 0, 0}}, {1, 168, 200}, 2, 0},
                                                {"makeInplace", {{4, 168, 0}}, {21, 2, 0}, 0, 3},
                                                {"makeInplace", {{4, 200, 0}}, {21, 2, 0}, 0, 3},
                                            });
}

// The copy into the first-axis entry needs a key header of 2 or more and a
// first tuning value below 0.
TEST(PlanesComplexTuning, CopyRule)
{
    struct Case {
        PlanKey header;
        float first;
        float expected;
    };
    const Case cases[] = {{1, -1, 7}, {2, -1, -1}, {2, 0, 7}, {0x101, -0.5f, -0.5f}};
    for (const Case& c : cases) {
        SCOPED_TRACE("header " + std::to_string(c.header) + ", first " + std::to_string(c.first));
        RecordedComplex<float> recorded(planeMachine(4));
        // Record 0 carries as many data words as its header counts.
        std::vector<PlanKey> key{c.header};
        key.resize(1 + (c.header & 0xffu), 9);
        key.insert(key.end(), {1, 2, 1, 3});
        const std::shared_ptr<float> tuning{new float[4]{c.first, 7, 7, 7}, std::default_delete<float[]>()};
        const auto plan = support::makePlan<Placement::Inplace>(
            *recorded.parallel, {3, {{8, 0, 0}, {4, 0, 0}, {21, 0, 0}}, {1, 0, 0}}, false, key.data(), tuning);
        ASSERT_TRUE(plan);
        EXPECT_EQ(tuning.get()[2], c.expected);
    }
}

// Outside tuning mode the first-axis plans still get a pointer at their entry
// of the caller's array: that entry holds the parameters a stored tuning run
// left for them. Nothing is copied, so they read what was stored; the plane
// plans get the caller's own pointer.
TEST(PlanesComplexTuning, StoredEntryReachesTheFirstAxisPlansOutsideTuningMode)
{
    const Machine machine{8, 2, 1, 2, 8};
    const Request request{3, {{6, 0, 0}, {6, 0, 0}, {10, 0, 0}}, {2, 0, 0}};
    ASSERT_EQ((planeStrategy<float, omp::Kind::Complex>(Placement::Inplace, request, machine)),
              omp::Strategy::PackedPlanes);
    RecordedComplex<float> recorded(machine);
    const std::vector<PlanKey> key = makePlanKey(3);
    const std::vector<float> stored{0, 0.25f, 0.5f, 0.75f};
    const std::shared_ptr<float> tuning{new float[4]{stored[0], stored[1], stored[2], stored[3]},
                                        std::default_delete<float[]>()};
    recorded.recorder->registerKey(key.data());
    recorded.recorder->registerTuning(tuning.get());

    ASSERT_TRUE(support::makePlan<Placement::Inplace>(*recorded.parallel, request, false, key.data(), tuning));

    EXPECT_EQ(std::vector<float>(tuning.get(), tuning.get() + 4), stored) << "nothing is copied";
    const auto indices = recorded.recorder->calls("tuningIndexInplace");
    ASSERT_EQ(indices.size(), 1u);
    EXPECT_EQ(indices[0].result, 3) << "N0 = N1: the entry named for the innermost axis (record 2)";
    std::size_t firstAxisPlans = 0;
    for (const FactoryCall& call : recorded.recorder->calls("makeInplace")) {
        SCOPED_TRACE(call.column ? "first-axis plan" : "plane plan");
        const std::ptrdiff_t entry = call.column ? indices[0].result : 0;
        firstAxisPlans += call.column;
        EXPECT_EQ(call.tuningIndex, entry);
        EXPECT_EQ(call.tuningRead, stored[static_cast<std::size_t>(entry)]);
    }
    EXPECT_GE(firstAxisPlans, 1u);
}

TEST(PlanesComplexTuning, NoCallerArrayGivesEveryPlanAnEmptyPointerButTheIndexIsStillAsked)
{
    RecordedComplex<float> recorded(planeMachine(4));
    for (const Request& request : {Request{3, {{8, 0, 0}, {4, 0, 0}, {21, 0, 0}}, {1, 0, 0}},
                                   Request{3, {{8, 0, 0}, {4, 50, 50}, {21, 0, 0}}, {1, 0, 0}}}) {
        recorded.recorder->clear();
        ASSERT_TRUE(support::makePlan<Placement::Inplace>(*recorded.parallel, request));
        ASSERT_TRUE(support::makePlan<Placement::Ooplace>(*recorded.parallel, request));
        EXPECT_EQ(recorded.recorder->calls("tuningIndexInplace").size(), 1u);
        EXPECT_EQ(recorded.recorder->calls("tuningIndexOoplace").size(), 1u);
        support::expectNoTuningPassedOn(recorded.recorder->calls());
    }
}

// ---------------------------------------------------------------------------
// Compute calls: extraArg reaches the plane plans only, the first-axis pass
// runs on the destination with the plans of its layout, and every call works
// within its thread's slice.

TEST(PlanesComplexRecordedRun, ExtraArgWorkSlicesAndDestinationLayouts)
{
    // Half precision: its plans stage through work memory, so slices matter.
    // Different plane strides per layout, so the two column sets differ.
    const Request requests[] = {
        {3, {{9, 200, 240}, {4, 0, 0}, {21, 0, 0}}, {2, 2000, 2400}},
        {3, {{9, 200, 240}, {4, 44, 50}, {21, 0, 0}}, {2, 2000, 2400}},
    };
    void* const marker = reinterpret_cast<void*>(std::uintptr_t{0xa11});
    for (const Request& request : requests) {
        for (Placement placement : {Placement::Inplace, Placement::Ooplace}) {
            for (bool forward : {true, false}) {
                SCOPED_TRACE(support::describe(request) + ", " + support::name(placement) +
                             (forward ? ", forward" : ", backward"));
                RecordedComplex<_Float16> recorded(planeMachine(4));
                std::vector<_Float16> first(4800), second(4800);
                std::unique_ptr<InplaceCompute<_Float16>> inplace;
                std::unique_ptr<OoplaceCompute<_Float16>> ooplace;
                if (placement == Placement::Inplace)
                    inplace = support::makePlan<Placement::Inplace>(*recorded.parallel, request);
                else
                    ooplace = support::makePlan<Placement::Ooplace>(*recorded.parallel, request);
                ASSERT_TRUE(inplace || ooplace);
                const std::size_t workSize = inplace ? inplace->workSize() : ooplace->workSize();
                const std::int64_t slice = inplace ? inplace->threadWorkSize() : ooplace->threadWorkSize();
                ASSERT_GT(slice, 0);
                std::vector<_Float16> work(workSize);
                const int firstRegion = recorded.recorder->registerRegion(first.data(), first.size());
                const int secondRegion = recorded.recorder->registerRegion(second.data(), second.size());
                const int workRegion = recorded.recorder->registerRegion(work.data(), work.size());
                if (inplace && forward) inplace->forwardWithArg(marker, first.data(), work.data());
                if (inplace && !forward) inplace->backwardWithArg(marker, first.data(), work.data());
                if (ooplace && forward) ooplace->forwardWithArg(marker, first.data(), second.data(), work.data());
                if (ooplace && !forward) ooplace->backwardWithArg(marker, first.data(), second.data(), work.data());

                const int destination = inplace ? firstRegion : secondRegion;
                const std::int64_t destinationPlanes = inplace || !forward ? 200 : 240;
                const std::vector<FactoryCall> made = recorded.recorder->calls();
                const std::string withArg = forward ? "forwardWithArg" : "backwardWithArg";
                const std::string plain = forward ? "forward" : "backward";
                for (const PlanCall& call : recorded.recorder->planCalls()) {
                    const FactoryCall& maker = made[call.call];
                    EXPECT_EQ(call.op, maker.column ? plain : withArg);
                    EXPECT_EQ(call.extraArg, maker.column ? nullptr : marker);
                    EXPECT_LE(static_cast<std::int64_t>(call.workSize), slice);
                    EXPECT_EQ(call.work.region, workRegion);
                    EXPECT_EQ(call.work.offset % slice, 0);
                    EXPECT_LT(call.work.offset, static_cast<std::int64_t>(workSize));
                    if (maker.column) {
                        EXPECT_EQ(call.arrays[0].region, destination);
                        EXPECT_EQ(maker.dims[0].inStride, destinationPlanes);
                    } else if (ooplace) {
                        EXPECT_EQ(call.arrays[0].region, firstRegion);
                        EXPECT_EQ(call.arrays[1].region, secondRegion);
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Work sizes and descriptions.

template <typename Precision>
class PlanesComplexShape : public ::testing::Test {};
TYPED_TEST_SUITE(PlanesComplexShape, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(PlanesComplexShape, DescriptionWorkSizeAndReservedSlices)
{
    using T = typename TypeParam::Real;
    const auto factory = complexParallel<T>(planeMachine(8));
    const std::string digits = sizeof(T) == 2 ? "16" : sizeof(T) == 4 ? "32" : "64";
    const Request request{3, {{6, 0, 0}, {5, 0, 0}, {12, 0, 0}}, {0, 0, 0}};
    const auto plan = support::makePlan<Placement::Ooplace>(*factory, request);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->toString(), "OmpOoplaceCC<float" + digits + "_t>(6x5x12_b1/6)");
    EXPECT_EQ(plan->threadCount(), 6);
    const std::size_t slice = plan->threadWorkSize();
    EXPECT_EQ(slice % (64 / sizeof(T)), 0u);
    EXPECT_EQ(plan->workSize(), 6 * slice);
    plan->reserveThreadWork(slice > 0 ? slice - 1 : 0);
    EXPECT_EQ(plan->threadWorkSize(), slice);
    plan->reserveThreadWork(slice + 3);
    EXPECT_EQ(plan->workSize(), 6 * (slice + 3));
    const auto reference = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    EXPECT_TRUE(support::checkPlan(request, *plan, *reference));
}

TEST(PlanesComplexShape, DescriptionPieceOfThePlaneBlockPlan)
{
    const std::pair<const char*, const char*> cases[] = {
        {"dft(4x21_b2)", "4x21"}, {"plan4x21_b2", "plan4x21"}, {"dft(4x21)", "4x21)"},
        {"b(x)", "x)"},           {"(b", "b"},                 {"(xb", ""},
    };
    for (const auto& [description, piece] : cases)
        EXPECT_EQ(omp::sizesBetweenParenAndCount(description), piece) << description;
}

// ---------------------------------------------------------------------------
// A refused sub-plan declines the whole request and frees what was built.

TEST(PlanesComplexDecline, ARefusedSubPlanDeclinesTheRequest)
{
    const RecordedComplex<float> recorded(planeMachine(4));
    expectEveryRefusalDeclines(recorded, {{3, {{8, 0, 0}, {4, 0, 0}, {21, 0, 0}}, {1, 0, 0}},
                                          {3, {{8, 0, 0}, {4, 50, 50}, {21, 0, 0}}, {1, 0, 0}}});
}

}  // namespace
}  // namespace zun::fft::testing
