// What the seven plane-team strategies share: their teams, the key records and
// tuning pointers of their three axes, and the protocol of a compute call.
//
// A rank-3 transform is N0 planes of N1 rows of N2 elements. The outer team
// (bound spread) owns shares of the planes and of the first-axis items; under
// every outer thread an inner team (bound close) works through them. Per
// transform, region A transforms the owned planes and region B the owned
// first-axis items; a barrier of the outer team between them makes every plane
// complete before any first-axis item, which crosses all planes, starts.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "parallel/strategy.h"
#include "planeteams/plane_team_sizing.h"

namespace zun::fft::omp {

template <typename T, Kind K>
NestedTeams planeTeams(const StrategyContext<T, K>& context, std::int64_t planeReals, std::int64_t planeCount)
{
    return sizePlaneTeams(context.threads, context.packages,
                          static_cast<std::uint64_t>(context.caches.threeQuarterL3Reals), planeReals, planeCount,
                          context.activeLevels);
}

// Key records of the plans along each axis: first-axis plans get the whole
// key, in-plane column plans record 1, row plans record 2.
struct AxisKeys {
    const PlanKey* firstDim;
    const PlanKey* columns;
    const PlanKey* rows;
};

inline AxisKeys axisKeys(const PlanKey* key) { return {key, keyRecord(key, 1), keyRecord(key, 2)}; }

// Tuning pointers of the plans along the two outer axes. Both entries are
// asked for before either is written; when the first two axes have equal
// lengths, the first-axis plans share the column plans' entry.
template <typename T>
struct OuterAxisTuning {
    std::shared_ptr<T> columns;
    std::shared_ptr<T> firstDim;
};

template <Placement P, typename Planner, typename T>
OuterAxisTuning<T> outerAxisTuning(const Planner& inner, const Dim* dims, const AxisKeys& keys,
                                   const std::shared_ptr<T>& tuning)
{
    const std::int64_t columnIndex = tuningIndexFor<P>(inner, 1, &dims[2], keys.rows);
    const std::int64_t firstDimIndex =
        dims[0].size == dims[1].size ? columnIndex : tuningIndexFor<P>(inner, 2, &dims[1], keys.columns);
    OuterAxisTuning<T> pointers;
    pointers.columns = aliasTuning(tuning, columnIndex, keys.columns[0]);
    pointers.firstDim = aliasTuning(tuning, firstDimIndex, keys.firstDim[0]);
    return pointers;
}

// Where an outer thread stands for a whole call: its planes, and its share of
// the first-axis items (flattened columns of a packed plane in units of
// lineColumns, or the rows of dims[1] one by one).
struct OuterShares {
    Team outer;
    Share planes;
    Share firstAxis;
};

// Complex strategies transform the planes first in both directions; real ones
// run the first axis first when going backward, undoing the forward order.
enum class PassOrder { PlanesFirst, FirstAxisFirst };

struct PlaneTeamShape {
    NestedTeams teams;
    std::int64_t howmany;
    std::int64_t planeCount;
    std::int64_t firstAxisItems;
    std::int64_t firstAxisUnit;
};

// The first-axis items: with packed rows the flattened columns of a plane
// (rowCount * rowColumns) in units of lineColumns, else the dims[1] rows.
template <typename T, bool PackedRows>
PlaneTeamShape planeTeamShape(const NestedTeams& teams, std::int64_t howmany, std::int64_t planeCount,
                              std::int64_t rowCount, std::int64_t rowColumns)
{
    if constexpr (PackedRows) return {teams, howmany, planeCount, rowCount * rowColumns, lineColumns<T>};
    else return {teams, howmany, planeCount, rowCount, 1};
}

// One compute call: one outer region; per transform the two inner regions in
// `order` with the outer barrier between them. No barrier follows the second
// region unless `closeEachTransform`: an outer thread that is done may start
// the next transform, which touches other data (the real out-of-place backward
// direction closes each one: the next rewrites the side buffer that all outer
// threads read). planePass and firstAxisPass
// are called as (transform, OuterShares, inner Team).
template <typename PlanePass, typename FirstAxisPass>
void runPlaneTeams(const PlaneTeamShape& shape, PassOrder order, PlanePass&& planePass, FirstAxisPass&& firstAxisPass,
                   bool closeEachTransform = false)
{
    outerRegion(shape.teams.outerThreads, [&](const Team& outer) {
        const OuterShares at{outer, splitRange(shape.planeCount, outer.size, outer.thread, 1),
                             splitRange(shape.firstAxisItems, outer.size, outer.thread, shape.firstAxisUnit)};
        for (std::int64_t transform = 0; transform < shape.howmany; ++transform) {
            auto planes = [&] {
                innerRegion(shape.teams.innerThreads, [&](const Team& inner) { planePass(transform, at, inner); });
            };
            auto firstAxis = [&] {
                innerRegion(shape.teams.innerThreads,
                            [&](const Team& inner) { firstAxisPass(transform, at, inner); });
            };
            if (order == PassOrder::PlanesFirst) {
                planes();
                teamBarrier();
                firstAxis();
            } else {
                firstAxis();
                teamBarrier();
                planes();
            }
            if (closeEachTransform) teamBarrier();
        }
    });
}

// Region A on one inner thread: for each owned plane, one step, a barrier of
// the inner team (the second step crosses what every inner thread did in the
// first), the other step. All inner threads walk the same planes, so they
// meet the same barriers; a thread without planes meets none.
template <typename First, typename Second>
void forEachPlane(const Share& planes, First&& first, Second&& second)
{
    for (std::int64_t plane = planes.begin; plane < planes.end; ++plane) {
        first(plane);
        teamBarrier();
        second(plane);
    }
}

// The plans of region A and where they find their planes and rows. Row plans
// read the source and write the destination; the in-plane column plans run in
// place on the destination.
template <typename T, Placement P, typename RowPlan>
struct PlanePlans {
    const PlanSet<RowPlan>& rows;
    const PlanSet<InplaceCompute<T>>& columns;
    Spacing planesApart;
    Spacing rowsApart;
};

enum class PlaneSteps { RowsFirst, ColumnsFirst };

// Region A on one inner thread: the rows and the in-plane columns of every
// owned plane, in the order of `steps`, each with its own call (the extra
// argument reaches only the pass that runs first).
template <typename T, Placement P, typename RowPlan>
void transformPlanes(const PlanePlans<T, P, RowPlan>& plans, PlaneSteps steps, const Call& rowCall,
                     const Call& columnCall, const Arrays<T, P>& transform, const Share& planes, const Team& inner,
                     T* slice)
{
    const Share rowShare = plans.rows.share(inner);
    const Share columnShare = plans.columns.share(inner);
    auto rows = [&](std::int64_t p) {
        const Arrays<T, P> plane = plans.planesApart.item(transform, p);
        plans.rows.walk(rowShare, [&](const RowPlan& plan, std::int64_t row) {
            invoke(plan, rowCall, plans.rowsApart.item(plane, row), slice);
        });
    };
    auto columns = [&](std::int64_t p) {
        const auto plane = written(plans.planesApart.item(transform, p));
        plans.columns.walk(columnShare, [&](const InplaceCompute<T>& plan, std::int64_t column) {
            invoke(plan, columnCall, adjacentColumns.item(plane, column), slice);
        });
    };
    if (steps == PlaneSteps::ColumnsFirst) forEachPlane(planes, columns, rows);
    else forEachPlane(planes, rows, columns);
}

// The first-axis plans of a plane-team class: with packed rows a set over the
// flattened columns, in whole groups and blocks of about one share of the
// whole nested team; otherwise one plan that covers one dims[1] row.
template <typename T, bool PackedRows>
using FirstDimPlans = std::conditional_t<PackedRows, PlanSet<InplaceCompute<T>>, std::unique_ptr<InplaceCompute<T>>>;

template <typename T, bool PackedRows>
FirstDimPlans<T, PackedRows> firstDimPlans(std::int64_t flattenedColumns, const NestedTeams& teams)
{
    if constexpr (PackedRows) return PlanSet<InplaceCompute<T>>(flattenedColumns, lineColumns<T>, teams.threadCount());
    else return nullptr;
}

// Region B of the packed classes on one inner thread: its part of the outer
// thread's flattened columns, in place on the destination transform. The
// last inner thread of the last outer thread also runs the tail.
template <typename T>
void transformFirstAxis(const PlanSet<InplaceCompute<T>>& plans, const Call& call,
                        const Arrays<T, Placement::Inplace>& destination, std::int64_t /*rowStride*/,
                        const Share& outerShare, const Team& inner, T* slice)
{
    plans.walk(shareWithin(outerShare, inner, lineColumns<T>), [&](const InplaceCompute<T>& plan, std::int64_t column) {
        invoke(plan, call, adjacentColumns.item(destination, column), slice);
    });
}

// Region B of the strided classes on one inner thread: one call per dims[1]
// row of its part of the outer thread's rows, covering that row's adjacent
// elements in every plane.
template <typename T>
void transformFirstAxis(const std::unique_ptr<InplaceCompute<T>>& plan, const Call& call,
                        const Arrays<T, Placement::Inplace>& destination, std::int64_t rowStride,
                        const Share& outerShare, const Team& inner, T* slice)
{
    const Share rows = shareWithin(outerShare, inner, 1);
    for (std::int64_t row = rows.begin; row < rows.end; ++row)
        invoke(*plan, call, destination.at(row * rowStride, 0), slice);
}

// "Name<floatNN_t>(N0xN1xROW_bHOWMANY/OUTER/INNER)": ROW is N2 for complex
// transforms and the sizes piece of the row block plan's description for real
// ones.
template <typename T>
std::string describePlaneTeams(const char* name, std::int64_t planeCount, std::int64_t rowCount,
                               const std::string& row, std::int64_t howmany, const NestedTeams& teams)
{
    return describeNested<T>(name, planeCount, std::to_string(rowCount) + "x" + row, howmany, teams.outerThreads,
                             teams.innerThreads);
}

}  // namespace zun::fft::omp
