// The stand-in core's transforms against a direct DFT in double, on every
// layout it serves, with sentinels around everything it may not touch.
#include <zun/core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using zun::fft::columnRank;
using zun::fft::Dim;
using Cd = std::complex<double>;
using Sizes = std::vector<std::int64_t>;

// ---------------------------------------------------------------- reference

std::int64_t product(const Sizes& sizes) {
    std::int64_t p = 1;
    for (std::int64_t n : sizes) p *= n;
    return p;
}

// Unnormalised multi-dimensional DFT of row-major data, one axis at a time.
std::vector<Cd> referenceDft(std::vector<Cd> x, const Sizes& sizes, int sign) {
    const double pi = std::acos(-1.0);
    std::int64_t inner = product(sizes);
    for (std::int64_t n : sizes) {
        inner /= n;
        const std::int64_t outer = product(sizes) / (n * inner);
        std::vector<Cd> line(n);
        for (std::int64_t o = 0; o < outer; ++o)
            for (std::int64_t i = 0; i < inner; ++i) {
                Cd* base = x.data() + o * n * inner + i;
                for (std::int64_t k = 0; k < n; ++k) {
                    Cd sum = 0;
                    for (std::int64_t j = 0; j < n; ++j)
                        sum += base[j * inner] * std::polar(1.0, sign * 2 * pi * double(j * k % n) / double(n));
                    line[k] = sum;
                }
                for (std::int64_t k = 0; k < n; ++k) base[k * inner] = line[k];
            }
    }
    return x;
}

// ------------------------------------------------------------------ layouts

enum class Layout { Complex, Real, PaddedReal, PaddedHalf };

std::int64_t pad(std::int64_t n) { return (n | 1) + 1; }

// Where a layout puts its points, transform by transform in row-major order.
struct Points {
    std::vector<std::int64_t> offsets;
    int reals = 1;

    std::int64_t end() const {
        std::int64_t e = 0;
        for (std::int64_t o : offsets) e = std::max(e, o + reals);
        return e;
    }
};

Sizes extentsOf(Layout layout, Sizes sizes) {
    if (layout == Layout::PaddedHalf) sizes.back() = sizes.back() / 2 + 1;
    return sizes;
}

Points layoutPoints(Layout layout, const std::vector<Dim>& dims, bool outputStrides, std::int64_t count,
                    std::int64_t distance) {
    const std::size_t n = dims.size();
    const bool padded = layout == Layout::PaddedReal || layout == Layout::PaddedHalf;
    const bool complex = layout == Layout::Complex || layout == Layout::PaddedHalf;
    const std::int64_t unit = complex ? 2 : 1;
    auto requested = [&](std::size_t k) { return outputStrides ? dims[k].outStride : dims[k].inStride; };
    Sizes sizes, strides(n);
    for (const Dim& d : dims) sizes.push_back(d.size);
    strides[n - 1] = padded || !requested(n - 1) ? unit : requested(n - 1);
    for (std::size_t k = n - 1; k-- > 0;) {
        const std::int64_t fallback = padded && k == n - 2 ? pad(sizes[n - 1]) : strides[k + 1] * sizes[k + 1];
        strides[k] = requested(k) ? requested(k) : fallback;
    }
    if (!distance) distance = padded && n == 1 ? pad(sizes[0]) : sizes[0] * strides[0];

    Points points;
    points.reals = complex ? 2 : 1;
    const Sizes extents = extentsOf(layout, sizes);
    for (std::int64_t t = 0; t < std::max<std::int64_t>(count, 1); ++t)
        for (std::int64_t flat = 0; flat < product(extents); ++flat) {
            std::int64_t offset = t * distance, rest = flat;
            for (std::size_t k = n; k-- > 0;) {
                offset += rest % extents[k] * strides[k];
                rest /= extents[k];
            }
            points.offsets.push_back(offset);
        }
    return points;
}

// ------------------------------------------------------------------ buffers

template <typename T, typename Bits>
T fromBits(Bits bits) {
    static_assert(sizeof(T) == sizeof(Bits));
    T value;
    std::memcpy(&value, &bits, sizeof(T));
    return value;
}

