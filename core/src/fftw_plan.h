// FFTW plans of the stand-in: made and destroyed under one mutex (the FFTW
// planner is not thread-safe), executed lock-free through the new-array calls.
#pragma once

#include "fftw_api.h"
#include "layout.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace zun::fft::detail {

enum class Transform { ComplexForward, ComplexBackward, RealToComplex, ComplexToReal };

// Alignment of everything the stand-in plans on; a multiple of every FFTW
// SIMD alignment, so a pointer aligned to it is in FFTW's alignment class 0.
inline constexpr std::size_t planningAlignment = 64;

std::mutex& plannerMutex();

// FFTW planning flags for a request: tuning mode measures, otherwise estimate.
unsigned planningFlags(bool tuning);

// One FFTW problem between an input and an output view of the same logical
// lengths (views follow the input and output element kinds of the transform).
struct Problem {
    Transform transform = Transform::ComplexForward;
    std::vector<std::int64_t> sizes;
    View input;
    View output;
    bool inplace = false;
};

template <typename R>
class FftwPlan {
public:
    using Raw = typename Fftw<R>::Plan;

    FftwPlan() = default;
    FftwPlan(Transform transform, Raw raw) : transform_(transform), raw_(raw) {}
    FftwPlan(FftwPlan&& other) noexcept : transform_(other.transform_), raw_(std::exchange(other.raw_, nullptr)) {}
    FftwPlan& operator=(FftwPlan&& other) noexcept {
        std::swap(transform_, other.transform_);
        std::swap(raw_, other.raw_);
        return *this;
    }
    FftwPlan(const FftwPlan&) = delete;
    FftwPlan& operator=(const FftwPlan&) = delete;
    ~FftwPlan() {
        if (!raw_) return;
        std::lock_guard<std::mutex> lock(plannerMutex());
        Fftw<R>::destroy(raw_);
    }

    explicit operator bool() const { return raw_ != nullptr; }

    // The split interface has no sign: the backward complex transform is the
    // forward one with real and imaginary parts swapped.
    void execute(R* in, R* out) const {
        switch (transform_) {
            case Transform::ComplexForward: Fftw<R>::executeDft(raw_, in, in + 1, out, out + 1); break;
            case Transform::ComplexBackward: Fftw<R>::executeDft(raw_, in + 1, in, out + 1, out); break;
            case Transform::RealToComplex: Fftw<R>::executeR2c(raw_, in, out, out + 1); break;
            case Transform::ComplexToReal: Fftw<R>::executeC2r(raw_, in, in + 1, out); break;
        }
    }

private:
    Transform transform_ = Transform::ComplexForward;
    Raw raw_ = nullptr;
};

// Bytes of memory the machine has: planning memory beyond it cannot be had.
std::int64_t physicalMemoryBytes();

// Whether the reals a view reaches could be an array in this machine's memory.
template <typename T>
bool fitsInMemory(const View& view) {
    const std::optional<Span> span = spanOf(view);
    return span && static_cast<__int128>(span->high - span->low) * sizeof(T) <= physicalMemoryBytes();
}

// Aligned memory covering a problem's views, for planning only: FFTW_ESTIMATE
// never touches it, FFTW_MEASURE scribbles on it instead of the caller's data.
// Empty when that memory cannot be had (more than the machine has, or the
// allocation fails): planning then declines instead of throwing.
template <typename R>
class PlanningArrays {
public:
    explicit PlanningArrays(const Problem& problem) {
        const std::optional<Span> in = spanOf(problem.input);
        const std::optional<Span> out = spanOf(problem.output);
        if (!in || !out) return;
        const Span both{std::min(in->low, out->low), std::max(in->high, out->high)};
        const Span first = problem.inplace ? both : *in;
        // Spans fit 64 bits; their padded sums and byte counts may not.
        const Wide inReals = lead(first) + first.high;
        const Wide outReals = problem.inplace ? 0 : lead(*out) + out->high;
        const Wide outStart = roundUp(inReals);
        const Wide bytes = (outStart + outReals) * Wide{sizeof(R)};
        if (bytes > physicalMemoryBytes()) return;
        memory_.reset(static_cast<R*>(::operator new(static_cast<std::size_t>(bytes),
                                                     std::align_val_t{planningAlignment}, std::nothrow)));
        if (!memory_) return;
        in_ = memory_.get() + static_cast<std::ptrdiff_t>(lead(first));
        out_ = problem.inplace ? in_ : memory_.get() + static_cast<std::ptrdiff_t>(outStart + lead(*out));
    }

    explicit operator bool() const { return memory_ != nullptr; }
    R* in() const { return in_; }
    R* out() const { return out_; }

private:
    using Wide = __int128;
    struct Release {
        void operator()(R* p) const { ::operator delete(p, std::align_val_t{planningAlignment}); }
    };
    static constexpr Wide alignReals = planningAlignment / sizeof(R);
    static Wide roundUp(Wide reals) { return (reals + alignReals - 1) / alignReals * alignReals; }
    // Room before the base pointer for negative offsets, keeping the base aligned.
    static Wide lead(Span span) { return roundUp(-Wide{span.low}); }

    std::unique_ptr<R, Release> memory_;
    R* in_ = nullptr;
    R* out_ = nullptr;
};

template <typename R>
std::vector<typename Fftw<R>::IoDim> transformDims(const Problem& problem) {
    std::vector<typename Fftw<R>::IoDim> dims;
    for (std::size_t k = 0; k < problem.sizes.size(); ++k)
        dims.push_back({problem.sizes[k], problem.input.strides[k + 1], problem.output.strides[k + 1]});
    return dims;
}

// Plans `problem` on the given arrays; an empty plan when FFTW has none.
template <typename R>
FftwPlan<R> planProblem(const Problem& problem, R* in, R* out, unsigned flags) {
    const auto dims = transformDims<R>(problem);
    const typename Fftw<R>::IoDim batch{problem.input.extents[0], problem.input.strides[0], problem.output.strides[0]};
    const int rank = static_cast<int>(dims.size());
    std::lock_guard<std::mutex> lock(plannerMutex());
    switch (problem.transform) {
        case Transform::ComplexForward:
            return {problem.transform, Fftw<R>::planDft(rank, dims.data(), 1, &batch, in, in + 1, out, out + 1, flags)};
        case Transform::ComplexBackward:
            return {problem.transform, Fftw<R>::planDft(rank, dims.data(), 1, &batch, in + 1, in, out + 1, out, flags)};
        case Transform::RealToComplex:
            return {problem.transform, Fftw<R>::planR2c(rank, dims.data(), 1, &batch, in, out, out + 1, flags)};
        case Transform::ComplexToReal:
            return {problem.transform, Fftw<R>::planC2r(rank, dims.data(), 1, &batch, in, in + 1, out, flags)};
    }
    return {};
}

}  // namespace zun::fft::detail
