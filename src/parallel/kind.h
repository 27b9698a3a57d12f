// The two transform kinds and the core types that go with each.
#pragma once

#include <zun/core.h>

#include <type_traits>

namespace zun::fft::omp {

enum class Kind { Complex, Real };

template <typename T, Kind K>
using FactoryOf = std::conditional_t<K == Kind::Complex, ComplexFactory<T>, RealFactory<T>>;
template <typename T, Kind K>
using PlannerOf = std::conditional_t<K == Kind::Complex, ComplexPlannerFactory<T>, RealPlannerFactory<T>>;

}  // namespace zun::fft::omp
