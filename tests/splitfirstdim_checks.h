// Checks that the complex and the real split-first-dimension tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "factory/decisions.h"
#include "parallel_fixtures.h"
#include "support/harness.h"

namespace zun::fft::testing {

// Caches of 1 KiB send every rank-4 request of the tests past the serial and
// batch branches; their rest requests then reach batches, rank-3 strategies
// or splits again. Two packages give plane teams two outer threads when
// nesting is allowed.
inline const Machine splitMachine{4, 2, 1, 1, 1};

inline constexpr auto Packed = omp::Strategy::PackedSplitFirstDim;
inline constexpr auto Strided = omp::Strategy::StridedSplitFirstDim;

// An outStride that only an out-of-place request would use: in place the
// factory does not bound it, and a few multiples of it overflow 64 bits.
inline constexpr std::int64_t unusedInPlace = std::int64_t{1} << 62;

// The factory's plan for the whole request: the strategy its decision names
// (and, when given, the one its rest request gets), described as a split,
// matching the serial plan in both directions with extraArg.
template <Placement P, typename F>
void checkSplit(const Parallel<F>& factory, const F& reference, const support::Request& request,
                omp::Strategy split, std::optional<omp::Strategy> rest = {})
{
    constexpr omp::Kind kind = Parallel<F>::kind;
    SCOPED_TRACE(support::describe(request) + ", " + support::name(P));
    const auto figures = omp::figuresOf(factory.context());
    const Dim* dims = request.dims.data();
    const auto decision = omp::classify(kind, P, request.rank, dims, &request.batch, figures);
    ASSERT_EQ(decision.strategy, split) << omp::strategyName(decision.strategy);
    if (rest) {
        const auto restDecision = omp::classify(kind, P, request.rank - 1, dims + 1, dims, figures);
        EXPECT_EQ(restDecision.strategy, *rest) << omp::strategyName(restDecision.strategy);
    }
    auto plan = support::makePlan<P>(factory, request);
    ASSERT_TRUE(plan);
    const std::string prefix = std::string(P == Placement::Inplace ? "OmpInplace" : "OmpOoplace") +
                               (kind == omp::Kind::Complex ? "CC<" : "RC<");
    EXPECT_EQ(plan->toString().rfind(prefix, 0), 0u) << plan->toString();
    EXPECT_TRUE(support::checkPlanWithArg(request, *plan, reference));
}

}  // namespace zun::fft::testing
