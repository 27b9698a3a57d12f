// The complex split-first-dimension strategies: the plans they ask for of the
// wrapped planner and of the parallel factory itself, tuning entries, work
// sharing, extraArg routing, and declined sub-requests anywhere in the tree.
#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "splitfirstdim/omp_cc_packed_split_first_dim.h"
#include "splitfirstdim/omp_cc_strided_split_first_dim.h"
#include "support/harness.h"
#include "support/recording.h"
#include "support/subrequests.h"

namespace zun::fft::testing {
namespace {

using support::Request;

// Records of different lengths: record k is found by walking (offsets 0, 4,
// 6, 9), never at k times the first record's length. The stand-in names
// tuning entry k + 1 for record k.
const std::vector<PlanKey> unevenKey = {0x103, 1, 7, 7, 0x101, 2, 0x102, 3, 7, 0x101, 4};
const std::ptrdiff_t recordOffsets[] = {0, 4, 6, 9};

std::shared_ptr<float> tuningInTuningMode()
{
    return std::shared_ptr<float>(new float[8]{-1, 0, 0, 0, 0, 0, 0, 0}, std::default_delete<float[]>());
}

struct SequenceCase {
    const char* what;
    std::vector<Dim> dims;
    std::size_t firstAxisRecord;  // the first middle axis whose length differs from N(0), or the innermost
};

const SequenceCase sequenceCases[] = {
    {"N(1) differs from N(0)", {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, 1},
    {"N(1) = N(0), N(2) differs", {{4, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, 2},
    {"every middle length N(0)", {{4, 0, 0}, {4, 0, 0}, {4, 0, 0}, {8, 0, 0}}, 3},
};

const Machine sequenceMachine{4, 1, 1, 1, 1};

template <Placement P>
void expectTuningIndex(const ReenteringContext<float, omp::Kind::Complex>& at, const SequenceCase& c,
                       const std::shared_ptr<float>& tuning)
{
    const auto calls = at.recorded.recorder->calls();
    ASSERT_FALSE(calls.empty());
    const auto& index = calls.front();
    EXPECT_EQ(index.op, P == Placement::Inplace ? "tuningIndexInplace" : "tuningIndexOoplace")
        << "asked before any plan";
    EXPECT_EQ(index.rank, c.dims.size() - c.firstAxisRecord);
    EXPECT_EQ(index.dims[0].size, c.dims[c.firstAxisRecord].size);
    EXPECT_EQ(index.keyOffset, recordOffsets[c.firstAxisRecord]);
    EXPECT_EQ(index.result, static_cast<std::int64_t>(c.firstAxisRecord) + 1);
    EXPECT_EQ(tuning.get()[index.result], -1.0f) << "tuning mode reaches the first-axis plans";
}

void expectRestRequest(const support::FactoryCall& rest, const char* op, const SequenceCase& c)
{
    EXPECT_EQ(rest.op, op);
    EXPECT_FALSE(rest.lockFlag);
    EXPECT_EQ(rest.rank, c.dims.size() - 1);
    for (std::size_t k = 1; k < c.dims.size(); ++k) EXPECT_EQ(rest.dims[k - 1].size, c.dims[k].size);
    EXPECT_EQ(rest.batch->size, c.dims[0].size) << "the first axis is the rest plan's batch";
    EXPECT_EQ(rest.batch->inStride, c.dims[0].inStride);
    EXPECT_EQ(rest.batch->outStride, c.dims[0].outStride);
    EXPECT_EQ(rest.keyOffset, recordOffsets[1]);
    EXPECT_EQ(rest.tuningIndex, 0) << "the caller's own pointer";
}

// The strategy as the factory would build it, on a context that records what
// it asks of the parallel factory.
template <Placement P>
std::unique_ptr<Compute<float, P>> makeOn(const ReenteringContext<float, omp::Kind::Complex>& at, bool packed,
                                          std::size_t rank, const Dim* dims, const Dim& batch, const PlanKey* key,
                                          const std::shared_ptr<float>& tuning = {})
{
    if (packed) return std::make_unique<omp::OmpCCPackedSplitFirstDim<float, P>>(at.context, rank, dims, &batch, key, tuning);
    return std::make_unique<omp::OmpCCStridedSplitFirstDim<float, P>>(at.context, rank, dims, &batch, key, tuning);
}

template <Placement P>
std::unique_ptr<Compute<float, P>> makeOn(const ReenteringContext<float, omp::Kind::Complex>& at, bool packed,
                                          const Request& request, const std::vector<PlanKey>& key)
{
    return makeOn<P>(at, packed, request.rank, request.dims.data(), request.batch, key.data());
}

// Builds one class in tuning mode with the uneven key and checks what every
// class asks first: the tuning index, then the rest plan of the parallel
// factory. Returns the later requests that re-entered the parallel factory.
std::vector<support::FactoryCall> checkIndexThenRest(ReenteringContext<float, omp::Kind::Complex>& at, bool packed,
                                                     Placement placement, const SequenceCase& c)
{
    const auto tuning = tuningInTuningMode();
    at.registerTuning(tuning.get());
    const Dim batch{1, 0, 0};
    const std::size_t rank = c.dims.size();
    if (placement == Placement::Inplace) {
        makeOn<Placement::Inplace>(at, packed, rank, c.dims.data(), batch, unevenKey.data(), tuning);
        expectTuningIndex<Placement::Inplace>(at, c, tuning);
    } else {
        makeOn<Placement::Ooplace>(at, packed, rank, c.dims.data(), batch, unevenKey.data(), tuning);
        expectTuningIndex<Placement::Ooplace>(at, c, tuning);
    }
    const auto reentered = at.reentered->calls();
    if (reentered.empty()) {
        ADD_FAILURE() << "no rest plan requested";
        return {};
    }
    expectRestRequest(reentered[0], placement == Placement::Inplace ? "makeInplace" : "makeOoplace", c);
    return {reentered.begin() + 1, reentered.end()};
}

TEST(SplitFirstDimComplex, PackedSubRequests)
{
    for (const SequenceCase& c : sequenceCases) {
        for (const Placement placement : {Placement::Inplace, Placement::Ooplace}) {
            SCOPED_TRACE(std::string(c.what) + ", " + support::name(placement));
            ReenteringContext<float, omp::Kind::Complex> at(sequenceMachine, unevenKey.data());
            const auto firstAxisRequests = checkIndexThenRest(at, true, placement, c);
            // Axis 0 over the slice's complex elements, in place on the
            // destination: one plan per layout the destination has.
            const std::int64_t slice = c.dims[1].size * c.dims[2].size * c.dims[3].size;
            const std::int64_t index = static_cast<std::int64_t>(c.firstAxisRecord) + 1;
            const support::ExpectedRequest firstAxis{
                "makeInplace", false, {c.dims[0].size, 2 * slice, 0}, {slice, 2, 0}, 0, index};
            const std::size_t layouts = placement == Placement::Inplace ? 1 : 2;
            support::expectRequests(firstAxisRequests, std::vector<support::ExpectedRequest>(layouts, firstAxis));
        }
    }
}

TEST(SplitFirstDimComplex, StridedSubRequests)
{
    for (const SequenceCase& packed : sequenceCases) {
        // Rows of the innermost axis 22 reals apart in the input layout and 26
        // in the output layout: axis 1 then steps 5 rows, axis 0 N(1) times that.
        SequenceCase c = packed;
        c.dims[2].inStride = 22;
        c.dims[2].outStride = 26;
        for (const Placement placement : {Placement::Inplace, Placement::Ooplace}) {
            SCOPED_TRACE(std::string(c.what) + ", " + support::name(placement));
            ReenteringContext<float, omp::Kind::Complex> at(sequenceMachine, unevenKey.data());
            EXPECT_TRUE(checkIndexThenRest(at, false, placement, c).empty())
                << "only the rest plan comes from the parallel factory";

            // The column plans come last, after whatever the rest plan asked for.
            const auto all = at.recorded.recorder->calls();
            const std::size_t layouts = placement == Placement::Inplace ? 1 : 2;
            ASSERT_GE(all.size(), layouts);
            const std::vector<support::FactoryCall> columns(all.end() - layouts, all.end());
            const std::int64_t index = static_cast<std::int64_t>(c.firstAxisRecord) + 1;
            const std::int64_t rows = c.dims[1].size * c.dims[2].size;
            const support::ExpectedRequest inputLayout{
                "makeInplace column", false, {c.dims[0].size, rows * 22, 0}, {8, 2, 0}, 0, index};
            const support::ExpectedRequest outputLayout{
                "makeInplace column", false, {c.dims[0].size, rows * 26, 0}, {8, 2, 0}, 0, index};
            if (placement == Placement::Inplace) support::expectRequests(columns, {inputLayout});
            else support::expectRequests(columns, {inputLayout, outputLayout});
        }
    }
}

// The rest plan runs first in both directions and alone receives extraArg;
// every parallel sub-plan is raised to the composite's slice.
TEST(SplitFirstDimComplex, ExtraArgReachesTheRestPlanOnly)
{
    const Request packedRequest{4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {2, 0, 0}};
    Request stridedRequest = packedRequest;
    stridedRequest.dims[1].inStride = stridedRequest.dims[1].outStride = 40;
    const auto key = makePlanKey(4);
    auto reference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    for (const bool packed : {true, false}) {
        for (const Placement placement : {Placement::Inplace, Placement::Ooplace}) {
            SCOPED_TRACE(std::string(packed ? "packed, " : "strided, ") + support::name(placement));
            const Request& request = packed ? packedRequest : stridedRequest;
            ReenteringContext<float, omp::Kind::Complex> at(sequenceMachine, key.data());
            support::CheckOptions options;
            if (placement == Placement::Inplace) {
                auto plan = makeOn<Placement::Inplace>(at, packed, request, key);
                for (const auto& reserve : at.reentered->planCalls()) {
                    EXPECT_EQ(reserve.op, "reserveThreadWork");
                    EXPECT_EQ(static_cast<std::size_t>(reserve.value), plan->threadWorkSize());
                }
                EXPECT_TRUE(support::checkPlanWithArg(request, *plan, *reference, options));
            } else {
                auto plan = makeOn<Placement::Ooplace>(at, packed, request, key);
                for (const auto& reserve : at.reentered->planCalls()) {
                    EXPECT_EQ(reserve.op, "reserveThreadWork");
                    EXPECT_EQ(static_cast<std::size_t>(reserve.value), plan->threadWorkSize());
                }
                EXPECT_TRUE(support::checkPlanWithArg(request, *plan, *reference, options));
            }
            int restWithArg = 0;
            for (const auto& call : at.reentered->planCalls()) {
                const bool withArg = call.op.find("WithArg") != std::string::npos;
                if (call.call == 0) {
                    restWithArg += withArg;
                } else {
                    EXPECT_FALSE(withArg) << "first-axis plan " << call.call << ": " << call.op;
                }
                if (withArg) {
                    EXPECT_EQ(call.extraArg, options.extraArg);
                }
            }
            EXPECT_EQ(restWithArg, 4) << "two transforms, both directions";
            const auto made = at.recorded.recorder->calls();
            for (const auto& call : at.recorded.recorder->planCalls()) {
                if (made[call.call].column) {
                    EXPECT_EQ(call.op.find("WithArg"), std::string::npos) << "column plans run the plain form";
                }
            }
        }
    }
}

// A parent's reservation reaches every parallel sub-plan, and the raised
// slices are the ones the passes use.
TEST(SplitFirstDimComplex, ReservedSliceReachesTheParallelSubPlans)
{
    Request request{4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {2, 0, 0}};
    const auto key = makePlanKey(4);
    auto reference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    for (const bool packed : {true, false}) {
        SCOPED_TRACE(packed ? "packed" : "strided");
        if (!packed) request.dims[1].inStride = 40;
        ReenteringContext<float, omp::Kind::Complex> at(sequenceMachine, key.data());
        auto plan = makeOn<Placement::Inplace>(at, packed, request, key);
        at.reentered->clear();
        const std::size_t slice = plan->threadWorkSize() + 40;
        plan->reserveThreadWork(slice);
        const auto reserved = at.reentered->planCalls();
        ASSERT_FALSE(reserved.empty()) << "the rest plan runs 4 threads";
        for (const auto& call : reserved) EXPECT_EQ(static_cast<std::size_t>(call.value), slice);
        EXPECT_EQ(plan->threadWorkSize(), slice);
        EXPECT_GE(plan->workSize(), slice * static_cast<std::size_t>(plan->threadCount()));
        EXPECT_TRUE(support::checkPlan(request, *plan, *reference));
    }
}

// Every sub-request of the tree may be declined; the whole request then
// declines. The tuning lock is taken once for the whole tree.
TEST(SplitFirstDimComplex, OneLockAndDeclinesForTheWholeTree)
{
    const Request requests[] = {
        {5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}},
        {4, {{6, 0, 0}, {2, 150, 170}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}},
    };
    for (const Request& request : requests) {
        for (const Placement placement : {Placement::Inplace, Placement::Ooplace})
            expectEveryDeclineDeclinesTheTree<float, std::complex<float>, std::complex<float>>(sequenceMachine,
                                                                                               request, placement);
    }
}

// "Name<floatNN_t>(AXIS0xREST_bHOWMANY/THREADS)": the axis-0 plan's text up to
// its "_v", the rest plan's up to its "_b", both from their last "(", and the
// team of the largest sub-plan (packed) or of the rest plan (strided).
TEST(SplitFirstDimComplex, Descriptions)
{
    EXPECT_EQ(omp::pieceBefore("col(6_v8)", "_v"), "6");
    EXPECT_EQ(omp::pieceBefore("6x4_b2", "_b"), "6x4") << "no '(': from the start";
    EXPECT_EQ(omp::pieceBefore("dft(16_b32)", "_v"), "16_b32)") << "no marker: to the end";
    EXPECT_EQ(omp::pieceBefore("a_v(b)", "_v"), "") << "marker before the last '('";
    EXPECT_EQ(omp::pieceBefore("x(_v3)", "_v"), "");

    auto factory = complexParallel<float>(Machine{4, 2, 1, 1, 1});
    struct Case {
        Request request;
        const char* inplace;
        const char* ooplace;
    };
    const Case cases[] = {
        // Strided over a batch of 6 rank-3 transforms on 3 threads: "col(6_v8)" x "OmpBatch(dft(2x4x8_b6)/3)".
        {{4, {{6, 0, 0}, {2, 150, 170}, {4, 0, 0}, {8, 0, 0}}, {3, 1900, 2100}},
         "OmpInplaceCC<float32_t>(6x2x4x8_b3/3)",
         "OmpOoplaceCC<float32_t>(6x2x4x8_b3/3)"},
        // Packed: the first-axis plan is a batch of 32 strided transforms, "OmpBatch(dft(16_b32)/4)".
        {{4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {0, 0, 0}},
         "OmpInplaceCC<float32_t>(16_b32)/4)x2x2x8_b1/4)",
         "OmpOoplaceCC<float32_t>(16_b32)/4)x2x2x8_b1/4)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(support::makePlan<Placement::Inplace>(*factory, c.request)->toString(), c.inplace);
        EXPECT_EQ(support::makePlan<Placement::Ooplace>(*factory, c.request)->toString(), c.ooplace);
    }
}

}  // namespace
}  // namespace zun::fft::testing
