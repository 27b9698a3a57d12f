#include "support/hungry.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <utility>

namespace zun::fft::support {

WorkLedger::Portion WorkLedger::nextMake()
{
    const std::int64_t make = makes_.fetch_add(1);
    if (make == appetite_.favourite) return {make, appetite_.base + 3 * appetite_.step + appetite_.favouriteExtra};
    return {make, appetite_.base + appetite_.step * (make % 4)};
}

void WorkLedger::overwritten(std::int64_t make, std::uint64_t firstByte, std::uint64_t bytes)
{
    ++overwrites_;
    ADD_FAILURE() << "the work of the plan of make call " << make << " was written by another call at byte "
                  << firstByte << " of its " << bytes << " own bytes";
}

void WorkLedger::sawInnerWork(std::size_t reals)
{
    std::size_t largest = largestInnerWork_.load();
    while (reals > largest && !largestInnerWork_.compare_exchange_weak(largest, reals)) {
    }
}

namespace {

// The stamp repeats the four bytes of its tag; any byte may be checked alone.
unsigned char stampByte(std::uint32_t tag, std::uint64_t byte)
{
    return static_cast<unsigned char>(tag >> (8 * (byte % 4)));
}

void stamp(void* begin, std::uint64_t bytes, std::uint32_t tag)
{
    auto* out = static_cast<unsigned char*>(begin);
    for (std::uint64_t b = 0; b < bytes; ++b) out[b] = stampByte(tag, b);
}

// The first byte that no longer holds the stamp, or `bytes`.
std::uint64_t firstUnstamped(const void* begin, std::uint64_t from, std::uint64_t bytes, std::uint32_t tag)
{
    const auto* in = static_cast<const unsigned char*>(begin);
    for (std::uint64_t b = from; b < bytes; ++b)
        if (in[b] != stampByte(tag, b)) return b;
    return bytes;
}

// What every hungry plan does around the plan it wraps: its share is the
// wrapped plan's work followed by `extra` reals that it keeps for itself.
template <typename T, typename Plan>
class Hungry {
public:
    Hungry(std::unique_ptr<Plan> inner, std::shared_ptr<WorkLedger> ledger, std::int64_t make, std::int64_t extra)
        : inner_(std::move(inner)), ledger_(std::move(ledger)), make_(make), extra_(static_cast<std::size_t>(extra))
    {
    }

    std::size_t workSize() const { return inner_->workSize() + extra_; }

    // Stamps the whole share, runs the wrapped plan on it, then checks the
    // part the wrapped plan does not use.
    template <typename Run>
    void feed(T* work, Run&& run) const
    {
        const std::uint32_t tag = ledger_->nextStamp();
        const std::uint64_t used = inner_->workSize() * sizeof(T);
        const std::uint64_t bytes = workSize() * sizeof(T);
        stamp(work, bytes, tag);
        run(*inner_, work);
        const std::uint64_t at = firstUnstamped(work, used, bytes, tag);
        if (at != bytes) ledger_->overwritten(make_, at, bytes);
    }

    const Plan& inner() const { return *inner_; }
    Plan& inner() { return *inner_; }

private:
    std::unique_ptr<Plan> inner_;
    std::shared_ptr<WorkLedger> ledger_;
    std::int64_t make_;
    std::size_t extra_;
};

// The plan interface's getters, answered for the wrapped plan and its share.
template <typename T, Placement P>
class HungryCompute : public Compute<T, P> {
public:
    explicit HungryCompute(Hungry<T, Compute<T, P>> hungry) : hungry_(std::move(hungry)) {}

    std::size_t workSize() const override { return hungry_.workSize(); }
    int threadCount() const override { return hungry_.inner().threadCount(); }
    std::string toString() const override { return hungry_.inner().toString(); }
    std::size_t threadWorkSize() const override { return hungry_.inner().threadWorkSize(); }
    void reserveThreadWork(std::size_t n) override { hungry_.inner().reserveThreadWork(n); }

protected:
    Hungry<T, Compute<T, P>> hungry_;
};

template <typename T, Placement P>
class HungryPlan;

template <typename T>
class HungryPlan<T, Placement::Inplace> final : public HungryCompute<T, Placement::Inplace> {
public:
    using HungryCompute<T, Placement::Inplace>::HungryCompute;

