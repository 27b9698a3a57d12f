// Numerical and memory-safety check of one plan against a reference planner:
// both directions, every operand surrounded by sentinel-filled guard zones.
#pragma once

#include "support/layout.h"

#include <gtest/gtest.h>
#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace zun::fft::support {

struct CheckOptions {
    double tolerance = 0;  // relative to the largest expected magnitude; 0 picks the precision's default
    bool forward = true;
    bool backward = true;
    bool withArg = false;  // also run the WithArg forms, passing extraArg
    void* extraArg = reinterpret_cast<void*>(std::uintptr_t{0x5eed});
    std::uint64_t seed = 20240611;
    std::int64_t guardReals = 64;
    std::int64_t misalignReals = 0;  // moves every operand off the 64-byte boundary
};

template <typename T>
double defaultTolerance();

// Typed tests go through this wrapper: the C++ runtime here has no type_info
// for _Float16, which gtest asks for when it names a type parameter.
template <typename T>
struct Precision {
    using Real = T;
};
using AllPrecisions = ::testing::Types<Precision<float>, Precision<double>, Precision<_Float16>>;

struct PrecisionNames {
    template <typename P>
    static std::string GetName(int)
    {
        using T = typename P::Real;
        if constexpr (std::is_same_v<T, float>) return "float";
        else if constexpr (std::is_same_v<T, double>) return "double";
        else return "half";
    }
};

// Plain forms only, unless options.withArg.
template <typename T, typename In, typename Out, Placement P>
::testing::AssertionResult checkPlan(const Request& request, const Compute<T, P>& plan,
                                     const Factory<T, In, Out>& reference, const CheckOptions& options = {});

template <typename T, typename In, typename Out, Placement P>
::testing::AssertionResult checkPlanWithArg(const Request& request, const Compute<T, P>& plan,
                                            const Factory<T, In, Out>& reference, CheckOptions options = {})
{
    options.withArg = true;
    return checkPlan(request, plan, reference, options);
}

// A plan for the whole request. Without a key, one fresh key for the request's
// axes is used.
template <Placement P, typename T, typename In, typename Out>
std::unique_ptr<Compute<T, P>> makePlan(const Factory<T, In, Out>& factory, const Request& request,
                                        bool lockFlag = false, const PlanKey* key = nullptr,
                                        const std::shared_ptr<T>& tuning = {})
{
    std::vector<PlanKey> ownKey;
    if (key == nullptr) {
        ownKey = makePlanKey(request.axes());
        key = ownKey.data();
    }
    if constexpr (P == Placement::Inplace)
        return factory.makeInplace(request.rank, request.dims.data(), &request.batch, lockFlag, key, tuning);
    else
        return factory.makeOoplace(request.rank, request.dims.data(), &request.batch, lockFlag, key, tuning);
}

// Bit pattern that fills every real the plan must not write: a quiet NaN, so a
// read of it also spoils the results.
template <typename T>
T sentinel();
template <typename T>
bool isSentinel(const T& value);

// An array of `reals` reals between two guard zones, all of it filled with the
// sentinel; base() is 64-byte aligned plus misalign reals.
template <typename T>
class GuardedBuffer {
public:
    GuardedBuffer(std::int64_t reals, std::int64_t guardReals, std::int64_t misalignReals = 0);
    GuardedBuffer(const GuardedBuffer& other);
    GuardedBuffer& operator=(const GuardedBuffer& other);
    ~GuardedBuffer();

    T* base() { return storage_ + front_; }
    const T* base() const { return storage_ + front_; }
    std::int64_t size() const { return reals_; }
    // Offsets of the allocation relative to base(): [lowest(), highest()).
    std::int64_t lowest() const { return -front_; }
    std::int64_t highest() const { return total_ - front_; }
    void fillSentinel();

    // First offset in [from, to) whose bits differ from the sentinel, or `to`.
    std::int64_t firstNonSentinel(std::int64_t from, std::int64_t to) const;
    // First offset over the whole allocation whose bits differ from other's, or highest().
    std::int64_t firstDifference(const GuardedBuffer& other) const;

private:
    std::int64_t reals_;
    std::int64_t front_;
    std::int64_t total_;
    T* storage_;
};

}  // namespace zun::fft::support
