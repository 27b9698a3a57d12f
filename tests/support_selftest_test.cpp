// The shared test support checks itself: layouts against hand-worked examples,
// the harness against the stand-in planner and against deliberately broken
// plans, and the recording factory for transparency and bookkeeping.
#include "support/harness.h"
#include "support/layout.h"
#include "support/recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace zun::fft::support {
namespace {

Request request(std::vector<Dim> dims, Dim batch = {})
{
    return Request{dims.size(), std::move(dims), batch};
}

TEST(SupportLayout, DefaultDistances)
{
    struct Case {
        Format format;
        Request request;
        std::int64_t distance;
    };
    const Case cases[] = {
        {Format::InplaceReal, request({{5}}), 6},
        {Format::RealInput, request({{5}}), 5},
        {Format::HalfOutput, request({{5}}), 6},
        {Format::ComplexInput, request({{5, 3, 0}}), 15},
        {Format::ComplexInput, request({{3}, {8}}), 48},
        {Format::ComplexOutput, request({{3}, {8}}), 48},
        {Format::InplaceReal, request({{3}, {8}}), 30},
        {Format::RealInput, request({{3}, {8}}), 24},
        {Format::HalfOutput, request({{3}, {8}}), 30},
        {Format::InplaceReal, request({{3, 20, 0}, {8}}), 60},
        {Format::InplaceReal, request({{2}, {3, 12, 0}, {4}}), 72},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.request) + " format " + std::to_string(static_cast<int>(c.format)));
        EXPECT_EQ(distance(c.format, c.request), c.distance);
    }
    const Request batchOfZero = request({{3}, {8}}, {0, 0, 0});
    const Layout single = Layout::of(Format::InplaceReal, batchOfZero);
    EXPECT_EQ(single.points(), 24);
    EXPECT_EQ(single.extent(), 3 * 10 - 2);
}

TEST(SupportLayout, OffsetsFollowStridesBatchAndHalfRows)
{
    const Request strided = request({{2}, {3, 4, 0}}, {2, 30, 0});
    EXPECT_EQ(Layout::of(Format::ComplexInput, strided).offsets(),
              (std::vector<std::int64_t>{0, 4, 8, 12, 16, 20, 30, 34, 38, 42, 46, 50}));

    const Request rows = request({{2}, {5}});
    EXPECT_EQ(Layout::of(Format::HalfOutput, rows).offsets(), (std::vector<std::int64_t>{0, 2, 4, 6, 8, 10}));
    EXPECT_EQ(Layout::of(Format::InplaceReal, rows).offsets(),
              (std::vector<std::int64_t>{0, 1, 2, 3, 4, 6, 7, 8, 9, 10}));

    const TransformLayouts inplaceBackward =
        layoutsFor(Kind::RealToComplex, Placement::Inplace, Direction::Backward, rows);
    EXPECT_EQ(inplaceBackward.source.pointReals(), 2);
    EXPECT_EQ(inplaceBackward.target.pointReals(), 1);
    EXPECT_EQ(inplaceBackward.targetExtent(), 12);

    const Request column{columnRank, {{7, 6, 10}}, {3, 2, 2}};
    const TransformLayouts columns = layoutsFor(Kind::ComplexToComplex, Placement::Ooplace, Direction::Forward, column);
    EXPECT_EQ(columns.source.offsets().size(), 21u);
    EXPECT_EQ(columns.source.extent(), 2 * 2 + 6 * 6 + 2);
    EXPECT_EQ(columns.target.extent(), 2 * 2 + 6 * 10 + 2);
}

// Requests that exercise padding, explicit strides, holes and batches.
std::vector<Request> layoutRequests()
{
    return {
        request({{16}}, {3, 0, 0}),
        request({{5}}, {2, 9, 8}),
        request({{6, 14, 12}, {5}}, {2, 0, 0}),
        request({{3}, {4}, {7}}),
        request({{2}, {3, 12, 16}, {4}}, {2, 80, 100}),
    };
}

template <typename T>
class SupportHarnessTyped : public ::testing::Test {};
TYPED_TEST_SUITE(SupportHarnessTyped, AllPrecisions, PrecisionNames);

template <typename T, typename In, typename Out, Placement P>
void expectStandInPasses(const Request& request)
{
    const auto underTest = makePlannerFactory<T, In, Out>();
    const auto reference = makePlannerFactory<T, In, Out>();
    const auto plan = makePlan<P>(*underTest, request);
    ASSERT_TRUE(plan) << describe(request);
    EXPECT_TRUE(checkPlanWithArg(request, *plan, *reference));
}

