#include "support/harness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <new>
#include <optional>
#include <sstream>
#include <string>

namespace zun::fft::support {

namespace {

template <typename T>
using Bits = std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>;

template <typename T>
constexpr Bits<T> sentinelBits()
{
    if constexpr (sizeof(T) == 2) return 0x7e5b;
    else if constexpr (sizeof(T) == 4) return 0x7fd5a5a5u;
    else return 0x7ff85a5a5a5a5a5aull;
}

template <typename T>
Bits<T> bitsOf(const T& value)
{
    Bits<T> bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <typename T>
std::string hexBits(const T& value)
{
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(2 * sizeof(T)) << std::setfill('0') << +bitsOf(value);
    return text.str();
}

std::string number(double value)
{
    std::ostringstream text;
    text << std::setprecision(9) << value;
    return text.str();
}

template <typename T>
std::string pointValue(const T* point, int reals)
{
    if (reals == 1) return number(static_cast<double>(point[0]));
    return "(" + number(static_cast<double>(point[0])) + ", " + number(static_cast<double>(point[1])) + ")";
}

constexpr std::int64_t cacheLine = 64;

template <typename T>
std::int64_t roundUpToLine(std::int64_t reals)
{
    const std::int64_t lineReals = cacheLine / static_cast<std::int64_t>(sizeof(T));
    return (reals + lineReals - 1) / lineReals * lineReals;
}

template <typename T>
T* allocate(std::int64_t reals)
{
    return static_cast<T*>(::operator new(static_cast<std::size_t>(reals) * sizeof(T), std::align_val_t(cacheLine)));
}

template <typename T>
void release(T* storage)
{
    ::operator delete(storage, std::align_val_t(cacheLine));
}

// splitmix64: filling millions of reals must not cost more than the transforms.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : state_(seed) {}
    // Uniform in [-1, 1).
    double next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1p-52 - 1.0;
    }

private:
    std::uint64_t state_;
};

template <typename T>
void scatterRandom(T* base, const Layout& layout, Noise& noise, double amplitude)
{
    const int reals = layout.pointReals();
    layout.forEach([&](std::int64_t offset) {
        for (int r = 0; r < reals; ++r) base[offset + r] = static_cast<T>(amplitude * noise.next());
    });
}

template <typename T>
std::vector<T> gather(const T* base, const Layout& layout)
{
    std::vector<T> values;
    values.reserve(static_cast<std::size_t>(layout.points() * layout.pointReals()));
    const int reals = layout.pointReals();
    layout.forEach([&](std::int64_t offset) { values.insert(values.end(), base + offset, base + offset + reals); });
    return values;
}

template <typename T>
void scatter(T* base, const Layout& layout, const std::vector<T>& values)
{
    const int reals = layout.pointReals();
    auto next = values.begin();
    layout.forEach([&](std::int64_t offset) {
        std::copy(next, next + reals, base + offset);
        next += reals;
    });
}

template <typename T>
void fillSentinelAt(T* base, const Layout& layout)
{
    const int reals = layout.pointReals();
    layout.forEach([&](std::int64_t offset) { std::fill(base + offset, base + offset + reals, sentinel<T>()); });
}

// Leaves the layout's points as they are and the sentinel everywhere else.
template <typename T>
void isolate(GuardedBuffer<T>& buffer, const Layout& layout)
{
    const std::vector<T> values = gather(buffer.base(), layout);
    buffer.fillSentinel();
    scatter(buffer.base(), layout, values);
}

template <typename T>
using Arrays = std::vector<GuardedBuffer<T>>;

// The plain forms, or the WithArg forms when `form` carries an argument.
using Form = std::optional<void*>;

template <typename T>
void run(const InplaceCompute<T>& plan, Direction direction, Form form, Arrays<T>& arrays, T* work)
{
    T* data = arrays.front().base();
    if (direction == Direction::Forward) {
        if (form) plan.forwardWithArg(*form, data, work);
        else plan.forward(data, work);
    } else {
        if (form) plan.backwardWithArg(*form, data, work);
        else plan.backward(data, work);
    }
}

template <typename T>
void run(const OoplaceCompute<T>& plan, Direction direction, Form form, Arrays<T>& arrays, T* work)
{
    const T* first = arrays.front().base();
    T* second = arrays.back().base();
    if (direction == Direction::Forward) {
        if (form) plan.forwardWithArg(*form, first, second, work);
        else plan.forward(first, second, work);
    } else {
        if (form) plan.backwardWithArg(*form, first, second, work);
        else plan.backward(first, second, work);
    }
}

template <typename T, Placement P>
void runWithFreshWork(const Compute<T, P>& plan, Direction direction, Arrays<T>& arrays, const CheckOptions& options)
{
    GuardedBuffer<T> work(static_cast<std::int64_t>(plan.workSize()), options.guardReals, options.misalignReals);
    run(plan, direction, Form{}, arrays, work.base());
}

template <typename T>
Arrays<T> emptyArrays(const TransformLayouts& layouts, const CheckOptions& options)
{
    Arrays<T> arrays;
    arrays.emplace_back(layouts.sourceExtent(), options.guardReals, options.misalignReals);
    if (!layouts.inplace) arrays.emplace_back(layouts.targetExtent(), options.guardReals, options.misalignReals);
    return arrays;
}

// Real-to-complex backward input comes from a forward transform, so that it is
// the half spectrum of real data; scaled so that the backward result stays
// within the range of the narrowest precision.
template <typename T, Placement P>
void fillHermitianInput(Arrays<T>& arrays, const Request& request, const TransformLayouts& layouts,
                        const Compute<T, P>& reference, Noise& noise, const CheckOptions& options)
{
    const TransformLayouts forward = layoutsFor(Kind::RealToComplex, P, Direction::Forward, request);
    const double amplitude = 1.0 / std::sqrt(static_cast<double>(std::max<std::int64_t>(
                                       forward.source.points() / request.transforms(), 1)));
    if (layouts.inplace) {
        scatterRandom(arrays.front().base(), forward.source, noise, amplitude);
        runWithFreshWork(reference, Direction::Forward, arrays, options);
    } else {
        Arrays<T> real;
        real.emplace_back(forward.source.extent(), options.guardReals, options.misalignReals);
        scatterRandom(real.front().base(), forward.source, noise, amplitude);
        real.push_back(arrays.front());
        runWithFreshWork(reference, Direction::Forward, real, options);
        arrays.front() = real.back();
    }
    isolate(arrays.front(), layouts.source);
}

class Problems {
public:
    explicit Problems(std::string context) : context_(std::move(context)) {}
    void add(const std::string& problem) { lines_.push_back(context_ + ": " + problem); }
    void append(const Problems& other) { lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end()); }
    bool empty() const { return lines_.empty(); }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::string context_;
    std::vector<std::string> lines_;
};

