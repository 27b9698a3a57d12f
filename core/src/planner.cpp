// The serial planner factories of the stand-in core, backed by FFTW3.
#include "computes.h"

#include <zun/fft/planner.h>

#include <optional>
#include <type_traits>

namespace zun::fft {
namespace detail {
namespace {

// _Float16 has no FFTW; its transforms run in float inside the work buffer.
template <typename T>
inline constexpr bool convertsThroughFloat = std::is_same_v<T, _Float16>;
template <typename T>
using StagingReal = std::conditional_t<convertsThroughFloat<T>, float, T>;

template <typename T>
const char* typeName() {
    if constexpr (std::is_same_v<T, float>) return "float";
    else if constexpr (std::is_same_v<T, double>) return "double";
    else return "half";
}

// Strictly negative: -0.0 and NaN do not ask for tuning.
template <typename T>
bool isTuningMode(const std::shared_ptr<T>& tuning) {
    return tuning && static_cast<float>(tuning.get()[0]) < 0.0f;
}

// A make request in the stand-in's terms; column requests are rank-1
// requests whose strides the caller always spells out.
struct Request {
    bool column = false;
    std::vector<std::int64_t> sizes;
    std::vector<std::int64_t> inStrides;
    std::vector<std::int64_t> outStrides;
    std::int64_t count = 1;
    std::int64_t inDistance = 0;
    std::int64_t outDistance = 0;
};

std::optional<Request> parseRequest(std::size_t rank, const Dim* dims, const Dim* batch) {
    if (!dims || rank == 0) return std::nullopt;
    Request request;
    request.column = rank == columnRank;
    const std::size_t axes = request.column ? 1 : rank;
    for (std::size_t k = 0; k < axes; ++k) {
        if (dims[k].size < 1) return std::nullopt;
        request.sizes.push_back(dims[k].size);
        request.inStrides.push_back(dims[k].inStride);
        request.outStrides.push_back(dims[k].outStride);
    }
    if (batch) {
        if (batch->size < 0) return std::nullopt;
        request.count = batch->size == 0 ? 1 : batch->size;
        request.inDistance = batch->inStride;
        request.outDistance = batch->outStride;
    }
    return request;
}

// Plan names carry no 'b', 'v' or '(' before the sizes: callers parse them.
std::string planName(const std::string& kind, const Request& request) {
    std::string name = kind + "(";
    for (std::size_t k = 0; k < request.sizes.size(); ++k)
        name += (k ? "x" : "") + std::to_string(request.sizes[k]);
    return name + (request.column ? "_v" : "_b") + std::to_string(request.count) + ")";
}

std::int64_t pointCount(std::size_t rank, const Dim* dims, bool columnsAllowed) {
    if (!dims || rank == 0 || (rank == columnRank && !columnsAllowed)) return -1;
    const std::size_t axes = rank == columnRank ? 1 : rank;
    std::int64_t points = 1;
    for (std::size_t k = 0; k < axes; ++k) {
        if (dims[k].size < 1 || __builtin_mul_overflow(points, dims[k].size, &points)) return -1;
    }
    return points;
}

LayoutKind stagingInputKind(Transform transform) {
    switch (transform) {
        case Transform::RealToComplex: return LayoutKind::PaddedReal;
        case Transform::ComplexToReal: return LayoutKind::PaddedComplex;
        default: return LayoutKind::Complex;
    }
}

LayoutKind stagingOutputKind(Transform transform) {
    switch (transform) {
        case Transform::RealToComplex: return LayoutKind::PaddedComplex;
        case Transform::ComplexToReal: return LayoutKind::PaddedReal;
        default: return LayoutKind::Complex;
    }
}

template <typename T>
std::unique_ptr<Pass<T>> makeStagedTransform(Transform transform, const std::vector<std::int64_t>& sizes,
                                             const View& in, const View& out, bool tuning) {
    const std::int64_t count = in.extents[0];
    const std::optional<View> packedIn = makePackedView(stagingInputKind(transform), sizes, count);
    const std::optional<View> packedOut = makePackedView(stagingOutputKind(transform), sizes, count);
    if (!packedIn || !packedOut) return nullptr;
    Staging staging;
    staging.gathers.push_back({Operand::Source, {in, *packedIn, 0}});
    staging.scatter = {out, *packedOut, 0};
    staging.transform = {transform, sizes, *packedIn, *packedOut, true};
    staging.transformReals = packedIn->strides[0];
    return makeStagedPass<T, StagingReal<T>>(std::move(staging), count, tuning);
}

// `mustStage` is for FFTW problems that would destroy a source the caller
// expects to keep. Layouts with a negative stride or distance are staged too:
// FFTW 3.3.10's planner can recurse without end on some of them (rows in
// reverse order), so FFTW only ever sees the packed staging views.
template <typename T>
std::unique_ptr<Pass<T>> makeTransform(Transform transform, const std::vector<std::int64_t>& sizes, const View& in,
                                       const View& out, bool inplace, bool tuning, bool mustStage = false) {
    // No caller's array reaches further than the machine's memory: such a
    // layout is declined whether or not planning would need that memory.
    if (!fitsInMemory<T>(in) || !fitsInMemory<T>(out)) return nullptr;
    if constexpr (convertsThroughFloat<T>) {
        return makeStagedTransform<T>(transform, sizes, in, out, tuning);
    } else {
        if (mustStage || hasNegativeStride(in) || hasNegativeStride(out))
            return makeStagedTransform<T>(transform, sizes, in, out, tuning);
        return makeDirectPass<T>({transform, sizes, in, out, inplace}, tuning);
    }
}

template <typename T>
Directions<T> complexDirections(const Request& request, bool inplace, bool tuning) {
    const std::optional<View> in =
        makeView(LayoutKind::Complex, request.sizes, request.inStrides, request.count, request.inDistance);
    const std::optional<View> out =
        inplace ? in
                : makeView(LayoutKind::Complex, request.sizes, request.outStrides, request.count, request.outDistance);
    if (!in || !out) return {};
    return {makeTransform<T>(Transform::ComplexForward, request.sizes, *in, *out, inplace, tuning),
            makeTransform<T>(Transform::ComplexBackward, request.sizes, *out, *in, inplace, tuning)};
}

// In place the real rows and their complex halves share the input strides.
template <typename T>
Directions<T> realDirections(const Request& request, bool inplace, bool tuning) {
    const std::optional<View> real = makeView(inplace ? LayoutKind::PaddedReal : LayoutKind::Real, request.sizes,
                                              request.inStrides, request.count, request.inDistance);
    const std::optional<View> half =
        makeView(LayoutKind::PaddedComplex, request.sizes, inplace ? request.inStrides : request.outStrides,
                 request.count, inplace ? request.inDistance : request.outDistance);
    if (!real || !half) return {};
    // FFTW_PRESERVE_INPUT only exists for one-dimensional c2r.
    const bool c2rWouldDestroySource = !inplace && request.sizes.size() > 1;
    return {makeTransform<T>(Transform::RealToComplex, request.sizes, *real, *half, inplace, tuning),
            makeTransform<T>(Transform::ComplexToReal, request.sizes, *half, *real, inplace, tuning,
                             c2rWouldDestroySource)};
}

View withLastExtent(View view, std::int64_t extent) {
    view.extents.back() = extent;
    return view;
}

// The split request's records: outer axes {size, real line stride, side
// stride}, innermost {N, 1, -}, batch {count, real distance, side distance}.
template <typename T>
std::unique_ptr<Pass<T>> makeSplitPass(std::size_t rank, const Dim* dims, const Dim* batch, bool tuning) {
    const std::optional<Request> request = parseRequest(rank, dims, batch);
    if (!request || request->column) return nullptr;
    const std::vector<std::int64_t>& sizes = request->sizes;
    const std::int64_t count = request->count;
    const std::int64_t n = sizes.back();
    const std::int64_t halfLength = n / 2 + 1;

    View lines;  // each line's reals in the destination
    View sideValues;
    lines.extents.push_back(count);
    lines.strides.push_back(request->inDistance);
    sideValues.extents.push_back(count);
    sideValues.strides.push_back(request->outDistance);
    for (std::size_t axis = 0; axis + 1 < rank; ++axis) {
        lines.extents.push_back(sizes[axis]);
        lines.strides.push_back(request->inStrides[axis]);
        sideValues.extents.push_back(sizes[axis]);
        sideValues.strides.push_back(request->outStrides[axis]);
    }
    lines.extents.push_back(n);
    lines.strides.push_back(1);
    sideValues.extents.push_back(1);
    sideValues.strides.push_back(2);
    sideValues.elementReals = 2;
    View leadingValues = withLastExtent(lines, halfLength - 1);
    leadingValues.strides.back() = 2;
    leadingValues.elementReals = 2;

    const std::optional<View> packedHalf = makePackedView(LayoutKind::PaddedComplex, sizes, count);
    const std::optional<View> packedReal = makePackedView(LayoutKind::PaddedReal, sizes, count);
    if (!packedHalf || !packedReal || !fitsInMemory<T>(lines) || !fitsInMemory<T>(sideValues)) return nullptr;
    Staging staging;
    staging.gathers.push_back({Operand::Source, {leadingValues, withLastExtent(*packedHalf, halfLength - 1), 0}});
    staging.gathers.push_back({Operand::Side, {sideValues, withLastExtent(*packedHalf, 1), 2 * (halfLength - 1)}});
    staging.scatter = {lines, *packedReal, 0};
    staging.transform = {Transform::ComplexToReal, sizes, *packedHalf, *packedReal, true};
    staging.transformReals = packedHalf->strides[0];
    return makeStagedPass<T, StagingReal<T>>(std::move(staging), count, tuning);
}

template <typename T>
std::unique_ptr<InplaceCompute<T>> inplacePlan(Directions<T> passes, std::string name) {
    if (!passes) return nullptr;
    return std::make_unique<InplacePlan<T>>(std::move(passes), std::move(name));
}

template <typename T>
std::unique_ptr<OoplaceCompute<T>> ooplacePlan(Directions<T> passes, std::string name) {
    if (!passes) return nullptr;
    return std::make_unique<OoplacePlan<T>>(std::move(passes), std::move(name));
}

// What both kinds of planner answer alike.
template <typename Base>
class PlannerCommon : public Base {
public:
    using T = typename Base::Real;

