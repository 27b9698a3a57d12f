#include <gtest/gtest.h>

#include <dlfcn.h>

#include <complex>
#include <cstring>

#include "factory/fft_omp_factory.h"
#include "parallel/regions.h"
#include "parallel_fixtures.h"
#include "support/recording.h"

namespace zun::fft::testing {
namespace {

using Complex = ComplexFactory<float>;
using Planner = ComplexPlannerFactory<float>;

std::unique_ptr<Complex> plannerFactory() { return makePlannerFactory<float, std::complex<float>, std::complex<float>>(); }

std::unique_ptr<Complex> wrap(std::unique_ptr<Complex> inner, zun::Configuration configuration)
{
    return omp::makeFactory(std::move(inner), configuration);
}

const Parallel<Complex>* asParallel(const std::unique_ptr<Complex>& factory)
{
    return dynamic_cast<const Parallel<Complex>*>(factory.get());
}

TEST(Factory, ThreadCountsAndFallbacks)
{
    const int cores = zun::detectCores();
    struct Case {
        int configured;
        int expected;  // below 2: the caller's factory comes back
    };
    const Case cases[] = {{4, 4}, {1, 1}, {0, cores}, {-1, cores - 1}, {-cores + 1, 1}, {-100, -100 + cores}, {64, 64},
                           {100000, omp::regionThreadBound}};  // no more than the runtime can create
    for (const auto& c : cases) {
        zun::Configuration configuration;
        configuration.set(zun::Parameter::Threads, c.configured);
        auto inner = plannerFactory();
        const auto* innerAddress = inner.get();
        auto result = wrap(std::move(inner), configuration);
        EXPECT_FALSE(inner) << "the caller's pointer is always emptied";
        if (c.expected < 2) {
            EXPECT_EQ(result.get(), innerAddress) << "threads " << c.configured;
        } else {
            ASSERT_NE(asParallel(result), nullptr) << "threads " << c.configured;
            EXPECT_EQ(result->threadCount(), c.expected);
            EXPECT_EQ(&asParallel(result)->inner(), innerAddress);
        }
    }
    zun::Configuration four;
    four.set(zun::Parameter::Threads, 4);
    EXPECT_FALSE(wrap(nullptr, four));
}

TEST(Factory, PackagesAndCaches)
{
    const int packages = zun::detectPackages();
    const auto l1 = static_cast<std::uint32_t>(zun::detectDataCache(1).sizeKiB);
    const auto l2 = static_cast<std::uint32_t>(zun::detectDataCache(2).sizeKiB);
    const auto l3 = static_cast<std::uint32_t>(zun::detectDataCache(3).sizeKiB);
    struct Case {
        int packages, l1, l2, l3;
        int expectedPackages;
        std::uint32_t expectedL1, expectedL2, expectedL3;
    };
    const Case cases[] = {
        {5, 48, 2048, 30720, 5, 48, 2048, 30720},
        {0, 0, -3, 0, packages >= 2 ? packages : 1, l1, l2, l3},  // caches are replaced, never offset
        {-1, 1, 1, 1, packages - 1 >= 2 ? packages - 1 : 1, 1, 1, 1},
        {-5, 1, 1, 1, 1, 1, 1, 1},
    };
    for (const auto& c : cases) {
        Machine machine{4, c.packages, c.l1, c.l2, c.l3};
        auto factory = complexParallel<float>(machine);
        EXPECT_EQ(factory->packages(), c.expectedPackages);
        EXPECT_EQ(factory->cacheL1(), c.expectedL1);
        EXPECT_EQ(factory->cacheL2(), c.expectedL2);
        EXPECT_EQ(factory->cacheL3(), c.expectedL3);
    }
}

TEST(Factory, ForwardsWhatItDoesNotChange)
{
    auto inner = plannerFactory();
    const std::string innerDescription = inner->toString();
    const Dim dims[] = {{64, 0, 0}, {32, 0, 0}};
    const auto queryIn = inner->queryInplace(2, dims, true);
    const auto queryOut = inner->queryOoplace(2, dims, false);
    const auto auxA = inner->auxiliaryA(17);
    const auto auxB = inner->auxiliaryB(-5);
    auto factory = complexParallel<float>(Machine{});
    EXPECT_EQ(factory->toString(), "FftOmpFactory(" + innerDescription + ")");
    EXPECT_EQ(factory->queryInplace(2, dims, true), queryIn);
    EXPECT_EQ(factory->queryOoplace(2, dims, false), queryOut);
    EXPECT_EQ(factory->auxiliaryA(17), auxA);
    EXPECT_EQ(factory->auxiliaryB(-5), auxB);
}

TEST(Factory, DoesNotWrapAParallelFactory)
{
    zun::Configuration configuration;
    configuration.set(zun::Parameter::Threads, 4);
    auto once = wrap(plannerFactory(), configuration);
    const auto* address = once.get();
    auto twice = wrap(std::move(once), configuration);
    EXPECT_EQ(twice.get(), address) << "a parallel factory lacks the planner operations the strategies need";
}

TEST(Factory, ExportsPlainNames)
{
    void* library = dlopen(ZUN_FFT_IOMP_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto* version = static_cast<const char*>(dlsym(library, "zun_fft_omp_version"));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "0.6.0");
    const char* entries[] = {"zun_fft_omp_makeFactory_fp32_cc", "zun_fft_omp_makeFactory_fp32_rc",
                             "zun_fft_omp_makeFactory_fp64_cc", "zun_fft_omp_makeFactory_fp64_rc",
                             "zun_fft_omp_makeFactory_fp16_cc", "zun_fft_omp_makeFactory_fp16_rc"};
    for (const char* entry : entries) {
        auto* slot = static_cast<void* const*>(dlsym(library, entry));
        ASSERT_NE(slot, nullptr) << entry;
        EXPECT_NE(*slot, nullptr) << entry;
    }
    // The fp64 rc entry makes a working parallel factory.
    using Make = omp::MakeFactoryFunction<RealFactory<double>>;
    const Make make = *static_cast<const Make*>(dlsym(library, "zun_fft_omp_makeFactory_fp64_rc"));
    zun::Configuration configuration;
    configuration.set(zun::Parameter::Threads, 3);
    auto factory = make(makePlannerFactory<double, double, std::complex<double>>(), configuration);
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->threadCount(), 3);
    EXPECT_EQ(factory->toString().rfind("FftOmpFactory(", 0), 0u);
    factory.reset();
    dlclose(library);
}

}  // namespace
}  // namespace zun::fft::testing
