#include "planeteams/plane_team_sizing.h"

#include <algorithm>

namespace zun::fft::omp {
namespace {

// A budget up to a quarter larger that divides the plane count gives every
// outer thread of a package the same number of planes. Candidates above the
// plane count cannot divide it, so the search starts no higher.
std::int64_t fitToPlaneCount(std::int64_t budget, std::int64_t planeCount)
{
    if (planeCount < 2 || budget < 4) return budget;
    for (std::int64_t candidate = std::min(budget + budget / 4, planeCount); candidate > budget; --candidate) {
        if (planeCount % candidate == 0) return candidate;
    }
    return budget;
}

// The largest divisor of the package's thread share not above the budget.
// The share divides itself, so a budget at or above it needs no search.
std::int64_t teamsPerPackage(std::int64_t budget, std::int64_t threadsPerPackage)
{
    for (std::int64_t candidate = std::min(budget, threadsPerPackage); candidate >= 2; --candidate) {
        if (threadsPerPackage % candidate == 0) return candidate;
    }
    return 1;
}

}  // namespace

NestedTeams sizePlaneTeams(int threads, int packages, std::uint64_t threeQuarterL3Reals, std::int64_t planeReals,
                           std::int64_t planeCount, int activeLevels)
{
    const int packageTeams = std::min(packages, threads);
    const int threadsPerPackage = threads / packageTeams;
    if (activeLevels == 1) return {1, threadsPerPackage * packageTeams};
    const std::int64_t planesInL3 = static_cast<std::int64_t>(threeQuarterL3Reals) / planeReals;
    const std::int64_t budget = fitToPlaneCount(std::max<std::int64_t>(planesInL3, 1), planeCount);
    const int perPackage = static_cast<int>(teamsPerPackage(budget, threadsPerPackage));
    return {packageTeams * perPackage, threadsPerPackage / perPackage};
}

}  // namespace zun::fft::omp
