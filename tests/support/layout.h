// Where the data points of a transform request live in its arrays, computed
// independently of the library so that tests do not inherit its mistakes.
#pragma once

#include <zun/core.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace zun::fft::support {

enum class Kind { ComplexToComplex, RealToComplex };
enum class Direction { Forward, Backward };

template <typename In, typename Out>
inline constexpr Kind kindOf = std::is_same_v<In, Out> ? Kind::ComplexToComplex : Kind::RealToComplex;

struct Request {
    std::size_t rank = 1;  // columnRank is read as one axis
    std::vector<Dim> dims;
    Dim batch{};

    std::size_t axes() const { return rank == columnRank ? 1 : rank; }
    std::int64_t transforms() const { return batch.size >= 2 ? batch.size : 1; }
};

std::string describe(const Request& request);
const char* name(Kind kind);
const char* name(Placement placement);
const char* name(Direction direction);

constexpr std::int64_t pad(std::int64_t n) { return (n | 1) + 1; }

// How one array of a request is laid out. The half formats hold N/2 + 1
// complex values along the innermost axis; InplaceHalf is the complex view of
// the InplaceReal rows.
enum class Format { ComplexInput, ComplexOutput, RealInput, InplaceReal, InplaceHalf, HalfOutput };

// Per axis, outermost first, in reals.
std::vector<std::int64_t> effectiveStrides(Format format, const Request& request);
std::int64_t defaultDistance(Format format, const Request& request);
// The batch distance of the request for this format, or its default when 0.
std::int64_t distance(Format format, const Request& request);

// The points of one array: axis 0 is the batch, then the transform axes. Each
// point is one real or one complex value (two adjacent reals). Strides and
// distances are taken to be non-negative.
class Layout {
public:
    Layout(int pointReals, std::vector<std::int64_t> counts, std::vector<std::int64_t> strides);
    static Layout of(Format format, const Request& request);

    int pointReals() const { return pointReals_; }
    const std::vector<std::int64_t>& counts() const { return counts_; }
    const std::vector<std::int64_t>& strides() const { return strides_; }
    std::int64_t points() const;
    // One past the highest real that a point occupies.
    std::int64_t extent() const;

    // Calls visit(offset) for every point in index order, innermost fastest;
    // offset is the point's first real.
    template <typename Visit>
    void forEach(Visit&& visit) const;
    std::vector<std::int64_t> offsets() const;

private:
    int pointReals_;
    std::vector<std::int64_t> counts_;
    std::vector<std::int64_t> strides_;
};

// The layouts one direction of a request reads (source) and writes (target).
// In place both describe the same array.
struct TransformLayouts {
    Layout source;
    Layout target;
    bool inplace;

    std::int64_t sourceExtent() const;
    std::int64_t targetExtent() const;
};

TransformLayouts layoutsFor(Kind kind, Placement placement, Direction direction, const Request& request);

template <typename Visit>
void Layout::forEach(Visit&& visit) const
{
    if (points() == 0) return;
    const std::size_t axes = counts_.size();
    const std::int64_t innerCount = counts_.back();
    const std::int64_t innerStride = strides_.back();
    std::vector<std::int64_t> index(axes, 0);
    std::int64_t base = 0;
    for (;;) {
        for (std::int64_t i = 0; i < innerCount; ++i) visit(base + i * innerStride);
        std::size_t k = axes - 1;
        for (;;) {
            if (k == 0) return;
            --k;
            base += strides_[k];
            if (++index[k] < counts_[k]) break;
            base -= strides_[k] * counts_[k];
            index[k] = 0;
        }
    }
}

}  // namespace zun::fft::support
