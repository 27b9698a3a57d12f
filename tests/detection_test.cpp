// Which machine detections makeFactory asks for. The test binary defines the
// core's detect functions itself, so every call made by the layer is counted
// before it reaches the core library's own definition.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <complex>
#include <vector>

#include "parallel_fixtures.h"

namespace {

struct DetectionCalls {
    int cores = 0;
    int packages = 0;
    std::vector<int> cacheLevels;
};

DetectionCalls calls;

template <typename Function>
Function coreDefinition(const char* symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

}  // namespace

namespace zun {

int detectCores()
{
    ++calls.cores;
    return coreDefinition<int (*)()>("_ZN3zun11detectCoresEv")();
}

int detectPackages()
{
    ++calls.packages;
    return coreDefinition<int (*)()>("_ZN3zun14detectPackagesEv")();
}

CacheInfo detectDataCache(int level)
{
    calls.cacheLevels.push_back(level);
    return coreDefinition<CacheInfo (*)(int)>("_ZN3zun15detectDataCacheEi")(level);
}

}  // namespace zun

namespace zun::fft::testing {
namespace {

TEST(FactoryDetection, OnlyWhatIsNotConfiguredIsDetected)
{
    struct Case {
        Machine machine;
        int cores, packages;
        std::vector<int> cacheLevels;
    };
    const Case cases[] = {
        {{1, 0, 0, 0, 0}, 0, 0, {}},           // one thread: nothing else is read
        {{4, 2, 32, 1024, 8192}, 0, 0, {}},    // everything configured
        {{0, 2, 32, 1024, 8192}, 1, 0, {}},    // all cores
        {{-1, 0, 32, 0, 8192}, 1, 1, {2}},     // offsets detect; a cache of 0 is replaced
        {{4, -3, -1, 1024, 0}, 0, 1, {1, 3}},  // negative caches are replaced, not offset
    };
    for (const Case& c : cases) {
        calls = {};
        auto factory = omp::makeFactory(makePlannerFactory<float, std::complex<float>, std::complex<float>>(),
                                        configurationOf(c.machine));
        EXPECT_EQ(calls.cores, c.cores) << "threads " << c.machine.threads;
        EXPECT_EQ(calls.packages, c.packages) << "packages " << c.machine.packages;
        EXPECT_EQ(calls.cacheLevels, c.cacheLevels) << "threads " << c.machine.threads;
    }
}

// Virtual machines often show no cache entries in sysfs; the figures must come
// from the fallbacks then, or every decision would be sized for no cache.
TEST(FactoryDetection, DefaultFactoryKnowsEveryCacheLevel)
{
    auto factory = parallelOver<ComplexFactory<float>>(
        makePlannerFactory<float, std::complex<float>, std::complex<float>>(), Machine{0, 0, 0, 0, 0});
    EXPECT_GT(factory->cacheL1(), 0u);
    EXPECT_GT(factory->cacheL2(), 0u);
    EXPECT_GT(factory->cacheL3(), 0u);
}

}  // namespace
}  // namespace zun::fft::testing
