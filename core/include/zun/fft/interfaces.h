// Plan and factory interfaces shared by the core library's serial planners and
// by every library that plans on top of them.
//
// Units: every size, stride, distance and work size counts reals of T; a complex
// element is two consecutive reals. Array operands point at the first real.
#pragma once

#include <zun/config.h>

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <type_traits>

namespace zun::fft {

// One axis (or, as a batch record: count, input distance, output distance).
// A stride or distance of 0 stands for the packed default of the layout.
struct Dim {
    std::int64_t size = 0;
    std::int64_t inStride = 0;
    std::int64_t outStride = 0;
};

// A key is a sequence of records, one per axis: a header word whose low 8 bits
// count the data words that follow it, then those data words.
using PlanKey = std::uint32_t;

// The rank value that asks for a column plan: one strided axis applied to a
// batch of adjacent complex columns, dims {length, stride, stride'} and batch
// {k, 2, 0} in place or {k, 2, 2} out of place.
inline constexpr std::size_t columnRank = ~std::size_t{0};

enum class Placement { Inplace, Ooplace };

template <typename T, Placement P>
class Compute;

// In-place plan: operands (data, work).
template <typename T>
class ZUN_CORE_EXPORT Compute<T, Placement::Inplace> {
public:
    virtual void forward(T* data, T* work) const = 0;
    virtual void backward(T* data, T* work) const = 0;
    virtual void forwardWithArg(void* extraArg, T* data, T* work) const = 0;
    virtual void backwardWithArg(void* extraArg, T* data, T* work) const = 0;
    virtual ~Compute() = default;
    virtual std::size_t workSize() const = 0;
    virtual int threadCount() const = 0;
    virtual std::string toString() const = 0;
    virtual std::size_t threadWorkSize() const = 0;
    virtual void reserveThreadWork(std::size_t n) = 0;
};

// Out-of-place plan: operands (first, second, work). forward reads first in the
// input layout and writes second in the output layout; backward reads first in
// the output layout and writes second in the input layout.
template <typename T>
class ZUN_CORE_EXPORT Compute<T, Placement::Ooplace> {
public:
    virtual void forward(const T* first, T* second, T* work) const = 0;
    virtual void backward(const T* first, T* second, T* work) const = 0;
    virtual void forwardWithArg(void* extraArg, const T* first, T* second, T* work) const = 0;
    virtual void backwardWithArg(void* extraArg, const T* first, T* second, T* work) const = 0;
    virtual ~Compute() = default;
    virtual std::size_t workSize() const = 0;
    virtual int threadCount() const = 0;
    virtual std::string toString() const = 0;
    virtual std::size_t threadWorkSize() const = 0;
    virtual void reserveThreadWork(std::size_t n) = 0;
};

template <typename T>
using InplaceCompute = Compute<T, Placement::Inplace>;
template <typename T>
using OoplaceCompute = Compute<T, Placement::Ooplace>;

// Complex-to-real pass whose last complex column of every innermost line is
// read from a side buffer instead of the data array.
template <typename T>
class ZUN_CORE_EXPORT SplitBackwardCompute {
public:
    virtual void execute(int mode, T* data, T* side, T* work) const = 0;
    virtual ~SplitBackwardCompute() = default;
    virtual std::size_t workSize() const = 0;
};

using TuningLock = std::unique_lock<std::shared_mutex>;

template <typename T, typename In, typename Out>
class ZUN_CORE_EXPORT Factory {
public:
    using Real = T;
    using Input = In;
    using Output = Out;
    static constexpr bool isRealToComplex = !std::is_same_v<In, Out>;

    virtual ~Factory() = default;
    virtual std::int64_t queryInplace(std::size_t rank, const Dim* dims, bool unitStride) const = 0;
    virtual std::unique_ptr<InplaceCompute<T>> makeInplace(std::size_t rank, const Dim* dims, const Dim* batch,
                                                           bool lockFlag, const PlanKey* key,
                                                           const std::shared_ptr<T>& tuning) const = 0;
    virtual std::int64_t queryOoplace(std::size_t rank, const Dim* dims, bool unitStride) const = 0;
    virtual std::unique_ptr<OoplaceCompute<T>> makeOoplace(std::size_t rank, const Dim* dims, const Dim* batch,
                                                           bool lockFlag, const PlanKey* key,
                                                           const std::shared_ptr<T>& tuning) const = 0;
    virtual std::int64_t auxiliaryA(std::int64_t value) const = 0;
    virtual std::int64_t auxiliaryB(std::int64_t value) const = 0;
    virtual int threadCount() const = 0;
    virtual std::string toString() const = 0;
};

template <typename T>
using ComplexFactory = Factory<T, std::complex<T>, std::complex<T>>;
template <typename T>
using RealFactory = Factory<T, T, std::complex<T>>;

// The wider interface of a serial planner factory. Real-to-complex planners
// also make split backward plans and own a companion complex planner.
template <typename T, typename In, typename Out>
class ZUN_CORE_EXPORT PlannerFactory : public Factory<T, In, Out> {
public:
    virtual std::int64_t tuningIndexInplace(std::size_t rank, const Dim* dims, const PlanKey* key) const = 0;
    virtual std::int64_t tuningIndexOoplace(std::size_t rank, const Dim* dims, const PlanKey* key) const = 0;
    virtual TuningLock lockForTuning(std::size_t rank, const Dim* dims, bool unitStride,
                                     const std::shared_ptr<T>& tuning) const = 0;
};

template <typename T>
class ZUN_CORE_EXPORT PlannerFactory<T, T, std::complex<T>> : public Factory<T, T, std::complex<T>> {
public:
    virtual std::int64_t tuningIndexInplace(std::size_t rank, const Dim* dims, const PlanKey* key) const = 0;
    virtual std::int64_t tuningIndexOoplace(std::size_t rank, const Dim* dims, const PlanKey* key) const = 0;
    virtual TuningLock lockForTuning(std::size_t rank, const Dim* dims, bool unitStride,
                                     const std::shared_ptr<T>& tuning) const = 0;
    virtual std::unique_ptr<SplitBackwardCompute<T>> makeSplitBackward(std::size_t rank, const Dim* dims,
                                                                       const Dim* batch, const PlanKey* key,
                                                                       const std::shared_ptr<T>& tuning) const = 0;
    // Borrowed: lives as long as this factory.
    virtual const ComplexFactory<T>* complexFactory() const = 0;
};

template <typename T>
using ComplexPlannerFactory = PlannerFactory<T, std::complex<T>, std::complex<T>>;
template <typename T>
using RealPlannerFactory = PlannerFactory<T, T, std::complex<T>>;

}  // namespace zun::fft
