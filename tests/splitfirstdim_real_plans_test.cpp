// The real split-first-dimension strategies: the plans they ask for of the
// wrapped planner, its companion and the parallel factory itself, which plans
// receive extraArg in which direction, and the side buffer of the
// out-of-place backward direction.
#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "splitfirstdim/omp_inplace_rc_packed_split_first_dim.h"
#include "splitfirstdim/omp_inplace_rc_strided_split_first_dim.h"
#include "splitfirstdim/omp_ooplace_rc_strided_split_first_dim.h"
#include "support/harness.h"
#include "support/recording.h"

namespace zun::fft::testing {
namespace {

using support::FactoryCall;
using support::Request;

using RealContext = ReenteringContext<float, omp::Kind::Real>;

// Records of different lengths: record k is found by walking (offsets 0, 4,
// 6, 9). The stand-in names tuning entry k + 1 for record k.
const std::vector<PlanKey> unevenKey = {0x103, 1, 7, 7, 0x101, 2, 0x102, 3, 7, 0x101, 4};

std::shared_ptr<float> tuningInTuningMode()
{
    return std::shared_ptr<float>(new float[8]{-1, 0, 0, 0, 0, 0, 0, 0}, std::default_delete<float[]>());
}

std::vector<FactoryCall> companionMakes(const RealContext& at)
{
    std::vector<FactoryCall> made;
    for (const auto& call : at.recorded.recorder->calls())
        if (call.companion) made.push_back(call);
    return made;
}

void expectCall(const FactoryCall& call, const char* op, const Dim& axis, const Dim& batch)
{
    SCOPED_TRACE(op);
    EXPECT_EQ(call.op, op);
    EXPECT_FALSE(call.lockFlag);
    EXPECT_EQ(call.rank, columnRank);
    EXPECT_EQ(call.dims[0].size, axis.size);
    EXPECT_EQ(call.dims[0].inStride, axis.inStride);
    EXPECT_EQ(call.dims[0].outStride, axis.outStride);
    EXPECT_EQ(call.batch->size, batch.size);
    EXPECT_EQ(call.batch->inStride, batch.inStride);
    EXPECT_EQ(call.batch->outStride, batch.outStride);
    EXPECT_EQ(call.keyOffset, 0);
    EXPECT_EQ(call.tuningIndex, 2) << "the entry of record 1";
}

// What every class asks first: the tuning index of record 1 (N(1) differs
// from N(0)), before the rest plan, which re-enters the parallel factory.
void expectIndexThenRest(const RealContext& at, const char* indexOp, const char* restOp, std::size_t rank,
                         const std::shared_ptr<float>& tuning)
{
    const auto calls = at.recorded.recorder->calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().op, indexOp);
    EXPECT_EQ(calls.front().rank, rank - 1);
    EXPECT_EQ(calls.front().keyOffset, 4);
    EXPECT_EQ(tuning.get()[2], -1.0f);
    const auto reentered = at.reentered->calls();
    ASSERT_EQ(reentered.size(), 1u);
    EXPECT_EQ(reentered[0].op, restOp);
    EXPECT_EQ(reentered[0].rank, rank - 1);
    EXPECT_EQ(reentered[0].keyOffset, 4);
    EXPECT_EQ(reentered[0].tuningIndex, 0);
    EXPECT_FALSE(reentered[0].lockFlag);
}

TEST(SplitFirstDimReal, InplacePackedAsksForColumnGroupsOfTheWholeSlice)
{
    // 100 complex columns per slice (4 x 5 x 5) over a rest plan of 3 threads:
    // blocks of 32, a tail of 4, groups of 8.
    RealContext at(Machine{4, 1, 1, 1, 1}, unevenKey.data());
    const auto tuning = tuningInTuningMode();
    at.registerTuning(tuning.get());
    const Dim dims[] = {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}};
    const Dim batch{1, 0, 0};
    omp::OmpInplaceRCPackedSplitFirstDim<float> plan(at.context, 4, dims, &batch, unevenKey.data(), tuning);
    ASSERT_TRUE(plan.complete());
    EXPECT_EQ(plan.threadCount(), 3);
    expectIndexThenRest(at, "tuningIndexInplace", "makeInplace", 4, tuning);
    const auto columns = companionMakes(at);
    ASSERT_EQ(columns.size(), 3u);
    expectCall(columns[0], "makeInplace", {3, 200, 0}, {32, 2, 0});
    expectCall(columns[1], "makeInplace", {3, 200, 0}, {4, 2, 0});
    expectCall(columns[2], "makeInplace", {3, 200, 0}, {8, 2, 0});
    EXPECT_EQ(at.recorded.recorder->calls().back().op, "makeInplace");
    EXPECT_EQ(plan.toString(), "OmpInplaceRC<float32_t>(3x4x5x8_b1/3)");
}