template <typename T>
T sentinel() {
    // A quiet NaN with a payload: any stray read of it poisons the results.
    if constexpr (sizeof(T) == 8) return fromBits<T>(std::uint64_t{0x7ff80000deadbeef});
    else if constexpr (sizeof(T) == 4) return fromBits<T>(std::uint32_t{0x7fc0beef});
    else return fromBits<T>(std::uint16_t{0x7e5b});
}

template <typename T>
bool sameBits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// An array inside sentinel-filled guard zones, starting `misalign` reals past
// a 64-byte boundary.
template <typename T>
class Arena {
public:
    static constexpr std::int64_t guard = 64;

    Arena(std::int64_t size, std::int64_t misalign) : size_(size), storage_(size + 2 * guard + 128, sentinel<T>()) {
        const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
        const std::int64_t lead = std::int64_t((64 - address % 64) % 64) / std::int64_t(sizeof(T));
        base_ = lead + guard + misalign;
        allowed_.assign(storage_.size(), false);
    }

    T* data() { return storage_.data() + base_; }
    T& operator[](std::int64_t i) { return storage_[base_ + i]; }
    std::int64_t size() const { return size_; }

    void allowWrites(const Points& points) {
        for (std::int64_t o : points.offsets)
            for (int r = 0; r < points.reals; ++r) allowed_[base_ + o + r] = true;
    }
    void allowWrites(std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) allowed_[base_ + i] = true;
    }

    // Offsets (relative to data()) of reals that changed without permission.
    std::vector<std::int64_t> strayWrites() const {
        std::vector<std::int64_t> stray;
        for (std::size_t i = 0; i < storage_.size(); ++i)
            if (!allowed_[i] && !sameBits(storage_[i], sentinel<T>())) stray.push_back(std::int64_t(i) - base_);
        return stray;
    }

    std::vector<T> snapshot() const { return storage_; }
    bool unchangedSince(const std::vector<T>& before) const {
        return std::memcmp(before.data(), storage_.data(), before.size() * sizeof(T)) == 0;
    }

private:
    std::int64_t size_;
    std::vector<T> storage_;
    std::vector<bool> allowed_;
    std::int64_t base_;
};

template <typename T>
double tolerance() {
    if constexpr (std::is_same_v<T, double>) return 1e-13;
    else if constexpr (std::is_same_v<T, float>) return 4e-6;
    else return 3e-3;
}

// Writes values (rounded to T) at the points; returns what was stored.
template <typename T>
std::vector<double> store(Arena<T>& arena, const Points& points, const std::vector<double>& values) {
    std::vector<double> stored;
    for (std::size_t p = 0; p < points.offsets.size(); ++p)
        for (int r = 0; r < points.reals; ++r) {
            T& slot = arena[points.offsets[p] + r];
            slot = static_cast<T>(values[p * points.reals + r]);
            stored.push_back(static_cast<double>(slot));
        }
    return stored;
}

template <typename T>
std::vector<double> load(Arena<T>& arena, const Points& points) {
    std::vector<double> values;
    for (std::int64_t o : points.offsets)
        for (int r = 0; r < points.reals; ++r) values.push_back(static_cast<double>(arena[o + r]));
    return values;
}

// Largest deviation relative to the largest expected magnitude.
double relativeError(const std::vector<double>& got, const std::vector<double>& want) {
    double error = 0, scale = 1e-300;
    for (std::size_t i = 0; i < want.size(); ++i) {
        error = std::max(error, std::abs(got[i] - want[i]));
        scale = std::max(scale, std::abs(want[i]));
    }
    return std::isnan(error) ? INFINITY : error / scale;
}

std::vector<double> randomReals(std::size_t n, std::mt19937& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(n);
    for (double& v : values) v = uniform(rng);
    return values;
}

// ----------------------------------------------------------- transform math

std::vector<Cd> toComplex(const std::vector<double>& interleaved) {
    std::vector<Cd> c(interleaved.size() / 2);
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = {interleaved[2 * i], interleaved[2 * i + 1]};
    return c;
}

void appendInterleaved(std::vector<double>& out, const std::vector<Cd>& values) {
    for (const Cd& v : values) {
        out.push_back(v.real());
        out.push_back(v.imag());
    }
}

// The N/2+1 leading values of the last axis of a full spectrum.
std::vector<Cd> halfOf(const std::vector<Cd>& full, const Sizes& sizes) {
    const std::int64_t n = sizes.back(), half = n / 2 + 1;
    std::vector<Cd> out;
    for (std::int64_t row = 0; row < product(sizes) / n; ++row)
        out.insert(out.end(), full.begin() + row * n, full.begin() + row * n + half);
    return out;
}

