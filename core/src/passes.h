// One direction of a plan: everything between reading the source operand and
// writing the destination. Passes are immutable once made, so any number of
// threads may run one at once on separate data and work.
#pragma once

#include "fftw_plan.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zun::fft::detail {

template <typename T>
class Pass {
public:
    virtual ~Pass() = default;
    // `side` feeds only the gathers that name it; `work` holds workSize() reals.
    virtual void run(const T* source, T* destination, const T* side, T* work) const = 0;
    virtual std::size_t workSize() const = 0;
};

// FFTW straight on the caller's arrays. New-array execution needs the arrays in
// the alignment class the plan was made for, so there are two plans: one made
// on aligned arrays (SIMD codelets) and an FFTW_UNALIGNED one for the rest.
template <typename R>
class DirectPass final : public Pass<R> {
public:
    DirectPass(FftwPlan<R> aligned, FftwPlan<R> unaligned)
        : aligned_(std::move(aligned)), unaligned_(std::move(unaligned)) {}

    void run(const R* source, R* destination, const R*, R*) const override {
        // FFTW takes non-const arrays; out-of-place plans carry
        // FFTW_PRESERVE_INPUT, so the source is only read.
        R* in = const_cast<R*>(source);
        const bool aligned = Fftw<R>::alignmentOf(in) == 0 && Fftw<R>::alignmentOf(destination) == 0;
        (aligned ? aligned_ : unaligned_).execute(in, destination);
    }
    std::size_t workSize() const override { return 0; }

private:
    FftwPlan<R> aligned_;
    FftwPlan<R> unaligned_;
};

template <typename R>
std::unique_ptr<Pass<R>> makeDirectPass(const Problem& problem, bool tuning) {
    const unsigned flags = planningFlags(tuning) | (problem.inplace ? 0u : unsigned{FFTW_PRESERVE_INPUT});
    const PlanningArrays<R> arrays(problem);
    if (!arrays) return nullptr;
    FftwPlan<R> aligned = planProblem(problem, arrays.in(), arrays.out(), flags);
    FftwPlan<R> unaligned = planProblem(problem, arrays.in(), arrays.out(), flags | FFTW_UNALIGNED);
    if (!aligned || !unaligned) return nullptr;
    return std::make_unique<DirectPass<R>>(std::move(aligned), std::move(unaligned));
}

// Points moved between a caller's array and the staging buffer.
struct Transfer {
    View array;
    View staging;
    std::int64_t stagingOffset = 0;
};

enum class Operand { Source, Side };

struct Gather {
    Operand operand = Operand::Source;
    Transfer points;
};

// What a staged pass does per chunk of transforms: gather into the staging
// buffer, transform there in place, scatter the result to the destination.
struct Staging {
    std::vector<Gather> gathers;
    Transfer scatter;
    Problem transform;                 // in place on packed staging views
    std::int64_t transformReals = 0;   // staging reals one transform takes
};

// Staged transforms run in chunks small enough to stay in cache.
inline constexpr std::size_t stagingChunkBytes = std::size_t{256} << 10;

// Routes a transform through a packed, aligned buffer inside the caller's
// work: converts _Float16 to float, keeps a multi-dimensional c2r from
// destroying its input, and feeds split passes their side values.
template <typename T, typename R>
class StagedPass final : public Pass<T> {
public:
    StagedPass(Staging staging, std::int64_t count, std::int64_t chunk, FftwPlan<R> chunkPlan, FftwPlan<R> tailPlan)
        : staging_(std::move(staging)), count_(count), chunk_(chunk), chunkPlan_(std::move(chunkPlan)),
          tailPlan_(std::move(tailPlan)) {}

    void run(const T* source, T* destination, const T* side, T* work) const override {
        R* buffer = alignedStaging(work);
        for (std::int64_t first = 0; first < count_; first += chunk_) {
            const std::int64_t n = std::min(chunk_, count_ - first);
            for (const Gather& gather : staging_.gathers) {
                const T* operand = gather.operand == Operand::Side ? side : source;
                const Transfer& points = gather.points;
                copyPoints(operand + first * points.array.strides[0], points.array, buffer + points.stagingOffset,
                           points.staging, n);
            }
            (n == chunk_ ? chunkPlan_ : tailPlan_).execute(buffer, buffer);
            const Transfer& scatter = staging_.scatter;
            copyPoints(buffer + scatter.stagingOffset, scatter.staging,
                       destination + first * scatter.array.strides[0], scatter.array, n);
        }
    }

    // One chunk of staging reals, plus the slack that aligning it inside work
    // of any alignment may cost.
    std::size_t workSize() const override {
        const std::size_t bytes =
            static_cast<std::size_t>(chunk_ * staging_.transformReals) * sizeof(R) + planningAlignment;
        return (bytes + sizeof(T) - 1) / sizeof(T);
    }

private:
    static R* alignedStaging(T* work) {
        const auto address = reinterpret_cast<std::uintptr_t>(work);
        return reinterpret_cast<R*>((address + planningAlignment - 1) / planningAlignment * planningAlignment);
    }

    Staging staging_;
    std::int64_t count_;
    std::int64_t chunk_;
    FftwPlan<R> chunkPlan_;
    FftwPlan<R> tailPlan_;
};

template <typename R>
FftwPlan<R> planStagedChunk(Problem problem, std::int64_t chunk, bool tuning) {
    problem.input.extents[0] = chunk;
    problem.output.extents[0] = chunk;
    const PlanningArrays<R> arrays(problem);
    if (!arrays) return {};
    return planProblem(problem, arrays.in(), arrays.in(), planningFlags(tuning));
}

// `count` transforms; the chunk length depends only on the lengths, so work
// never grows as the count shrinks.
template <typename T, typename R>
std::unique_ptr<Pass<T>> makeStagedPass(Staging staging, std::int64_t count, bool tuning) {
    const std::int64_t perChunk =
        static_cast<std::int64_t>(stagingChunkBytes / (sizeof(R) * static_cast<std::size_t>(staging.transformReals)));
    const std::int64_t chunk = std::min(count, std::max<std::int64_t>(perChunk, 1));
    const std::int64_t tail = count % chunk;
    FftwPlan<R> chunkPlan = planStagedChunk<R>(staging.transform, chunk, tuning);
    FftwPlan<R> tailPlan = tail ? planStagedChunk<R>(staging.transform, tail, tuning) : FftwPlan<R>{};
    if (!chunkPlan || (tail && !tailPlan)) return nullptr;
    return std::make_unique<StagedPass<T, R>>(std::move(staging), count, chunk, std::move(chunkPlan),
                                              std::move(tailPlan));
}

}  // namespace zun::fft::detail
