#include <gtest/gtest.h>

#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "batch/omp_batch.h"
#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/recording.h"

namespace zun::fft::testing {
namespace {

using omp::Kind;
using support::Request;

// A tiny L1 figure sends every request below to a batch.
const Machine batchMachine{4, 1, 1, 1024, 8192};

struct BatchCase {
    std::size_t rank;
    std::vector<Dim> dims;
    Dim batch;
};

const BatchCase complexCases[] = {
    {1, {{64, 0, 0}}, {37, 0, 0}},            // plain, uneven shares
    {1, {{48, 0, 0}}, {21, 100, 120}},        // unequal explicit distances (gaps)
    {1, {{32, 6, 6}}, {21, 0, 0}},            // strided axis: groups of a cache line and a tail
    {1, {{16, 40, 44}}, {20, 2, 2}},          // interleaved transforms one element apart
    {1, {{256, 2, 4}}, {5, 0, 0}},            // fewer transforms than a group: tail only
    {1, {{128, 0, 0}}, {3, 0, 0}},            // fewer transforms than threads
    {2, {{8, 0, 0}, {16, 0, 0}}, {30, 0, 0}},  // rank 2
    {3, {{2, 0, 0}, {4, 40, 44}, {8, 0, 0}}, {9, 0, 0}},  // padded middle axis
};

const BatchCase realCases[] = {
    {1, {{33, 0, 0}}, {21, 0, 0}},           // odd length: pairs and a tail
    {1, {{12, 0, 0}}, {60, 0, 0}},           // short rows: pairs
    {1, {{64, 0, 0}}, {10, 0, 0}},           // plain
    {1, {{100, 0, 0}}, {13, 110, 120}},      // explicit distances
    {1, {{601, 0, 0}}, {1, 0, 0}},           // one odd transform: tail only
    {2, {{6, 0, 0}, {20, 0, 0}}, {30, 0, 0}},  // rank 2
};

template <typename Parallel, typename Reference, Placement P>
void checkBatches(const Parallel& parallel, const Reference& reference, const BatchCase* begin, const BatchCase* end)
{
    for (const BatchCase* c = begin; c != end; ++c) {
        const Request request{c->rank, c->dims, c->batch};
        auto plan = support::makePlan<P>(parallel, request);
        ASSERT_TRUE(plan) << support::describe(request);
        EXPECT_EQ(plan->toString().rfind("OmpBatch(", 0), 0u) << plan->toString();
        EXPECT_TRUE(support::checkPlanWithArg(request, *plan, reference)) << support::describe(request);
        EXPECT_TRUE(support::checkPlan(request, *plan, reference)) << support::describe(request);
    }
}

template <typename T>
class BatchNumerical : public ::testing::Test {};
TYPED_TEST_SUITE(BatchNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(BatchNumerical, ComplexBatchesMatchTheSerialPlan)
{
    using T = typename TypeParam::Real;
    auto parallel = complexParallel<T>(batchMachine);
    auto reference = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    checkBatches<decltype(*parallel), decltype(*reference), Placement::Inplace>(
        *parallel, *reference, std::begin(complexCases), std::end(complexCases));
    checkBatches<decltype(*parallel), decltype(*reference), Placement::Ooplace>(
        *parallel, *reference, std::begin(complexCases), std::end(complexCases));
}

TYPED_TEST(BatchNumerical, RealBatchesMatchTheSerialPlan)
{
    using T = typename TypeParam::Real;
    auto parallel = realParallel<T>(batchMachine);
    auto reference = makePlannerFactory<T, T, std::complex<T>>();
    checkBatches<decltype(*parallel), decltype(*reference), Placement::Inplace>(
        *parallel, *reference, std::begin(realCases), std::end(realCases));
    checkBatches<decltype(*parallel), decltype(*reference), Placement::Ooplace>(
        *parallel, *reference, std::begin(realCases), std::end(realCases));
}

std::vector<std::int64_t> madeCounts(const std::vector<support::FactoryCall>& calls)
{
    std::vector<std::int64_t> counts;
    for (const auto& call : calls) counts.push_back(call.batch->size);
    return counts;
}

TEST(Batch, PlainBatchSizesItsTeamAndBlocks)
{
    RecordedComplex<float> recorded(Machine{4, 1, 32, 1024, 8192});
    const Dim dims{64, 0, 0};
    const Dim batch{7, 0, 0};
    const auto key = makePlanKey(1);
    omp::OmpBatchInplace<float, Kind::Complex, 1> plan(recorded.parallel->context(), 1, &dims, &batch, 1, key.data(),
                                                       {});
    ASSERT_TRUE(plan.complete());
    EXPECT_EQ(plan.threadCount(), 4);
    const auto made = recorded.recorder->calls("makeInplace");
    EXPECT_EQ(madeCounts(made), (std::vector<std::int64_t>{2, 1})) << "block of 2, then one transform";
    for (const auto& call : made) {
        EXPECT_FALSE(call.lockFlag);
        EXPECT_EQ(call.batch->inStride, 128) << "packed default distance";
        EXPECT_EQ(call.key, key.data());
    }
    EXPECT_EQ(plan.workSize(), 4 * plan.threadWorkSize());
    EXPECT_EQ(plan.threadWorkSize() % 16, 0u);
    const auto slice = plan.threadWorkSize();
    plan.reserveThreadWork(slice);
    EXPECT_EQ(plan.threadWorkSize(), slice);
    plan.reserveThreadWork(slice + 3);
    EXPECT_EQ(plan.threadWorkSize(), slice + 3);
    EXPECT_EQ(plan.workSize(), 4 * (slice + 3));
}

TEST(Batch, GroupedBatchRequestsBlockTailGroup)
{
    {
        RecordedComplex<float> recorded(Machine{8, 1, 32, 1024, 8192});
        const Dim dims{64, 6, 4};
        const Dim batch{100, 0, 0};
        const auto key = makePlanKey(1);
        omp::OmpBatchOoplace<float, Kind::Complex, 8> plan(recorded.parallel->context(), 1, &dims, &batch, 24,
                                                           key.data(), {});
        EXPECT_EQ(plan.threadCount(), 5);
        const auto made = recorded.recorder->calls("makeOoplace");
        EXPECT_EQ(madeCounts(made), (std::vector<std::int64_t>{16, 4, 8}));
        EXPECT_EQ(made[0].batch->inStride, 64 * 6);
        EXPECT_EQ(made[0].batch->outStride, 64 * 4);
    }
    {
        RecordedReal<double> recorded(Machine{8, 1, 32, 1024, 8192});
        const Dim dims{301, 0, 0};
        const Dim batch{21, 0, 0};
        const auto key = makePlanKey(1);
        omp::OmpBatchInplace<double, Kind::Real, 2> plan(recorded.parallel->context(), 1, &dims, &batch, 8, key.data(),
                                                         {});
        EXPECT_EQ(plan.threadCount(), 3);
        const auto made = recorded.recorder->calls("makeInplace");
        EXPECT_EQ(madeCounts(made), (std::vector<std::int64_t>{6, 1, 2}));
        EXPECT_EQ(made[0].batch->inStride, 302) << "padded rows";
    }
}

TEST(Batch, DescriptionKeepsTheBlockPlanPieceUpToItsCountMark)
{
    auto parallel = complexParallel<float>(Machine{4, 1, 32, 1024, 8192});
    const Dim dims{64, 0, 0};
    const Dim batch{100, 0, 0};
    const auto key = makePlanKey(1);
    omp::OmpBatchInplace<float, Kind::Complex, 1> plan(parallel->context(), 1, &dims, &batch, 1, key.data(), {});
    auto serial = parallel->inner().makeInplace(1, &dims, &batch, false, key.data(), {});
    const std::string inner = serial->toString();
    const std::string piece = inner.substr(0, inner.find_last_of("bv") + 1);
    EXPECT_EQ(plan.toString(), "OmpBatch(" + piece + "100)/4)");
    EXPECT_EQ(omp::upToLastCountMark("P(64_b25)"), "P(64_b");
    EXPECT_EQ(omp::upToLastCountMark("Plan(64_x)"), "");
}

TEST(Batch, ExtraArgReachesEveryCall)
{
    RecordedReal<float> recorded(batchMachine);
    const Request request{1, {{33, 0, 0}}, {21, 0, 0}};
    auto plan = support::makePlan<Placement::Ooplace>(*recorded.parallel, request);
    ASSERT_TRUE(plan);
    auto reference = makePlannerFactory<float, float, std::complex<float>>();
    recorded.recorder->clear();
    support::CheckOptions options;
    options.backward = false;
    EXPECT_TRUE(support::checkPlanWithArg(request, *plan, *reference, options));
    const auto calls = recorded.recorder->planCalls();
    // The harness runs the plain form, then the WithArg form.
    std::size_t withArg = 0, plain = 0;
    for (const auto& call : calls) {
        if (call.op == "forwardWithArg") {
            ++withArg;
            EXPECT_EQ(call.extraArg, options.extraArg);
        } else {
            ++plain;
            EXPECT_EQ(call.op, "forward");
        }
    }
    EXPECT_GT(withArg, 0u);
    EXPECT_EQ(withArg, plain) << "every block, group and tail call gets the extra argument";
}

TEST(Batch, DeclinedSubPlanDeclinesTheRequest)
{
    // Block, tail and unit requests in turn, of grouped and plain batches;
    // each one declined makes the whole request decline, with nothing left
    // behind and nothing asked after it.
    const Request complexBatches[] = {{1, {{32, 6, 6}}, {21, 0, 0}}, {1, {{64, 0, 0}}, {37, 0, 0}}};
    const Request realBatches[] = {{1, {{33, 0, 0}}, {21, 0, 0}}, {1, {{64, 0, 0}}, {10, 0, 0}}};
    for (const Placement placement : {Placement::Inplace, Placement::Ooplace}) {
        for (const Request& request : complexBatches)
            expectEveryDeclineDeclinesTheTree<float, std::complex<float>, std::complex<float>>(batchMachine, request,
                                                                                               placement);
        for (const Request& request : realBatches)
            expectEveryDeclineDeclinesTheTree<float, float, std::complex<float>>(batchMachine, request, placement);
    }
}

TEST(Batch, TeamSizeOfTheLargestCountDoesNotOverflow)
{
    // A single real per transform passes the size checks with any count; the
    // team size is ceil(count / grain), computed without count + grain - 1.
    const auto parallel = realParallel<float>(batchMachine);
    const Dim dims[] = {{1, 0, 0}};
    const Dim batch{std::numeric_limits<std::int64_t>::max(), 0, 0};
    const auto key = makePlanKey(1);
    const auto plan = parallel->makeInplace(1, dims, &batch, false, key.data(), {});
    if (plan) {
        EXPECT_EQ(plan->threadCount(), batchMachine.threads);
    }
}

}  // namespace
}  // namespace zun::fft::testing
