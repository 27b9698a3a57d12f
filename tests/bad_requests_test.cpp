// Requests a new user gets wrong, through the public make operations: missing
// records, rows in reverse order, layouts that overflow or cannot be had, keys
// that name no tuning entry, thread counts the runtime cannot run, a real
// planner without a companion complex planner, work reserved beyond any
// buffer. None may crash; each gets the answer below, in tuning mode with the
// lock asked for, and leaves the tuning mutex free, the caller's tuning array
// in bounds and no plan behind when it declines.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "parallel/regions.h"
#include "parallel_fixtures.h"
#include "support/harness.h"
#include "support/recording.h"

namespace zun::fft::testing {
namespace {

using support::Request;

enum class Sound {
    WrappedAnswer,  // the wrapped factory's own answer to the same records
    Declined,
    Planned,  // a plan of the request; numerically checked unless a stride is negative
};

enum class Records { Whole, NullDims, NullBatch, NullKey };

enum class Kinds { Both, ComplexOnly, RealOnly };

// The wrapped planner: the stand-in, or (real kind) one whose complexFactory()
// answers null, as a user's planner of real transforms only may.
enum class Planner { StandIn, NoCompanion };

struct BadRequest {
    const char* name;
    Request request;
    Sound sound;
    Records records = Records::Whole;
    Kinds kinds = Kinds::Both;
    int threads = 8;
    std::vector<PlanKey> key = {};  // empty: a fresh key for the request's axes
    bool copiesTuning = true;       // false: the tuning array must stay as it was
    Planner planner = Planner::StandIn;
};

const std::int64_t two62 = std::int64_t{1} << 62;
const std::int64_t two40 = std::int64_t{1} << 40;
const std::int64_t two31 = std::int64_t{1} << 31;

// Small caches send requests past the serial plan to strategies.
const BadRequest badRequests[] = {
    {"null dims, rank 1", {1, {{64, 0, 0}}, {4, 0, 0}}, Sound::WrappedAnswer, Records::NullDims},
    {"null dims, rank 2", {2, {{64, 0, 0}, {64, 0, 0}}, {1, 0, 0}}, Sound::WrappedAnswer, Records::NullDims},
    {"null batch", {1, {{256, 0, 0}}, {1, 0, 0}}, Sound::WrappedAnswer, Records::NullBatch},
    {"null key, row/column size", {2, {{32, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::WrappedAnswer, Records::NullKey},
    {"real rows and transforms bottom-up", {2, {{2, -66, 0}, {64, 0, 0}}, {2, 0, 0}}, Sound::Planned,
     Records::Whole, Kinds::RealOnly},
    {"complex rows bottom-up", {2, {{17, -66, 0}, {33, 0, 0}}, {1, 0, 0}}, Sound::Planned},
    {"default distance overflows", {2, {{4, two62, 0}, {1024, 0, 0}}, {2, 0, 0}}, Sound::Declined},
    {"distances overflow the extent", {2, {{64, 0, 0}, {64, 0, 0}}, {3, two62, two62}}, Sound::Declined},
    {"key names no tuning entry", {2, {{32, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Planned, Records::Whole,
     Kinds::Both, 8, {0x100, 0x100}, false},
    {"threads beyond the runtime", {2, {{32, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Planned, Records::Whole,
     Kinds::Both, 100000},
    {"null key, rank 3", {3, {{8, 0, 0}, {8, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, Sound::WrappedAnswer, Records::NullKey},
    {"default distance overflows, rank 3", {3, {{2, two62, 0}, {8, 0, 0}, {16, 0, 0}}, {2, 0, 0}}, Sound::Declined},
    {"key names no tuning entry, rank 3", {3, {{8, 0, 0}, {8, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, Sound::Planned,
     Records::Whole, Kinds::Both, 8, {0x100, 0x100, 0x100}, false},
    {"key names no tuning entry, rank 4", {4, {{4, 0, 0}, {4, 0, 0}, {8, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, Sound::Planned,
     Records::Whole, Kinds::Both, 8, {0x100, 0x100, 0x100, 0x100}, false},
    {"huge strided extent", {1, {{4, two40, two40}}, {1000, 0, 0}}, Sound::Declined},
    {"huge real extent", {2, {{two31, 0, 0}, {two31, 0, 0}}, {1, 0, 0}}, Sound::Declined},
    // Every real family that asks for the companion, packed and strided, in
    // every precision (the split's rest plans are batches, so the split asks
    // the companion itself).
    {"no companion, row/column", {2, {{32, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Declined, Records::Whole,
     Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    {"no companion, packed planes", {3, {{16, 0, 0}, {4, 0, 0}, {16, 0, 0}}, {1, 0, 0}}, Sound::Declined,
     Records::Whole, Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    {"no companion, strided planes", {3, {{16, 0, 0}, {4, 20, 0}, {16, 0, 0}}, {1, 0, 0}}, Sound::Declined,
     Records::Whole, Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    {"no companion, packed plane teams", {3, {{4, 0, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Declined,
     Records::Whole, Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    {"no companion, strided plane teams", {3, {{4, 0, 0}, {16, 36, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Declined,
     Records::Whole, Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    {"no companion, packed split", {4, {{64, 0, 0}, {2, 0, 0}, {2, 0, 0}, {16, 0, 0}}, {1, 0, 0}},
     Sound::Declined, Records::Whole, Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    {"no companion, strided split", {4, {{64, 0, 0}, {2, 40, 0}, {2, 0, 0}, {16, 0, 0}}, {1, 0, 0}},
     Sound::Declined, Records::Whole, Kinds::RealOnly, 8, {}, true, Planner::NoCompanion},
    // Every planned row then reserves more work per thread than any buffer
    // holds; these reach each family on 8 threads in every precision.
    {"work beyond any buffer, batch", {1, {{16, 0, 0}}, {64, 0, 0}}, Sound::Planned},
    {"work beyond any buffer, row/column", {2, {{32, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Planned},
    {"work beyond any buffer, planes", {3, {{16, 0, 0}, {4, 0, 0}, {8, 0, 0}}, {1, 0, 0}}, Sound::Planned},
    {"work beyond any buffer, plane teams", {3, {{4, 0, 0}, {16, 0, 0}, {32, 0, 0}}, {1, 0, 0}}, Sound::Planned},
    {"work beyond any buffer, split", {4, {{6, 0, 0}, {8, 0, 0}, {10, 0, 0}, {12, 0, 0}}, {1, 0, 0}},
     Sound::Planned},
};

const Machine smallCaches{8, 1, 1, 1, 1};

bool hasNegativeStride(const Request& request)
{
    auto negative = [](const Dim& dim) { return dim.inStride < 0 || dim.outStride < 0; };
    return negative(request.batch) || std::any_of(request.dims.begin(), request.dims.end(), negative);
}

// The caller's tuning array in tuning mode, with one guard value before it
// that nothing may write.
template <typename T>
class GuardedTuning {
public:
    GuardedTuning() : values_(entries + 1, T(7))
    {
        values_[1] = T(-1);
        tuning_ = std::shared_ptr<T>(std::shared_ptr<void>(), values_.data() + 1);
    }

    const std::shared_ptr<T>& pointer() const { return tuning_; }
    const T* base() const { return values_.data() + 1; }
    bool guardIntact() const { return values_[0] == T(7); }
    bool unchanged() const
    {
        return values_[1] == T(-1) && std::all_of(values_.begin() + 2, values_.end(), [](T v) { return v == T(7); });
    }

private:
    static constexpr std::size_t entries = 8;
    std::vector<T> values_;
    std::shared_ptr<T> tuning_;
};

// Records the companion's fetch like the recording planner, then answers that
// there is none.
template <typename T>
class WithoutCompanion final : public support::RecordingRealFactory<T> {
public:
    const ComplexFactory<T>* complexFactory() const override
    {
        support::RecordingRealFactory<T>::complexFactory();
        return nullptr;
    }
};

template <typename T, typename In, typename Out>
std::unique_ptr<support::RecordingPlannerFactory<T, In, Out>> recordingPlanner(Planner planner)
{
    if constexpr (support::kindOf<In, Out> == support::Kind::RealToComplex) {
        if (planner == Planner::NoCompanion) return std::make_unique<WithoutCompanion<T>>();
    }
    return std::make_unique<support::RecordingPlannerFactory<T, In, Out>>();
}

std::size_t saturatingProduct(std::size_t a, std::size_t b)
{
    std::size_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::size_t>::max() : product;
}

// A parent may reserve any slice, also one no buffer can hold: workSize()
// then saturates, never wrapping below what the slices reach or what it was,
// and the slice stays what was reserved.
template <typename Plan>
void expectReservationsBeyondAnyBuffer(Plan& plan)
{
    for (const std::size_t n : {(std::size_t{1} << 61) + 15, std::numeric_limits<std::size_t>::max()}) {
        const std::size_t before = plan.workSize();
        plan.reserveThreadWork(n);
        const auto threads = static_cast<std::size_t>(plan.threadCount());
        EXPECT_GE(plan.workSize(), saturatingProduct(threads, plan.threadWorkSize())) << "reserved " << n;
        EXPECT_GE(plan.workSize(), before) << "reserved " << n;
        if (threads >= 2) {
            EXPECT_GE(plan.threadWorkSize(), n) << "reserved " << n;
        }
    }
}

template <Placement P, typename F>
std::unique_ptr<Compute<typename F::Real, P>> make(const F& factory, const BadRequest& c, const PlanKey* key,
                                                   bool lockFlag, const std::shared_ptr<typename F::Real>& tuning)
{
    const Request& r = c.request;
    const Dim* dims = c.records == Records::NullDims ? nullptr : r.dims.data();
    const Dim* batch = c.records == Records::NullBatch ? nullptr : &r.batch;
    if (c.records == Records::NullKey) key = nullptr;
    if constexpr (P == Placement::Inplace) return factory.makeInplace(r.rank, dims, batch, lockFlag, key, tuning);
    else return factory.makeOoplace(r.rank, dims, batch, lockFlag, key, tuning);
}

template <typename T, typename In, typename Out, Placement P>
void checkBadRequest(const BadRequest& c)
{
    SCOPED_TRACE(std::string(c.name) + ", " + support::name(support::kindOf<In, Out>) + " " + support::name(P) +
                 ": " + support::describe(c.request));
    Machine machine = smallCaches;
    machine.threads = c.threads;
    auto planner = recordingPlanner<T, In, Out>(c.planner);
    const std::shared_ptr<support::Recorder<T>> recorder = planner->recorder();
    const auto parallel = parallelOver<Factory<T, In, Out>>(std::move(planner), machine);
    recorder->recordPlanCalls(false);
    const std::vector<PlanKey> key = c.key.empty() ? makePlanKey(c.request.axes()) : c.key;
    GuardedTuning<T> tuning;
    recorder->registerTuning(tuning.base());

    const auto plan = make<P>(*parallel, c, key.data(), true, tuning.pointer());

    EXPECT_TRUE(tuningMutexFree());
    EXPECT_TRUE(tuning.guardIntact());
    if (!c.copiesTuning) {
        EXPECT_TRUE(tuning.unchanged());
    }
    for (const auto& call : recorder->calls()) {
        if (call.op.rfind("make", 0) != 0) continue;
        EXPECT_FALSE(call.lockFlag) << call.op;
        if (!c.copiesTuning && call.column) {
            EXPECT_TRUE(call.tuningEmpty) << "a column plan got an aliasing pointer";
        }
    }

    switch (c.sound) {
    case Sound::WrappedAnswer: {
        const auto wrapped = makePlannerFactory<T, In, Out>();
        const auto expected = make<P>(*wrapped, c, key.data(), false, {});
        ASSERT_EQ(bool(plan), bool(expected));
        if (plan) {
            EXPECT_EQ(plan->toString(), expected->toString());
        }
        break;
    }
    case Sound::Declined:
        EXPECT_FALSE(plan);
        EXPECT_EQ(recorder->livePlans(), 0);
        break;
    case Sound::Planned:
        ASSERT_TRUE(plan);
        EXPECT_LE(plan->threadCount(), omp::regionThreadBound);
        if (!hasNegativeStride(c.request)) {
            EXPECT_TRUE(support::checkPlan(c.request, *plan, *makePlannerFactory<T, In, Out>()));
        }
        expectReservationsBeyondAnyBuffer(*plan);
        break;
    }
}

template <typename T>
class BadRequests : public ::testing::Test {};
TYPED_TEST_SUITE(BadRequests, support::AllPrecisions, support::PrecisionNames);

TYPED_TEST(BadRequests, NeverCrashAndGetTheirSoundAnswer)
{
    using T = typename TypeParam::Real;
    using C = std::complex<T>;
    for (const BadRequest& c : badRequests) {
        if (c.kinds != Kinds::RealOnly) {
            checkBadRequest<T, C, C, Placement::Inplace>(c);
            checkBadRequest<T, C, C, Placement::Ooplace>(c);
        }
        if (c.kinds != Kinds::ComplexOnly) {
            checkBadRequest<T, T, C, Placement::Inplace>(c);
            checkBadRequest<T, T, C, Placement::Ooplace>(c);
        }
    }
}

}  // namespace
}  // namespace zun::fft::testing