template <typename T>
void checkUnchanged(const GuardedBuffer<T>& actual, const GuardedBuffer<T>& before, Problems& problems)
{
    const std::int64_t at = actual.firstDifference(before);
    if (at == actual.highest()) return;
    problems.add("first array changed at offset " + std::to_string(at) + ": " +
                 number(static_cast<double>(before.base()[at])) + " became " +
                 number(static_cast<double>(actual.base()[at])));
}

template <typename T>
void checkWorkGuards(const GuardedBuffer<T>& work, Problems& problems)
{
    const std::int64_t before = work.firstNonSentinel(work.lowest(), 0);
    const std::int64_t after = work.firstNonSentinel(work.size(), work.highest());
    if (before != 0)
        problems.add("wrote work at offset " + std::to_string(before) + ", before the work buffer");
    if (after != work.highest())
        problems.add("wrote work at offset " + std::to_string(after) + ", past workSize() = " +
                     std::to_string(work.size()));
}

template <typename T>
void compareValues(const T* actual, const T* expected, const Layout& layout, double tolerance, Problems& problems)
{
    double largest = 0;
    double worstError = -1;
    std::int64_t worstOffset = 0;
    std::int64_t worstPoint = 0;
    std::int64_t point = 0;
    const int reals = layout.pointReals();
    layout.forEach([&](std::int64_t offset) {
        for (int r = 0; r < reals; ++r) {
            const double e = static_cast<double>(expected[offset + r]);
            const double error = std::fabs(static_cast<double>(actual[offset + r]) - e);
            largest = std::max(largest, std::fabs(e));
            if (!(error <= worstError) && !std::isnan(worstError)) {
                worstError = error;
                worstOffset = offset;
                worstPoint = point;
            }
        }
        ++point;
    });
    if (point == 0) return;
    const double relative = worstError / std::max(largest, 1e-300);
    if (relative <= tolerance) return;
    problems.add("relative error " + number(relative) + " exceeds " + number(tolerance) + " (largest magnitude " +
                 number(largest) + "); worst at point " + std::to_string(worstPoint) + ", offset " +
                 std::to_string(worstOffset) + ": got " + pointValue(actual + worstOffset, reals) + ", expected " +
                 pointValue(expected + worstOffset, reals));
}

