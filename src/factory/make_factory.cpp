#include <zun/fft/omp/factory.h>

#include "factory/fft_omp_factory.h"
#include "parallel/regions.h"

namespace zun::fft::omp {
namespace {

// A count the runtime cannot run would abort the first compute, so the
// configured count is kept only within what the runtime will run.
int threadsFrom(const zun::Configuration& configuration)
{
    const int configured = configuration.get(zun::Parameter::Threads);
    return runnableThreads(configured > 0 ? configured : configured + zun::detectCores());
}

int packagesFrom(const zun::Configuration& configuration)
{
    const int configured = configuration.get(zun::Parameter::Packages);
    if (configured > 0) return configured;
    const int offset = configured + zun::detectPackages();
    return offset >= 2 ? offset : 1;
}

// Cache sizes are replaced by the detected ones, never offset.
std::uint32_t cacheFrom(const zun::Configuration& configuration, zun::Parameter parameter, int level)
{
    const int configured = configuration.get(parameter);
    return static_cast<std::uint32_t>(configured > 0 ? configured : zun::detectDataCache(level).sizeKiB);
}

}  // namespace

template <typename F>
void FftOmpFactory<F>::readMachine(const zun::Configuration& configuration)
{
    packages_ = packagesFrom(configuration);
    cacheL1_ = cacheFrom(configuration, zun::Parameter::DataCacheL1, 1);
    cacheL2_ = cacheFrom(configuration, zun::Parameter::DataCacheL2, 2);
    cacheL3_ = cacheFrom(configuration, zun::Parameter::DataCacheL3, 3);
}

template <typename F>
std::unique_ptr<F> makeFactory(std::unique_ptr<F>&& inner, const zun::Configuration& configuration)
{
    using Parallel = FftOmpFactory<F>;
    const int threads = threadsFrom(configuration);
    if (threads < 2 || !inner) return std::move(inner);
    // Only a serial planner can be wrapped: a parallel factory (ours among
    // them) lacks the operations the strategies need, so it comes back as it is.
    auto* planner = dynamic_cast<typename Parallel::Planner*>(inner.get());
    if (!planner) return std::move(inner);

    auto factory = std::make_unique<Parallel>(threads);
    inner.release();
    factory->adopt(std::unique_ptr<typename Parallel::Planner>(planner));
    factory->readMachine(configuration);
    return factory;
}

template ZUN_FFT_OMP_EXPORT std::unique_ptr<ComplexFactory<float>> makeFactory(std::unique_ptr<ComplexFactory<float>>&&,
                                                                               const zun::Configuration&);
template ZUN_FFT_OMP_EXPORT std::unique_ptr<RealFactory<float>> makeFactory(std::unique_ptr<RealFactory<float>>&&,
                                                                            const zun::Configuration&);
template ZUN_FFT_OMP_EXPORT std::unique_ptr<ComplexFactory<double>> makeFactory(
    std::unique_ptr<ComplexFactory<double>>&&, const zun::Configuration&);
template ZUN_FFT_OMP_EXPORT std::unique_ptr<RealFactory<double>> makeFactory(std::unique_ptr<RealFactory<double>>&&,
                                                                             const zun::Configuration&);
template ZUN_FFT_OMP_EXPORT std::unique_ptr<ComplexFactory<_Float16>> makeFactory(
    std::unique_ptr<ComplexFactory<_Float16>>&&, const zun::Configuration&);
template ZUN_FFT_OMP_EXPORT std::unique_ptr<RealFactory<_Float16>> makeFactory(
    std::unique_ptr<RealFactory<_Float16>>&&, const zun::Configuration&);

}  // namespace zun::fft::omp

// Plain-named entry points: pointer variables initialised with constant
// addresses, so loading the library runs no code of its own.
extern "C" {
const char zun_fft_omp_version[6] = "0.6.0";
zun::fft::omp::MakeFactoryFunction<zun::fft::ComplexFactory<float>> zun_fft_omp_makeFactory_fp32_cc =
    &zun::fft::omp::makeFactory<zun::fft::ComplexFactory<float>>;
zun::fft::omp::MakeFactoryFunction<zun::fft::RealFactory<float>> zun_fft_omp_makeFactory_fp32_rc =
    &zun::fft::omp::makeFactory<zun::fft::RealFactory<float>>;
zun::fft::omp::MakeFactoryFunction<zun::fft::ComplexFactory<double>> zun_fft_omp_makeFactory_fp64_cc =
    &zun::fft::omp::makeFactory<zun::fft::ComplexFactory<double>>;
zun::fft::omp::MakeFactoryFunction<zun::fft::RealFactory<double>> zun_fft_omp_makeFactory_fp64_rc =
    &zun::fft::omp::makeFactory<zun::fft::RealFactory<double>>;
zun::fft::omp::MakeFactoryFunction<zun::fft::ComplexFactory<_Float16>> zun_fft_omp_makeFactory_fp16_cc =
    &zun::fft::omp::makeFactory<zun::fft::ComplexFactory<_Float16>>;
zun::fft::omp::MakeFactoryFunction<zun::fft::RealFactory<_Float16>> zun_fft_omp_makeFactory_fp16_rc =
    &zun::fft::omp::makeFactory<zun::fft::RealFactory<_Float16>>;
}