// Per transform of a batch: complex in, complex out.
std::vector<double> batchedDft(const std::vector<double>& input, const Sizes& sizes, std::int64_t count, int sign) {
    std::vector<double> out;
    const std::int64_t reals = 2 * product(sizes);
    for (std::int64_t t = 0; t < count; ++t) {
        const std::vector<double> one(input.begin() + t * reals, input.begin() + (t + 1) * reals);
        appendInterleaved(out, referenceDft(toComplex(one), sizes, sign));
    }
    return out;
}

// Per transform of a batch: real in, half spectrum out.
std::vector<double> batchedHalfSpectrum(const std::vector<double>& reals, const Sizes& sizes, std::int64_t count) {
    std::vector<double> out;
    const std::int64_t points = product(sizes);
    for (std::int64_t t = 0; t < count; ++t) {
        const std::vector<Cd> one(reals.begin() + t * points, reals.begin() + (t + 1) * points);
        appendInterleaved(out, halfOf(referenceDft(one, sizes, -1), sizes));
    }
    return out;
}

std::vector<double> scaled(std::vector<double> values, double factor) {
    for (double& v : values) v *= factor;
    return values;
}

// -------------------------------------------------------------------- cases

struct Case {
    const char* name;
    bool real;
    bool inplace;
    std::vector<Dim> dims;
    Dim batch;
    bool column = false;
    bool viaCompanion = false;  // a column plan from the rc factory's companion
};

std::string describe(const Case& c) { return std::string(c.name) + (c.inplace ? " in place" : " out of place"); }

const std::vector<Case>& complexCases() {
    static const std::vector<Case> cases = [] {
        std::vector<Case> all;
        for (bool inplace : {true, false}) {
            all.push_back({"rank1", false, inplace, {{8, 0, 0}}, {0, 0, 0}});
            all.push_back({"rank1 odd length, default distances", false, inplace, {{5, 0, 0}}, {3, 0, 0}});
            all.push_back({"rank1 strided, explicit distances", false, inplace, {{6, 4, 6}}, {3, 30, 40}});
            all.push_back({"rank2", false, inplace, {{4, 0, 0}, {6, 0, 0}}, {2, 0, 0}});
            all.push_back({"rank2 strided rows", false, inplace, {{3, 40, 0}, {5, 6, 0}}, {2, 0, 0}});
            all.push_back({"rank3", false, inplace, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}}, {2, 0, 60}});
            all.push_back({"rank2 interleaved batch", false, inplace, {{3, 24, 24}, {4, 6, 6}}, {3, 2, 2}});
            all.push_back({"rank4", false, inplace, {{2, 0, 0}, {2, 0, 0}, {3, 0, 0}, {2, 0, 0}}, {0, 0, 0}});
        }
        // Many short transforms: staged passes run them in several chunks.
        all.push_back({"rank1 long batch", false, false, {{8, 0, 0}}, {5000, 0, 0}});
        // k adjacent columns 2 reals apart; odd strides come from real arrays.
        all.push_back({"columns odd stride", false, true, {{5, 9, 0}}, {3, 2, 0}, true});
        all.push_back({"columns even stride", false, true, {{4, 8, 0}}, {4, 2, 0}, true});
        all.push_back({"columns odd strides", false, false, {{5, 9, 7}}, {3, 2, 2}, true});
        all.push_back({"companion columns", false, true, {{7, 11, 0}}, {5, 2, 0}, true, true});
        all.push_back({"companion columns", false, false, {{6, 13, 6}}, {3, 2, 2}, true, true});
        return all;
    }();
    return cases;
}

