// The middle axes of a transform of rank 4 or more (axes 1 to n-2) and the
// walk over their lines. A line is one combination of middle-axis indices:
// at a line, one column plan transforms every complex column of the innermost
// row along axis 0 at once, so the axis-0 pass is one plan call per line,
// whatever strides the middle axes have.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <vector>

#include "parallel/calls.h"
#include "parallel/partition.h"
#include "parallel/records.h"
#include "parallel/regions.h"

namespace zun::fft::omp {

// The middle records dims[1] .. dims[n-2] with every zero stride of the given
// layouts replaced by its packed value, so that line addresses need no
// defaults any more. `inLayout` fills the inStride fields; `outLayout`, when
// the strategy has a second layout, the outStride fields. With one layout
// the outStride fields are cleared: the walk sums both offsets, and the
// caller's unused ones, which no layout check bounds, could overflow it.
inline std::vector<Dim> makeMiddleDims(std::size_t rank, const Dim* dims, Layout inLayout)
{
    std::vector<Dim> middle(dims + 1, dims + rank - 1);
    for (std::size_t axis = 1; axis + 1 < rank; ++axis)
        middle[axis - 1] = {dims[axis].size, effectiveStride(rank, dims, axis, inLayout), 0};
    return middle;
}

inline std::vector<Dim> makeMiddleDims(std::size_t rank, const Dim* dims, Layout inLayout, Layout outLayout)
{
    std::vector<Dim> middle = makeMiddleDims(rank, dims, inLayout);
    for (std::size_t axis = 1; axis + 1 < rank; ++axis)
        middle[axis - 1].outStride = effectiveStride(rank, dims, axis, outLayout);
    return middle;
}

// Where a line starts, in reals, in the layout of the inStride fields and in
// that of the outStride fields.
struct LineOffsets {
    std::int64_t in = 0;
    std::int64_t out = 0;

    std::int64_t of(bool outLayout) const { return outLayout ? out : in; }
};

// Visits every line spanned by the records [first, last) in lexicographic
// order, the first record's index changing slowest; an empty range is one
// line, a record of size 0 or below none.
template <typename Visit>
void forEachLine(const Dim* first, const Dim* last, const LineOffsets& at, Visit&& visit)
{
    if (first == last) {
        visit(at);
        return;
    }
    for (std::int64_t i = 0; i < first->size; ++i)
        forEachLine(first + 1, last, LineOffsets{at.in + i * first->inStride, at.out + i * first->outStride}, visit);
}

// One thread's part of an axis-0 pass: the lines are dealt out by their axis-1
// index over the team that actually runs, and each thread walks every line
// of axes 2 to n-2 below its own indices, in order.
inline Share ownAxis1(const std::vector<Dim>& middle, const Team& team)
{
    return splitRange(middle.front().size, team.size, team.thread, 1);
}

template <typename Visit>
void forEachOwnLine(const std::vector<Dim>& middle, const Team& team, Visit&& visit)
{
    const Dim& axis1 = middle.front();
    const Share share = ownAxis1(middle, team);
    for (std::int64_t i = share.begin; i < share.end; ++i)
        forEachLine(middle.data() + 1, middle.data() + middle.size(),
                    LineOffsets{i * axis1.inStride, i * axis1.outStride}, visit);
}

// The axis-0 pass of a strided strategy: one team of `slices.threads()` with
// no binding request; each thread calls the in-place column `plan` on its own
// lines of `data`, whose strides are those of the `outLayout` fields or not,
// with its slice counted from `sliceBase`.
template <typename T, typename Slices>
void linePass(const std::vector<Dim>& middle, const Slices& slices, const InplaceCompute<T>& plan, const Call& call,
              T* data, bool outLayout, T* sliceBase)
{
    unboundRegion(slices.threads(), [&](const Team& team) {
        T* slice = slices.slice(sliceBase, team);
        forEachOwnLine(middle, team, [&](const LineOffsets& line) {
            invoke(plan, call, Arrays<T, Placement::Inplace>{data + line.of(outLayout)}, slice);
        });
    });
}

}  // namespace zun::fft::omp
