// Which machine detections makeFactory asks for. The test binary defines the
// core's detect functions itself, so every call made by the layer is counted
// before it reaches the core library's own definition.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <complex>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "support/harness.h"

namespace {

struct DetectionCalls {
    int cores = 0;
    int packages = 0;
    std::vector<int> cacheLevels;
};

DetectionCalls calls;
bool noCacheKnown = false;  // a machine on which no source knows a cache size

// Makes every cache detection come back empty while it lives.
struct MachineWithoutCacheFigures {
    MachineWithoutCacheFigures() { noCacheKnown = true; }
    ~MachineWithoutCacheFigures() { noCacheKnown = false; }
};

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
    if (noCacheKnown) return {};
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

// Cache figures of 0: nothing is small enough for the serial plan, batches
// are sized from a grain of one transform (two for odd real rows), every rank-2
// request is a row/column plan, and the row/column teams count every transform
// as large, so all threads go to the transforms at hand. The plans still
// compute the right transforms.
TEST(FactoryDetection, ZeroCacheFiguresNumerical)
{
    const MachineWithoutCacheFigures noCaches;
    const Machine machine{8, 2, 0, 0, 0};
    auto complex = complexParallel<float>(machine);
    auto real = realParallel<float>(machine);
    ASSERT_EQ(complex->cacheL1() + complex->cacheL2() + complex->cacheL3(), 0u);
    auto complexReference = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    auto realReference = makePlannerFactory<float, float, std::complex<float>>();

    struct Case {
        bool real;
        support::Request request;
        const char* inplacePrefix;
        const char* ooplacePrefix;
        int threads;
    };
    const Case cases[] = {
        {false, {1, {{8, 0, 0}}, {1, 0, 0}}, "OmpBatch(", "OmpBatch(", 1},         // one tiny transform
        {false, {1, {{64, 0, 0}}, {3, 0, 0}}, "OmpBatch(", "OmpBatch(", 3},        // a thread per transform
        {true, {1, {{15, 0, 0}}, {5, 0, 0}}, "OmpBatch(", "OmpBatch(", 3},         // odd rows in pairs
        // All 8 threads, where a known L3 would give a small transform one package's 4.
        {false, {2, {{4, 0, 0}, {4, 0, 0}}, {1, 0, 0}}, "OmpInplaceCC<", "OmpOoplaceCC<", 8},
        {true, {2, {{2, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, "OmpInplaceRC<", "OmpOoplaceRC<", 8},
    };
    for (const Case& c : cases) {
        const std::string name = support::describe(c.request);
        std::unique_ptr<InplaceCompute<float>> inplace;
        std::unique_ptr<OoplaceCompute<float>> ooplace;
        if (c.real) {
            inplace = support::makePlan<Placement::Inplace>(*real, c.request);
            ooplace = support::makePlan<Placement::Ooplace>(*real, c.request);
        } else {
            inplace = support::makePlan<Placement::Inplace>(*complex, c.request);
            ooplace = support::makePlan<Placement::Ooplace>(*complex, c.request);
        }
        ASSERT_TRUE(inplace && ooplace) << name;
        EXPECT_EQ(inplace->toString().rfind(c.inplacePrefix, 0), 0u) << inplace->toString();
        EXPECT_EQ(ooplace->toString().rfind(c.ooplacePrefix, 0), 0u) << ooplace->toString();
        EXPECT_EQ(inplace->threadCount(), c.threads) << name;
        EXPECT_EQ(ooplace->threadCount(), c.threads) << name;
        if (c.real) {
            EXPECT_TRUE(support::checkPlan(c.request, *inplace, *realReference)) << name;
            EXPECT_TRUE(support::checkPlan(c.request, *ooplace, *realReference)) << name;
        } else {
            EXPECT_TRUE(support::checkPlan(c.request, *inplace, *complexReference)) << name;
            EXPECT_TRUE(support::checkPlan(c.request, *ooplace, *complexReference)) << name;
        }
    }
}

}  // namespace
}  // namespace zun::fft::testing