const std::vector<Case>& realCases() {
    static const std::vector<Case> cases = [] {
        std::vector<Case> all;
        for (bool inplace : {true, false}) {
            all.push_back({"rank1 even", true, inplace, {{8, 0, 0}}, {0, 0, 0}});
            all.push_back({"rank1 odd, default distances", true, inplace, {{7, 0, 0}}, {3, 0, 0}});
            all.push_back({"rank1 strided real", true, inplace, {{5, 3, 0}}, {2, 20, 0}});
            all.push_back({"rank2 odd rows", true, inplace, {{3, 0, 0}, {5, 0, 0}}, {2, 0, 0}});
            all.push_back({"rank2 padded strides", true, inplace, {{4, 10, 12}, {6, 0, 0}}, {2, 50, 60}});
            all.push_back({"rank3", true, inplace, {{2, 0, 0}, {3, 0, 0}, {5, 0, 0}}, {2, 0, 0}});
            all.push_back({"rank2 interleaved batch", true, inplace, {{3, 12, 12}, {4, 0, 0}}, {2, 6, 6}});
        }
        // Many short transforms: staged passes run them in several chunks.
        all.push_back({"rank1 long batch", true, false, {{16, 0, 0}}, {4000, 0, 0}});
        all.push_back({"rank2 long batch", true, false, {{2, 0, 0}, {16, 0, 0}}, {2000, 0, 0}});
        return all;
    }();
    return cases;
}

// The arrays one direction of a case reads and writes.
struct Direction {
    bool forward;
    Points source;
    Points destination;
};

Direction directionOf(const Case& c, bool forward) {
    const std::int64_t count = c.batch.size;
    const Layout inLayout = c.real ? (c.inplace ? Layout::PaddedReal : Layout::Real) : Layout::Complex;
    const Layout outLayout = c.real ? Layout::PaddedHalf : Layout::Complex;
    const bool outStrides = !c.inplace;
    const Points in = layoutPoints(inLayout, c.dims, false, count, c.batch.inStride);
    const Points out = c.inplace && !c.real ? in
                                            : layoutPoints(outLayout, c.dims, outStrides, count,
                                                           c.inplace ? c.batch.inStride : c.batch.outStride);
    return forward ? Direction{true, in, out} : Direction{false, out, in};
}

Sizes sizesOf(const Case& c) {
    Sizes sizes;
    for (const Dim& d : c.dims) sizes.push_back(d.size);
    return sizes;
}

// Fills the source and returns the exact result the direction must produce.
template <typename T>
std::vector<double> prepareSource(const Case& c, const Direction& d, Arena<T>& arena, std::mt19937& rng) {
    const Sizes sizes = sizesOf(c);
    const std::int64_t count = std::max<std::int64_t>(c.batch.size, 1);
    if (!c.real) {
        const std::vector<double> stored = store(arena, d.source, randomReals(d.source.offsets.size() * 2, rng));
        return batchedDft(stored, sizes, count, d.forward ? -1 : +1);
    }
    if (d.forward) {
        const std::vector<double> stored = store(arena, d.source, randomReals(d.source.offsets.size(), rng));
        return batchedHalfSpectrum(stored, sizes, count);
    }
    // A consistent Hermitian half: the spectrum of known reals.
    const std::vector<double> reals = randomReals(d.destination.offsets.size(), rng);
    store(arena, d.source, batchedHalfSpectrum(reals, sizes, count));
    return scaled(reals, double(product(sizes)));
}

template <typename T>
struct Factories {
    std::unique_ptr<zun::fft::Factory<T, std::complex<T>, std::complex<T>>> complex =
        zun::fft::makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    std::unique_ptr<zun::fft::Factory<T, T, std::complex<T>>> real =
        zun::fft::makePlannerFactory<T, T, std::complex<T>>();

    const zun::fft::RealPlannerFactory<T>& realPlanner() const {
        return dynamic_cast<const zun::fft::RealPlannerFactory<T>&>(*real);
    }
};

// A plan of either placement behind one call: (first, second, work, forward).
template <typename T>
struct MadePlan {
    std::function<void(T*, T*, T*, bool)> run;
    std::size_t workSize = 0;
    std::string name;
};

template <typename T, typename Factory>
MadePlan<T> makePlan(const Factory& factory, const Case& c) {
    const std::size_t rank = c.column ? columnRank : c.dims.size();
    MadePlan<T> made;
    if (c.inplace) {
        auto plan = factory.makeInplace(rank, c.dims.data(), &c.batch, false, nullptr, nullptr);
        if (!plan) return made;
        made.workSize = plan->workSize();
        made.name = plan->toString();
        made.run = [p = std::shared_ptr(std::move(plan))](T* data, T*, T* work, bool forward) {
            forward ? p->forward(data, work) : p->backward(data, work);
        };
    } else {
        auto plan = factory.makeOoplace(rank, c.dims.data(), &c.batch, false, nullptr, nullptr);
        if (!plan) return made;
        made.workSize = plan->workSize();
        made.name = plan->toString();
        made.run = [p = std::shared_ptr(std::move(plan))](T* first, T* second, T* work, bool forward) {
            forward ? p->forward(first, second, work) : p->backward(first, second, work);
        };
    }
    return made;
}

