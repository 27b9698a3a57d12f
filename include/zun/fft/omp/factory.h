// Parallel planner factories: plans that divide batched and multi-dimensional
// transforms among OpenMP threads and hand each thread's share to serial plans
// of the wrapped core planner.
#pragma once

#include <zun/core.h>

#include <memory>

#define ZUN_FFT_OMP_EXPORT __attribute__((visibility("default")))

namespace zun::fft::omp {

// Wraps `inner`, a serial planner factory of the core library, and returns a
// factory of the same type that plans in parallel. When fewer than two threads
// are configured, when `inner` is empty, or when `inner` is not a serial planner
// factory, `inner` itself comes back. The configuration is read once.
template <typename F>
ZUN_FFT_OMP_EXPORT std::unique_ptr<F> makeFactory(std::unique_ptr<F>&& inner, const zun::Configuration& configuration);

template <typename F>
using MakeFactoryFunction = std::unique_ptr<F> (*)(std::unique_ptr<F>&&, const zun::Configuration&);

extern template ZUN_FFT_OMP_EXPORT std::unique_ptr<ComplexFactory<float>> makeFactory(
    std::unique_ptr<ComplexFactory<float>>&&, const zun::Configuration&);
extern template ZUN_FFT_OMP_EXPORT std::unique_ptr<RealFactory<float>> makeFactory(
    std::unique_ptr<RealFactory<float>>&&, const zun::Configuration&);
extern template ZUN_FFT_OMP_EXPORT std::unique_ptr<ComplexFactory<double>> makeFactory(
    std::unique_ptr<ComplexFactory<double>>&&, const zun::Configuration&);
extern template ZUN_FFT_OMP_EXPORT std::unique_ptr<RealFactory<double>> makeFactory(
    std::unique_ptr<RealFactory<double>>&&, const zun::Configuration&);
extern template ZUN_FFT_OMP_EXPORT std::unique_ptr<ComplexFactory<_Float16>> makeFactory(
    std::unique_ptr<ComplexFactory<_Float16>>&&, const zun::Configuration&);
extern template ZUN_FFT_OMP_EXPORT std::unique_ptr<RealFactory<_Float16>> makeFactory(
    std::unique_ptr<RealFactory<_Float16>>&&, const zun::Configuration&);

}  // namespace zun::fft::omp

// Entry points reachable without name mangling.
extern "C" {
ZUN_FFT_OMP_EXPORT extern const char zun_fft_omp_version[6];
ZUN_FFT_OMP_EXPORT extern zun::fft::omp::MakeFactoryFunction<zun::fft::ComplexFactory<float>>
    zun_fft_omp_makeFactory_fp32_cc;
ZUN_FFT_OMP_EXPORT extern zun::fft::omp::MakeFactoryFunction<zun::fft::RealFactory<float>>
    zun_fft_omp_makeFactory_fp32_rc;
ZUN_FFT_OMP_EXPORT extern zun::fft::omp::MakeFactoryFunction<zun::fft::ComplexFactory<double>>
    zun_fft_omp_makeFactory_fp64_cc;
ZUN_FFT_OMP_EXPORT extern zun::fft::omp::MakeFactoryFunction<zun::fft::RealFactory<double>>
    zun_fft_omp_makeFactory_fp64_rc;
ZUN_FFT_OMP_EXPORT extern zun::fft::omp::MakeFactoryFunction<zun::fft::ComplexFactory<_Float16>>
    zun_fft_omp_makeFactory_fp16_cc;
ZUN_FFT_OMP_EXPORT extern zun::fft::omp::MakeFactoryFunction<zun::fft::RealFactory<_Float16>>
    zun_fft_omp_makeFactory_fp16_rc;
}
