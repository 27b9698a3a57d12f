// Layouts walked backwards (negative strides and distances, as in images
// stored bottom-up) against a direct transform of the same data in forward
// order: the serial stand-in and the parallel factory, every precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/layout.h"

namespace zun::fft::testing {
namespace {

using support::Direction;
using support::Request;

enum class Built { Any, Batch, RowColumn };

struct ReversedCase {
    const char* name;
    Built built;  // what the parallel factory builds, in every precision
    Request request;
};

// Small caches send the rank-2 requests to row/column strategies.
const Machine reversingMachine{8, 1, 1, 1, 1};

const ReversedCase complexCases[] = {
    {"rows bottom-up", Built::RowColumn, {2, {{17, -66, -66}, {33, 0, 0}}, {1, 0, 0}}},
    {"output rows bottom-up", Built::RowColumn, {2, {{12, 0, -48}, {24, 0, 0}}, {3, 0, 0}}},
    {"points in reverse", Built::Batch, {1, {{64, -2, -4}}, {5, 400, 600}}},
    {"transforms in reverse", Built::Batch, {1, {{256, 0, 0}}, {6, -512, -600}}},
    {"planes bottom-up", Built::Any, {3, {{6, -640, -640}, {10, 0, 0}, {32, 0, 0}}, {1, 0, 0}}},
    {"rows of each plane bottom-up", Built::Any, {3, {{4, 0, 0}, {12, -64, -64}, {32, 0, 0}}, {2, 0, 0}}},
    {"outer axis of four reversed", Built::Any, {4, {{3, -1536, -1536}, {4, 0, 0}, {6, 0, 0}, {32, 0, 0}}, {1, 0, 0}}},
};

const ReversedCase realCases[] = {
    {"rows and transforms bottom-up", Built::Any, {2, {{2, -66, 0}, {64, 0, 0}}, {2, 0, 0}}},
    {"rows bottom-up, both layouts", Built::RowColumn, {2, {{20, -34, -34}, {32, 0, 0}}, {1, 0, 0}}},
    {"input rows bottom-up", Built::RowColumn, {2, {{20, -40, 0}, {32, 0, 0}}, {2, 0, 0}}},
    {"transforms in reverse", Built::Batch, {1, {{300, 0, 0}}, {5, -302, -310}}},
    {"planes bottom-up", Built::Any, {3, {{6, -340, -340}, {10, 0, 0}, {32, 0, 0}}, {1, 0, 0}}},
    {"rows of each plane bottom-up", Built::Any, {3, {{4, 0, 0}, {12, -34, -34}, {32, 0, 0}}, {2, 0, 0}}},
};

std::string descriptionStart(Built built, support::Kind kind, Placement placement)
{
    if (built == Built::Batch) return "OmpBatch(";
    if (built == Built::Any) return "";
    return std::string(placement == Placement::Inplace ? "OmpInplace" : "OmpOoplace") +
           (kind == support::Kind::ComplexToComplex ? "CC<" : "RC<");
}

// The same transforms with every stride and distance packed.
Request forwardOrder(const Request& request)
{
    Request packed{request.rank, request.dims, {request.batch.size, 0, 0}};
    for (Dim& dim : packed.dims) dim = {dim.size, 0, 0};
    return packed;
}

// The reals of every array of one request, negative offsets included.
template <typename T>
class Region {
public:
    explicit Region(const std::vector<const support::Layout*>& layouts)
    {
        std::int64_t low = 0, high = 0;
        for (const support::Layout* layout : layouts)
            for (std::int64_t offset : layout->offsets()) {
                low = std::min(low, offset);
                high = std::max(high, offset + layout->pointReals());
            }
        reals_.assign(static_cast<std::size_t>(high - low), support::sentinel<T>());
        origin_ = -low;
    }

    T* base() { return reals_.data() + origin_; }

    void store(const support::Layout& layout, const std::vector<double>& values)
    {
        std::size_t i = 0;
        for (std::int64_t offset : layout.offsets())
            for (int r = 0; r < layout.pointReals(); ++r) base()[offset + r] = static_cast<T>(values[i++]);
    }

    std::vector<double> load(const support::Layout& layout)
    {
        std::vector<double> values;
        for (std::int64_t offset : layout.offsets())
            for (int r = 0; r < layout.pointReals(); ++r) values.push_back(static_cast<double>(base()[offset + r]));
        return values;
    }

private:
    std::vector<T> reals_;
    std::int64_t origin_ = 0;
};

double relativeError(const std::vector<double>& got, const std::vector<double>& want)
{
    double error = 0, scale = 1e-30;
    for (std::size_t i = 0; i < want.size(); ++i) {
        error = std::max(error, std::abs(got[i] - want[i]));
        scale = std::max(scale, std::abs(want[i]));
    }
    return std::isnan(error) ? INFINITY : error / scale;
}

// One plan of the request and one of its forward-order twin, run side by side
// on the same values: forward from random input, then backward from what
// forward produced.
template <typename T, Placement P>
class SideBySide {
public:
    SideBySide(support::Kind kind, const Request& request)
        : kind_(kind), request_(request), packed_(forwardOrder(request))
    {
    }