void expectNoStrayWrites(const std::vector<std::int64_t>& stray, const char* what) {
    EXPECT_TRUE(stray.empty()) << stray.size() << " reals of the " << what << " written outside the layout, first at "
                               << stray.front();
}

template <typename T>
void checkDirection(const Case& c, bool forward, std::int64_t misalign) {
    SCOPED_TRACE(std::string(forward ? "forward" : "backward") + ", misalign " + std::to_string(misalign));
    Factories<T> factories;
    const auto made = c.viaCompanion ? makePlan<T>(*factories.realPlanner().complexFactory(), c)
                      : c.real       ? makePlan<T>(*factories.real, c)
                                     : makePlan<T>(*factories.complex, c);
    ASSERT_TRUE(made.run) << "no plan";
    const Direction d = directionOf(c, forward);
    std::mt19937 rng(7);

    Arena<T> first(std::max(d.source.end(), c.inplace ? d.destination.end() : 0), misalign);
    Arena<T> second(c.inplace ? 0 : d.destination.end(), 3 * misalign);
    Arena<T>& target = c.inplace ? first : second;
    const std::vector<double> expected = prepareSource(c, d, first, rng);
    const std::vector<T> sourceBefore = first.snapshot();
    Arena<T> work(std::int64_t(made.workSize), misalign);
    work.allowWrites(0, work.size());

    made.run(first.data(), second.data(), work.data(), forward);

    EXPECT_LE(relativeError(load(target, d.destination), expected), tolerance<T>());
    target.allowWrites(d.destination);
    if (c.inplace) target.allowWrites(d.source);
    else EXPECT_TRUE(first.unchangedSince(sourceBefore)) << "the first array of an out-of-place plan changed";
    expectNoStrayWrites(target.strayWrites(), "destination");
    expectNoStrayWrites(work.strayWrites(), "work");
}

// Typed tests take tags: g++ 12's runtime has no typeinfo for _Float16.
template <typename T>
struct Precision {
    using Real = T;
};
template <typename Tag>
class CoreTransform : public ::testing::Test {};
using Precisions = ::testing::Types<Precision<float>, Precision<double>, Precision<_Float16>>;
TYPED_TEST_SUITE(CoreTransform, Precisions);

TYPED_TEST(CoreTransform, MatchesDirectDftOnEveryLayout) {
    for (const std::vector<Case>* cases : {&complexCases(), &realCases()})
        for (const Case& c : *cases) {
            SCOPED_TRACE(describe(c));
            for (std::int64_t misalign : {0, 1})
                for (bool forward : {true, false}) checkDirection<typename TypeParam::Real>(c, forward, misalign);
        }
}

TYPED_TEST(CoreTransform, NamesCarrySizesAndCount) {
    using T = typename TypeParam::Real;
    Factories<T> factories;
    const Case grid{"", false, true, {{12, 0, 0}, {10, 0, 0}}, {3, 0, 0}};
    const Case rows{"", true, false, {{9, 0, 0}}, {25, 0, 0}};
    const Case columns{"", false, true, {{16, 40, 0}}, {8, 2, 0}, true};
    const std::string gridName = makePlan<T>(*factories.complex, grid).name;
    const std::string rowsName = makePlan<T>(*factories.real, rows).name;
    const std::string columnsName = makePlan<T>(*factories.complex, columns).name;
    EXPECT_EQ(gridName.substr(gridName.find('(')), "(12x10_b3)");
    EXPECT_EQ(rowsName.substr(rowsName.find('(')), "(9_b25)");
    EXPECT_EQ(columnsName.substr(columnsName.find('(')), "(16_v8)");
    for (const std::string& name : {gridName, rowsName, columnsName})
        EXPECT_EQ(name.find_first_of("bv("), name.find('(')) << name;
}

