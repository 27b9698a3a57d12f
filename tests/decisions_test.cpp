#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "factory/decisions.h"

namespace zun::fft::omp {
namespace {

// float figures: 32 KiB L1 (8192 reals), 1 MiB L2 (131072 reals in half), 8 threads.
Figures floatFigures(std::int64_t cacheL1 = 32)
{
    return {cacheBudgets<float>({static_cast<std::uint32_t>(cacheL1), 1024, 8192}), 8, sizeof(float)};
}

struct Case {
    const char* name;
    Kind kind;
    Placement placement;
    std::vector<Dim> dims;
    Dim batch;
    Strategy expected;
    std::int64_t grain = -1;  // -1: not checked
    std::int64_t cacheL1 = 32;
};

constexpr auto In = Placement::Inplace;
constexpr auto Out = Placement::Ooplace;
constexpr auto C = Kind::Complex;
constexpr auto R = Kind::Real;

const std::int64_t big = std::int64_t{1} << 40;

const Case cases[] = {
    // Complex requests.
    {"serial", C, In, {{64, 0, 0}}, {10, 0, 0}, Strategy::Serial},
    {"plain batch, grain found", C, In, {{1024, 0, 0}}, {100, 0, 0}, Strategy::PlainBatch, 5},
    {"2-D small, grain searched", C, In, {{8, 0, 0}, {8, 0, 0}}, {1000, 0, 0}, Strategy::PlainBatch, 100, 48},
    {"strided rank 1, no search", C, In, {{256, 4, 0}}, {100, 0, 0}, Strategy::GroupedBatch, 16},
    {"strided rank 1, searched", C, In, {{16, 6, 0}}, {320, 0, 0}, Strategy::GroupedBatch, 320},
    {"oop strided output", C, Out, {{4096, 2, 4}}, {100, 0, 0}, Strategy::GroupedBatch},
    {"one huge transform", C, In, {{1048576, 0, 0}}, {1, 0, 0}, Strategy::PlainBatch, 1},
    {"length 1 not declined", C, In, {{1, 7, 0}}, {1, 0, 0}, Strategy::Serial},
    {"1024 x 1024", C, In, {{1024, 0, 0}, {1024, 0, 0}}, {1, 0, 0}, Strategy::RowColumn},
    {"64 x 256, B < P, N0 > B", C, In, {{64, 0, 0}, {256, 0, 0}}, {4, 0, 0}, Strategy::RowColumn},
    {"64 x 256, B >= P", C, In, {{64, 0, 0}, {256, 0, 0}}, {8, 0, 0}, Strategy::PlainBatch},
    {"4 x 4096, N0 <= B", C, In, {{4, 0, 0}, {4096, 0, 0}}, {4, 0, 0}, Strategy::PlainBatch},
    {"3-D packed planes", C, In, {{16, 0, 0}, {32, 0, 0}, {32, 0, 0}}, {1, 0, 0}, Strategy::PackedPlanes},
    {"3-D packed planes, explicit", C, In, {{16, 0, 0}, {32, 64, 0}, {32, 0, 0}}, {1, 0, 0}, Strategy::PackedPlanes},
    {"3-D strided planes", C, In, {{16, 0, 0}, {32, 66, 0}, {32, 0, 0}}, {1, 0, 0}, Strategy::StridedPlanes},
    {"3-D in place outStride", C, In, {{16, 0, 0}, {32, 0, 64}, {32, 0, 0}}, {1, 0, 0}, Strategy::StridedPlanes},
    {"3-D plane teams", C, In, {{8, 0, 0}, {512, 0, 0}, {512, 0, 0}}, {1, 0, 0}, Strategy::PackedPlaneTeams},
    {"3-D strided teams", C, Out, {{8, 0, 0}, {512, 0, 2000}, {512, 0, 0}}, {1, 0, 0}, Strategy::StridedPlaneTeams},
    {"4-D dense", C, In, {{4, 0, 0}, {8, 1024, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0}, Strategy::PackedSplitFirstDim},
    {"4-D strided", C, In, {{4, 0, 0}, {8, 2048, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0}, Strategy::StridedSplitFirstDim},
    {"4-D in place outStride", C, In, {{4, 0, 0}, {8, 0, 0}, {16, 0, 64}, {32, 0, 0}}, {1, 0, 0},
     Strategy::StridedSplitFirstDim},
    {"4-D oop outStride", C, Out, {{4, 0, 0}, {8, 0, 0}, {16, 0, 64}, {32, 0, 0}}, {1, 0, 0},
     Strategy::PackedSplitFirstDim},
    {"rank 2, N1 = 1", C, In, {{1024, 0, 0}, {1, 0, 0}}, {1, 0, 0}, Strategy::Decline},
    {"rank 2, inner stride 4", C, In, {{1024, 0, 0}, {1024, 4, 0}}, {1, 0, 0}, Strategy::Decline},
    {"rank 2, oop outStride 1", C, Out, {{1024, 0, 0}, {1024, 0, 1}}, {1, 0, 0}, Strategy::Decline},
    {"negative count", C, In, {{1024, 0, 0}}, {-1, 0, 0}, Strategy::PassThrough},
    {"zero length", C, In, {{0, 0, 0}}, {1, 0, 0}, Strategy::Decline},
    {"negative length", C, In, {{16, 0, 0}, {-4, 0, 0}, {16, 0, 0}}, {1, 0, 0}, Strategy::Decline},
    {"size overflow", C, In, {{big, 0, 0}, {big, 0, 0}}, {1, 0, 0}, Strategy::Decline},
    {"size times count overflow", C, In, {{big, 0, 0}}, {big, 0, 0}, Strategy::Decline},
    // Real-to-complex requests.
    {"real serial", R, In, {{100, 0, 0}}, {10, 0, 0}, Strategy::Serial},
    {"real odd, grouped", R, In, {{2049, 0, 0}}, {8, 0, 0}, Strategy::GroupedBatch, 2},
    {"real odd, grain 1 to 2", R, In, {{8191, 0, 0}}, {2, 0, 0}, Strategy::GroupedBatch, 2},
    {"real even long, plain", R, In, {{4096, 0, 0}}, {3, 0, 0}, Strategy::PlainBatch, 2},
    {"real short, grouped", R, In, {{16, 0, 0}}, {1000, 0, 0}, Strategy::GroupedBatch},
    {"real 18, plain", R, In, {{18, 0, 0}}, {1000, 0, 0}, Strategy::PlainBatch},
    {"real 2-D small, grain 200", R, In, {{8, 0, 0}, {8, 0, 0}}, {1000, 0, 0}, Strategy::PlainBatch, 200, 48},
    {"real 512 x 512 in", R, In, {{512, 0, 0}, {512, 0, 0}}, {1, 0, 0}, Strategy::RowColumn},
    {"real 512 x 512 oop", R, Out, {{512, 0, 0}, {512, 0, 0}}, {1, 0, 0}, Strategy::RowColumn},
    {"real 64 x 512, B < P", R, In, {{64, 0, 0}, {512, 0, 0}}, {4, 0, 0}, Strategy::RowColumn},
    {"real 64 x 512, B >= P", R, In, {{64, 0, 0}, {512, 0, 0}}, {64, 0, 0}, Strategy::PlainBatch},
    {"real 3-D padded rows", R, In, {{4, 0, 0}, {64, 66, 0}, {64, 0, 0}}, {1, 0, 0}, Strategy::PackedPlanes, -1, 1},
    {"real 3-D unpadded rows", R, In, {{4, 0, 0}, {64, 64, 0}, {64, 0, 0}}, {1, 0, 0}, Strategy::StridedPlanes, -1,
     1},
    {"real 3-D oop", R, Out, {{4, 0, 0}, {64, 0, 0}, {64, 0, 0}}, {1, 0, 0}, Strategy::StridedPlanes, -1, 1},
    {"real 3-D large slice", R, In, {{4, 0, 0}, {512, 0, 0}, {512, 0, 0}}, {1, 0, 0}, Strategy::PackedPlaneTeams},
    {"real 3-D large slice oop", R, Out, {{4, 0, 0}, {512, 0, 0}, {512, 0, 0}}, {1, 0, 0},
     Strategy::StridedPlaneTeams},
    {"real 4-D dense", R, In, {{4, 0, 0}, {8, 0, 0}, {16, 34, 0}, {32, 0, 0}}, {1, 0, 0},
     Strategy::PackedSplitFirstDim},
    {"real 4-D strided", R, In, {{4, 0, 0}, {8, 0, 0}, {16, 32, 0}, {32, 0, 0}}, {1, 0, 0},
     Strategy::StridedSplitFirstDim},
    {"real 4-D oop", R, Out, {{4, 0, 0}, {8, 0, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0},
     Strategy::StridedSplitFirstDim},
    {"real rank 2, N1 = 1", R, In, {{1024, 0, 0}, {1, 0, 0}}, {1, 0, 0}, Strategy::Decline},
    {"real in place inner stride 2", R, In, {{4096, 2, 0}}, {8, 0, 0}, Strategy::Decline},
    {"real oop inner outStride 1", R, Out, {{64, 0, 0}, {512, 0, 1}}, {1, 0, 0}, Strategy::Decline},
    {"real length 1", R, In, {{1, 0, 0}}, {1, 0, 0}, Strategy::Serial},
    {"real count -1", R, In, {{100, 0, 0}}, {-1, 0, 0}, Strategy::PassThrough},
    {"real count 0", R, In, {{100, 0, 0}}, {0, 0, 0}, Strategy::Serial},
};

TEST(Decisions, WorkedExamples)
{
    for (const Case& c : cases) {
        const Decision decision =
            classify(c.kind, c.placement, c.dims.size(), c.dims.data(), &c.batch, floatFigures(c.cacheL1));
        EXPECT_EQ(strategyName(decision.strategy), std::string(strategyName(c.expected))) << c.name;
        if (c.grain >= 0) {
            EXPECT_EQ(decision.grain, c.grain) << c.name;
        }
    }
}

TEST(Decisions, RankZeroAndColumnRequestsPassThrough)
{
    const Dim column{1024, 2048, 0}, columns{8, 2, 0};
    for (Kind kind : {C, R}) {
        EXPECT_EQ(classify(kind, In, 0, &column, &columns, floatFigures()).strategy, Strategy::PassThrough);
        EXPECT_EQ(classify(kind, In, columnRank, &column, &columns, floatFigures()).strategy, Strategy::PassThrough);
    }
}

TEST(Decisions, LockSignalsContiguityOfComplexRequestsOnly)
{
    const Dim strided{4096, 4, 0}, contiguous{4096, 0, 0}, batch{8, 0, 0};
    EXPECT_FALSE(classify(Kind::Complex, In, 1, &strided, &batch, floatFigures()).unitStride);
    EXPECT_TRUE(classify(Kind::Complex, In, 1, &contiguous, &batch, floatFigures()).unitStride);
    EXPECT_TRUE(classify(Kind::Real, In, 1, &contiguous, &batch, floatFigures()).unitStride);
}

TEST(Decisions, GrainSearchIsBoundedByTheUnitCount)
{
    // A huge L1 makes the initial grain huge; the search must not try a
    // quarter of it in candidates. Counts of 6 and 7 with grain 2^40.
    const Figures huge{{std::int64_t{1} << 50, std::int64_t{1} << 50, 0, 0, 8, 16}, 8, sizeof(float)};
    const Dim dims{1024, 0, 0};
    const Dim six{6, 0, 0};
    const Decision decision = classify(Kind::Complex, In, 1, &dims, &six, huge);
    EXPECT_EQ(decision.strategy, Strategy::Serial);
    EXPECT_EQ(decision.grain, (std::int64_t{1} << 50) / 2048);
}

// Cache figures of 0 (no source knew them): no request is small enough for
// one thread, the grain is one transform (a line group for strided complex
// rows, two for odd real rows), only rank-1 requests are batches, and rank 3
// always gets plane teams.
TEST(Decisions, ZeroCacheFigures)
{
    const Figures zero{{0, 0, 0, 0, 8, 16}, 8, sizeof(float)};
    const Case zeroCases[] = {
        {"tiny transform", C, In, {{8, 0, 0}}, {1, 0, 0}, Strategy::PlainBatch, 1},
        {"many tiny transforms, no search", C, In, {{8, 0, 0}}, {1000, 0, 0}, Strategy::PlainBatch, 1},
        {"strided rows", C, In, {{16, 4, 0}}, {100, 0, 0}, Strategy::GroupedBatch, 8},
        {"odd real rows", R, In, {{15, 0, 0}}, {5, 0, 0}, Strategy::GroupedBatch, 2},
        {"2-D, B >= P and N0 <= B", C, In, {{4, 0, 0}, {4, 0, 0}}, {100, 0, 0}, Strategy::RowColumn, 1},
        {"3-D", C, In, {{2, 0, 0}, {2, 0, 0}, {2, 0, 0}}, {1, 0, 0}, Strategy::PackedPlaneTeams},
        {"real 3-D oop", R, Out, {{2, 0, 0}, {2, 0, 0}, {2, 0, 0}}, {1, 0, 0}, Strategy::StridedPlaneTeams},
        {"real 4-D", R, In, {{2, 0, 0}, {2, 0, 0}, {2, 0, 0}, {2, 0, 0}}, {1, 0, 0}, Strategy::PackedSplitFirstDim},
    };
    for (const Case& c : zeroCases) {
        const Decision decision = classify(c.kind, c.placement, c.dims.size(), c.dims.data(), &c.batch, zero);
        EXPECT_EQ(strategyName(decision.strategy), std::string(strategyName(c.expected))) << c.name;
        if (c.grain >= 0) {
            EXPECT_EQ(decision.grain, c.grain) << c.name;
        }
    }
}

// Packed strides that do not fit in 64 bits: pad(N) for N near 2^63, and the
// product of middle-axis strides of a real rank-4 request. Such requests, and
// their neighbours that just fit in reals, describe arrays larger than any
// object can be (more than 2^63 bytes): they are declined whatever their
// strides say, before any packed stride is compared.
TEST(Decisions, OverflowingPackedStridesAreNotPacked)
{
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    const std::int64_t bottom = std::numeric_limits<std::int64_t>::min();
    const std::int64_t quarter = std::int64_t{1} << 61;
    const Case overflowCases[] = {
        {"pad(2^63 - 1) overflows", R, In, {{1, 0, 0}, {1, bottom, 0}, {top, 0, 0}}, {1, 0, 0},
         Strategy::Decline},
        {"pad(2^63 - 3) fits", R, In, {{1, 0, 0}, {1, top - 1, 0}, {top - 2, 0, 0}}, {1, 0, 0},
         Strategy::Decline},
        {"pad(2^63 - 1), default stride", R, In, {{1, 0, 0}, {1, 0, 0}, {top, 0, 0}}, {1, 0, 0},
         Strategy::Decline},
        {"middle product overflows", R, In, {{1, 0, 0}, {1, bottom + 4, 0}, {quarter + 1, 0, 0}, {2, 0, 0}},
         {1, 0, 0}, Strategy::Decline},
        {"middle product fits", R, In, {{1, 0, 0}, {1, top - 3, 0}, {quarter - 1, 0, 0}, {2, 0, 0}}, {1, 0, 0},
         Strategy::Decline},
        {"middle product overflows, default stride", R, In,
         {{1, 0, 0}, {1, 0, 0}, {quarter + 1, 0, 0}, {2, 0, 0}}, {1, 0, 0}, Strategy::Decline},
    };
    for (const Case& c : overflowCases) {
        const Decision decision = classify(c.kind, c.placement, c.dims.size(), c.dims.data(), &c.batch, floatFigures());
        EXPECT_EQ(strategyName(decision.strategy), std::string(strategyName(c.expected))) << c.name;
    }
}

TEST(Decisions, TransformRealsReachTheStrategies)
{
    const Dim dims[] = {{1024, 0, 0}, {1024, 0, 0}};
    const Dim batch{1, 0, 0};
    EXPECT_EQ(classify(Kind::Complex, In, 2, dims, &batch, floatFigures()).transformReals, 2 * 1024 * 1024);
    EXPECT_EQ(classify(Kind::Real, In, 2, dims, &batch, floatFigures()).transformReals, 1024 * 1024);
}

}  // namespace
}  // namespace zun::fft::omp

#include "parallel_fixtures.h"
#include "support/harness.h"

namespace zun::fft::testing {
namespace {

using support::Request;

TEST(DecisionsThroughTheFactory, GrainsSizeTheBatchTeams)
{
    struct Case {
        bool real;
        int cacheL1;
        Request request;
        const char* prefix;
        int threads;
    };
    const Case cases[] = {
        {false, 48, {2, {{8, 0, 0}, {8, 0, 0}}, {1000, 0, 0}}, "OmpBatch(", 8},  // grain 100: ten threads' worth
        {false, 32, {1, {{16, 6, 6}}, {320, 0, 0}}, "OmpBatch(", 1},             // grain 320: one thread
        {false, 32, {1, {{1024, 0, 0}}, {30, 0, 0}}, "OmpBatch(", 6},             // grain 5
        {true, 48, {2, {{8, 0, 0}, {8, 0, 0}}, {1000, 0, 0}}, "OmpBatch(", 5},   // grain 200
        {true, 32, {1, {{2049, 0, 0}}, {8, 0, 0}}, "OmpBatch(", 4},               // odd length: grain 2
        {true, 32, {1, {{100, 0, 0}}, {10, 0, 0}}, "rdft(", 1},                   // small enough for one thread
        {false, 32, {1, {{64, 0, 0}}, {10, 0, 0}}, "dft(", 1},
    };
    for (const Case& c : cases) {
        const Machine machine{8, 1, c.cacheL1, 1024, 8192};
        std::unique_ptr<OoplaceCompute<float>> plan;
        if (c.real) plan = support::makePlan<Placement::Ooplace>(*realParallel<float>(machine), c.request);
        else plan = support::makePlan<Placement::Ooplace>(*complexParallel<float>(machine), c.request);
        ASSERT_TRUE(plan) << support::describe(c.request);
        EXPECT_EQ(plan->toString().rfind(c.prefix, 0), 0u) << plan->toString();
        EXPECT_EQ(plan->threadCount(), c.threads) << support::describe(c.request);
    }
}

TEST(DecisionsThroughTheFactory, DeclinedAndPassedThroughRequests)
{
    auto complex = complexParallel<double>(Machine{});
    auto real = realParallel<double>(Machine{});
    const Request declined[] = {
        {2, {{64, 0, 0}, {1, 0, 0}}, {1, 0, 0}},
        {1, {{0, 0, 0}}, {4, 0, 0}},
        {2, {{std::int64_t{1} << 40, 0, 0}, {std::int64_t{1} << 40, 0, 0}}, {1, 0, 0}},
    };
    for (const Request& request : declined) {
        EXPECT_FALSE(support::makePlan<Placement::Inplace>(*complex, request)) << support::describe(request);
        EXPECT_FALSE(support::makePlan<Placement::Ooplace>(*real, request)) << support::describe(request);
    }
    EXPECT_FALSE(support::makePlan<Placement::Inplace>(*real, Request{1, {{64, 2, 0}}, {8, 0, 0}}))
        << "no strided real batch";
    // Column requests go to the wrapped factory as they stand.
    const Request column{columnRank, {{64, 128, 0}}, {8, 2, 0}};
    auto plan = support::makePlan<Placement::Inplace>(*complex, column);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->toString().find("Omp"), std::string::npos);
    auto reference = makePlannerFactory<double, std::complex<double>, std::complex<double>>();
    EXPECT_TRUE(support::checkPlan(column, *plan, *reference));
}

}  // namespace
}  // namespace zun::fft::testing
