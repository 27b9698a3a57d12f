#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "parallel/records.h"

namespace zun::fft::omp {
namespace {

struct DistanceCase {
    std::vector<Dim> dims;
    Layout layout;
    std::int64_t expected;
};

TEST(Records, PackedDefaultDistances)
{
    const DistanceCase cases[] = {
        {{{5, 0, 0}}, Layout::InplaceReal, 6},
        {{{4, 0, 0}}, Layout::InplaceReal, 6},
        {{{5, 0, 0}}, Layout::RealInput, 5},
        {{{5, 0, 0}}, Layout::ComplexHalfOutput, 6},
        {{{5, 3, 0}}, Layout::ComplexInput, 15},
        {{{5, 0, 4}}, Layout::ComplexOutput, 20},
        {{{3, 0, 0}, {8, 0, 0}}, Layout::ComplexInput, 48},
        {{{3, 0, 0}, {8, 0, 0}}, Layout::InplaceReal, 30},
        {{{3, 0, 0}, {8, 0, 0}}, Layout::RealInput, 24},
        {{{3, 0, 0}, {8, 0, 0}}, Layout::ComplexHalfOutput, 30},
        {{{3, 20, 0}, {8, 0, 0}}, Layout::InplaceReal, 60},
        // A middle stride decides every default outside it, whatever the innermost says.
        {{{2, 0, 0}, {3, 12, 0}, {4, 7, 0}}, Layout::InplaceReal, 72},
        {{{2, 0, 0}, {3, 0, 40}, {4, 0, 0}}, Layout::ComplexOutput, 240},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaultDistance(c.dims.size(), c.dims.data(), c.layout), c.expected)
            << "rank " << c.dims.size() << " layout " << static_cast<int>(c.layout);
    }
    const Dim dims[] = {{3, 0, 0}, {8, 0, 0}};
    EXPECT_EQ(distanceOrDefault(0, 2, dims, Layout::ComplexInput), 48);
    EXPECT_EQ(distanceOrDefault(100, 2, dims, Layout::ComplexInput), 100);
    EXPECT_EQ(pad(1), 2);
    EXPECT_EQ(pad(8), 10);
    EXPECT_EQ(transformCount(0), 1);
    EXPECT_EQ(transformCount(-3), 1);
    EXPECT_EQ(transformCount(7), 7);
}

// The row stride and the distance of a rank-2 request in each layout of each
// kind and placement, as the row/column strategies read them.
TEST(Records, StridesAndDistancesPerKindAndPlacement)
{
    struct Case {
        Kind kind;
        Placement placement;
        std::vector<Dim> dims;
        Dim batch;
        std::int64_t rowIn, rowOut, distanceIn, distanceOut;
    };
    const Case cases[] = {
        {Kind::Complex, Placement::Inplace, {{3, 0, 0}, {8, 0, 0}}, {2, 0, 0}, 16, 16, 48, 48},
        {Kind::Complex, Placement::Inplace, {{3, 20, 7}, {8, 0, 0}}, {2, 0, 99}, 20, 20, 60, 60},
        {Kind::Complex, Placement::Ooplace, {{3, 0, 24}, {8, 0, 0}}, {2, 0, 0}, 16, 24, 48, 72},
        {Kind::Real, Placement::Inplace, {{3, 0, 0}, {8, 0, 0}}, {2, 0, 0}, 10, 10, 30, 30},
        {Kind::Real, Placement::Ooplace, {{3, 0, 0}, {7, 0, 0}}, {2, 0, 50}, 7, 8, 21, 50},
    };
    for (const Case& c : cases) {
        const ItemSpacing rows = axisStrides(c.kind, c.placement, 2, c.dims.data(), 0);
        const ItemSpacing apart = distances(c.kind, c.placement, 2, c.dims.data(), c.batch);
        EXPECT_EQ(rows.in, c.rowIn);
        EXPECT_EQ(rows.out, c.rowOut);
        EXPECT_EQ(apart.in, c.distanceIn);
        EXPECT_EQ(apart.out, c.distanceOut);
    }
}

TEST(Records, KeyRecordsAreWalkedOneByOne)
{
    // Records of 2, 0 and 3 data words: no record's position follows from the
    // first record's length.
    const std::vector<PlanKey> key = {0x102, 11, 12, 0x100, 0x7f03, 31, 32, 33, 0x101, 41};
    EXPECT_EQ(keyRecord(key.data(), 0), key.data());
    EXPECT_EQ(keyRecord(key.data(), 1), key.data() + 3);
    EXPECT_EQ(keyRecord(key.data(), 2), key.data() + 4);
    EXPECT_EQ(keyRecord(key.data(), 3), key.data() + 8);
}

template <typename T>
std::shared_ptr<T> tuningArray(std::vector<T> values)
{
    std::shared_ptr<T> array(new T[values.size()], std::default_delete<T[]>());
    std::copy(values.begin(), values.end(), array.get());
    return array;
}

TEST(Records, TuningCopyRuleAndAliasing)
{
    struct Case {
        double first;
        PlanKey header;
        bool copies;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {-1.0, 0x101, true}, {-1.0, 256, true}, {-1.0, 2, true},   {-1.0, 1, false},
        {-1.0, 0x80000005u, false},  // negative as a signed header
        {-0.0, 0x101, false},        {nan, 0x101, false},          {3.0, 0x101, false},
    };
    for (const auto& c : cases) {
        auto tuning = tuningArray<double>({c.first, 7.0, 7.0});
        const auto aliased = aliasTuning(tuning, 2, c.header);
        EXPECT_EQ(aliased.get(), tuning.get() + 2);
        EXPECT_EQ(tuning.use_count(), 2) << "aliasing pointer shares ownership";
        if (c.copies) EXPECT_EQ(tuning.get()[2], c.first);
        else EXPECT_EQ(tuning.get()[2], 7.0) << "first " << c.first << " header " << c.header;
        EXPECT_EQ(tuning.get()[1], 7.0);
    }
}

TEST(Records, EmptyTuningGivesEmptyAliasAndNoLock)
{
    const std::shared_ptr<float> none;
    const auto aliased = aliasTuning(none, 5, 0x101);
    EXPECT_FALSE(aliased);
    EXPECT_EQ(aliased.get(), nullptr);
    EXPECT_FALSE(isTuningMode(none));
    EXPECT_TRUE(isTuningMode(tuningArray<float>({-1.0f})));
    EXPECT_FALSE(isTuningMode(tuningArray<_Float16>({_Float16(-0.0f)})));
    EXPECT_TRUE(isTuningMode(tuningArray<_Float16>({_Float16(-2.0f)})));
}


// Packed strides that do not fit in 64 bits (pad(N) for N near 2^63, the
// product of middle-axis strides of a rank-4 request): no explicit stride can
// equal them, so such an axis is not packed; its default (0) still is. The
// factory declines these layouts earlier, as too large for any array, so the
// test asks the dense-middle rule directly.
TEST(Records, OverflowingPackedStridesAreNotPacked)
{
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    const std::int64_t bottom = std::numeric_limits<std::int64_t>::min();
    const std::int64_t quarter = std::int64_t{1} << 61;
    struct Case {
        const char* name;
        std::vector<Dim> dims;
        bool dense;
    };
    const Case cases[] = {
        {"pad(2^63 - 1) overflows", {{1, 0, 0}, {1, bottom, 0}, {top, 0, 0}}, false},
        {"pad(2^63 - 3) fits", {{1, 0, 0}, {1, top - 1, 0}, {top - 2, 0, 0}}, true},
        {"pad(2^63 - 1), default stride", {{1, 0, 0}, {1, 0, 0}, {top, 0, 0}}, true},
        {"middle product overflows", {{1, 0, 0}, {1, bottom + 4, 0}, {quarter + 1, 0, 0}, {2, 0, 0}}, false},
        {"middle product fits", {{1, 0, 0}, {1, top - 3, 0}, {quarter - 1, 0, 0}, {2, 0, 0}}, true},
        {"middle product overflows, default stride", {{1, 0, 0}, {1, 0, 0}, {quarter + 1, 0, 0}, {2, 0, 0}}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(middleAxesDense(Kind::Real, Placement::Inplace, c.dims.size(), c.dims.data()), c.dense) << c.name;
    }
}

}  // namespace
}  // namespace zun::fft::omp