    // The number of points a request transforms, or -1 when it cannot be
    // planned; strides never change the answer.
    std::int64_t queryInplace(std::size_t rank, const Dim* dims, bool) const override {
        return pointCount(rank, dims, !Base::isRealToComplex);
    }
    std::int64_t queryOoplace(std::size_t rank, const Dim* dims, bool) const override {
        return pointCount(rank, dims, !Base::isRealToComplex);
    }
    // FFTW needs no auxiliary tables: A echoes its argument, B is always 0.
    std::int64_t auxiliaryA(std::int64_t value) const override { return value; }
    std::int64_t auxiliaryB(std::int64_t) const override { return 0; }
    int threadCount() const override { return 1; }

    std::int64_t tuningIndexInplace(std::size_t, const Dim*, const PlanKey* key) const override {
        return tuningIndex(key);
    }
    std::int64_t tuningIndexOoplace(std::size_t, const Dim*, const PlanKey* key) const override {
        return tuningIndex(key);
    }
    TuningLock lockForTuning(std::size_t, const Dim*, bool, const std::shared_ptr<T>& tuning) const override {
        return isTuningMode(tuning) ? TuningLock(tuningMutex()) : TuningLock();
    }

private:
    // The index a key record names is its first data word; -1 without one.
    static std::int64_t tuningIndex(const PlanKey* key) {
        return key && (key[0] & 0xffu) ? static_cast<std::int64_t>(key[1]) : -1;
    }
};

// Make requests ignore `lockFlag`: the caller may already hold the tuning
// mutex while it plans, and FFTW planning is serialised by the stand-in's own
// planner mutex anyway.
template <typename T>
class ComplexPlanner final : public PlannerCommon<ComplexPlannerFactory<T>> {
public:
    std::unique_ptr<InplaceCompute<T>> makeInplace(std::size_t rank, const Dim* dims, const Dim* batch, bool,
                                                   const PlanKey*, const std::shared_ptr<T>& tuning) const override {
        const std::optional<Request> request = parseRequest(rank, dims, batch);
        if (!request) return nullptr;
        return inplacePlan(complexDirections<T>(*request, true, isTuningMode(tuning)), name(*request));
    }
    std::unique_ptr<OoplaceCompute<T>> makeOoplace(std::size_t rank, const Dim* dims, const Dim* batch, bool,
                                                   const PlanKey*, const std::shared_ptr<T>& tuning) const override {
        const std::optional<Request> request = parseRequest(rank, dims, batch);
        if (!request) return nullptr;
        return ooplacePlan(complexDirections<T>(*request, false, isTuningMode(tuning)), name(*request));
    }
    std::string toString() const override { return std::string("FFTW3 cc ") + typeName<T>() + " planner"; }

private:
    static std::string name(const Request& request) {
        const char* kind = request.column ? (convertsThroughFloat<T> ? "hcol" : "col")
                                          : (convertsThroughFloat<T> ? "hdft" : "dft");
        return planName(kind, request);
    }
};

template <typename T>
class RealPlanner final : public PlannerCommon<RealPlannerFactory<T>> {
public:
    std::unique_ptr<InplaceCompute<T>> makeInplace(std::size_t rank, const Dim* dims, const Dim* batch, bool,
                                                   const PlanKey*, const std::shared_ptr<T>& tuning) const override {
        const std::optional<Request> request = parseRequest(rank, dims, batch);
        if (!request || request->column) return nullptr;
        return inplacePlan(realDirections<T>(*request, true, isTuningMode(tuning)), name(*request));
    }
    std::unique_ptr<OoplaceCompute<T>> makeOoplace(std::size_t rank, const Dim* dims, const Dim* batch, bool,
                                                   const PlanKey*, const std::shared_ptr<T>& tuning) const override {
        const std::optional<Request> request = parseRequest(rank, dims, batch);
        if (!request || request->column) return nullptr;
        return ooplacePlan(realDirections<T>(*request, false, isTuningMode(tuning)), name(*request));
    }
    std::unique_ptr<SplitBackwardCompute<T>> makeSplitBackward(std::size_t rank, const Dim* dims, const Dim* batch,
                                                               const PlanKey*,
                                                               const std::shared_ptr<T>& tuning) const override {
        std::unique_ptr<Pass<T>> pass = makeSplitPass<T>(rank, dims, batch, isTuningMode(tuning));
        if (!pass) return nullptr;
        return std::make_unique<SplitBackwardPlan<T>>(std::move(pass));
    }
    const ComplexFactory<T>* complexFactory() const override { return &companion_; }
    std::string toString() const override { return std::string("FFTW3 rc ") + typeName<T>() + " planner"; }

private:
    static std::string name(const Request& request) {
        return planName(convertsThroughFloat<T> ? "hrdft" : "rdft", request);
    }

