// Tuning of the stand-in core: key records, the tuning mutex, and what tuning
// mode changes in FFTW's planning.
#include <zun/core.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace zun::fft;

template <typename T>
std::shared_ptr<T> tuningArray(float first) {
    std::shared_ptr<T> values(new T[4]{T(first), T(0), T(0), T(0)}, std::default_delete<T[]>());
    return values;
}

bool tuningMutexIsFree() {
    // Asked from another thread: a shared_mutex may not be re-locked by its owner.
    return std::async(std::launch::async, [] {
               std::shared_lock<std::shared_mutex> probe(tuningMutex(), std::try_to_lock);
               return probe.owns_lock();
           }).get();
}

TEST(CoreTuning, KeyRecordsNameEntriesFromOne) {
    const std::vector<PlanKey> key = makePlanKey(3);
    ASSERT_EQ(key.size(), 6u);
    const auto complex = makePlannerFactory<float, std::complex<float>, std::complex<float>>();
    const auto real = makePlannerFactory<double, double, std::complex<double>>();
    const auto& complexPlanner = dynamic_cast<const ComplexPlannerFactory<float>&>(*complex);
    const auto& realPlanner = dynamic_cast<const RealPlannerFactory<double>&>(*real);
    const Dim dims[] = {{4, 0, 0}, {4, 0, 0}, {4, 0, 0}};
    for (std::size_t k = 0; k < 3; ++k) {
        const PlanKey* record = key.data() + 2 * k;
        EXPECT_EQ(record[0] & 0xffu, 1u);
        EXPECT_GE(record[0], 2u);
        EXPECT_EQ(complexPlanner.tuningIndexInplace(3, dims, record), std::int64_t(k + 1));
        EXPECT_EQ(realPlanner.tuningIndexOoplace(3, dims, record), std::int64_t(k + 1));
    }
}

template <typename T>
void expectLockOnlyForStrictlyNegative() {
    const auto factory = makePlannerFactory<T, T, std::complex<T>>();
    const auto& planner = dynamic_cast<const RealPlannerFactory<T>&>(*factory);
    const Dim dims[] = {{16, 0, 0}};
    const struct {
        std::shared_ptr<T> tuning;
        bool locks;
    } cases[] = {
        {tuningArray<T>(-1.0f), true},
        {tuningArray<T>(-0.0f), false},
        {tuningArray<T>(std::numeric_limits<float>::quiet_NaN()), false},
        {tuningArray<T>(0.0f), false},
        {tuningArray<T>(3.0f), false},
        {nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tuning ? std::to_string(float(c.tuning.get()[0])) : "empty");
        TuningLock lock = planner.lockForTuning(1, dims, true, c.tuning);
        EXPECT_EQ(lock.owns_lock(), c.locks);
        EXPECT_EQ(tuningMutexIsFree(), !c.locks);
    }
    EXPECT_TRUE(tuningMutexIsFree());
}

TEST(CoreTuning, LockForTuningHoldsTheMutexOnlyForStrictlyNegativeFirstValues) {
    expectLockOnlyForStrictlyNegative<float>();
    expectLockOnlyForStrictlyNegative<double>();
    expectLockOnlyForStrictlyNegative<_Float16>();
}

// Plan requests of every kind in tuning mode, lock flag set, while this
// thread holds the tuning mutex: a request that took it would never finish.
TEST(CoreTuning, MakeRequestsNeverTakeTheTuningMutex) {
    const auto factory = makePlannerFactory<float, float, std::complex<float>>();
    const auto& planner = dynamic_cast<const RealPlannerFactory<float>&>(*factory);
    const auto tuning = tuningArray<float>(-1.0f);
    const Dim rows[] = {{32, 0, 0}};
    const Dim split[] = {{32, 1, 2}};
    const Dim batch{4, 0, 0};
    const Dim splitBatch{4, 32, 2};
    const Dim column[] = {{16, 40, 0}};
    const Dim columnBatch{8, 2, 0};

    TuningLock held = planner.lockForTuning(1, rows, true, tuning);
    ASSERT_TRUE(held.owns_lock());
    auto planning = std::async(std::launch::async, [&] {
        return planner.makeInplace(1, rows, &batch, true, nullptr, tuning) &&
               planner.makeOoplace(1, rows, &batch, true, nullptr, tuning) &&
               planner.makeSplitBackward(1, split, &splitBatch, nullptr, tuning) &&
               planner.complexFactory()->makeInplace(columnRank, column, &columnBatch, true, nullptr, tuning);
    });
    const bool finished = planning.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    held.unlock();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(planning.get());
}

