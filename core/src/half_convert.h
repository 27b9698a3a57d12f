// _Float16 <-> float conversion of one strided line of points. Staging of
// half-precision plans is dominated by these conversions, so they get a
// hardware (F16C) clone picked when the library loads.
#pragma once

#include <cstdint>

namespace zun::fft::detail {

void convertLine(const _Float16* src, std::int64_t srcStride, float* dst, std::int64_t dstStride, std::int64_t n,
                 int elementReals);
void convertLine(const float* src, std::int64_t srcStride, _Float16* dst, std::int64_t dstStride, std::int64_t n,
                 int elementReals);

}  // namespace zun::fft::detail