std::string whereOutside(std::int64_t offset, std::int64_t size)
{
    if (offset < 0) return "in the guard before the array";
    if (offset >= size) return "in the guard after the array (extent " + std::to_string(size) + ")";
    return "between the layout's points";
}

// Everything the plan may write is reset to the sentinel first, so whatever
// remains is a stray write.
template <typename T>
void checkOutsideUntouched(GuardedBuffer<T>& actual, const TransformLayouts& layouts, Problems& problems)
{
    fillSentinelAt(actual.base(), layouts.target);
    if (layouts.inplace) fillSentinelAt(actual.base(), layouts.source);
    const std::int64_t at = actual.firstNonSentinel(actual.lowest(), actual.highest());
    if (at == actual.highest()) return;
    problems.add("wrote offset " + std::to_string(at) + " " + whereOutside(at, actual.size()) + ": bits " +
                 hexBits(actual.base()[at]));
}

template <typename T, Placement P>
Problems checkForm(const Compute<T, P>& plan, Direction direction, Form form, const Arrays<T>& prepared,
                   const Arrays<T>& expected, const TransformLayouts& layouts, const CheckOptions& options,
                   double tolerance)
{
    Problems problems(std::string(name(direction)) + (form ? " (WithArg)" : ""));
    Arrays<T> actual = prepared;
    // A slice sized too small lets a plan write past workSize() by as much as
    // that plan's own work: a guard as long as the buffer reports it instead
    // of corrupting the heap.
    const auto workReals = static_cast<std::int64_t>(plan.workSize());
    GuardedBuffer<T> work(workReals, std::max(options.guardReals, workReals), options.misalignReals);
    run(plan, direction, form, actual, work.base());

    if (!layouts.inplace) checkUnchanged(actual.front(), prepared.front(), problems);
    checkWorkGuards(work, problems);
    compareValues(actual.back().base(), expected.back().base(), layouts.target, tolerance, problems);
    checkOutsideUntouched(actual.back(), layouts, problems);
    return problems;
}

template <typename T, typename In, typename Out, Placement P>
Problems checkDirection(const Request& request, Direction direction, const Compute<T, P>& plan,
                        const Compute<T, P>& reference, const CheckOptions& options, double tolerance)
{
    constexpr Kind kind = kindOf<In, Out>;
    const TransformLayouts layouts = layoutsFor(kind, P, direction, request);
    Noise noise(options.seed + static_cast<std::uint64_t>(direction));

    Arrays<T> prepared = emptyArrays<T>(layouts, options);
    if (kind == Kind::RealToComplex && direction == Direction::Backward)
        fillHermitianInput(prepared, request, layouts, reference, noise, options);
    else
        scatterRandom(prepared.front().base(), layouts.source, noise, 1.0);

    Arrays<T> expected = prepared;
    runWithFreshWork(reference, direction, expected, options);

    Problems problems(name(direction));
    problems.append(checkForm(plan, direction, Form{}, prepared, expected, layouts, options, tolerance));
    if (options.withArg)
        problems.append(
            checkForm(plan, direction, Form{options.extraArg}, prepared, expected, layouts, options, tolerance));
    return problems;
}

}  // namespace

template <typename T>
double defaultTolerance()
{
    if constexpr (std::is_same_v<T, double>) return 1e-10;
    else if constexpr (std::is_same_v<T, float>) return 1e-4;
    else return 3e-2;
}

