// How a plane-team strategy divides the factory's threads into an outer team,
// whose threads each work on one plane at a time, and inner teams under them.
#pragma once

#include <cstdint>

#include "parallel/regions.h"

namespace zun::fft::omp {

// Threads are spread evenly over the packages (threads that do not divide
// evenly stay idle). Within a package, as many outer threads run side by side
// as planes fit in three quarters of the L3 cache, raised by at most a quarter
// when that makes the plane count divide evenly, and cut to a divisor of the
// package's thread share; the rest of the share joins the inner teams. With a
// single active level there is one outer thread over every thread in use.
NestedTeams sizePlaneTeams(int threads, int packages, std::uint64_t threeQuarterL3Reals, std::int64_t planeReals,
                           std::int64_t planeCount, int activeLevels);

}  // namespace zun::fft::omp
