// Request records as every strategy reads them: padded rows, effective strides
// and packed default distances per layout, key records, and the tuning array.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "parallel/kind.h"

namespace zun::fft::omp {

// Reals of a padded row: room for N/2 + 1 complex values.
constexpr std::int64_t pad(std::int64_t n) { return (n | 1) + 1; }

// Complex columns of a real row of n points: n/2 + 1.
constexpr std::int64_t halfColumns(std::int64_t n) { return (n >> 1) + 1; }

enum class Layout { ComplexInput, ComplexOutput, RealInput, InplaceReal, ComplexHalfOutput };

constexpr bool readsOutStrides(Layout layout)
{
    return layout == Layout::ComplexOutput || layout == Layout::ComplexHalfOutput;
}

constexpr bool isPadded(Layout layout)
{
    return layout == Layout::InplaceReal || layout == Layout::ComplexHalfOutput;
}

// Unit stride of the innermost axis: one real for real data, one complex
// element for complex data.
constexpr std::int64_t innermostDefault(Layout layout)
{
    return layout == Layout::RealInput || layout == Layout::InplaceReal ? 1 : 2;
}

inline std::int64_t strideField(const Dim& dim, Layout layout)
{
    return readsOutStrides(layout) ? dim.outStride : dim.inStride;
}

// Checked layout arithmetic: a stride, distance or extent that does not fit 64
// bits belongs to no array, so it is carried as "none" instead of wrapping.
using CheckedReals = std::optional<std::int64_t>;

inline CheckedReals times(CheckedReals reals, std::int64_t factor)
{
    std::int64_t product = 0;
    if (!reals || __builtin_mul_overflow(*reals, factor, &product)) return std::nullopt;
    return product;
}

inline CheckedReals plus(CheckedReals a, CheckedReals b)
{
    std::int64_t sum = 0;
    if (!a || !b || __builtin_add_overflow(*a, *b, &sum)) return std::nullopt;
    return sum;
}

// pad(n), or none for n near 2^63.
inline CheckedReals checkedPad(std::int64_t n)
{
    if ((n | 1) == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    return pad(n);
}

// The stride field of `dim` when it is not 0, else the packed default.
inline CheckedReals fieldOr(const Dim& dim, Layout layout, CheckedReals packed)
{
    const std::int64_t field = strideField(dim, layout);
    return field != 0 ? CheckedReals{field} : packed;
}

// Stride of `axis` in `layout`: the request's field when it is not 0, else the
// packed default built outward from the innermost axis.
inline CheckedReals checkedStride(std::size_t rank, const Dim* dims, std::size_t axis, Layout layout)
{
    const std::size_t innermost = rank - 1;
    std::size_t k = innermost;
    CheckedReals stride;
    if (isPadded(layout)) {
        if (axis == innermost) return innermostDefault(layout);
        k = innermost - 1;
        stride = fieldOr(dims[k], layout, checkedPad(dims[innermost].size));
    } else {
        stride = fieldOr(dims[k], layout, innermostDefault(layout));
    }
    while (k > axis) {
        const CheckedReals inside = times(stride, dims[k].size);
        --k;
        stride = fieldOr(dims[k], layout, inside);
    }
    return stride;
}

inline CheckedReals checkedDefaultDistance(std::size_t rank, const Dim* dims, Layout layout)
{
    if (rank == 1 && isPadded(layout)) return checkedPad(dims[0].size);
    return times(checkedStride(rank, dims, 0, layout), dims[0].size);
}

// Reals between the first and the last of `count` points `stride` apart, in
// either direction.
inline CheckedReals reach(CheckedReals stride, std::int64_t count)
{
    if (!stride || *stride == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    return times(*stride < 0 ? -*stride : *stride, count - 1);
}

// Reals from the lowest to one past the highest real that `count` transforms
// `distance` apart (0: the packed default) occupy in `layout`. Lengths and the
// count are at least 1.
inline CheckedReals layoutExtent(std::size_t rank, const Dim* dims, std::int64_t count, std::int64_t distance,
                                 Layout layout)
{
    const std::size_t innermost = rank - 1;
    const std::int64_t rowLength = dims[innermost].size;
    CheckedReals extent = isPadded(layout)
                              ? checkedPad(rowLength)
                              : plus(reach(checkedStride(rank, dims, innermost, layout), rowLength),
                                     innermostDefault(layout));
    for (std::size_t k = 0; k < innermost; ++k)
        extent = plus(extent, reach(checkedStride(rank, dims, k, layout), dims[k].size));
    return plus(extent, reach(distance != 0 ? CheckedReals{distance} : checkedDefaultDistance(rank, dims, layout),
                              count));
}

// The stride and default distance of a request the factory has accepted: its
// layouts fit (layoutsFit below), so every default does.
inline std::int64_t effectiveStride(std::size_t rank, const Dim* dims, std::size_t axis, Layout layout)
{
    return *checkedStride(rank, dims, axis, layout);
}

inline std::int64_t defaultDistance(std::size_t rank, const Dim* dims, Layout layout)
{
    return *checkedDefaultDistance(rank, dims, layout);
}

// A batch distance as given, or the layout's packed default when it is 0.
inline std::int64_t distanceOrDefault(std::int64_t given, std::size_t rank, const Dim* dims, Layout layout)
{
    return given != 0 ? given : defaultDistance(rank, dims, layout);
}

// The layout a request's input takes, and out of place the layout of its output.
constexpr Layout inputLayout(Kind kind, Placement placement)
{
    if (kind == Kind::Complex) return Layout::ComplexInput;
    return placement == Placement::Inplace ? Layout::InplaceReal : Layout::RealInput;
}

constexpr Layout outputLayout(Kind kind)
{
    return kind == Kind::Complex ? Layout::ComplexOutput : Layout::ComplexHalfOutput;
}

// Reals between consecutive items in the input layout and in the output
// layout; in place both are the one array's.
struct ItemSpacing {
    std::int64_t in;
    std::int64_t out;
};

// The effective stride of `axis` in each layout of the request.
inline ItemSpacing axisStrides(Kind kind, Placement placement, std::size_t rank, const Dim* dims, std::size_t axis)
{
    const std::int64_t in = effectiveStride(rank, dims, axis, inputLayout(kind, placement));
    return {in, placement == Placement::Inplace ? in : effectiveStride(rank, dims, axis, outputLayout(kind))};
}

// Every array of a request of `count` transforms can exist: no object is
// larger than the largest signed 64-bit count of bytes, so a layout that
// reaches further describes no array, and within one that fits no stride,
// distance or offset a strategy forms overflows.
inline bool layoutsFit(Kind kind, Placement placement, std::size_t rank, const Dim* dims, const Dim& batch,
                       std::int64_t count, std::int64_t realBytes)
{
    const std::int64_t largest = std::numeric_limits<std::int64_t>::max() / realBytes;
    auto fits = [&](Layout layout, std::int64_t distance) {
        const CheckedReals extent = layoutExtent(rank, dims, count, distance, layout);
        return extent && *extent <= largest;
    };
    if (!fits(inputLayout(kind, placement), batch.inStride)) return false;
    return placement == Placement::Inplace || fits(outputLayout(kind), batch.outStride);
}

// The batch distances of the request in each layout, defaults filled in.
inline ItemSpacing distances(Kind kind, Placement placement, std::size_t rank, const Dim* dims, const Dim& batch)
{
    const std::int64_t in = distanceOrDefault(batch.inStride, rank, dims, inputLayout(kind, placement));
    return {in,
            placement == Placement::Inplace ? in : distanceOrDefault(batch.outStride, rank, dims, outputLayout(kind))};
}

inline bool isUnitStride(std::int64_t stride, std::int64_t unit) { return stride == 0 || stride == unit; }

// A packed stride in reals, or none when it does not fit in 64 bits: then no
// stride field can hold it, and only the packed default (0) stands for it.
using PackedStride = CheckedReals;

// The stride fields of an axis hold `packed` (or 0, its default) in every
// layout the placement has; in place the second field must be 0.
inline bool isPackedStride(const Dim& dim, PackedStride packed, Placement placement)
{
    auto holdsPacked = [&](std::int64_t stride) { return stride == 0 || packed == stride; };
    if (placement == Placement::Inplace) return holdsPacked(dim.inStride) && dim.outStride == 0;
    return holdsPacked(dim.inStride) && holdsPacked(dim.outStride);
}

// The row length from which packed strides of the outer axes are built, for
// an innermost axis of n points. A complex row fits, as the whole transform
// does; a padded real row of n near 2^63 does not.
inline PackedStride packedRowReals(Kind kind, std::int64_t n)
{
    if (kind == Kind::Complex) return 2 * n;
    return checkedPad(n);
}

// Axes 1 .. rank-2 each have the stride they would have if every axis inside
// them were packed.
inline bool middleAxesDense(Kind kind, Placement placement, std::size_t rank, const Dim* dims)
{
    PackedStride packed = packedRowReals(kind, dims[rank - 1].size);
    for (std::size_t k = rank - 2; k >= 1; --k) {
        if (!isPackedStride(dims[k], packed, placement)) return false;
        packed = times(packed, dims[k].size);
    }
    return true;
}

// A batch count below 2 (0 included) is one transform.
inline std::int64_t transformCount(std::int64_t count) { return count >= 2 ? count : 1; }

// Record k of a key: records have different lengths, so walk them one by one.
inline const PlanKey* keyRecord(const PlanKey* key, std::size_t k)
{
    for (std::size_t i = 0; i < k; ++i) key += 1 + (key[0] & 0xffu);
    return key;
}

// Planning is in tuning mode when the first tuning value is strictly negative
// (so neither -0.0 nor a NaN).
template <typename T>
bool isTuningMode(const std::shared_ptr<T>& tuning)
{
    return tuning && tuning.get()[0] < T(0);
}

// The tuning pointer of plans along outer axes only: it shares ownership of
// the caller's array and points at entry `index`. In tuning mode, when the
// header of the key record those plans receive asks for it, the first value is
// copied into that entry first. With no caller array, or no entry, there is
// nothing to point into: the result is empty and nothing is copied.
template <typename T>
std::shared_ptr<T> aliasTuning(const std::shared_ptr<T>& tuning, std::int64_t index, PlanKey aliasedHeader)
{
    // Entry 0 is the mode flag, and the wrapped factory answers below 0 when
    // the key names no entry: there is nothing to alias then either.
    if (!tuning || index < 1) return {};
    if (static_cast<std::int32_t>(aliasedHeader) >= 2 && isTuningMode(tuning)) tuning.get()[index] = tuning.get()[0];
    return std::shared_ptr<T>(tuning, tuning.get() + index);
}

// In-place strategies ask the wrapped factory for in-place tuning entries,
// out-of-place strategies for out-of-place ones.
template <Placement P, typename Planner>
std::int64_t tuningIndexFor(const Planner& inner, std::size_t rank, const Dim* dims, const PlanKey* key)
{
    if constexpr (P == Placement::Inplace) return inner.tuningIndexInplace(rank, dims, key);
    else return inner.tuningIndexOoplace(rank, dims, key);
}

// The tuning lock of an outermost request: held from the moment the request
// has passed its checks until the make operation returns.
template <typename Planner, typename T>
TuningLock takeTuningLock(const Planner& inner, bool lockFlag, std::size_t rank, const Dim* dims, bool unitStride,
                          const std::shared_ptr<T>& tuning)
{
    if (!lockFlag || !isTuningMode(tuning)) return {};
    return inner.lockForTuning(rank, dims, unitStride, tuning);
}

}  // namespace zun::fft::omp
