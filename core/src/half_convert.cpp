#include "half_convert.h"

#include <cpuid.h>

namespace zun::fft::detail {
namespace {

template <typename S, typename D>
inline void convert(const S* src, std::int64_t srcStride, D* dst, std::int64_t dstStride, std::int64_t n,
                    int elementReals) {
    if (elementReals == 2) {
        for (std::int64_t i = 0; i < n; ++i) {
            dst[i * dstStride] = static_cast<D>(src[i * srcStride]);
            dst[i * dstStride + 1] = static_cast<D>(src[i * srcStride + 1]);
        }
    } else {
        for (std::int64_t i = 0; i < n; ++i) dst[i * dstStride] = static_cast<D>(src[i * srcStride]);
    }
}

template <typename S, typename D>
using LineConverter = void (*)(const S*, std::int64_t, D*, std::int64_t, std::int64_t, int);

template <typename S, typename D>
__attribute__((target("avx,f16c"))) void convertWithF16c(const S* src, std::int64_t srcStride, D* dst,
                                                         std::int64_t dstStride, std::int64_t n, int elementReals) {
    convert(src, srcStride, dst, dstStride, n, elementReals);
}

// F16C instructions are VEX encoded: they need AVX state enabled by the OS too.
bool hasF16c() {
    __builtin_cpu_init();
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __builtin_cpu_supports("avx") && __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_F16C);
}

// Chosen when the library loads, so converting never takes a lock.
const bool useF16c = hasF16c();
const LineConverter<_Float16, float> widen = useF16c ? convertWithF16c<_Float16, float> : convert<_Float16, float>;
const LineConverter<float, _Float16> narrow = useF16c ? convertWithF16c<float, _Float16> : convert<float, _Float16>;

}  // namespace

void convertLine(const _Float16* src, std::int64_t srcStride, float* dst, std::int64_t dstStride, std::int64_t n,
                 int elementReals) {
    widen(src, srcStride, dst, dstStride, n, elementReals);
}

void convertLine(const float* src, std::int64_t srcStride, _Float16* dst, std::int64_t dstStride, std::int64_t n,
                 int elementReals) {
    narrow(src, srcStride, dst, dstStride, n, elementReals);
}

}  // namespace zun::fft::detail