    void forward(T* data, T* work) const override
    {
        this->hungry_.feed(work, [&](const InplaceCompute<T>& plan, T* w) { plan.forward(data, w); });
    }
    void backward(T* data, T* work) const override
    {
        this->hungry_.feed(work, [&](const InplaceCompute<T>& plan, T* w) { plan.backward(data, w); });
    }
    void forwardWithArg(void* extraArg, T* data, T* work) const override
    {
        this->hungry_.feed(work, [&](const InplaceCompute<T>& plan, T* w) { plan.forwardWithArg(extraArg, data, w); });
    }
    void backwardWithArg(void* extraArg, T* data, T* work) const override
    {
        this->hungry_.feed(work,
                           [&](const InplaceCompute<T>& plan, T* w) { plan.backwardWithArg(extraArg, data, w); });
    }
};

template <typename T>
class HungryPlan<T, Placement::Ooplace> final : public HungryCompute<T, Placement::Ooplace> {
public:
    using HungryCompute<T, Placement::Ooplace>::HungryCompute;

    void forward(const T* first, T* second, T* work) const override
    {
        this->hungry_.feed(work, [&](const OoplaceCompute<T>& plan, T* w) { plan.forward(first, second, w); });
    }
    void backward(const T* first, T* second, T* work) const override
    {
        this->hungry_.feed(work, [&](const OoplaceCompute<T>& plan, T* w) { plan.backward(first, second, w); });
    }
    void forwardWithArg(void* extraArg, const T* first, T* second, T* work) const override
    {
        this->hungry_.feed(
            work, [&](const OoplaceCompute<T>& plan, T* w) { plan.forwardWithArg(extraArg, first, second, w); });
    }
    void backwardWithArg(void* extraArg, const T* first, T* second, T* work) const override
    {
        this->hungry_.feed(
            work, [&](const OoplaceCompute<T>& plan, T* w) { plan.backwardWithArg(extraArg, first, second, w); });
    }
};

template <typename T>
class HungrySplitBackwardPlan final : public SplitBackwardCompute<T> {
public:
    explicit HungrySplitBackwardPlan(Hungry<T, SplitBackwardCompute<T>> hungry) : hungry_(std::move(hungry)) {}

    void execute(int mode, T* data, T* side, T* work) const override
    {
        hungry_.feed(work, [&](const SplitBackwardCompute<T>& plan, T* w) { plan.execute(mode, data, side, w); });
    }
    std::size_t workSize() const override { return hungry_.workSize(); }

private:
    Hungry<T, SplitBackwardCompute<T>> hungry_;
};

template <typename T, Placement P>
std::unique_ptr<Compute<T, P>> feedOn(Hungry<T, Compute<T, P>> hungry)
{
    return std::make_unique<HungryPlan<T, P>>(std::move(hungry));
}

template <typename T>
std::unique_ptr<SplitBackwardCompute<T>> feedOn(Hungry<T, SplitBackwardCompute<T>> hungry)
{
    return std::make_unique<HungrySplitBackwardPlan<T>>(std::move(hungry));
}

// Every make call is numbered, whether or not a plan comes back.
template <typename T, typename Make>
auto hungryMake(const std::shared_ptr<WorkLedger>& ledger, Make&& make) -> decltype(make())
{
    const WorkLedger::Portion portion = ledger->nextMake();
    auto plan = make();
    if (!plan) return nullptr;
    ledger->sawInnerWork(plan->workSize());
    using Plan = typename decltype(plan)::element_type;
    return feedOn(Hungry<T, Plan>(std::move(plan), ledger, portion.make, portion.extra));
}

// The factory operations, for the planner and for its companion.
template <typename T, typename In, typename Out, typename Interface>
class HungryFactory : public Interface {
public:
    HungryFactory(const Factory<T, In, Out>& inner, std::shared_ptr<WorkLedger> ledger)
        : inner_(inner), ledger_(std::move(ledger))
    {
    }