TEST(SplitFirstDimReal, InplaceStridedAsksForOneColumnPlanPerLine)
{
    RealContext at(Machine{4, 1, 1, 1, 1}, unevenKey.data());
    const auto tuning = tuningInTuningMode();
    at.registerTuning(tuning.get());
    const Dim dims[] = {{3, 0, 0}, {4, 0, 0}, {5, 14, 0}, {8, 0, 0}};
    const Dim batch{1, 0, 0};
    omp::OmpInplaceRCStridedSplitFirstDim<float> plan(at.context, 4, dims, &batch, unevenKey.data(), tuning);
    ASSERT_TRUE(plan.complete());
    expectIndexThenRest(at, "tuningIndexInplace", "makeInplace", 4, tuning);
    const auto columns = companionMakes(at);
    ASSERT_EQ(columns.size(), 1u);
    expectCall(columns[0], "makeInplace", {3, 4 * 5 * 14, 0}, {5, 2, 0});
    // "col(3_v5)" x "OmpBatch(rdft(4x5x8_b3)/3)".
    EXPECT_EQ(plan.toString(), "OmpInplaceRC<float32_t>(3x4x5x8_b1/3)");
}

// Rank 4 of 3 x 2 x 2 x 32 on a rest plan of two threads: two slices per
// block call; the side buffer holds 3 x 2 x 2 complex values (24 reals,
// rounded to 32), axis 0 fastest.
struct SideBufferCase {
    RealContext at{Machine{2, 1, 1, 1, 1}, unevenKey.data()};
    std::vector<Dim> dims{{3, 0, 0}, {2, 0, 0}, {2, 0, 0}, {32, 0, 0}};
    Dim batch{1, 0, 0};
};

TEST(SplitFirstDimReal, OoplaceSubRequests)
{
    SideBufferCase c;
    const auto tuning = tuningInTuningMode();
    c.at.registerTuning(tuning.get());
    omp::OmpOoplaceRCStridedSplitFirstDim<float> plan(c.at.context, 4, c.dims.data(), &c.batch, unevenKey.data(),
                                                      tuning);
    ASSERT_TRUE(plan.complete());
    EXPECT_EQ(plan.threadCount(), 2);
    expectIndexThenRest(c.at, "tuningIndexOoplace", "makeOoplace", 4, tuning);

    const auto splits = c.at.recorded.recorder->calls("makeSplitBackward");
    ASSERT_EQ(splits.size(), 2u);
    const std::int64_t slicesPerBlock[] = {2, 1};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "slice block plan" : "one-slice plan");
        const FactoryCall& split = splits[i];
        ASSERT_EQ(split.rank, 3u);
        // {size, real destination stride, side stride}, then the innermost axis.
        EXPECT_EQ(split.dims[0].inStride, 64);
        EXPECT_EQ(split.dims[0].outStride, 12);
        EXPECT_EQ(split.dims[1].inStride, 32);
        EXPECT_EQ(split.dims[1].outStride, 6);
        EXPECT_EQ(split.dims[2].size, 32);
        EXPECT_EQ(split.dims[2].inStride, 1);
        EXPECT_EQ(split.dims[2].outStride, i == 0 ? 2 : 1);
        EXPECT_EQ(split.batch->size, slicesPerBlock[i]);
        EXPECT_EQ(split.batch->inStride, 128);
        EXPECT_EQ(split.batch->outStride, 2);
        EXPECT_EQ(split.keyOffset, 4);
        EXPECT_EQ(split.tuningIndex, 0);
    }
    const auto columns = companionMakes(c.at);
    ASSERT_EQ(columns.size(), 3u);
    expectCall(columns[0], "makeInplace", {3, 136, 0}, {17, 2, 0});
    expectCall(columns[1], "makeOoplace", {3, 128, 136}, {16, 2, 2});
    expectCall(columns[2], "makeOoplace", {3, 2, 136}, {1, 2, 2});
    // "col(3_v17)" x "OmpBatch(rdft(2x2x32_b3)/2)".
    EXPECT_EQ(plan.toString(), "OmpOoplaceRC<float32_t>(3x2x2x32_b1/2)");
}

