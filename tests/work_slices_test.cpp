// Every plan that runs in a work slice counts toward that slice's size, in
// every strategy class. For each sub-plan in turn, the hungry planner makes
// that one plan need more work than any other, by more than a line's rounding;
// a slice sized without it then runs into the next thread's
// slice or past workSize(), which the plans' stamps and the harness's guard
// zone show. Which plans a slice is sized for does not depend on the team the
// runtime forms, so the suite runs in the default environment only.
#include <gtest/gtest.h>

#include <complex>
#include <string>

#include "factory/decisions.h"
#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/hungry.h"
#include "support/layout.h"

namespace zun::fft::testing {
namespace {

using omp::Strategy;
using support::Request;

struct SliceCase {
    bool real;
    Machine machine;
    Request request;
    Strategy inplace;
    Strategy ooplace;
};

const Machine batches{4, 1, 1, 1024, 8192};
const Machine rowsAndColumns{4, 2, 1, 1, 1};
const Machine planes{4, 1, 1, 64};
const Machine planeTeams{4, 2, 1, 1, 1};
const Machine splits{4, 2, 1, 1, 1};

const SliceCase sliceCases[] = {
    {false, batches, {1, {{64, 0, 0}}, {37, 0, 0}}, Strategy::PlainBatch, Strategy::PlainBatch},
    {false, batches, {1, {{32, 6, 6}}, {21, 0, 0}}, Strategy::GroupedBatch, Strategy::GroupedBatch},
    {true, batches, {1, {{64, 0, 0}}, {10, 0, 0}}, Strategy::PlainBatch, Strategy::PlainBatch},
    {true, batches, {1, {{33, 0, 0}}, {21, 0, 0}}, Strategy::GroupedBatch, Strategy::GroupedBatch},
    {false, rowsAndColumns, {2, {{9, 0, 0}, {40, 0, 0}}, {1, 0, 0}}, Strategy::RowColumn, Strategy::RowColumn},
    {true, rowsAndColumns, {2, {{9, 0, 0}, {66, 0, 0}}, {1, 0, 0}}, Strategy::RowColumn, Strategy::RowColumn},
    {false, planes, {3, {{9, 0, 0}, {5, 0, 0}, {20, 0, 0}}, {3, 0, 0}}, Strategy::PackedPlanes,
     Strategy::PackedPlanes},
    {false, planes, {3, {{6, 0, 0}, {5, 30, 30}, {12, 0, 0}}, {2, 1000, 1100}}, Strategy::StridedPlanes,
     Strategy::StridedPlanes},
    {true, planes, {3, {{12, 0, 0}, {5, 0, 0}, {9, 0, 0}}, {1, 0, 0}}, Strategy::PackedPlanes,
     Strategy::StridedPlanes},
    {true, planes, {3, {{8, 0, 0}, {6, 20, 22}, {16, 0, 0}}, {2, 0, 0}}, Strategy::StridedPlanes,
     Strategy::StridedPlanes},
    {false, planeTeams, {3, {{5, 0, 0}, {7, 0, 0}, {20, 0, 0}}, {1, 0, 0}}, Strategy::PackedPlaneTeams,
     Strategy::PackedPlaneTeams},
    {false, planeTeams, {3, {{4, 0, 0}, {9, 38, 44}, {16, 0, 0}}, {1, 0, 0}}, Strategy::StridedPlaneTeams,
     Strategy::StridedPlaneTeams},
    {true, planeTeams, {3, {{3, 0, 0}, {9, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Strategy::PackedPlaneTeams,
     Strategy::StridedPlaneTeams},
    {true, planeTeams, {3, {{3, 0, 0}, {9, 36, 40}, {32, 0, 0}}, {1, 0, 0}}, Strategy::StridedPlaneTeams,
     Strategy::StridedPlaneTeams},
    // Inner threads with a whole column group of planes each: the side buffer's group plan runs.
    {true, planeTeams, {3, {{72, 0, 0}, {9, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Strategy::PackedPlaneTeams,
     Strategy::StridedPlaneTeams},
    {false, splits, {4, {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Strategy::PackedSplitFirstDim,
     Strategy::PackedSplitFirstDim},
    {false, splits, {4, {{3, 0, 0}, {4, 0, 0}, {5, 22, 26}, {8, 0, 0}}, {1, 0, 0}}, Strategy::StridedSplitFirstDim,
     Strategy::StridedSplitFirstDim},
    {true, splits, {4, {{4, 0, 0}, {4, 0, 0}, {5, 0, 0}, {7, 0, 0}}, {3, 0, 0}}, Strategy::PackedSplitFirstDim,
     Strategy::StridedSplitFirstDim},
    {true, splits, {4, {{3, 0, 0}, {4, 0, 0}, {6, 14, 16}, {8, 0, 0}}, {2, 0, 0}}, Strategy::StridedSplitFirstDim,
     Strategy::StridedSplitFirstDim},
};

template <typename T, typename In, typename Out, Placement P>
void expectEveryPlanFitsItsSlice(const SliceCase& c, Strategy expected)
{
    SCOPED_TRACE(support::describe(c.request) + ", " + support::name(support::kindOf<In, Out>) + " " +
                 support::name(P));
    using F = Factory<T, In, Out>;
    auto counting = support::hungryPlanner<T, In, Out>();
    const auto ledger = counting.ledger;
    const auto parallel = parallelOver<F>(std::move(counting.factory), c.machine);
    const auto decision = omp::classify(Parallel<F>::kind, P, c.request.rank, c.request.dims.data(),
                                        &c.request.batch, omp::figuresOf(parallel->context()));
    ASSERT_EQ(decision.strategy, expected) << omp::strategyName(decision.strategy);
    ASSERT_TRUE(support::makePlan<P>(*parallel, c.request));

    const auto largest = static_cast<std::int64_t>(ledger->largestInnerWork());
    support::Appetite appetite;
    appetite.favouriteExtra = largest + 64;
    support::CheckOptions options;
    options.guardReals = 2 * largest + 512;
    const auto reference = makePlannerFactory<T, In, Out>();
    for (std::int64_t favourite = 0; favourite < ledger->makes(); ++favourite) {
        appetite.favourite = favourite;
        const auto favoured = parallelOver<F>(support::hungryPlanner<T, In, Out>(appetite).factory, c.machine);
        const auto plan = support::makePlan<P>(*favoured, c.request);
        ASSERT_TRUE(plan);
        EXPECT_TRUE(support::checkPlan(c.request, *plan, *reference, options))
            << "make call " << favourite << " needs the most work: " << plan->toString();
    }
}

template <typename T, typename In, typename Out>
void expectBothPlacements(const SliceCase& c)
{
    expectEveryPlanFitsItsSlice<T, In, Out, Placement::Inplace>(c, c.inplace);
    expectEveryPlanFitsItsSlice<T, In, Out, Placement::Ooplace>(c, c.ooplace);
}

template <typename Precision>
class WorkSlices : public ::testing::Test {};
using SlicePrecisions = ::testing::Types<support::Precision<float>, support::Precision<_Float16>>;
TYPED_TEST_SUITE(WorkSlices, SlicePrecisions, support::PrecisionNames);

TYPED_TEST(WorkSlices, EveryPlanFitsTheSliceItRunsIn)
{
    using T = typename TypeParam::Real;
    using C = std::complex<T>;
    for (const SliceCase& c : sliceCases) {
        if (c.real) expectBothPlacements<T, T, C>(c);
        else expectBothPlacements<T, C, C>(c);
    }
}

}  // namespace
}  // namespace zun::fft::testing
