// Where the points of a batch of transforms live in an array. All counts are
// reals of the array's element type; a complex point takes two of them.
#pragma once

#include "half_convert.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

namespace zun::fft::detail {

enum class LayoutKind {
    Complex,        // complex points, packed default strides, innermost 2
    Real,           // real points, packed default strides, innermost 1
    PaddedReal,     // real rows padded to pad(N) so their complex half fits in place
    PaddedComplex,  // the N/2+1 complex values of each padded row
};

// Reals a row of N real points occupies when its complex half must fit too.
inline std::int64_t paddedRow(std::int64_t n) { return (n | 1) + 1; }

// The points of a batch: axis 0 walks the transforms, the others the transform
// axes outermost first. Extents are points (complex-half rows hold N/2+1).
struct View {
    std::vector<std::int64_t> extents;
    std::vector<std::int64_t> strides;
    int elementReals = 1;
};

// Applies the layout's stride and distance defaults (0 means default) to the
// requested values; sizes are the transform's logical lengths. Empty when the
// view is no array: a default stride or distance, or the reach of the view
// (spanOf), does not fit 64 bits.
std::optional<View> makeView(LayoutKind kind, const std::vector<std::int64_t>& sizes,
                             const std::vector<std::int64_t>& requestedStrides, std::int64_t count,
                             std::int64_t requestedDistance);

// The packed view the same transforms take in a staging buffer.
inline std::optional<View> makePackedView(LayoutKind kind, const std::vector<std::int64_t>& sizes, std::int64_t count) {
    return makeView(kind, sizes, std::vector<std::int64_t>(sizes.size(), 0), count, 0);
}

// Lowest offset touched and one past the highest, relative to the base pointer.
struct Span {
    std::int64_t low = 0;
    std::int64_t high = 0;
};
// Empty when an offset of the view does not fit 64 bits.
std::optional<Span> spanOf(const View& view);

// Rows in reverse order and the like: FFTW cannot be trusted with them.
bool hasNegativeStride(const View& view);

template <typename S, typename D>
void copyInnermost(const S* src, std::int64_t srcStride, D* dst, std::int64_t dstStride, std::int64_t n,
                   int elementReals) {
    if constexpr (!std::is_same_v<S, D>) {
        convertLine(src, srcStride, dst, dstStride, n, elementReals);
    } else if (elementReals == 2) {
        for (std::int64_t i = 0; i < n; ++i) {
            dst[i * dstStride] = src[i * srcStride];
            dst[i * dstStride + 1] = src[i * srcStride + 1];
        }
    } else {
        for (std::int64_t i = 0; i < n; ++i) dst[i * dstStride] = src[i * srcStride];
    }
}

template <typename S, typename D>
void copyAxis(const S* src, const View& from, D* dst, const View& to, std::size_t axis, std::int64_t extent) {
    const std::int64_t srcStride = from.strides[axis];
    const std::int64_t dstStride = to.strides[axis];
    if (axis + 1 == from.extents.size()) {
        copyInnermost(src, srcStride, dst, dstStride, extent, from.elementReals);
        return;
    }
    const std::int64_t nextExtent = from.extents[axis + 1];
    for (std::int64_t i = 0; i < extent; ++i)
        copyAxis(src + i * srcStride, from, dst + i * dstStride, to, axis + 1, nextExtent);
}

// Copies the first `count` transforms of `from` to `to` (same extents past axis
// 0), converting each real (only _Float16 <-> float conversions occur). The innermost axis is the hot loop.
template <typename S, typename D>
void copyPoints(const S* src, const View& from, D* dst, const View& to, std::int64_t count) {
    copyAxis(src, from, dst, to, 0, count);
}

}  // namespace zun::fft::detail