TEST(SplitFirstDimReal, OoplaceBackwardSideBuffer)
{
    SideBufferCase c;
    omp::OmpOoplaceRCStridedSplitFirstDim<float> plan(c.at.context, 4, c.dims.data(), &c.batch, unevenKey.data(),
                                                      nullptr);
    ASSERT_TRUE(plan.complete());
    std::vector<float> work(plan.workSize()), real(3 * 2 * 2 * 32), half(3 * 2 * 2 * 34);
    auto& recorder = *c.at.recorded.recorder;
    const int workRegion = recorder.registerRegion(work.data(), work.size());
    const int realRegion = recorder.registerRegion(real.data(), real.size());
    const auto made = recorder.calls();
    recorder.clear();
    plan.backward(half.data(), real.data(), work.data());

    std::multiset<std::ptrdiff_t> lastColumns, slicesAt, sidesAt;
    for (const auto& call : recorder.planCalls()) {
        EXPECT_EQ(call.work.region, workRegion) << call.op;
        EXPECT_GE(call.work.offset, 32) << call.op << ": thread slices follow the side buffer";
        const FactoryCall& maker = made[call.call];
        if (call.op == "execute") {
            EXPECT_EQ(call.value, 2) << "mode";
            EXPECT_EQ(call.arrays[0].region, realRegion);
            slicesAt.insert(call.arrays[0].offset);
            sidesAt.insert(call.arrays[1].offset);
        } else if (maker.batch && maker.batch->size == 1) {
            EXPECT_EQ(call.arrays[1].region, workRegion);
            lastColumns.insert(call.arrays[1].offset);
        }
    }
    EXPECT_EQ(lastColumns, (std::multiset<std::ptrdiff_t>{0, 6, 12, 18})) << "one line's N(0) values per 6 reals";
    EXPECT_EQ(slicesAt, (std::multiset<std::ptrdiff_t>{0, 256})) << "slices 0-1 in one call, slice 2 alone";
    EXPECT_EQ(sidesAt, (std::multiset<std::ptrdiff_t>{0, 4}));

    // Forward has no side buffer: thread 0's slice is at the start.
    recorder.clear();
    plan.forward(real.data(), half.data(), work.data());
    std::set<std::ptrdiff_t> forwardSlices;
    for (const auto& call : recorder.planCalls())
        if (made[call.call].column) forwardSlices.insert(call.work.offset);
    EXPECT_EQ(forwardSlices.count(0), 1u);
}

// Forward: extraArg reaches the rest plan only. Backward: the axis-0 plans of
// the pass that runs first; in place the rest plan then runs plain, out of
// place it never runs backward and the slice plans take no extraArg.
TEST(SplitFirstDimReal, ExtraArgReachesTheFirstPassOnly)
{
    const Request request{4, {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, {2, 0, 0}};
    auto reference = makePlannerFactory<float, float, std::complex<float>>();
    const auto key = makePlanKey(4);
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which == 0 ? "in place, packed" : which == 1 ? "in place, strided" : "out of place");
        RealContext at(Machine{4, 1, 1, 1, 1}, key.data());
        support::CheckOptions options;
        const Dim* dims = request.dims.data();
        if (which == 0) {
            omp::OmpInplaceRCPackedSplitFirstDim<float> plan(at.context, 4, dims, &request.batch, key.data(), nullptr);
            EXPECT_TRUE(support::checkPlanWithArg(request, plan, *reference, options));
        } else if (which == 1) {
            omp::OmpInplaceRCStridedSplitFirstDim<float> plan(at.context, 4, dims, &request.batch, key.data(), nullptr);
            EXPECT_TRUE(support::checkPlanWithArg(request, plan, *reference, options));
        } else {
            omp::OmpOoplaceRCStridedSplitFirstDim<float> plan(at.context, 4, dims, &request.batch, key.data(), nullptr);
            EXPECT_TRUE(support::checkPlanWithArg(request, plan, *reference, options));
        }
        std::multiset<std::string> restOps;
        for (const auto& call : at.reentered->planCalls()) restOps.insert(call.op);
        EXPECT_EQ(restOps.count("forwardWithArg"), 2u);
        EXPECT_EQ(restOps.count("backwardWithArg"), 0u);
        EXPECT_EQ(restOps.count("backward"), which == 2 ? 0u : 4u);

        const auto made = at.recorded.recorder->calls();
        std::multiset<std::string> columnOps;
        for (const auto& call : at.recorded.recorder->planCalls()) {
            if (call.op.find("WithArg") != std::string::npos) {
                EXPECT_EQ(call.extraArg, options.extraArg);
            }
            if (made[call.call].column) columnOps.insert(call.op);
            if (call.op == "execute") {
                EXPECT_EQ(call.extraArg, nullptr);
            }
        }
        EXPECT_EQ(columnOps.count("forwardWithArg"), 0u);
        EXPECT_GT(columnOps.count("backwardWithArg"), 0u);
    }
}

// One tuning lock for the whole tree, taken by the outermost request; a
// declined sub-request anywhere in it (split backward plans included) declines
// the request, frees what was built and releases the lock.
TEST(SplitFirstDimReal, OneLockAndDeclinesForTheWholeTree)
{
    const Request requests[] = {
        {5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {1, 0, 0}},
        {4, {{6, 0, 0}, {2, 90, 100}, {5, 0, 0}, {9, 0, 0}}, {1, 0, 0}},
    };
    for (const Request& request : requests) {
        for (const Placement placement : {Placement::Inplace, Placement::Ooplace})
            expectEveryDeclineDeclinesTheTree<float, float, std::complex<float>>(Machine{4, 1, 1, 1, 1}, request,
                                                                                 placement);
    }
}

}  // namespace
}  // namespace zun::fft::testing
