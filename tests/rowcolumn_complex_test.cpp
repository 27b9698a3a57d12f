#include <gtest/gtest.h>

#include <complex>
#include <string>
#include <thread>
#include <vector>

#include "parallel_fixtures.h"
#include "rowcolumn/omp_inplace_row_column.h"
#include "rowcolumn/omp_ooplace_cc_row_column.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {
namespace {

using support::Request;

// Tiny L1 and L2 figures send every rank-2 request below to a row/column
// strategy; two packages give two outer threads when nesting is allowed.
const Machine rowColumnMachine{4, 2, 1, 1, 1};

const Request complexCases[] = {
    {2, {{16, 0, 0}, {32, 0, 0}}, {1, 0, 0}},       // whole column groups, no tail
    {2, {{11, 0, 0}, {28, 0, 0}}, {3, 0, 0}},       // column tails, odd rows
    {2, {{40, 0, 0}, {7, 0, 0}}, {2, 0, 0}},        // fewer columns than a group: tail only
    {2, {{2, 0, 0}, {300, 0, 0}}, {1, 0, 0}},       // fewer rows than inner threads
    {2, {{12, 70, 90}, {30, 0, 0}}, {5, 0, 0}},     // padded rows, different per layout
    {2, {{24, 0, 0}, {24, 0, 0}}, {4, 1500, 1300}}, // explicit distances with gaps
    {2, {{33, 0, 0}, {17, 0, 0}}, {0, 0, 0}},       // count 0: one transform
};

template <typename T>
class RowColumnComplexNumerical : public ::testing::Test {};
TYPED_TEST_SUITE(RowColumnComplexNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(RowColumnComplexNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    using T = typename TypeParam::Real;
    auto parallel = complexParallel<T>(rowColumnMachine);
    auto reference = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    for (const Request& request : complexCases) {
        auto inplace = support::makePlan<Placement::Inplace>(*parallel, request);
        ASSERT_TRUE(inplace) << support::describe(request);
        EXPECT_EQ(inplace->toString().rfind("OmpInplaceCC<", 0), 0u) << inplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(request, *inplace, *reference)) << support::describe(request);

        auto ooplace = support::makePlan<Placement::Ooplace>(*parallel, request);
        ASSERT_TRUE(ooplace) << support::describe(request);
        EXPECT_EQ(ooplace->toString().rfind("OmpOoplaceCC<", 0), 0u) << ooplace->toString();
        EXPECT_TRUE(support::checkPlanWithArg(request, *ooplace, *reference)) << support::describe(request);
    }
}

TEST(RowColumnComplex, NestedTeamSizes)
{
    struct Case {
        int threads, packages;
        std::int64_t count;
        bool large;
        int levels;
        int outer, inner;
    };
    const Case cases[] = {
        {8, 1, 5, true, 2, 1, 8},   {16, 4, 2, true, 2, 2, 8},  {16, 4, 2, false, 2, 2, 4},
        {16, 4, 2, true, 1, 1, 16}, {16, 4, 2, false, 1, 1, 8}, {12, 2, 1, true, 2, 1, 12},
        {12, 2, 1, false, 2, 1, 6}, {10, 3, 5, true, 2, 3, 3},  {10, 3, 5, false, 1, 1, 9},
        {16, 4, 0, true, 2, 1, 16},  // a count of 0 is one transform
    };
    const Dim dims[] = {{64, 0, 0}, {64, 0, 0}};
    const auto key = makePlanKey(2);
    for (const Case& c : cases) {
        auto parallel = complexParallel<float>(Machine{c.threads, c.packages, 32, 1024, 1024});
        // Half of a 1024 KiB L3 in floats.
        const std::uint64_t transformReals = c.large ? 131072 : 131071;
        omp::OmpInplaceCCRowColumn<float> plan(contextAtLevels(*parallel, c.levels), dims, c.count, 0, transformReals,
                                               key.data(), {});
        const std::string expected = "OmpInplaceCC<float32_t>(64x64_b" + std::to_string(c.count < 2 ? 1 : c.count) +
                                     "/" + std::to_string(c.outer) + "/" + std::to_string(c.inner) + ")";
        EXPECT_EQ(plan.toString(), expected);
        EXPECT_EQ(plan.threadCount(), c.outer * c.inner);
    }
}

TEST(RowColumnComplex, InplaceSubRequests)
{
    RecordedComplex<float> recorded(Machine{8, 1, 32, 1024, 8192});
    const Dim dims[] = {{64, 0, 0}, {64, 0, 0}};
    const auto key = makePlanKey(2);
    std::shared_ptr<float> tuning(new float[3]{-1.0f, 0.0f, 0.0f}, std::default_delete<float[]>());
    recorded.recorder->registerKey(key.data());
    recorded.recorder->registerTuning(tuning.get());
    omp::OmpInplaceCCRowColumn<float> plan(contextAtLevels(*recorded.parallel, 1), dims, 1, 0, 2 * 64 * 64, key.data(),
                                           tuning);
    ASSERT_TRUE(plan.complete());
    EXPECT_EQ(plan.toString(), "OmpInplaceCC<float32_t>(64x64_b1/1/8)");

    const auto indices = recorded.recorder->calls("tuningIndexInplace");
    ASSERT_EQ(indices.size(), 1u);
    EXPECT_EQ(indices[0].rank, 1u);
    EXPECT_EQ(indices[0].keyOffset, 2) << "record 1 of the key";
    const std::ptrdiff_t index = indices[0].result;
    EXPECT_EQ(tuning.get()[index], -1.0f) << "tuning mode is carried to the column plans";

    support::expectRequests(recorded.recorder->calls("makeInplace"),
                            {{"makeInplace", false, {64, 2, 0}, {8, 128, 0}, 2, 0},
                             {"makeInplace", false, {64, 2, 0}, {1, 128, 0}, 2, 0},
                             {"makeInplace column", false, {64, 128, 0}, {16, 2, 0}, 0, index},
                             {"makeInplace column", false, {64, 128, 0}, {8, 2, 0}, 0, index}});
}

TEST(RowColumnComplex, OoplaceSubRequestsAlternateLayouts)
{
    RecordedComplex<float> recorded(Machine{2, 1, 32, 1024, 8192});
    const Dim dims[] = {{64, 48, 56}, {20, 0, 0}};
    const auto key = makePlanKey(2);
    recorded.recorder->registerKey(key.data());
    const Dim batch{1, 0, 0};
    omp::OmpOoplaceCCRowColumn<float> plan(contextAtLevels(*recorded.parallel, 1), dims, &batch, 2 * 64 * 20,
                                           key.data(), {});
    ASSERT_TRUE(plan.complete());
    const auto calls = recorded.recorder->calls();
    std::vector<support::FactoryCall> made;
    for (const auto& call : calls)
        if (call.op.rfind("make", 0) == 0) made.push_back(call);
    for (const auto& call : made) EXPECT_TRUE(call.tuningEmpty) << "no caller array: nothing to alias";
    ASSERT_EQ(made.size(), 8u);
    const char* ops[] = {"makeOoplace", "makeOoplace", "makeInplace", "makeInplace",
                         "makeInplace", "makeInplace", "makeInplace", "makeInplace"};
    const std::int64_t strides[] = {48, 48, 48, 56, 48, 56, 48, 56};
    const std::int64_t counts[] = {32, 1, 16, 16, 4, 4, 8, 8};
    for (std::size_t i = 0; i < made.size(); ++i) {
        EXPECT_EQ(made[i].op, ops[i]) << i;
        EXPECT_EQ(made[i].batch->size, counts[i]) << i;
        if (made[i].column) {
            EXPECT_EQ(made[i].dims[0].inStride, strides[i]) << i;
        }
    }
    EXPECT_EQ(made[0].batch->inStride, 48);
    EXPECT_EQ(made[0].batch->outStride, 56);
}

// Every sub-request refused in turn, in both placements: the request declines,
// frees what it built and asks for nothing more.
TEST(RowColumnComplex, ARefusedSubPlanDeclinesTheRequest)
{
    const Request request{2, {{9, 0, 0}, {64, 0, 0}}, {1, 0, 0}};  // 1 KiB L1: row/column
    for (const Placement placement : {Placement::Inplace, Placement::Ooplace})
        expectEveryDeclineDeclinesTheTree<float, std::complex<float>, std::complex<float>>(Machine{4, 1, 1}, request,
                                                                                           placement);
}

TEST(RowColumnComplex, ExtraArgReachesTheRowPlansOnly)
{
    RecordedComplex<double> recorded(rowColumnMachine);
    const Request request = complexCases[1];
    auto reference = makePlannerFactory<double, std::complex<double>, std::complex<double>>();
    for (bool inplace : {true, false}) {
        recorded.recorder->clear();
        std::unique_ptr<InplaceCompute<double>> in;
        std::unique_ptr<OoplaceCompute<double>> out;
        if (inplace) in = support::makePlan<Placement::Inplace>(*recorded.parallel, request);
        else out = support::makePlan<Placement::Ooplace>(*recorded.parallel, request);
        ASSERT_TRUE(in || out);
        const auto made = recorded.recorder->calls();
        recorded.recorder->clear();
        support::CheckOptions options;
        EXPECT_TRUE(in ? support::checkPlanWithArg(request, *in, *reference, options)
                       : support::checkPlanWithArg(request, *out, *reference, options));
        for (const auto& call : recorded.recorder->planCalls()) {
            const bool withArg = call.op.find("WithArg") != std::string::npos;
            if (withArg) {
                EXPECT_EQ(call.extraArg, options.extraArg);
            }
            // Plans are numbered by the call that made them: columns are requested with columnRank.
            if (made[call.call].column) {
                EXPECT_FALSE(withArg) << "column plans run the plain form";
            }
        }
    }
}

TEST(RowColumnComplex, ReservedSliceIsUsed)
{
    auto parallel = complexParallel<float>(rowColumnMachine);
    auto reference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    const Request request = complexCases[1];
    auto plan = support::makePlan<Placement::Ooplace>(*parallel, request);
    ASSERT_TRUE(plan);
    const auto before = plan->workSize();
    plan->reserveThreadWork(plan->threadWorkSize() + 40);
    EXPECT_EQ(plan->workSize(), before + 40 * static_cast<std::size_t>(plan->threadCount()));
    EXPECT_TRUE(support::checkPlan(request, *plan, *reference));
}

TEST(RowColumnComplex, OnePlanRunsOnSeveralCallingThreadsAtOnce)
{
    auto parallel = complexParallel<float>(rowColumnMachine);
    auto reference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    const Request request = complexCases[4];
    auto plan = support::makePlan<Placement::Ooplace>(*parallel, request);
    ASSERT_TRUE(plan);
    std::vector<::testing::AssertionResult> results(3, ::testing::AssertionSuccess());
    std::vector<std::thread> callers;
    for (auto& result : results)
        callers.emplace_back([&] { result = support::checkPlan(request, *plan, *reference); });
    for (auto& caller : callers) caller.join();
    for (const auto& result : results) EXPECT_TRUE(result);
}

}  // namespace
}  // namespace zun::fft::testing