TYPED_TEST(SupportHarnessTyped, StandInPassesAgainstItself)
{
    using T = typename TypeParam::Real;
    using C = std::complex<T>;
    for (const Request& r : layoutRequests()) {
        expectStandInPasses<T, C, C, Placement::Inplace>(r);
        expectStandInPasses<T, C, C, Placement::Ooplace>(r);
        expectStandInPasses<T, T, C, Placement::Inplace>(r);
        expectStandInPasses<T, T, C, Placement::Ooplace>(r);
    }
}

enum class Fault {
    None,
    PastExtent,
    BeforeStart,
    Hole,
    Padding,
    FirstArray,
    Value,
    WorkPastEnd,
    WorkBefore,
    NoWithArg,
};

// Runs a correct plan, then breaks one thing.
template <typename T, Placement P>
class FaultyPlan;

template <typename T>
class FaultInjector {
public:
    FaultInjector(Fault fault, Kind kind, Placement placement, Request request)
        : fault_(fault), kind_(kind), placement_(placement), request_(std::move(request))
    {
    }

    void apply(Direction direction, const T* first, T* target, T* work, std::size_t workSize) const
    {
        const TransformLayouts layouts = layoutsFor(kind_, placement_, direction, request_);
        const std::vector<std::int64_t> points = layouts.target.offsets();
        switch (fault_) {
        case Fault::PastExtent: target[layouts.targetExtent()] = T(0); break;
        case Fault::BeforeStart: target[-1] = T(0); break;
        case Fault::Hole: target[points[0] + layouts.target.pointReals()] = T(0); break;
        case Fault::Padding:
            if (direction == Direction::Backward) target[request_.dims.back().size] = T(7);
            break;
        case Fault::FirstArray: const_cast<T*>(first)[0] += T(1); break;
        case Fault::Value: target[points.back()] = target[points.back()] * T(2) + T(1); break;
        case Fault::WorkPastEnd: work[workSize] = T(0); break;
        case Fault::WorkBefore: work[-1] = T(0); break;
        case Fault::None:
        case Fault::NoWithArg: break;
        }
    }
    bool skipsWithArg() const { return fault_ == Fault::NoWithArg; }

private:
    Fault fault_;
    Kind kind_;
    Placement placement_;
    Request request_;
};

template <typename T>
class FaultyPlan<T, Placement::Inplace> final : public InplaceCompute<T> {
public:
    FaultyPlan(std::unique_ptr<InplaceCompute<T>> inner, FaultInjector<T> injector)
        : inner_(std::move(inner)), injector_(std::move(injector))
    {
    }
    void forward(T* data, T* work) const override { run(Direction::Forward, data, work); }
    void backward(T* data, T* work) const override { run(Direction::Backward, data, work); }
    void forwardWithArg(void*, T* data, T* work) const override
    {
        if (!injector_.skipsWithArg()) forward(data, work);
    }
    void backwardWithArg(void*, T* data, T* work) const override
    {
        if (!injector_.skipsWithArg()) backward(data, work);
    }
    std::size_t workSize() const override { return inner_->workSize(); }
    int threadCount() const override { return 1; }
    std::string toString() const override { return "faulty"; }
    std::size_t threadWorkSize() const override { return 0; }
    void reserveThreadWork(std::size_t) override {}

private:
    void run(Direction direction, T* data, T* work) const
    {
        if (direction == Direction::Forward) inner_->forward(data, work);
        else inner_->backward(data, work);
        injector_.apply(direction, data, data, work, workSize());
    }

    std::unique_ptr<InplaceCompute<T>> inner_;
    FaultInjector<T> injector_;
};

template <typename T>
class FaultyPlan<T, Placement::Ooplace> final : public OoplaceCompute<T> {
public:
    FaultyPlan(std::unique_ptr<OoplaceCompute<T>> inner, FaultInjector<T> injector)
        : inner_(std::move(inner)), injector_(std::move(injector))
    {
    }
    void forward(const T* first, T* second, T* work) const override { run(Direction::Forward, first, second, work); }
    void backward(const T* first, T* second, T* work) const override { run(Direction::Backward, first, second, work); }
    void forwardWithArg(void*, const T* first, T* second, T* work) const override
    {
        if (!injector_.skipsWithArg()) forward(first, second, work);
    }
    void backwardWithArg(void*, const T* first, T* second, T* work) const override
    {
        if (!injector_.skipsWithArg()) backward(first, second, work);
    }
    std::size_t workSize() const override { return inner_->workSize(); }
    int threadCount() const override { return 1; }
    std::string toString() const override { return "faulty"; }
    std::size_t threadWorkSize() const override { return 0; }
    void reserveThreadWork(std::size_t) override {}

private:
    void run(Direction direction, const T* first, T* second, T* work) const
    {
        if (direction == Direction::Forward) inner_->forward(first, second, work);
        else inner_->backward(first, second, work);
        injector_.apply(direction, first, second, work, workSize());
    }

