// Strategies delete their sub-plans in the reverse of the order of the fields
// that hold them. Seen through a recording planner under the parallel factory:
// each plan is named by its ordinal among the make calls, so the tuning-index
// queries and the companion's fetch do not count.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <vector>

#include "factory/decisions.h"
#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/recording.h"

namespace zun::fft::testing {
namespace {

using support::Request;

struct DeletionCase {
    const char* what;
    bool real;
    Placement placement;
    Machine machine;
    Request request;
    omp::Strategy strategy;
    std::vector<std::int64_t> fieldOrder;  // the make ordinals of the sub-plans, in the order of their fields
};

const DeletionCase deletionCases[] = {
    // blockPlan, groupPlan, tailPlan; asked for as block, tail, group.
    {"grouped batch", false, Placement::Inplace, Machine{4, 1, 32, 1024, 8192}, {1, {{256, 4, 0}}, {100, 0, 0}},
     omp::Strategy::GroupedBatch, {0, 2, 1}},
    // rowBlockPlan, oneRowPlan, columnBlockPlan, columnGroupPlan, columnTailPlan.
    {"row/column", false, Placement::Inplace, Machine{8, 1, 1, 1, 8192}, {2, {{64, 0, 0}, {60, 0, 0}}, {1, 0, 0}},
     omp::Strategy::RowColumn, {0, 1, 2, 4, 3}},

    // Planes: the frame's planeBlockPlan and onePlanePlan come first, then
    // the class's own fields.
    // Packed: the in-place set's columnBlockPlan, columnGroupPlan,
    // columnTailPlan; out of place the output set's after them, each piece
    // asked for in both sets before the next.
    {"planes", false, Placement::Inplace, Machine{4, 1, 1, 64}, {3, {{8, 0, 0}, {4, 0, 0}, {21, 0, 0}}, {1, 0, 0}},
     omp::Strategy::PackedPlanes, {0, 1, 2, 4, 3}},
    {"planes out of place", false, Placement::Ooplace, Machine{4, 1, 1, 64},
     {3, {{8, 0, 0}, {4, 0, 0}, {21, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedPlanes, {0, 1, 2, 6, 4, 3, 7, 5}},
    {"real planes", true, Placement::Inplace, Machine{4, 1, 1, 64}, {3, {{8, 0, 0}, {4, 0, 0}, {40, 0, 0}}, {1, 0, 0}},
     omp::Strategy::PackedPlanes, {0, 1, 2, 4, 3}},
    // Strided: firstDimPlanIn, then out of place firstDimPlanOut.
    {"strided planes", false, Placement::Inplace, Machine{4, 1, 1, 64},
     {3, {{8, 0, 0}, {4, 50, 0}, {21, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlanes, {0, 1, 2}},
    {"strided planes out of place", false, Placement::Ooplace, Machine{4, 1, 1, 64},
     {3, {{8, 0, 0}, {4, 50, 50}, {21, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlanes, {0, 1, 2, 3}},
    {"strided real planes", true, Placement::Inplace, Machine{4, 1, 1, 64},
     {3, {{8, 0, 0}, {4, 50, 0}, {40, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlanes, {0, 1, 2}},
    // Real out of place: splitPlaneBlockPlan, oneSplitPlanePlan,
    // firstDimPlanOut, backwardColumnsPlan, lastColumnPlan.
    {"real planes out of place", true, Placement::Ooplace, Machine{4, 1, 1, 64},
     {3, {{8, 0, 0}, {4, 0, 0}, {40, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlanes, {0, 1, 2, 3, 4, 5, 6}},

    // Plane teams, complex: rowBlockPlan, oneRowPlan, the output layout's
    // column block, group and tail plans (strided rows out of place only), the
    // input layout's, then the first-axis plans: with packed rows the block,
    // group and tail plans of firstDimIn and out of place of firstDimOut, else
    // firstDimPlanIn and out of place firstDimPlanOut.
    {"plane teams", false, Placement::Inplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 0, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedPlaneTeams, {0, 1, 2, 4, 3, 5, 7, 6}},
    {"plane teams out of place", false, Placement::Ooplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 0, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedPlaneTeams,
     {0, 1, 2, 4, 3, 5, 9, 7, 6, 10, 8}},
    {"strided plane teams", false, Placement::Inplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 48, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlaneTeams, {0, 1, 2, 4, 3, 5}},
    {"strided plane teams out of place", false, Placement::Ooplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 48, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlaneTeams,
     {0, 1, 2, 7, 5, 3, 6, 4, 8, 9}},
    // Real in place: rowBlockPlan, rowPairPlan, oddRowPlan, the column block,
    // group and tail plans, then with packed rows the first-axis block, group
    // and tail plans, else firstDimPlan.
    {"real plane teams", true, Placement::Inplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 0, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedPlaneTeams, {0, 2, 1, 3, 5, 4, 6, 8, 7}},
    {"strided real plane teams", true, Placement::Inplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 24, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlaneTeams, {0, 2, 1, 3, 5, 4, 6}},
    // Real out of place: rowBlockPlan, rowPairPlan, oddRowPlan, the three
    // split row plans alike, then the forward column block, group and tail
    // plans, the backward ones, sideColumnGroupPlan, sideColumnPlan,
    // firstDimPlanOut, firstDimPlanBackward, lastColumnPlan.
    {"real plane teams out of place", true, Placement::Ooplace, Machine{4, 1, 1, 1, 1},
     {3, {{5, 0, 0}, {13, 0, 0}, {20, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedPlaneTeams,
     {0, 5, 2, 1, 4, 3, 6, 10, 8, 7, 11, 9, 12, 13, 14, 15, 16}},

    // Splits: restPlan first, here a plain batch over axes 1 to n-1 made by
    // the parallel factory (its blockPlan, groupPlan), then the split's own.
    // Complex packed: firstDimPlanIn and out of place firstDimPlanOut, each a
    // grouped batch of the parallel factory (blockPlan, groupPlan).
    {"split", false, Placement::Inplace, Machine{4, 2, 1, 1, 1},
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedSplitFirstDim, {0, 1, 2, 3}},
    {"split out of place", false, Placement::Ooplace, Machine{4, 2, 1, 1, 1},
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedSplitFirstDim,
     {0, 1, 2, 3, 4, 5}},
    // Complex strided: firstDimPlanIn, then out of place firstDimPlanOut.
    {"strided split", false, Placement::Inplace, Machine{4, 2, 1, 1, 1},
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 20, 0}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedSplitFirstDim, {0, 1, 2}},
    {"strided split out of place", false, Placement::Ooplace, Machine{4, 2, 1, 1, 1},
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 20, 20}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedSplitFirstDim,
     {0, 1, 2, 3}},
    // Real in place, packed: the column block, group and tail plans.
    {"real split", true, Placement::Inplace, Machine{4, 2, 1, 1, 1},
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::PackedSplitFirstDim,
     {0, 1, 2, 4, 3}},
    // Real in place, strided: firstDimPlan.
    {"strided real split", true, Placement::Inplace, Machine{4, 2, 1, 1, 1},
     {4, {{3, 0, 0}, {4, 0, 0}, {5, 14, 0}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedSplitFirstDim, {0, 1, 2}},
    // Real out of place: sliceBlockPlan, oneSlicePlan, firstDimPlanOut,
    // firstDimPlanBackward, lastColumnPlan.
    {"real split out of place", true, Placement::Ooplace, Machine{4, 2, 1, 1, 1},
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, omp::Strategy::StridedSplitFirstDim,
     {0, 1, 2, 3, 4, 5, 6}},
};

// Makes the plan and deletes it again; false when none came back.
template <typename F>
bool makeAndDelete(const F& factory, const Request& request, Placement placement)
{
    if (placement == Placement::Inplace) return support::makePlan<Placement::Inplace>(factory, request) != nullptr;
    return support::makePlan<Placement::Ooplace>(factory, request) != nullptr;
}

template <typename T, typename In, typename Out>
void expectReverseFieldOrder(const DeletionCase& c)
{
    SCOPED_TRACE(c.what);
    Recorded<T, In, Out> recorded(c.machine);
    constexpr omp::Kind kind = Parallel<Factory<T, In, Out>>::kind;
    const auto decision = omp::classify(kind, c.placement, c.request.rank, c.request.dims.data(), &c.request.batch,
                                        omp::figuresOf(recorded.parallel->context()));
    ASSERT_EQ(decision.strategy, c.strategy) << omp::strategyName(decision.strategy);
    ASSERT_TRUE(makeAndDelete(*recorded.parallel, c.request, c.placement));

    const auto calls = recorded.recorder->calls();
    std::vector<std::int64_t> deleted;
    for (const std::size_t call : recorded.recorder->deletions()) deleted.push_back(calls[call].makeIndex);
    std::vector<std::int64_t> expected(c.fieldOrder.rbegin(), c.fieldOrder.rend());
    EXPECT_EQ(deleted, expected);
}

TEST(SubPlanDeletion, ReverseOfTheFieldOrder)
{
    for (const DeletionCase& c : deletionCases) {
        if (c.real) expectReverseFieldOrder<float, float, std::complex<float>>(c);
        else expectReverseFieldOrder<float, std::complex<float>, std::complex<float>>(c);
    }
}

}  // namespace
}  // namespace zun::fft::testing
