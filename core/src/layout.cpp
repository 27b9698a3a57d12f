#include "layout.h"

#include <algorithm>

namespace zun::fft::detail {
namespace {

bool isPadded(LayoutKind kind) { return kind == LayoutKind::PaddedReal || kind == LayoutKind::PaddedComplex; }
bool isComplex(LayoutKind kind) { return kind == LayoutKind::Complex || kind == LayoutKind::PaddedComplex; }

// Checked arithmetic: an offset that does not fit 64 bits names no real of
// any array, so the view that needs it is refused rather than wrapped.
std::optional<std::int64_t> times(std::int64_t a, std::int64_t b) {
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}

std::optional<std::int64_t> plus(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

std::optional<std::int64_t> minus(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference)) return std::nullopt;
    return difference;
}

std::optional<std::int64_t> orDefault(std::int64_t requested, std::optional<std::int64_t> fallback) {
    if (requested != 0) return requested;
    return fallback;
}

std::optional<std::int64_t> checkedPaddedRow(std::int64_t n) { return plus(n | 1, 1); }

// Padded layouts always keep unit innermost steps: the real row and its
// complex half must start at the same place and fill the padded row.
std::optional<std::vector<std::int64_t>> effectiveStrides(LayoutKind kind, const std::vector<std::int64_t>& sizes,
                                                          const std::vector<std::int64_t>& requested) {
    const std::size_t n = sizes.size();
    const std::int64_t unit = isComplex(kind) ? 2 : 1;
    std::vector<std::int64_t> strides(n);
    strides[n - 1] = isPadded(kind) ? unit : *orDefault(requested[n - 1], unit);
    for (std::size_t k = n - 1; k-- > 0;) {
        const auto packed = isPadded(kind) && k == n - 2 ? checkedPaddedRow(sizes[n - 1])
                                                         : times(strides[k + 1], sizes[k + 1]);
        const auto stride = orDefault(requested[k], packed);
        if (!stride) return std::nullopt;
        strides[k] = *stride;
    }
    return strides;
}

std::optional<std::int64_t> defaultDistance(LayoutKind kind, const std::vector<std::int64_t>& sizes,
                                            const std::vector<std::int64_t>& strides) {
    if (isPadded(kind) && sizes.size() == 1) return checkedPaddedRow(sizes[0]);
    return times(sizes[0], strides[0]);
}

}  // namespace

std::optional<View> makeView(LayoutKind kind, const std::vector<std::int64_t>& sizes,
                             const std::vector<std::int64_t>& requestedStrides, std::int64_t count,
                             std::int64_t requestedDistance) {
    const auto strides = effectiveStrides(kind, sizes, requestedStrides);
    if (!strides) return std::nullopt;
    const auto distance = orDefault(requestedDistance, defaultDistance(kind, sizes, *strides));
    if (!distance) return std::nullopt;
    View view;
    view.elementReals = isComplex(kind) ? 2 : 1;
    view.extents.push_back(count);
    view.extents.insert(view.extents.end(), sizes.begin(), sizes.end());
    if (kind == LayoutKind::PaddedComplex) view.extents.back() = sizes.back() / 2 + 1;
    view.strides.push_back(*distance);
    view.strides.insert(view.strides.end(), strides->begin(), strides->end());
    if (!spanOf(view)) return std::nullopt;
    return view;
}

std::optional<Span> spanOf(const View& view) {
    Span span;
    for (std::size_t axis = 0; axis < view.extents.size(); ++axis) {
        const auto reach = times(view.extents[axis] - 1, view.strides[axis]);
        if (!reach) return std::nullopt;
        const auto low = plus(span.low, std::min<std::int64_t>(*reach, 0));
        const auto high = plus(span.high, std::max<std::int64_t>(*reach, 0));
        if (!low || !high) return std::nullopt;
        span = {*low, *high};
    }
    // Planning memory covers the whole reach, lowest real to highest.
    const auto end = plus(span.high, view.elementReals);
    if (!end || !minus(*end, span.low)) return std::nullopt;
    span.high = *end;
    return span;
}

bool hasNegativeStride(const View& view) {
    return std::any_of(view.strides.begin(), view.strides.end(), [](std::int64_t stride) { return stride < 0; });
}

}  // namespace zun::fft::detail
