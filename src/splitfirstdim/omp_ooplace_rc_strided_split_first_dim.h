// Out-of-place real transforms of rank 4 and more, any strides.
//
// Forward: the rest plan (from the parallel factory) writes the complex
// destination, then one team transforms axis 0 in place on it, line by line.
//
// Backward never runs the rest plan: it would have to write the complex
// values along axis 0 somewhere, and the real destination has no room for the
// last complex column of each line. One team instead carries axis 0 from the
// complex source into the destination (the last column into a side buffer at
// the start of the work buffer), then, after a barrier, runs split backward
// plans over whole slices of axis 0 that take the last column from there.
// Neither direction writes its source.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parallel/strategy.h"
#include "splitfirstdim/lines.h"
#include "splitfirstdim/split_first_dim.h"

namespace zun::fft::omp {

template <typename T>
class OmpOoplaceRCStridedSplitFirstDim final
    : public SplitOnRestTeam<OmpOoplaceRCStridedSplitFirstDim<T>, T, Placement::Ooplace> {
    using Base = SplitOnRestTeam<OmpOoplaceRCStridedSplitFirstDim, T, Placement::Ooplace>;
    friend Base;
    static constexpr Placement P = Placement::Ooplace;

public:
    using RestPlan = OoplaceCompute<T>;
    using SlicePlan = SplitBackwardCompute<T>;
    using ColumnPlan = InplaceCompute<T>;
    using BackwardColumnPlan = OoplaceCompute<T>;

    OmpOoplaceRCStridedSplitFirstDim(const StrategyContext<T, Kind::Real>& context, std::size_t rank, const Dim* dims,
                                     const Dim* batch, const PlanKey* key, const std::shared_ptr<T>& tuning)
        : firstDimSize(dims[0].size),
          middleDims(makeMiddleDims(rank, dims, Layout::RealInput, Layout::ComplexHalfOutput)),
          firstDimStride(axisStrides(Kind::Real, P, rank, dims, 0)),
          lastColumnOffset(dims[rank - 1].size & ~std::int64_t{1}),
          howmany(transformCount(batch->size)),
          distance(distances(Kind::Real, P, rank, dims, *batch))
    {
        const auto axis0Tuning = firstAxisTuning<P>(context, rank, dims, key, tuning);
        restPlan = subPlans.require(restPlanMaker<P>(context, rank, dims, key, tuning));
        if (!restPlan) return;
        const int threads = restTeam(*restPlan);
        const std::int64_t slicesPerCall = firstDimSize / threads;
        slicesPerBlock = slicesPerCall >= 3 ? slicesPerCall : 2;

        std::vector<Dim> sliceDims = sliceDimsFor(dims[rank - 1].size);
        sideOuterStride = sliceDims.front().outStride;
        const std::int64_t sideReals = sideOuterStride * middleDims.front().size;
        const PlanKey* sliceKey = keyRecord(key, 1);
        auto makeSlicePlan = [&](std::int64_t slices) {
            const Dim sliceBatch{slices, firstDimStride.in, 2};
            return context.inner.makeSplitBackward(rank - 1, sliceDims.data(), &sliceBatch, sliceKey, tuning);
        };
        sliceBlockPlan = subPlans.require(makeSlicePlan, slicesPerBlock);
        sliceDims.back().outStride = 1;
        oneSlicePlan = subPlans.require(makeSlicePlan, 1);

        const ComplexFactory<T>* columns = columnPlanner(context, subPlans);
        const std::int64_t halfLength = dims[rank - 1].size / 2;
        const Dim forwardAxis{firstDimSize, firstDimStride.out, 0};
        const Dim backwardAxis{firstDimSize, firstDimStride.in, firstDimStride.out};
        const Dim lastColumnAxis{firstDimSize, 2, firstDimStride.out};
        firstDimPlanOut =
            subPlans.require(columnMaker<Placement::Inplace>(columns, forwardAxis, key, axis0Tuning), halfLength + 1);
        firstDimPlanBackward =
            subPlans.require(columnMaker<Placement::Ooplace>(columns, backwardAxis, key, axis0Tuning), halfLength);
        lastColumnPlan =
            subPlans.require(columnMaker<Placement::Ooplace>(columns, lastColumnAxis, key, axis0Tuning), 1);
        if (!subPlans.complete()) return;

        work = WorkLayout(threads, static_cast<std::uint64_t>(sideReals));
        work.fit(firstDimPlanOut, firstDimPlanBackward, lastColumnPlan, sliceBlockPlan, oneSlicePlan);
        this->shareWorkWithRestPlan();
    }

    void run(const Call& call, const Arrays<T, P>& arrays, T* workBuffer) const
    {
        if (call.isForward()) runForward(call, arrays, workBuffer);
        else runBackward(call, arrays, workBuffer);
    }

    std::string toString() const override
    {
        const std::string rest = restPlan->toString();
        return describeSplit<T>("OmpOoplaceRC", rest, firstDimPlanOut->toString(), howmany, work.threads());
    }

private:
    using WorkLayout = SideThenSlices<T, FlatSlices<T>>;
    using Transform = Arrays<T, P>;

    // The records of the split backward plans: each middle axis with its
    // stride in the real destination and in the side buffer, where axis 0 is
    // fastest and the lines follow in row-major order; then the innermost axis.
    std::vector<Dim> sliceDimsFor(std::int64_t length) const
    {
        std::vector<Dim> sliceDims = middleDims;
        std::int64_t sideStride = 2 * firstDimSize;
        for (auto record = sliceDims.rbegin(); record != sliceDims.rend(); ++record) {
            record->outStride = sideStride;
            sideStride *= record->size;
        }
        sliceDims.push_back({length, 1, slicesPerBlock});
        return sliceDims;
    }

    // Forward needs no side buffer: its slices start at the buffer's start.
    void runForward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        for (std::int64_t item = 0; item < howmany; ++item) {
            const Transform transform = arrays.at(item * distance.in, item * distance.out);
            invoke(*restPlan, call, transform, workBuffer);
            linePass(middleDims, work, *firstDimPlanOut, call.plain(), transform.second, true,
                     work.slices(workBuffer, false));
        }
    }