    template <typename F>
    ::testing::AssertionResult check(const Compute<T, P>& plan, const F& reference)
    {
        const auto packedPlan = support::makePlan<P>(reference, packed_);
        if (!packedPlan) return ::testing::AssertionFailure() << "no forward-order plan";
        const auto forward = support::layoutsFor(kind_, P, Direction::Forward, request_);
        const auto packedForward = support::layoutsFor(kind_, P, Direction::Forward, packed_);
        const bool inplace = P == Placement::Inplace;
        Region<T> in(inplace ? std::vector{&forward.source, &forward.target} : std::vector{&forward.source});
        Region<T> out({&forward.target});
        Region<T> packedIn(inplace ? std::vector{&packedForward.source, &packedForward.target}
                                   : std::vector{&packedForward.source});
        Region<T> packedOut({&packedForward.target});
        Region<T>& target = inplace ? in : out;
        Region<T>& packedTarget = inplace ? packedIn : packedOut;

        std::mt19937 random(7);
        std::uniform_real_distribution<double> uniform(-1, 1);
        std::vector<double> values(forward.source.offsets().size() * forward.source.pointReals());
        for (double& value : values) value = uniform(random);
        in.store(forward.source, values);
        packedIn.store(packedForward.source, values);

        std::vector<T> work(std::max(plan.workSize(), packedPlan->workSize()) + 1);
        run(plan, Direction::Forward, in, target, work.data());
        run(*packedPlan, Direction::Forward, packedIn, packedTarget, work.data());
        const double forwardError =
            relativeError(target.load(forward.target), packedTarget.load(packedForward.target));

        run(plan, Direction::Backward, target, in, work.data());
        run(*packedPlan, Direction::Backward, packedTarget, packedIn, work.data());
        const double backwardError = relativeError(in.load(forward.source), packedIn.load(packedForward.source));

        const double tolerance = support::defaultTolerance<T>();
        if (forwardError <= tolerance && backwardError <= tolerance) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "error forward " << forwardError << ", backward " << backwardError;
    }

private:
    static void run(const Compute<T, P>& plan, Direction direction, Region<T>& source, Region<T>& target, T* work)
    {
        const bool forward = direction == Direction::Forward;
        if constexpr (P == Placement::Inplace) {
            if (forward) plan.forward(source.base(), work);
            else plan.backward(source.base(), work);
        } else {
            if (forward) plan.forward(source.base(), target.base(), work);
            else plan.backward(source.base(), target.base(), work);
        }
    }

    support::Kind kind_;
    Request request_;
    Request packed_;
};

template <typename T, Placement P, typename F>
void checkCases(support::Kind kind, const F& parallel, const F& serial, const ReversedCase* begin,
                const ReversedCase* end)
{
    for (const ReversedCase* c = begin; c != end; ++c) {
        SCOPED_TRACE(std::string(c->name) + ", " + support::name(P) + ": " + support::describe(c->request));
        SideBySide<T, P> sideBySide(kind, c->request);
        const auto serialPlan = support::makePlan<P>(serial, c->request);
        ASSERT_TRUE(serialPlan);
        EXPECT_TRUE(sideBySide.check(*serialPlan, serial));
        const auto parallelPlan = support::makePlan<P>(parallel, c->request);
        ASSERT_TRUE(parallelPlan);
        EXPECT_EQ(parallelPlan->toString().rfind(descriptionStart(c->built, kind, P), 0), 0u)
            << parallelPlan->toString();
        EXPECT_TRUE(sideBySide.check(*parallelPlan, serial));
    }
}

template <typename T>
class ReversedLayoutNumerical : public ::testing::Test {};
TYPED_TEST_SUITE(ReversedLayoutNumerical, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(ReversedLayoutNumerical, ComplexMatchesTheForwardOrderTransform)
{
    using T = typename TypeParam::Real;
    const std::unique_ptr<ComplexFactory<T>> parallel = complexParallel<T>(reversingMachine);
    const auto serial = makePlannerFactory<T, std::complex<T>, std::complex<T>>();
    const auto kind = support::Kind::ComplexToComplex;
    checkCases<T, Placement::Inplace>(kind, *parallel, *serial, std::begin(complexCases), std::end(complexCases));
    checkCases<T, Placement::Ooplace>(kind, *parallel, *serial, std::begin(complexCases), std::end(complexCases));
}

TYPED_TEST(ReversedLayoutNumerical, RealMatchesTheForwardOrderTransform)
{
    using T = typename TypeParam::Real;
    const std::unique_ptr<RealFactory<T>> parallel = realParallel<T>(reversingMachine);
    const auto serial = makePlannerFactory<T, T, std::complex<T>>();
    const auto kind = support::Kind::RealToComplex;
    checkCases<T, Placement::Inplace>(kind, *parallel, *serial, std::begin(realCases), std::end(realCases));
    checkCases<T, Placement::Ooplace>(kind, *parallel, *serial, std::begin(realCases), std::end(realCases));
}

}  // namespace
}  // namespace zun::fft::testing