    ComplexPlanner<T> companion_;
};

}  // namespace
}  // namespace detail

template <typename T, typename In, typename Out>
std::unique_ptr<Factory<T, In, Out>> makePlannerFactory() {
    if constexpr (std::is_same_v<In, Out>)
        return std::make_unique<detail::ComplexPlanner<T>>();
    else
        return std::make_unique<detail::RealPlanner<T>>();
}

template std::unique_ptr<Factory<float, std::complex<float>, std::complex<float>>>
makePlannerFactory<float, std::complex<float>, std::complex<float>>();
template std::unique_ptr<Factory<float, float, std::complex<float>>> makePlannerFactory<float, float, std::complex<float>>();
template std::unique_ptr<Factory<double, std::complex<double>, std::complex<double>>>
makePlannerFactory<double, std::complex<double>, std::complex<double>>();
template std::unique_ptr<Factory<double, double, std::complex<double>>>
makePlannerFactory<double, double, std::complex<double>>();
template std::unique_ptr<Factory<_Float16, std::complex<_Float16>, std::complex<_Float16>>>
makePlannerFactory<_Float16, std::complex<_Float16>, std::complex<_Float16>>();
template std::unique_ptr<Factory<_Float16, _Float16, std::complex<_Float16>>>
makePlannerFactory<_Float16, _Float16, std::complex<_Float16>>();

std::vector<PlanKey> makePlanKey(std::size_t rank) {
    constexpr PlanKey oneDataWord = 0x101;
    // A column request has one axis.
    const std::size_t axes = rank == columnRank ? 1 : rank;
    std::vector<PlanKey> key;
    for (std::size_t k = 0; k < axes; ++k) {
        key.push_back(oneDataWord);
        key.push_back(static_cast<PlanKey>(k + 1));
    }
    return key;
}

std::shared_mutex& tuningMutex() {
    static std::shared_mutex mutex;
    return mutex;
}

}  // namespace zun::fft