TYPED_TEST(CoreTransform, DeclinesRequestsItCannotServe) {
    using T = typename TypeParam::Real;
    Factories<T> factories;
    const Dim rows[] = {{8, 0, 0}};
    const Dim negativeCount{-1, 0, 0};
    const Dim emptyAxis[] = {{0, 0, 0}};
    const Dim column[] = {{8, 10, 0}};
    const Dim columnBatch{4, 2, 0};
    EXPECT_FALSE(factories.complex->makeInplace(1, rows, &negativeCount, false, nullptr, nullptr));
    EXPECT_FALSE(factories.real->makeOoplace(1, emptyAxis, nullptr, false, nullptr, nullptr));
    EXPECT_FALSE(factories.real->makeInplace(columnRank, column, &columnBatch, false, nullptr, nullptr));
    EXPECT_EQ(factories.complex->queryInplace(1, emptyAxis, true), -1);
    EXPECT_EQ(factories.complex->queryOoplace(columnRank, column, false), 8);
    EXPECT_EQ(factories.real->queryOoplace(1, rows, true), 8);
}

// Work depends on lengths and count only, never on strides or on which
// layout the operands are in, and never grows as the count shrinks.
template <typename Factory>
void expectWorkFollowsLengthsAndCount(const Factory& factory) {
    const std::vector<Dim> packed = {{6, 0, 0}, {10, 0, 0}};
    const std::vector<Dim> strided = {{6, 40, 30}, {10, 3, 3}};
    const std::vector<Dim> swapped = {{6, 30, 40}, {10, 3, 3}};
    auto work = [&](const std::vector<Dim>& dims, std::int64_t count) {
        const Dim batch{count, 0, 0};
        return factory.makeOoplace(2, dims.data(), &batch, false, nullptr, nullptr)->workSize();
    };
    EXPECT_EQ(work(packed, 7), work(strided, 7));
    EXPECT_EQ(work(strided, 7), work(swapped, 7));
    std::size_t previous = 0;
    for (std::int64_t count : {1, 2, 7, 300, 5000}) {
        EXPECT_GE(work(packed, count), previous) << count;
        previous = work(packed, count);
    }
}

TYPED_TEST(CoreTransform, WorkSizeFollowsLengthsAndCountOnly) {
    Factories<typename TypeParam::Real> factories;
    expectWorkFollowsLengthsAndCount(*factories.complex);
    expectWorkFollowsLengthsAndCount(*factories.real);
}

// ------------------------------------------------------------ split backward

struct SplitCase {
    const char* name;
    std::vector<Dim> dims;  // outer axes {size, line stride, side stride}, innermost {N, 1, -}
    Dim batch;              // {count, real distance, side distance}
};

// Lines of a split plan: for each transform and outer multi-index, the start
// of the real line and of its side value.
std::vector<std::pair<std::int64_t, std::int64_t>> splitLines(const SplitCase& c) {
    std::vector<std::pair<std::int64_t, std::int64_t>> lines;
    Sizes outer;
    for (std::size_t a = 0; a + 1 < c.dims.size(); ++a) outer.push_back(c.dims[a].size);
    for (std::int64_t t = 0; t < std::max<std::int64_t>(c.batch.size, 1); ++t)
        for (std::int64_t flat = 0; flat < product(outer); ++flat) {
            std::int64_t real = t * c.batch.inStride, side = t * c.batch.outStride, rest = flat;
            for (std::size_t a = outer.size(); a-- > 0;) {
                real += rest % outer[a] * c.dims[a].inStride;
                side += rest % outer[a] * c.dims[a].outStride;
                rest /= outer[a];
            }
            lines.push_back({real, side});
        }
    return lines;
}

