#include "layout.h"

#include <algorithm>

namespace zun::fft::detail {
namespace {

bool isPadded(LayoutKind kind) { return kind == LayoutKind::PaddedReal || kind == LayoutKind::PaddedComplex; }
bool isComplex(LayoutKind kind) { return kind == LayoutKind::Complex || kind == LayoutKind::PaddedComplex; }

std::int64_t orDefault(std::int64_t requested, std::int64_t fallback) { return requested != 0 ? requested : fallback; }

// Padded layouts always keep unit innermost steps: the real row and its
// complex half must start at the same place and fill the padded row.
std::vector<std::int64_t> effectiveStrides(LayoutKind kind, const std::vector<std::int64_t>& sizes,
                                           const std::vector<std::int64_t>& requested) {
    const std::size_t n = sizes.size();
    const std::int64_t unit = isComplex(kind) ? 2 : 1;
    std::vector<std::int64_t> strides(n);
    strides[n - 1] = isPadded(kind) ? unit : orDefault(requested[n - 1], unit);
    if (n == 1) return strides;
    strides[n - 2] = orDefault(requested[n - 2], isPadded(kind) ? paddedRow(sizes[n - 1]) : strides[n - 1] * sizes[n - 1]);
    for (std::size_t k = n - 2; k-- > 0;) strides[k] = orDefault(requested[k], strides[k + 1] * sizes[k + 1]);
    return strides;
}

std::int64_t defaultDistance(LayoutKind kind, const std::vector<std::int64_t>& sizes,
                             const std::vector<std::int64_t>& strides) {
    if (isPadded(kind) && sizes.size() == 1) return paddedRow(sizes[0]);
    return sizes[0] * strides[0];
}

}  // namespace

View makeView(LayoutKind kind, const std::vector<std::int64_t>& sizes, const std::vector<std::int64_t>& requestedStrides,
              std::int64_t count, std::int64_t requestedDistance) {
    const std::vector<std::int64_t> strides = effectiveStrides(kind, sizes, requestedStrides);
    View view;
    view.elementReals = isComplex(kind) ? 2 : 1;
    view.extents.push_back(count);
    view.extents.insert(view.extents.end(), sizes.begin(), sizes.end());
    if (kind == LayoutKind::PaddedComplex) view.extents.back() = sizes.back() / 2 + 1;
    view.strides.push_back(orDefault(requestedDistance, defaultDistance(kind, sizes, strides)));
    view.strides.insert(view.strides.end(), strides.begin(), strides.end());
    return view;
}

Span spanOf(const View& view) {
    Span span;
    for (std::size_t axis = 0; axis < view.extents.size(); ++axis) {
        const std::int64_t reach = (view.extents[axis] - 1) * view.strides[axis];
        span.low += std::min<std::int64_t>(reach, 0);
        span.high += std::max<std::int64_t>(reach, 0);
    }
    span.high += view.elementReals;
    return span;
}

}  // namespace zun::fft::detail
