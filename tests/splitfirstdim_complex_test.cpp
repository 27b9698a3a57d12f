// The complex split-first-dimension strategies (rank 4 and more) as the
// factory chooses them: results against the serial plan of the whole request.
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
    omp::Strategy inplace;
    std::optional<omp::Strategy> ooplace;  // none: out of place the output layout fits no array
};

const NumericalCase numericalCases[] = {
    {"packed, rank 4", {4, {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed, Packed},
    {"packed, small rest: a batch of 16 rank-3 transforms",
     {4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed, Packed},
    {"packed, N0 = 1, two transforms", {4, {{1, 0, 0}, {4, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {2, 0, 0}}, Packed, Packed},
    {"packed, strided first axis, explicit distances",
     {4, {{3, 336, 352}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, {2, 1100, 1150}}, Packed, Packed},
    {"packed, rank 5: a split inside a split",
     {5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed, Packed},
    {"packed, explicit packed strides", {4, {{3, 0, 0}, {4, 128, 0}, {4, 32, 0}, {16, 2, 2}}, {0, 0, 0}}, Packed,
     Packed},
    {"strided, gaps between rows", {4, {{3, 0, 0}, {4, 0, 0}, {5, 22, 26}, {8, 0, 0}}, {1, 0, 0}}, Strided, Strided},
    {"strided, N1 smaller than the team, explicit distances",
     {4, {{6, 0, 0}, {2, 150, 170}, {4, 0, 0}, {8, 0, 0}}, {3, 1900, 2100}}, Strided, Strided},
    {"strided, N0 = 1", {4, {{1, 0, 0}, {4, 300, 0}, {8, 0, 0}, {16, 0, 0}}, {2, 0, 0}}, Strided, Strided},
    {"strided, rank 5 over a strided rest",
     {5, {{2, 0, 0}, {3, 0, 0}, {2, 140, 150}, {8, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Strided, Strided},
    {"in place outStride set: strided in place, packed out of place",
     {4, {{3, 0, 0}, {4, 0, 0}, {5, 0, 16}, {8, 0, 0}}, {1, 0, 0}}, Strided, Packed},
    {"in place, a huge outStride on the innermost middle axis",
     {4, {{3, 0, 0}, {4, 0, 0}, {6, 0, unusedInPlace}, {32, 0, 0}}, {1, 0, 0}}, Strided, std::nullopt},
    {"in place, a huge outStride on axis 1",
     {4, {{3, 0, 0}, {4, 0, unusedInPlace}, {6, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Strided, std::nullopt},
};

template <typename Precision>
class SplitFirstDimComplexNumerical : public ::testing::Test {
protected:
    using T = typename Precision::Real;

    const std::unique_ptr<Parallel<ComplexFactory<T>>> factory = complexParallel<T>(splitMachine);
    const std::unique_ptr<ComplexFactory<T>> reference = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
};

TYPED_TEST_SUITE(SplitFirstDimComplexNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(SplitFirstDimComplexNumerical, MatchesTheSerialPlanInAndOutOfPlace)
{
    for (const NumericalCase& c : numericalCases) {
        SCOPED_TRACE(c.what);
        checkSplit<Placement::Inplace>(*this->factory, *this->reference, c.request, c.inplace);
        if (c.ooplace) checkSplit<Placement::Ooplace>(*this->factory, *this->reference, c.request, *c.ooplace);
        else EXPECT_FALSE(support::makePlan<Placement::Ooplace>(*this->factory, c.request));
    }
}

// The rest plan is whatever the factory makes of axes 1 to n-1 with the first
// axis as batch: every kind of strategy of that rank may run under a split.
TEST(SplitFirstDimComplexNumerical, RestPlansOfEveryKind)
{
    using omp::Strategy;
    struct Case {
        Request request;
        Strategy split;
        Strategy rest;
    };
    const Case cases[] = {
        {{4, {{16, 0, 0}, {2, 0, 0}, {2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed, Strategy::PlainBatch},
        {{4, {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed, Strategy::PackedPlanes},
        {{4, {{3, 0, 0}, {4, 0, 0}, {5, 22, 26}, {8, 0, 0}}, {1, 0, 0}}, Strided, Strategy::StridedPlanes},
        {{4, {{3, 0, 0}, {2, 0, 0}, {8, 0, 0}, {16, 0, 0}}, {2, 0, 0}}, Packed, Strategy::PackedPlaneTeams},
        {{4, {{3, 0, 0}, {2, 0, 0}, {8, 40, 44}, {16, 0, 0}}, {1, 0, 0}}, Strided, Strategy::StridedPlaneTeams},
        {{5, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Packed, Packed},
    };
    auto factory = complexParallel<float>(splitMachine);
    auto reference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    for (const Case& c : cases) {
        checkSplit<Placement::Inplace>(*factory, *reference, c.request, c.split, c.rest);
        checkSplit<Placement::Ooplace>(*factory, *reference, c.request, c.split, c.rest);
    }
}

}  // namespace
}  // namespace zun::fft::testing