template <typename T>
void checkSplit(const SplitCase& c, std::int64_t misalign) {
    SCOPED_TRACE(std::string(c.name) + ", misalign " + std::to_string(misalign));
    Factories<T> factories;
    auto plan = factories.realPlanner().makeSplitBackward(c.dims.size(), c.dims.data(), &c.batch, nullptr, nullptr);
    ASSERT_TRUE(plan);
    Sizes sizes;
    for (const Dim& d : c.dims) sizes.push_back(d.size);
    const std::int64_t n = sizes.back(), half = n / 2 + 1;
    const auto lines = splitLines(c);
    std::int64_t dataEnd = 0, sideEnd = 0;
    for (const auto& [real, side] : lines) {
        dataEnd = std::max(dataEnd, real + n);
        sideEnd = std::max(sideEnd, side + 2);
    }

    std::mt19937 rng(11);
    const std::vector<double> reals = randomReals(lines.size() * std::size_t(n), rng);
    const std::vector<double> spectrum = batchedHalfSpectrum(reals, sizes, std::max<std::int64_t>(c.batch.size, 1));
    Arena<T> data(dataEnd, misalign), side(sideEnd, 3 * misalign), work(std::int64_t(plan->workSize()), misalign);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const double* values = spectrum.data() + l * 2 * half;
        for (std::int64_t r = 0; r < 2 * (half - 1); ++r) data[lines[l].first + r] = static_cast<T>(values[r]);
        side[lines[l].second] = static_cast<T>(values[2 * (half - 1)]);
        side[lines[l].second + 1] = static_cast<T>(values[2 * (half - 1) + 1]);
        data.allowWrites(lines[l].first, lines[l].first + n);
    }
    const std::vector<T> sideBefore = side.snapshot();
    work.allowWrites(0, work.size());

    plan->execute(c.dims.size() == 1 ? 0 : 2, data.data(), side.data(), work.data());

    std::vector<double> got;
    for (const auto& line : lines)
        for (std::int64_t r = 0; r < n; ++r) got.push_back(static_cast<double>(data[line.first + r]));
    EXPECT_LE(relativeError(got, scaled(reals, double(product(sizes)))), tolerance<T>());
    EXPECT_TRUE(side.unchangedSince(sideBefore)) << "the side buffer changed";
    expectNoStrayWrites(data.strayWrites(), "data");
    expectNoStrayWrites(work.strayWrites(), "work");
}

TYPED_TEST(CoreTransform, SplitBackwardReadsLastColumnFromSide) {
    const std::vector<SplitCase> cases = {
        {"rows even", {{6, 1, 2}}, {3, 9, 2}},
        {"rows odd, side per plane", {{7, 1, 2}}, {4, 10, 8}},
        {"rows long batch", {{12, 1, 2}}, {5000, 12, 2}},
        // Slices of a 3-D array: K transforms whose side values interleave.
        {"slices even", {{3, 9, 2 * 4}, {6, 1, 4}}, {4, 3 * 9 + 2, 2}},
        {"slices odd", {{4, 6, 2 * 3}, {5, 1, 3}}, {3, 4 * 6, 2}},
        {"volume", {{2, 40, 6}, {3, 12, 2}, {4, 1, 0}}, {2, 80, 12}},
    };
    for (const SplitCase& c : cases)
        for (std::int64_t misalign : {0, 1}) checkSplit<typename TypeParam::Real>(c, misalign);
}

// ---------------------------------------------------------------- threading

// One plan run from several threads at once on separate data and work gives
// each thread what a lone run gives.
TYPED_TEST(CoreTransform, OnePlanRunsOnManyThreadsAtOnce) {
    using T = typename TypeParam::Real;
    Factories<T> factories;
    const std::vector<Case> cases = {
        {"cc", false, false, {{16, 0, 0}, {12, 0, 0}}, {4, 0, 0}},
        {"rc", true, true, {{10, 0, 0}, {14, 0, 0}}, {3, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto made = c.real ? makePlan<T>(*factories.real, c) : makePlan<T>(*factories.complex, c);
        ASSERT_TRUE(made.run);
        const Direction d = directionOf(c, true);
        const std::int64_t firstSize = std::max(d.source.end(), d.destination.end());
        auto runRepeatedly = [&](std::vector<double>& result) {
            Arena<T> first(firstSize, 0), second(d.destination.end(), 0), work(std::int64_t(made.workSize), 0);
            for (int repeat = 0; repeat < 20; ++repeat) {
                std::mt19937 rng(5);
                prepareSource(c, d, first, rng);
                made.run(first.data(), second.data(), work.data(), true);
                result = load(c.inplace ? first : second, d.destination);
            }
        };
        std::vector<double> alone;
        runRepeatedly(alone);
        std::vector<std::vector<double>> results(4);
        std::vector<std::thread> threads;
        for (auto& result : results) threads.emplace_back(runRepeatedly, std::ref(result));
        for (auto& thread : threads) thread.join();
        for (const auto& result : results) EXPECT_EQ(result, alone);
    }
}

}  // namespace