    std::int64_t queryInplace(std::size_t rank, const Dim* dims, bool unitStride) const override
    {
        return inner_.queryInplace(rank, dims, unitStride);
    }
    std::unique_ptr<InplaceCompute<T>> makeInplace(std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag,
                                                   const PlanKey* key,
                                                   const std::shared_ptr<T>& tuning) const override
    {
        return hungryMake<T>(ledger_, [&] { return inner_.makeInplace(rank, dims, batch, lockFlag, key, tuning); });
    }
    std::int64_t queryOoplace(std::size_t rank, const Dim* dims, bool unitStride) const override
    {
        return inner_.queryOoplace(rank, dims, unitStride);
    }
    std::unique_ptr<OoplaceCompute<T>> makeOoplace(std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag,
                                                   const PlanKey* key,
                                                   const std::shared_ptr<T>& tuning) const override
    {
        return hungryMake<T>(ledger_, [&] { return inner_.makeOoplace(rank, dims, batch, lockFlag, key, tuning); });
    }
    std::int64_t auxiliaryA(std::int64_t value) const override { return inner_.auxiliaryA(value); }
    std::int64_t auxiliaryB(std::int64_t value) const override { return inner_.auxiliaryB(value); }
    int threadCount() const override { return inner_.threadCount(); }
    std::string toString() const override { return inner_.toString(); }

protected:
    const Factory<T, In, Out>& inner_;
    std::shared_ptr<WorkLedger> ledger_;
};

template <typename T, typename In, typename Out>
class HungryPlannerBase : public HungryFactory<T, In, Out, PlannerFactory<T, In, Out>> {
public:
    HungryPlannerBase(std::unique_ptr<Factory<T, In, Out>> owned, std::shared_ptr<WorkLedger> ledger)
        : HungryFactory<T, In, Out, PlannerFactory<T, In, Out>>(*owned, std::move(ledger)),
          owned_(std::move(owned)),
          planner_(dynamic_cast<const PlannerFactory<T, In, Out>&>(*owned_))
    {
    }

    std::int64_t tuningIndexInplace(std::size_t rank, const Dim* dims, const PlanKey* key) const override
    {
        return planner_.tuningIndexInplace(rank, dims, key);
    }
    std::int64_t tuningIndexOoplace(std::size_t rank, const Dim* dims, const PlanKey* key) const override
    {
        return planner_.tuningIndexOoplace(rank, dims, key);
    }
    TuningLock lockForTuning(std::size_t rank, const Dim* dims, bool unitStride,
                             const std::shared_ptr<T>& tuning) const override
    {
        return planner_.lockForTuning(rank, dims, unitStride, tuning);
    }

protected:
    std::unique_ptr<Factory<T, In, Out>> owned_;
    const PlannerFactory<T, In, Out>& planner_;
};

template <typename T, typename In, typename Out>
class HungryPlannerFactory final : public HungryPlannerBase<T, In, Out> {
public:
    using HungryPlannerBase<T, In, Out>::HungryPlannerBase;
};

template <typename T>
class HungryPlannerFactory<T, T, std::complex<T>> final : public HungryPlannerBase<T, T, std::complex<T>> {
public:
    using Companion = HungryFactory<T, std::complex<T>, std::complex<T>, ComplexFactory<T>>;

    HungryPlannerFactory(std::unique_ptr<RealFactory<T>> owned, std::shared_ptr<WorkLedger> ledger)
        : HungryPlannerBase<T, T, std::complex<T>>(std::move(owned), std::move(ledger))
    {
        if (const ComplexFactory<T>* companion = this->planner_.complexFactory())
            companion_ = std::make_unique<Companion>(*companion, this->ledger_);
    }

    std::unique_ptr<SplitBackwardCompute<T>> makeSplitBackward(std::size_t rank, const Dim* dims, const Dim* batch,
                                                               const PlanKey* key,
                                                               const std::shared_ptr<T>& tuning) const override
    {
        return hungryMake<T>(this->ledger_,
                             [&] { return this->planner_.makeSplitBackward(rank, dims, batch, key, tuning); });
    }
    const ComplexFactory<T>* complexFactory() const override { return companion_.get(); }

private:
    std::unique_ptr<Companion> companion_;
};

}  // namespace

template <typename T, typename In, typename Out>
HungryPlanner<T, In, Out> hungryPlanner(const Appetite& appetite, std::unique_ptr<Factory<T, In, Out>> inner)
{
    auto ledger = std::make_shared<WorkLedger>(appetite);
    return {std::make_unique<HungryPlannerFactory<T, In, Out>>(std::move(inner), ledger), ledger};
}

#define ZUN_SUPPORT_INSTANTIATE(T)                                                                                \
    template HungryPlanner<T, std::complex<T>, std::complex<T>> hungryPlanner(const Appetite&,                    \
                                                                              std::unique_ptr<ComplexFactory<T>>); \
    template HungryPlanner<T, T, std::complex<T>> hungryPlanner(const Appetite&, std::unique_ptr<RealFactory<T>>);

ZUN_SUPPORT_INSTANTIATE(float)
ZUN_SUPPORT_INSTANTIATE(double)
ZUN_SUPPORT_INSTANTIATE(_Float16)

#undef ZUN_SUPPORT_INSTANTIATE

}  // namespace zun::fft::support
