// The real split-first-dimension strategies (rank 4 and more) as the factory
// chooses them: results against the serial plan of the whole request.
#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <optional>

#include "splitfirstdim_checks.h"

namespace zun::fft::testing {
namespace {

using support::Request;

struct NumericalCase {
    const char* what;
    Request request;
    std::optional<omp::Strategy> inplace;  // out of place is always the strided class; none: out of place only
    bool ooplaceFits = true;  // false: out of place the output layout fits no array
    Machine machine = splitMachine;
};

const NumericalCase numericalCases[] = {
    {"packed, even innermost length", {4, {{4, 0, 0}, {4, 0, 0}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed},
    {"packed, odd innermost length, three transforms", {4, {{4, 0, 0}, {4, 0, 0}, {5, 0, 0}, {7, 0, 0}}, {3, 0, 0}},
     Packed},
    {"N0 = 1, explicit distances", {4, {{1, 0, 0}, {4, 0, 0}, {8, 0, 0}, {16, 0, 0}}, {2, 600, 620}}, Packed},
    {"fewer complex columns than a cache line", {4, {{128, 0, 0}, {1, 0, 0}, {1, 0, 0}, {6, 0, 0}}, {1, 0, 0}},
     Packed},
    {"strided rows, gaps in both layouts", {4, {{3, 0, 0}, {4, 0, 0}, {6, 14, 16}, {8, 0, 0}}, {2, 0, 0}}, Strided},
    {"strided, N1 smaller than the team, odd length",
     {4, {{6, 0, 0}, {2, 90, 100}, {5, 0, 0}, {9, 0, 0}}, {1, 0, 0}}, Strided},
    {"strided first axis", {4, {{5, 700, 800}, {4, 0, 0}, {4, 0, 0}, {10, 0, 0}}, {1, 0, 0}}, Packed},
    {"rank 5: a split inside a split", {5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {1, 0, 0}},
     Packed},
    {"rank 5, strided, many slices per thread",
     {5, {{16, 0, 0}, {2, 0, 0}, {3, 40, 44}, {2, 0, 0}, {7, 0, 0}}, {2, 0, 0}}, Strided},
    {"in place, a huge outStride on the innermost middle axis",
     {4, {{3, 0, 0}, {4, 0, 0}, {6, 0, unusedInPlace}, {32, 0, 0}}, {1, 0, 0}}, Strided, false},
    {"in place, a huge outStride on axis 1",
     {4, {{3, 0, 0}, {4, 0, unusedInPlace}, {6, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Strided, false},
    // Out of place only: in place, axis 2's stride is shorter than its padded
    // rows. The gaps make the stand-in stage the backward slice plans, so
    // they need more work than the column and rest plans.
    {"rank 5, gapped: the slice plans need the most work",
     {5, {{3, 543, 0}, {3, 0, 252}, {6, 30, 42}, {3, 0, 0}, {10, 0, 0}}, {2, 1631, 0}}, std::nullopt, true,
     Machine{2, 2, 1, 3, 6}},
};

template <typename Precision>
class SplitFirstDimRealNumerical : public ::testing::Test {
protected:
    using T = typename Precision::Real;

    const std::unique_ptr<RealFactory<T>> reference = makePlannerFactory<T, T, std::complex<T>>();
};

TYPED_TEST_SUITE(SplitFirstDimRealNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(SplitFirstDimRealNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    using T = typename TypeParam::Real;
    for (const NumericalCase& c : numericalCases) {
        SCOPED_TRACE(c.what);
        const auto factory = realParallel<T>(c.machine);
        if (c.inplace) checkSplit<Placement::Inplace>(*factory, *this->reference, c.request, *c.inplace);
        // One class for every out-of-place request.
        if (c.ooplaceFits) checkSplit<Placement::Ooplace>(*factory, *this->reference, c.request, Strided);
        else EXPECT_FALSE(support::makePlan<Placement::Ooplace>(*factory, c.request));
    }
}

// The rest plan is whatever the real factory makes of axes 1 to n-1 with the
// first axis as batch: batches, plane and plane-team strategies, or a split.
TEST(SplitFirstDimRealNumerical, RestPlansOfEveryKind)
{
    using omp::Strategy;
    struct Case {
        Request request;
        Strategy split[2];  // in place, out of place
        Strategy rest[2];
    };
    const Case cases[] = {
        {{4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}},
         {Packed, Strided},
         {Strategy::PlainBatch, Strategy::PlainBatch}},
        {{4, {{3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {1, 0, 0}},
         {Packed, Strided},
         {Strategy::PackedPlanes, Strategy::StridedPlanes}},
        {{4, {{3, 0, 0}, {4, 0, 0}, {4, 20, 0}, {16, 0, 0}}, {1, 0, 0}},
         {Strided, Strided},
         {Strategy::StridedPlanes, Strategy::StridedPlanes}},
        {{4, {{3, 0, 0}, {2, 0, 0}, {16, 0, 0}, {16, 0, 0}}, {1, 0, 0}},
         {Packed, Strided},
         {Strategy::PackedPlaneTeams, Strategy::StridedPlaneTeams}},
        {{5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, {Packed, Strided}, {Packed, Strided}},
    };
    auto factory = realParallel<float>(splitMachine);
    auto reference = makePlannerFactory<float, float, std::complex<float>>();
    for (const Case& c : cases) {
        checkSplit<Placement::Inplace>(*factory, *reference, c.request, c.split[0], c.rest[0]);
        checkSplit<Placement::Ooplace>(*factory, *reference, c.request, c.split[1], c.rest[1]);
    }
}

}  // namespace
}  // namespace zun::fft::testing
