// Team sizes of the plane-team strategies, as a pure function of the factory's
// figures, the plane and the number of active levels.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "planeteams/plane_team_sizing.h"

namespace zun::fft::omp {
namespace {

struct SizingCase {
    const char* what;
    int threads, packages;
    std::uint64_t threeQuarterL3Reals;
    std::int64_t planeReals, planeCount;
    int levels;
    int outer, inner;
};

constexpr std::uint64_t hugeL3 = std::uint64_t{std::numeric_limits<std::uint32_t>::max()} * 384;

const SizingCase sizingCases[] = {
    // One active level: one outer thread over every thread in use.
    {"one level, two packages", 8, 2, 1 << 20, 1000, 64, 1, 1, 8},
    {"one level, threads not dividing among packages", 10, 4, 1 << 20, 1000, 64, 1, 1, 8},
    {"one level, more packages than threads", 6, 4, 1 << 20, 1000, 64, 1, 1, 4},
    {"one level, huge budget", 16, 2, hugeL3, 1000, 64, 1, 1, 16},
    // Nested: one package team at least, each package's share divided by planes.
    {"budget 1, four packages of two threads", 10, 4, 1000, 1000, 64, 2, 4, 2},
    {"more packages than threads", 2, 4, 1 << 20, 1000, 64, 2, 2, 1},
    {"more packages than threads, budget 1", 2, 4, 10, 1000, 64, 2, 2, 1},
    {"plane above the budget: quotient 0 counts as 1", 16, 2, 999, 1000, 64, 2, 2, 8},
    {"budget 12, candidates 15..13 miss 512", 16, 1, 12, 1, 512, 2, 8, 2},
    {"budget 12 raised to 15, which divides 30", 15, 1, 12, 1, 30, 2, 15, 1},
    {"budget 12 kept for 31", 15, 1, 12, 1, 31, 2, 5, 3},
    {"budget 4 tries 5 only", 10, 1, 4, 1, 5, 2, 5, 2},
    {"budget at least the package share", 8, 2, 100, 1, 64, 2, 8, 1},
    {"levels 0 take the nested path", 8, 2, 100, 1, 64, 0, 8, 1},
    {"huge L3 answers at once", 16, 2, hugeL3, 3, 1 << 30, 2, 16, 1},
    // Worked figures: float complex planes against three quarters of the L3.
    {"12 threads, 32 MiB L3, 90 planes of 1024x384", 12, 1, 32768 * 192, 2 * 1024 * 384, 90, 2, 6, 2},
    {"16 threads, 2 packages, 16 MiB L3, 64 planes of 512x512", 16, 2, 16384 * 192, 2 * 512 * 512, 64, 2, 8, 2},
    {"16 threads, 2 packages, 8 MiB L3, 256 planes of 512x512", 16, 2, 8192 * 192, 2 * 512 * 512, 256, 2, 4, 4},
    {"6 threads, 4 packages", 6, 4, 1 << 20, 1000, 64, 2, 4, 1},
};

TEST(PlaneTeamSizing, TableOfFiguresAndLevels)
{
    for (const SizingCase& c : sizingCases) {
        SCOPED_TRACE(c.what);
        const NestedTeams teams =
            sizePlaneTeams(c.threads, c.packages, c.threeQuarterL3Reals, c.planeReals, c.planeCount, c.levels);
        EXPECT_EQ(teams.outerThreads, c.outer);
        EXPECT_EQ(teams.innerThreads, c.inner);
    }
}

}  // namespace
}  // namespace zun::fft::omp