// FFTW's own record of planning, reached through the symbols the core loaded.
struct FftwWisdom {
    void (*forget)() = nullptr;
    char* (*exportToString)() = nullptr;
    void (*release)(void*) = nullptr;

    explicit FftwWisdom(const std::string& prefix) {
        forget = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, (prefix + "_forget_wisdom").c_str()));
        exportToString = reinterpret_cast<char* (*)()>(dlsym(RTLD_DEFAULT, (prefix + "_export_wisdom_to_string").c_str()));
        release = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, (prefix + "_free").c_str()));
    }
    bool found() const { return forget && exportToString && release; }

    template <typename MakePlan>
    std::string afterPlanning(MakePlan makePlan) const {
        forget();
        makePlan();
        char* text = exportToString();
        std::string wisdom(text);
        release(text);
        return wisdom;
    }
};

// Tuning mode plans with FFTW_MEASURE: FFTW records measured solutions with
// other flags than estimated ones, so the accumulated wisdom tells them apart.
template <typename T>
void expectTuningModeMeasures(const std::string& fftwPrefix) {
    const FftwWisdom wisdom(fftwPrefix);
    ASSERT_TRUE(wisdom.found());
    const auto factory = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    const Dim dims[] = {{24, 0, 0}, {20, 0, 0}};
    const Dim batch{3, 0, 0};
    auto planWith = [&](std::shared_ptr<T> tuning) {
        return wisdom.afterPlanning([&] { factory->makeOoplace(2, dims, &batch, false, nullptr, tuning); });
    };
    const std::string measured = planWith(tuningArray<T>(-1.0f));
    const std::string estimated = planWith(tuningArray<T>(1.0f));
    EXPECT_NE(measured, estimated);
    EXPECT_EQ(planWith(nullptr), estimated);
    EXPECT_EQ(planWith(tuningArray<T>(-0.0f)), estimated);
}

TEST(CoreTuning, TuningModePlansWithMeasure) {
    expectTuningModeMeasures<double>("fftw");
    expectTuningModeMeasures<_Float16>("fftwf");
}

// A measured plan computes what an estimated one does.
TEST(CoreTuning, MeasuredPlansTransformAlike) {
    const auto factory = makePlannerFactory<double, double, std::complex<double>>();
    const Dim dims[] = {{12, 0, 0}, {30, 0, 0}};
    const Dim batch{2, 0, 0};
    auto measured = factory->makeOoplace(2, dims, &batch, false, nullptr, tuningArray<double>(-1.0f));
    auto estimated = factory->makeOoplace(2, dims, &batch, false, nullptr, nullptr);
    ASSERT_TRUE(measured && estimated);
    std::vector<double> real(2 * 12 * 30), viaMeasured(2 * 12 * 32), viaEstimated(viaMeasured.size());
    for (std::size_t i = 0; i < real.size(); ++i) real[i] = std::sin(0.37 * double(i * i % 101));
    std::vector<double> work(std::max(measured->workSize(), estimated->workSize()) + 1);
    measured->forward(real.data(), viaMeasured.data(), work.data());
    estimated->forward(real.data(), viaEstimated.data(), work.data());
    for (std::size_t i = 0; i < viaMeasured.size(); ++i) EXPECT_NEAR(viaMeasured[i], viaEstimated[i], 1e-11) << i;
}

}  // namespace