template <typename T>
T sentinel()
{
    const Bits<T> bits = sentinelBits<T>();
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template <typename T>
bool isSentinel(const T& value)
{
    return bitsOf(value) == sentinelBits<T>();
}

template <typename T>
GuardedBuffer<T>::GuardedBuffer(std::int64_t reals, std::int64_t guardReals, std::int64_t misalignReals)
    : reals_(reals),
      front_(roundUpToLine<T>(guardReals) + misalignReals),
      total_(front_ + reals + guardReals),
      storage_(allocate<T>(total_))
{
    fillSentinel();
}

template <typename T>
GuardedBuffer<T>::GuardedBuffer(const GuardedBuffer& other)
    : reals_(other.reals_), front_(other.front_), total_(other.total_), storage_(allocate<T>(total_))
{
    std::memcpy(storage_, other.storage_, static_cast<std::size_t>(total_) * sizeof(T));
}

template <typename T>
GuardedBuffer<T>& GuardedBuffer<T>::operator=(const GuardedBuffer& other)
{
    if (this == &other) return *this;
    GuardedBuffer copy(other);
    std::swap(reals_, copy.reals_);
    std::swap(front_, copy.front_);
    std::swap(total_, copy.total_);
    std::swap(storage_, copy.storage_);
    return *this;
}

template <typename T>
GuardedBuffer<T>::~GuardedBuffer()
{
    release(storage_);
}

template <typename T>
void GuardedBuffer<T>::fillSentinel()
{
    std::fill(storage_, storage_ + total_, sentinel<T>());
}

template <typename T>
std::int64_t GuardedBuffer<T>::firstNonSentinel(std::int64_t from, std::int64_t to) const
{
    const T* b = base();
    for (std::int64_t i = from; i < to; ++i)
        if (!isSentinel(b[i])) return i;
    return to;
}

template <typename T>
std::int64_t GuardedBuffer<T>::firstDifference(const GuardedBuffer& other) const
{
    const T* mine = base();
    const T* theirs = other.base();
    for (std::int64_t i = lowest(); i < highest(); ++i)
        if (bitsOf(mine[i]) != bitsOf(theirs[i])) return i;
    return highest();
}

template <typename T, typename In, typename Out, Placement P>
::testing::AssertionResult checkPlan(const Request& request, const Compute<T, P>& plan,
                                     const Factory<T, In, Out>& reference, const CheckOptions& options)
{
    const std::string context =
        std::string(name(kindOf<In, Out>)) + " " + name(P) + " " + describe(request);
    const std::unique_ptr<Compute<T, P>> referencePlan = makePlan<P>(reference, request);
    if (!referencePlan) return ::testing::AssertionFailure() << context << ": the reference factory declined";

    const double tolerance = options.tolerance > 0 ? options.tolerance : defaultTolerance<T>();
    Problems problems(context);
    if (options.forward)
        problems.append(checkDirection<T, In, Out, P>(request, Direction::Forward, plan, *referencePlan, options,
                                                      tolerance));
    if (options.backward)
        problems.append(checkDirection<T, In, Out, P>(request, Direction::Backward, plan, *referencePlan, options,
                                                      tolerance));
    if (problems.empty()) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << context;
    for (const std::string& line : problems.lines()) failure << "\n  " << line;
    return failure;
}

#define ZUN_SUPPORT_INSTANTIATE(T)                                                                                   \
    template double defaultTolerance<T>();                                                                           \
    template T sentinel<T>();                                                                                        \
    template bool isSentinel<T>(const T&);                                                                           \
    template class GuardedBuffer<T>;                                                                                 \
    template ::testing::AssertionResult checkPlan(const Request&, const InplaceCompute<T>&, const ComplexFactory<T>&, \
                                                  const CheckOptions&);                                              \
    template ::testing::AssertionResult checkPlan(const Request&, const OoplaceCompute<T>&, const ComplexFactory<T>&, \
                                                  const CheckOptions&);                                              \
    template ::testing::AssertionResult checkPlan(const Request&, const InplaceCompute<T>&, const RealFactory<T>&,    \
                                                  const CheckOptions&);                                              \
    template ::testing::AssertionResult checkPlan(const Request&, const OoplaceCompute<T>&, const RealFactory<T>&,    \
                                                  const CheckOptions&);

ZUN_SUPPORT_INSTANTIATE(float)
ZUN_SUPPORT_INSTANTIATE(double)
ZUN_SUPPORT_INSTANTIATE(_Float16)

#undef ZUN_SUPPORT_INSTANTIATE

}  // namespace zun::fft::support