    std::unique_ptr<OoplaceCompute<T>> inner_;
    FaultInjector<T> injector_;
};

struct FaultCase {
    Fault fault;
    const char* expectedProblem;  // nullptr: the check passes
};

template <typename T, typename In, typename Out, Placement P>
void expectFaultsCaught(const Request& request, std::initializer_list<FaultCase> cases)
{
    const auto factory = makePlannerFactory<T, In, Out>();
    for (const FaultCase& c : cases) {
        SCOPED_TRACE("fault " + std::to_string(static_cast<int>(c.fault)));
        const FaultInjector<T> injector(c.fault, kindOf<In, Out>, P, request);
        const FaultyPlan<T, P> plan(makePlan<P>(*factory, request), injector);
        const ::testing::AssertionResult result = checkPlanWithArg(request, plan, *factory);
        if (!c.expectedProblem) {
            EXPECT_TRUE(result);
            continue;
        }
        ASSERT_FALSE(result);
        EXPECT_NE(std::string(result.message()).find(c.expectedProblem), std::string::npos) << result.message();
    }
}

TYPED_TEST(SupportHarnessTyped, CatchesFaultyOutOfPlacePlans)
{
    using T = typename TypeParam::Real;
    using C = std::complex<T>;
    const Request holey = request({{3, 12, 16}, {4, 4, 4}}, {2, 0, 0});
    expectFaultsCaught<T, C, C, Placement::Ooplace>(holey, {
                                                               {Fault::None, nullptr},
                                                               {Fault::PastExtent, "guard after the array"},
                                                               {Fault::BeforeStart, "guard before the array"},
                                                               {Fault::Hole, "between the layout's points"},
                                                               {Fault::FirstArray, "first array changed"},
                                                               {Fault::Value, "relative error"},
                                                               {Fault::WorkPastEnd, "past workSize()"},
                                                               {Fault::WorkBefore, "before the work buffer"},
                                                               {Fault::NoWithArg, "(WithArg): relative error"},
                                                           });
}

TYPED_TEST(SupportHarnessTyped, InplaceRealPaddingIsScratchOnlyBackward)
{
    using T = typename TypeParam::Real;
    expectFaultsCaught<T, T, std::complex<T>, Placement::Inplace>(request({{3}, {6}}, {2, 0, 0}),
                                                                   {
                                                                       {Fault::Padding, nullptr},
                                                                       {Fault::PastExtent, "guard after the array"},
                                                                       {Fault::Value, "relative error"},
                                                                   });
}

TEST(SupportHarness, WithArgFaultNeedsTheWithArgVariant)
{
    const Request r = request({{8}});
    const auto factory = makePlannerFactory<double, std::complex<double>, std::complex<double>>();
    const FaultyPlan<double, Placement::Inplace> plan(
        makePlan<Placement::Inplace>(*factory, r),
        FaultInjector<double>(Fault::NoWithArg, Kind::ComplexToComplex, Placement::Inplace, r));
    EXPECT_TRUE(checkPlan(r, plan, *factory));
    EXPECT_FALSE(checkPlanWithArg(r, plan, *factory));
}

TEST(SupportHarness, LargeTransformStaysQuick)
{
    const Request r = request({{512}, {1024}});
    const auto factory = makePlannerFactory<float, float, std::complex<float>>();
    const auto plan = makePlan<Placement::Ooplace>(*factory, r);
    EXPECT_TRUE(checkPlan(r, *plan, *factory));
}

class SupportRecording : public ::testing::Test {
protected:
    using Real = double;
    using Recording = RecordingRealFactory<Real>;

    SupportRecording() : key(makePlanKey(3)), tuning(new Real[8]{}, std::default_delete<Real[]>())
    {
        recorder->registerKey(key.data());
        recorder->registerTuning(tuning.get());
    }

    Recording factory;
    const std::shared_ptr<Recorder<Real>>& recorder = factory.recorder();
    std::vector<PlanKey> key;
    std::shared_ptr<Real> tuning;
    const Request rows = request({{4}, {6}}, {2, 0, 0});
};

