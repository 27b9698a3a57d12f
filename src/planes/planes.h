// What the plane strategies share beyond the parallel mechanics. A rank-3
// transform whose plane (the two inner axes) fits in half the L2 cache is
// computed by one flat team, at most one thread per plane, as a pass of 2-D
// plane plans and a pass along the first axis with a barrier between them;
// every thread walks the whole batch inside one region.
#pragma once

#include <zun/core.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "parallel/strategy.h"

namespace zun::fft::omp {

// A batch of rank-3 transforms: planes along dims[0], rows along dims[1], and
// `rowLength` complex values per row of the complex array, with the row and
// plane strides and the distance of each layout.
struct PlaneShape {
    std::int64_t planes;
    std::int64_t rows;
    std::int64_t rowLength;
    std::int64_t howmany;
    ItemSpacing rowStride;
    ItemSpacing planeStride;
    ItemSpacing distance;

    PlaneShape(Kind kind, Placement placement, const Dim* dims, const Dim& batch)
        : planes(dims[0].size),
          rows(dims[1].size),
          rowLength(kind == Kind::Complex ? dims[2].size : halfColumns(dims[2].size)),
          howmany(transformCount(batch.size)),
          rowStride(axisStrides(kind, placement, 3, dims, 1)),
          planeStride(axisStrides(kind, placement, 3, dims, 0)),
          distance(distances(kind, placement, 3, dims, batch))
    {
    }

    // No more threads than planes.
    int teamSize(int threads) const { return static_cast<int>(std::min<std::int64_t>(planes, threads)); }

    // A plane of back-to-back rows as one run of adjacent complex columns.
    std::int64_t planeColumns() const { return rows * rowLength; }

    // The first axis of a layout whose planes are `stride` reals apart, and
    // out of place `outStride` in the plan's second layout.
    Dim firstAxis(std::int64_t stride, std::int64_t outStride = 0) const { return {planes, stride, outStride}; }

    // The rows of the array a direction writes, `Spacing::item` of that array.
    Spacing writtenRows(const Call& call) const
    {
        const std::int64_t stride = spacingFor(call, rowStride).second;
        return {stride, stride};
    }

    // The plane plans' sizes are cut out of the block plan's description.
    template <typename T, typename Plan>
    std::string describe(const char* name, const PlanSet<Plan>& planePlans, int threads) const
    {
        return describeFlat<T>(name, planes, sizesBetweenParenAndCount(planePlans.blockPlan().toString()), howmany,
                               threads);
    }
};

template <Kind K, Placement P>
constexpr const char* planeStrategyName()
{
    if constexpr (K == Kind::Complex) return P == Placement::Inplace ? "OmpInplaceCC" : "OmpOoplaceCC";
    else return P == Placement::Inplace ? "OmpInplaceRC" : "OmpOoplaceRC";
}

// The first-axis plans take their tuning from the entry that the wrapped
// factory names for the plane sub-problem, or for the innermost axis alone
// when the first two axes are equally long; the copy rule reads the header of
// record 0, the key those plans receive.
template <Placement P, typename Planner, typename T>
std::shared_ptr<T> firstAxisTuning(const Planner& inner, const Dim* dims, const PlanKey* key,
                                   const std::shared_ptr<T>& tuning)
{
    const std::int64_t index = dims[0].size == dims[1].size
                                   ? tuningIndexFor<P>(inner, 1, &dims[2], keyRecord(key, 2))
                                   : tuningIndexFor<P>(inner, 2, &dims[1], keyRecord(key, 1));
    return aliasTuning(tuning, index, key[0]);
}

// Complex transforms, and real ones forward, transform the planes first;
// backward, real planes turn the half spectrum back into real rows, so the
// first axis must be done by then.
template <Kind K, typename Planes, typename FirstAxis>
void planePasses(const Call& call, Planes&& planes, FirstAxis&& firstAxis)
{
    if constexpr (K == Kind::Complex) passesInOrder(call, planes, firstAxis);
    else rowsFirstForward(call, planes, firstAxis);
}

// The frame of every plane strategy: the shape, the flat team's work slices,
// the plane plans, the batch loop with its two passes, and the description.
// The derived class asks for its first-axis plans and runs them.
template <typename Derived, typename T, Kind K, Placement P, typename Work = FlatSlices<T>>
class PlaneStrategy : public Strategy<Derived, T, P> {
public:
    using PlanePlan = Compute<T, P>;

    std::string toString() const override
    {
        return shape.template describe<T>(planeStrategyName<K, P>(), planePlans, work.threads());
    }

protected:
    template <typename... SideReals>
    PlaneStrategy(const StrategyContext<T, K>& context, const Dim* dims, const Dim* batch, SideReals... sideReals)
        : shape(K, P, dims, *batch),
          work(shape.teamSize(context.threads), sideReals...),
          planePlans(shape.planes, 1, work.threads())
    {
    }

    // The first-axis tuning entry is settled before any plan is asked for;
    // then the plane plans: the request's own plane axes with the caller's
    // tuning pointer. Returns the first axis's tuning pointer.
    std::shared_ptr<T> requestPlanePlans(const StrategyContext<T, K>& context, const Dim* dims, const PlanKey* key,
                                         const std::shared_ptr<T>& tuning)
    {
        auto firstAxis = firstAxisTuning<P>(context.inner, dims, key, tuning);
        planePlans.request({Piece::Block, Piece::Unit}, subPlans,
                           planMaker<P>(context.inner, 2, dims + 1, shape.planeStride, keyRecord(key, 1), tuning));
        return firstAxis;
    }

    // Every thread of the team runs every transform: its share of the planes,
    // the barrier, then firstAxis(call, team, written transform, slice), in
    // the order of planePasses. The slices start at `slices`.
    template <typename FirstAxis>
    void runTransforms(const Call& call, const Arrays<T, P>& arrays, T* slices, FirstAxis&& firstAxis) const
    {
        const Spacing transforms = spacingFor(call, shape.distance);
        const Spacing planesApart = spacingFor(call, shape.planeStride);
        flatBatch(work.threads(), shape.howmany, [&](const Team& team, std::int64_t item) {
            T* slice = work.slice(slices, team);
            const Arrays<T, P> transform = transforms.item(arrays, item);
            planePasses<K>(
                call, [&](const Call& planes) { runPass(planePlans, team, planes, transform, planesApart, slice); },
                [&](const Call& rest) { firstAxis(rest, team, written(transform), slice); });
        });
    }

    // One first-axis call per row of the thread's share, on the written array.
    void rowPass(const InplaceCompute<T>& rowPlan, const Call& call, const Team& team,
                 const Arrays<T, Placement::Inplace>& written, T* slice) const
    {
        const Spacing rowsApart = shape.writtenRows(call);
        const Share rows = rowShare(team);
        for (std::int64_t row = rows.begin; row < rows.end; ++row)
            invoke(rowPlan, call, rowsApart.item(written, row), slice);
    }

    Share rowShare(const Team& team) const { return splitRange(shape.rows, team.size, team.thread, 1); }

    PlaneShape shape;
    Work work;
    PlanSet<PlanePlan> planePlans;
    SubPlans subPlans;
};

}  // namespace zun::fft::omp