    // One team for the whole batch; two barriers per transform: the slices
    // read every line's side values, and the next transform rewrites them.
    void runBackward(const Call& call, const Transform& arrays, T* workBuffer) const
    {
        T* side = work.side(workBuffer);
        unboundRegion(work.threads(), [&](const Team& team) {
            T* slice = work.slice(work.slices(workBuffer, true), team);
            const Share ownSlices = splitRange(firstDimSize, team.size, team.thread, 1);
            for (std::int64_t item = 0; item < howmany; ++item) {
                const Transform transform = arrays.at(item * distance.out, item * distance.in);
                T* lastColumns = side + ownAxis1(middleDims, team).begin * sideOuterStride;
                forEachOwnLine(middleDims, team, [&](const LineOffsets& line) {
                    const T* source = transform.first + line.out;
                    invoke(*firstDimPlanBackward, call, Transform{source, transform.second + line.in}, slice);
                    invoke(*lastColumnPlan, call, Transform{source + lastColumnOffset, lastColumns}, slice);
                    lastColumns += 2 * firstDimSize;
                });
                teamBarrier();
                runShare(ownSlices, slicesPerBlock, 1, *sliceBlockPlan, *oneSlicePlan, nullptr,
                         [&](const SlicePlan& plan, std::int64_t first) {
                             plan.execute(2, transform.second + first * firstDimStride.in, side + 2 * first, slice);
                         });
                teamBarrier();
            }
        });
    }

    std::int64_t firstDimSize;
    std::vector<Dim> middleDims;
    ItemSpacing firstDimStride;
    std::int64_t lastColumnOffset;
    std::int64_t howmany;
    ItemSpacing distance;
    std::int64_t sideOuterStride = 0;
    WorkLayout work{1, 0};
    std::int64_t slicesPerBlock = 2;
    std::unique_ptr<RestPlan> restPlan;
    std::unique_ptr<SlicePlan> sliceBlockPlan;
    std::unique_ptr<SlicePlan> oneSlicePlan;
    std::unique_ptr<ColumnPlan> firstDimPlanOut;
    std::unique_ptr<BackwardColumnPlan> firstDimPlanBackward;
    std::unique_ptr<BackwardColumnPlan> lastColumnPlan;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