TEST_F(SupportRecording, WrappedPlansStayCorrectAndAreLogged)
{
    tuning.get()[1] = 0.5;
    const std::shared_ptr<Real> tuningAtOne(tuning, tuning.get() + 1);
    const std::ptrdiff_t secondRecord = 1 + (key[0] & 0xffu);
    auto plan =
        factory.makeInplace(rows.rank, rows.dims.data(), &rows.batch, true, key.data() + secondRecord, tuningAtOne);
    ASSERT_TRUE(plan);
    EXPECT_EQ(recorder->livePlans(), 1);
    EXPECT_TRUE(checkPlanWithArg(rows, *plan, *makePlannerFactory<Real, Real, std::complex<Real>>()));

    const std::vector<FactoryCall> makes = recorder->calls("makeInplace");
    ASSERT_EQ(makes.size(), 1u);
    EXPECT_EQ(makes[0].rank, 2u);
    EXPECT_EQ(makes[0].dims[1].size, 6);
    EXPECT_EQ(makes[0].batch->size, 2);
    EXPECT_TRUE(makes[0].lockFlag);
    EXPECT_EQ(makes[0].keyOffset, secondRecord);
    EXPECT_EQ(makes[0].tuningIndex, 1);
    EXPECT_EQ(makes[0].tuningRead, 0.5);
    EXPECT_EQ(makes[0].result, 1);
    EXPECT_FALSE(makes[0].tuningLocked);

    const std::int64_t extent =
        layoutsFor(Kind::RealToComplex, Placement::Inplace, Direction::Forward, rows).sourceExtent();
    std::vector<Real> data(static_cast<std::size_t>(extent) + 6);
    std::vector<Real> work(plan->workSize() + 8);
    const int dataRegion = recorder->registerRegion(data.data(), data.size());
    const int workRegion = recorder->registerRegion(work.data(), work.size());
    recorder->clear();
    plan->forwardWithArg(&data, data.data() + 6, work.data() + 8);
    const std::vector<PlanCall> calls = recorder->planCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, "forwardWithArg");
    EXPECT_EQ(calls[0].extraArg, &data);
    EXPECT_EQ(calls[0].arrays[0].region, dataRegion);
    EXPECT_EQ(calls[0].arrays[0].offset, 6);
    EXPECT_EQ(calls[0].work.region, workRegion);
    EXPECT_EQ(calls[0].work.offset, 8);
    EXPECT_EQ(calls[0].workSize, plan->workSize());

    recorder->recordPlanCalls(false);
    plan->backward(data.data(), work.data());
    EXPECT_EQ(recorder->planCalls().size(), 1u);
    plan.reset();
    EXPECT_EQ(recorder->livePlans(), 0);
}

TEST_F(SupportRecording, DeclinesChosenMakesAndLogsCompanionAndTuningLock)
{
    recorder->declineMake(1);
    auto first = factory.makeOoplace(rows.rank, rows.dims.data(), &rows.batch, false, key.data(), {});
    auto second = factory.makeOoplace(rows.rank, rows.dims.data(), &rows.batch, false, key.data(), {});
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);

    const ComplexFactory<Real>* companion = factory.complexFactory();
    ASSERT_NE(companion, nullptr);
    const Dim column{6, 16, 16};
    const Dim columns{4, 2, 2};
    std::unique_ptr<OoplaceCompute<Real>> columnPlan;
    {
        std::unique_lock<std::shared_mutex> tuningHeld(tuningMutex());
        columnPlan = companion->makeOoplace(columnRank, &column, &columns, false, key.data(), tuning);
    }
    EXPECT_TRUE(columnPlan);

    const std::vector<FactoryCall> makes = recorder->calls("makeOoplace");
    ASSERT_EQ(makes.size(), 3u);
    EXPECT_FALSE(makes[0].declined);
    EXPECT_TRUE(makes[1].declined);
    EXPECT_EQ(makes[1].result, 0);
    EXPECT_TRUE(makes[0].tuningEmpty);
    EXPECT_TRUE(makes[2].companion);
    EXPECT_TRUE(makes[2].column);
    ASSERT_EQ(makes[2].dims.size(), 1u);
    EXPECT_EQ(makes[2].dims[0].outStride, 16);
    EXPECT_EQ(makes[2].tuningIndex, 0);
    EXPECT_TRUE(makes[2].tuningLocked);
    EXPECT_EQ(recorder->livePlans(), 2);
}

}  // namespace
}  // namespace zun::fft::support
