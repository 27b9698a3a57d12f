#include "support/layout.h"

#include <algorithm>
#include <sstream>

namespace zun::fft::support {

namespace {

bool readsOutStrides(Format format) { return format == Format::ComplexOutput || format == Format::HalfOutput; }

bool isPadded(Format format)
{
    return format == Format::InplaceReal || format == Format::InplaceHalf || format == Format::HalfOutput;
}

bool isHalf(Format format) { return format == Format::InplaceHalf || format == Format::HalfOutput; }

int pointRealsOf(Format format) { return format == Format::RealInput || format == Format::InplaceReal ? 1 : 2; }

std::int64_t field(const Dim& dim, Format format) { return readsOutStrides(format) ? dim.outStride : dim.inStride; }

std::int64_t orDefault(std::int64_t given, std::int64_t fallback) { return given != 0 ? given : fallback; }

}  // namespace

const char* name(Kind kind) { return kind == Kind::ComplexToComplex ? "cc" : "rc"; }
const char* name(Placement placement) { return placement == Placement::Inplace ? "in place" : "out of place"; }
const char* name(Direction direction) { return direction == Direction::Forward ? "forward" : "backward"; }

std::string describe(const Request& request)
{
    std::ostringstream text;
    if (request.rank == columnRank) text << "column";
    else text << "rank " << request.rank;
    text << " dims";
    for (std::size_t k = 0; k < request.axes() && k < request.dims.size(); ++k) {
        const Dim& dim = request.dims[k];
        text << " {" << dim.size << ", " << dim.inStride << ", " << dim.outStride << "}";
    }
    text << " batch {" << request.batch.size << ", " << request.batch.inStride << ", " << request.batch.outStride
         << "}";
    return text.str();
}

std::vector<std::int64_t> effectiveStrides(Format format, const Request& request)
{
    const std::size_t n = request.axes();
    const std::vector<Dim>& dims = request.dims;
    std::vector<std::int64_t> strides(n);
    std::size_t k = n - 1;
    if (isPadded(format)) {
        strides[k] = pointRealsOf(format);
        if (n == 1) return strides;
        --k;
        strides[k] = orDefault(field(dims[k], format), pad(dims[n - 1].size));
    } else {
        strides[k] = orDefault(field(dims[k], format), pointRealsOf(format));
    }
    while (k > 0) {
        --k;
        strides[k] = orDefault(field(dims[k], format), strides[k + 1] * dims[k + 1].size);
    }
    return strides;
}

std::int64_t defaultDistance(Format format, const Request& request)
{
    if (request.axes() == 1 && isPadded(format)) return pad(request.dims[0].size);
    return request.dims[0].size * effectiveStrides(format, request)[0];
}

std::int64_t distance(Format format, const Request& request)
{
    const std::int64_t given = readsOutStrides(format) ? request.batch.outStride : request.batch.inStride;
    return orDefault(given, defaultDistance(format, request));
}

Layout::Layout(int pointReals, std::vector<std::int64_t> counts, std::vector<std::int64_t> strides)
    : pointReals_(pointReals), counts_(std::move(counts)), strides_(std::move(strides))
{
}

Layout Layout::of(Format format, const Request& request)
{
    const std::size_t n = request.axes();
    std::vector<std::int64_t> counts{request.transforms()};
    std::vector<std::int64_t> strides{distance(format, request)};
    const std::vector<std::int64_t> axisStrides = effectiveStrides(format, request);
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t size = request.dims[k].size;
        counts.push_back(k + 1 == n && isHalf(format) ? size / 2 + 1 : size);
        strides.push_back(axisStrides[k]);
    }
    return Layout(pointRealsOf(format), std::move(counts), std::move(strides));
}

std::int64_t Layout::points() const
{
    std::int64_t total = 1;
    for (std::int64_t count : counts_) total *= std::max<std::int64_t>(count, 0);
    return total;
}

std::int64_t Layout::extent() const
{
    if (points() == 0) return 0;
    std::int64_t last = 0;
    for (std::size_t k = 0; k < counts_.size(); ++k) last += (counts_[k] - 1) * strides_[k];
    return last + pointReals_;
}

std::vector<std::int64_t> Layout::offsets() const
{
    std::vector<std::int64_t> result;
    result.reserve(static_cast<std::size_t>(points()));
    forEach([&](std::int64_t offset) { result.push_back(offset); });
    return result;
}

std::int64_t TransformLayouts::sourceExtent() const
{
    return inplace ? std::max(source.extent(), target.extent()) : source.extent();
}

std::int64_t TransformLayouts::targetExtent() const
{
    return inplace ? std::max(source.extent(), target.extent()) : target.extent();
}

TransformLayouts layoutsFor(Kind kind, Placement placement, Direction direction, const Request& request)
{
    const bool inplace = placement == Placement::Inplace;
    Format input = Format::ComplexInput;
    Format output = Format::ComplexOutput;
    if (kind == Kind::ComplexToComplex) {
        if (inplace) output = input;
    } else {
        input = inplace ? Format::InplaceReal : Format::RealInput;
        output = inplace ? Format::InplaceHalf : Format::HalfOutput;
    }
    const bool forward = direction == Direction::Forward;
    return TransformLayouts{Layout::of(forward ? input : output, request),
                            Layout::of(forward ? output : input, request), inplace};
}

}  // namespace zun::fft::support
