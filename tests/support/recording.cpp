#include "support/recording.h"

#include <stdexcept>

namespace zun::fft::support {

namespace {

// Asked from another thread: a thread that holds a shared_mutex must not
// try-lock it again itself.
bool tuningMutexLocked()
{
    bool locked = false;
    std::thread probe([&locked] {
        std::shared_mutex& mutex = tuningMutex();
        if (mutex.try_lock_shared()) mutex.unlock_shared();
        else locked = true;
    });
    probe.join();
    return locked;
}

template <typename T>
class LiveCount {
public:
    LiveCount(std::shared_ptr<Recorder<T>> recorder, std::size_t call) : recorder_(std::move(recorder)), call_(call)
    {
        recorder_->planCreated();
    }
    LiveCount(const LiveCount&) = delete;
    LiveCount& operator=(const LiveCount&) = delete;
    ~LiveCount() { recorder_->planDestroyed(call_); }
    Recorder<T>& operator*() const { return *recorder_; }
    Recorder<T>* operator->() const { return recorder_.get(); }

private:
    std::shared_ptr<Recorder<T>> recorder_;
    std::size_t call_;
};

template <typename T>
class RecordingInplacePlan final : public InplaceCompute<T> {
public:
    RecordingInplacePlan(std::unique_ptr<InplaceCompute<T>> inner, std::shared_ptr<Recorder<T>> recorder,
                         std::size_t call)
        : inner_(std::move(inner)), recorder_(std::move(recorder), call), call_(call)
    {
    }

    void forward(T* data, T* work) const override
    {
        record("forward", nullptr, data, work);
        inner_->forward(data, work);
    }
    void backward(T* data, T* work) const override
    {
        record("backward", nullptr, data, work);
        inner_->backward(data, work);
    }
    void forwardWithArg(void* extraArg, T* data, T* work) const override
    {
        record("forwardWithArg", extraArg, data, work);
        inner_->forwardWithArg(extraArg, data, work);
    }
    void backwardWithArg(void* extraArg, T* data, T* work) const override
    {
        record("backwardWithArg", extraArg, data, work);
        inner_->backwardWithArg(extraArg, data, work);
    }
    std::size_t workSize() const override { return inner_->workSize(); }
    int threadCount() const override { return inner_->threadCount(); }
    std::string toString() const override { return inner_->toString(); }
    std::size_t threadWorkSize() const override { return inner_->threadWorkSize(); }
    void reserveThreadWork(std::size_t n) override
    {
        recorder_->addPlanCall(call_, "reserveThreadWork", nullptr, static_cast<std::int64_t>(n), {}, nullptr, 0);
        inner_->reserveThreadWork(n);
    }

private:
    void record(const char* op, void* extraArg, const T* data, const T* work) const
    {
        recorder_->addPlanCall(call_, op, extraArg, 0, {data}, work, inner_->workSize());
    }

    std::unique_ptr<InplaceCompute<T>> inner_;
    LiveCount<T> recorder_;
    std::size_t call_;
};

template <typename T>
class RecordingOoplacePlan final : public OoplaceCompute<T> {
public:
    RecordingOoplacePlan(std::unique_ptr<OoplaceCompute<T>> inner, std::shared_ptr<Recorder<T>> recorder,
                         std::size_t call)
        : inner_(std::move(inner)), recorder_(std::move(recorder), call), call_(call)
    {
    }

    void forward(const T* first, T* second, T* work) const override
    {
        record("forward", nullptr, first, second, work);
        inner_->forward(first, second, work);
    }
    void backward(const T* first, T* second, T* work) const override
    {
        record("backward", nullptr, first, second, work);
        inner_->backward(first, second, work);
    }
    void forwardWithArg(void* extraArg, const T* first, T* second, T* work) const override
    {
        record("forwardWithArg", extraArg, first, second, work);
        inner_->forwardWithArg(extraArg, first, second, work);
    }
    void backwardWithArg(void* extraArg, const T* first, T* second, T* work) const override
    {
        record("backwardWithArg", extraArg, first, second, work);
        inner_->backwardWithArg(extraArg, first, second, work);
    }
    std::size_t workSize() const override { return inner_->workSize(); }
    int threadCount() const override { return inner_->threadCount(); }
    std::string toString() const override { return inner_->toString(); }
    std::size_t threadWorkSize() const override { return inner_->threadWorkSize(); }
    void reserveThreadWork(std::size_t n) override
    {
        recorder_->addPlanCall(call_, "reserveThreadWork", nullptr, static_cast<std::int64_t>(n), {}, nullptr, 0);
        inner_->reserveThreadWork(n);
    }

private:
    void record(const char* op, void* extraArg, const T* first, const T* second, const T* work) const
    {
        recorder_->addPlanCall(call_, op, extraArg, 0, {first, second}, work, inner_->workSize());
    }

    std::unique_ptr<OoplaceCompute<T>> inner_;
    LiveCount<T> recorder_;
    std::size_t call_;
};

template <typename T>
class RecordingSplitBackwardPlan final : public SplitBackwardCompute<T> {
public:
    RecordingSplitBackwardPlan(std::unique_ptr<SplitBackwardCompute<T>> inner, std::shared_ptr<Recorder<T>> recorder,
                               std::size_t call)
        : inner_(std::move(inner)), recorder_(std::move(recorder), call), call_(call)
    {
    }

    void execute(int mode, T* data, T* side, T* work) const override
    {
        recorder_->addPlanCall(call_, "execute", nullptr, mode, {data, side}, work, inner_->workSize());
        inner_->execute(mode, data, side, work);
    }
    std::size_t workSize() const override { return inner_->workSize(); }

private:
    std::unique_ptr<SplitBackwardCompute<T>> inner_;
    LiveCount<T> recorder_;
    std::size_t call_;
};

template <typename T>
std::unique_ptr<InplaceCompute<T>> wrap(std::unique_ptr<InplaceCompute<T>> plan,
                                        const std::shared_ptr<Recorder<T>>& recorder, std::size_t call)
{
    return std::make_unique<RecordingInplacePlan<T>>(std::move(plan), recorder, call);
}

template <typename T>
std::unique_ptr<OoplaceCompute<T>> wrap(std::unique_ptr<OoplaceCompute<T>> plan,
                                        const std::shared_ptr<Recorder<T>>& recorder, std::size_t call)
{
    return std::make_unique<RecordingOoplacePlan<T>>(std::move(plan), recorder, call);
}

template <typename T>
std::unique_ptr<SplitBackwardCompute<T>> wrap(std::unique_ptr<SplitBackwardCompute<T>> plan,
                                              const std::shared_ptr<Recorder<T>>& recorder, std::size_t call)
{
    return std::make_unique<RecordingSplitBackwardPlan<T>>(std::move(plan), recorder, call);
}

// Logs a make call and forwards it unless declined; a plan that comes back
// is wrapped so that its own calls are logged too.
template <typename T, typename Make>
auto recordMake(const std::shared_ptr<Recorder<T>>& recorder, FactoryCall call, Make&& make) -> decltype(make())
{
    bool declined = false;
    const std::size_t index = recorder->addMake(std::move(call), declined);
    if (declined) return nullptr;
    auto plan = make();
    recorder->setResult(index, plan ? 1 : 0);
    if (!plan) return nullptr;
    return wrap(std::move(plan), recorder, index);
}

template <typename T, typename In, typename Out>
const PlannerFactory<T, In, Out>& asPlanner(const Factory<T, In, Out>* inner)
{
    const auto* planner = dynamic_cast<const PlannerFactory<T, In, Out>*>(inner);
    if (!planner) throw std::invalid_argument("RecordingPlannerFactory needs a serial planner factory");
    return *planner;
}

}  // namespace

template <typename T>
int Recorder<T>::registerRegion(const T* base, std::size_t reals)
{
    std::lock_guard<std::mutex> lock(mutex_);
    regions_.push_back({base, reals});
    return static_cast<int>(regions_.size()) - 1;
}

template <typename T>
void Recorder<T>::registerKey(const PlanKey* base)
{
    std::lock_guard<std::mutex> lock(mutex_);
    keyBase_ = base;
}

template <typename T>
void Recorder<T>::registerTuning(const T* base)
{
    std::lock_guard<std::mutex> lock(mutex_);
    tuningBase_ = base;
}

template <typename T>
void Recorder<T>::declineWhen(std::function<bool(const FactoryCall&)> predicate)
{
    std::lock_guard<std::mutex> lock(mutex_);
    decline_ = std::move(predicate);
}

template <typename T>
void Recorder<T>::declineMake(std::int64_t makeIndex)
{
    declineWhen([makeIndex](const FactoryCall& call) { return call.makeIndex == makeIndex; });
}

template <typename T>
void Recorder<T>::declineNothing()
{
    declineWhen(nullptr);
}

template <typename T>
std::vector<FactoryCall> Recorder<T>::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

template <typename T>
std::vector<FactoryCall> Recorder<T>::calls(const std::string& op) const
{
    std::vector<FactoryCall> matching;
    for (FactoryCall& call : calls())
        if (call.op == op) matching.push_back(std::move(call));
    return matching;
}

template <typename T>
std::vector<PlanCall> Recorder<T>::planCalls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return planCalls_;
}

template <typename T>
std::vector<std::size_t> Recorder<T>::deletions() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return deletions_;
}

template <typename T>
void Recorder<T>::planDestroyed(std::size_t call)
{
    std::lock_guard<std::mutex> lock(mutex_);
    deletions_.push_back(call);
    --livePlans_;
}

// Plans made before a clear keep their call index, which then names nothing.
template <typename T>
void Recorder<T>::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    planCalls_.clear();
    deletions_.clear();
    makes_ = 0;
}

template <typename T>
FactoryCall Recorder<T>::describe(const char* op, bool companion, std::size_t rank, const Dim* dims, const Dim* batch,
                                  const PlanKey* key, const std::shared_ptr<T>* tuning) const
{
    FactoryCall call;
    call.op = op;
    call.companion = companion;
    call.rank = rank;
    call.column = rank == columnRank;
    if (dims) call.dims.assign(dims, dims + (call.column ? 1 : rank));
    if (batch) call.batch = *batch;
    call.key = key;
    call.tuningLocked = tuningMutexLocked();
    std::lock_guard<std::mutex> lock(mutex_);
    if (key && keyBase_) call.keyOffset = key - keyBase_;
    if (tuning) {
        call.tuningEmpty = !*tuning;
        call.tuningUseCount = tuning->use_count();
        if (*tuning && tuningBase_) call.tuningIndex = tuning->get() - tuningBase_;
        if (*tuning) call.tuningRead = static_cast<double>(*tuning->get());
    }
    return call;
}

template <typename T>
std::size_t Recorder<T>::add(FactoryCall call)
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
    return calls_.size() - 1;
}

template <typename T>
std::size_t Recorder<T>::addMake(FactoryCall call, bool& declined)
{
    std::lock_guard<std::mutex> lock(mutex_);
    call.makeIndex = makes_++;
    call.declined = decline_ && decline_(call);
    declined = call.declined;
    calls_.push_back(std::move(call));
    return calls_.size() - 1;
}

template <typename T>
void Recorder<T>::setResult(std::size_t call, std::int64_t result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (call < calls_.size()) calls_[call].result = result;
}

// A pointer just past a region still belongs to it: an empty slice at the end
// of a buffer starts there.
template <typename T>
Location Recorder<T>::locate(const T* pointer) const
{
    Location location;
    location.pointer = pointer;
    if (!pointer) return location;
    int pastEnd = -1;
    for (std::size_t r = 0; r < regions_.size(); ++r) {
        const Region& region = regions_[r];
        if (pointer >= region.base && pointer < region.base + region.reals) {
            location.region = static_cast<int>(r);
            break;
        }
        if (pointer == region.base + region.reals && pastEnd < 0) pastEnd = static_cast<int>(r);
    }
    if (location.region < 0) location.region = pastEnd;
    if (location.region >= 0) location.offset = pointer - regions_[static_cast<std::size_t>(location.region)].base;
    return location;
}

template <typename T>
void Recorder<T>::addPlanCall(std::size_t call, const char* op, void* extraArg, std::int64_t value,
                              std::initializer_list<const T*> arrays, const T* work, std::size_t workSize)
{
    if (!recordingPlanCalls()) return;
    PlanCall planCall;
    planCall.call = call;
    planCall.op = op;
    planCall.extraArg = extraArg;
    planCall.value = value;
    planCall.workSize = workSize;
    planCall.thread = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const T* array : arrays) planCall.arrays.push_back(locate(array));
    planCall.work = locate(work);
    planCalls_.push_back(std::move(planCall));
}

template <typename T, typename In, typename Out, typename Interface>
RecordingFactoryBase<T, In, Out, Interface>::RecordingFactoryBase(std::unique_ptr<Factory<T, In, Out>> owned,
                                                                  std::shared_ptr<Recorder<T>> recorder)
    : owned_(std::move(owned)), inner_(owned_.get()), recorder_(std::move(recorder)), companion_(false)
{
}

template <typename T, typename In, typename Out, typename Interface>
RecordingFactoryBase<T, In, Out, Interface>::RecordingFactoryBase(const Factory<T, In, Out>& borrowed,
                                                                  std::shared_ptr<Recorder<T>> recorder,
                                                                  bool companion)
    : inner_(&borrowed), recorder_(std::move(recorder)), companion_(companion)
{
}

template <typename T, typename In, typename Out, typename Interface>
FactoryCall RecordingFactoryBase<T, In, Out, Interface>::describe(const char* op, std::size_t rank, const Dim* dims,
                                                                  const Dim* batch, const PlanKey* key,
                                                                  const std::shared_ptr<T>* tuning) const
{
    return recorder_->describe(op, companion_, rank, dims, batch, key, tuning);
}

template <typename T, typename In, typename Out, typename Interface>
std::int64_t RecordingFactoryBase<T, In, Out, Interface>::recordValue(
    FactoryCall call, const std::function<std::int64_t()>& forward) const
{
    const std::size_t index = recorder_->add(std::move(call));
    const std::int64_t result = forward();
    recorder_->setResult(index, result);
    return result;
}

template <typename T, typename In, typename Out, typename Interface>
std::int64_t RecordingFactoryBase<T, In, Out, Interface>::queryInplace(std::size_t rank, const Dim* dims,
                                                                       bool unitStride) const
{
    FactoryCall call = describe("queryInplace", rank, dims);
    call.unitStride = unitStride;
    return recordValue(std::move(call), [&] { return inner_->queryInplace(rank, dims, unitStride); });
}

template <typename T, typename In, typename Out, typename Interface>
std::int64_t RecordingFactoryBase<T, In, Out, Interface>::queryOoplace(std::size_t rank, const Dim* dims,
                                                                       bool unitStride) const
{
    FactoryCall call = describe("queryOoplace", rank, dims);
    call.unitStride = unitStride;
    return recordValue(std::move(call), [&] { return inner_->queryOoplace(rank, dims, unitStride); });
}

template <typename T, typename In, typename Out, typename Interface>
std::unique_ptr<InplaceCompute<T>> RecordingFactoryBase<T, In, Out, Interface>::makeInplace(
    std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag, const PlanKey* key,
    const std::shared_ptr<T>& tuning) const
{
    FactoryCall call = describe("makeInplace", rank, dims, batch, key, &tuning);
    call.lockFlag = lockFlag;
    return recordMake(recorder_, std::move(call),
                      [&] { return inner_->makeInplace(rank, dims, batch, lockFlag, key, tuning); });
}

template <typename T, typename In, typename Out, typename Interface>
std::unique_ptr<OoplaceCompute<T>> RecordingFactoryBase<T, In, Out, Interface>::makeOoplace(
    std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag, const PlanKey* key,
    const std::shared_ptr<T>& tuning) const
{
    FactoryCall call = describe("makeOoplace", rank, dims, batch, key, &tuning);
    call.lockFlag = lockFlag;
    return recordMake(recorder_, std::move(call),
                      [&] { return inner_->makeOoplace(rank, dims, batch, lockFlag, key, tuning); });
}

template <typename T, typename In, typename Out, typename Interface>
std::int64_t RecordingFactoryBase<T, In, Out, Interface>::auxiliaryA(std::int64_t value) const
{
    FactoryCall call = describe("auxiliaryA", 0, nullptr);
    call.argument = value;
    return recordValue(std::move(call), [&] { return inner_->auxiliaryA(value); });
}

template <typename T, typename In, typename Out, typename Interface>
std::int64_t RecordingFactoryBase<T, In, Out, Interface>::auxiliaryB(std::int64_t value) const
{
    FactoryCall call = describe("auxiliaryB", 0, nullptr);
    call.argument = value;
    return recordValue(std::move(call), [&] { return inner_->auxiliaryB(value); });
}

template <typename T, typename In, typename Out, typename Interface>
int RecordingFactoryBase<T, In, Out, Interface>::threadCount() const
{
    return static_cast<int>(recordValue(describe("threadCount", 0, nullptr), [&] { return inner_->threadCount(); }));
}

template <typename T, typename In, typename Out, typename Interface>
std::string RecordingFactoryBase<T, In, Out, Interface>::toString() const
{
    recorder_->add(describe("toString", 0, nullptr));
    return inner_->toString();
}

template <typename T, typename In, typename Out>
RecordingPlannerBase<T, In, Out>::RecordingPlannerBase(std::unique_ptr<Factory<T, In, Out>> inner)
    : RecordingFactoryBase<T, In, Out, PlannerFactory<T, In, Out>>(std::move(inner),
                                                                   std::make_shared<Recorder<T>>()),
      planner_(asPlanner(this->owned_.get()))
{
}

template <typename T, typename In, typename Out>
std::int64_t RecordingPlannerBase<T, In, Out>::tuningIndexInplace(std::size_t rank, const Dim* dims,
                                                                  const PlanKey* key) const
{
    return this->recordValue(this->describe("tuningIndexInplace", rank, dims, nullptr, key),
                             [&] { return planner_.tuningIndexInplace(rank, dims, key); });
}

template <typename T, typename In, typename Out>
std::int64_t RecordingPlannerBase<T, In, Out>::tuningIndexOoplace(std::size_t rank, const Dim* dims,
                                                                  const PlanKey* key) const
{
    return this->recordValue(this->describe("tuningIndexOoplace", rank, dims, nullptr, key),
                             [&] { return planner_.tuningIndexOoplace(rank, dims, key); });
}

template <typename T, typename In, typename Out>
TuningLock RecordingPlannerBase<T, In, Out>::lockForTuning(std::size_t rank, const Dim* dims, bool unitStride,
                                                           const std::shared_ptr<T>& tuning) const
{
    FactoryCall call = this->describe("lockForTuning", rank, dims, nullptr, nullptr, &tuning);
    call.unitStride = unitStride;
    const std::size_t index = this->recorder_->add(std::move(call));
    TuningLock lock = planner_.lockForTuning(rank, dims, unitStride, tuning);
    this->recorder_->setResult(index, lock.owns_lock() ? 1 : 0);
    return lock;
}

template <typename T, typename In, typename Out>
RecordingPlannerFactory<T, In, Out>::RecordingPlannerFactory(std::unique_ptr<Factory<T, In, Out>> inner)
    : RecordingPlannerBase<T, In, Out>(std::move(inner))
{
}

template <typename T>
RecordingPlannerFactory<T, T, std::complex<T>>::RecordingPlannerFactory(std::unique_ptr<RealFactory<T>> inner)
    : RecordingPlannerBase<T, T, std::complex<T>>(std::move(inner))
{
    if (const ComplexFactory<T>* companion = this->planner_.complexFactory())
        companion_ = std::make_unique<RecordingCompanionFactory<T>>(*companion, this->recorder_, true);
}

template <typename T>
std::unique_ptr<SplitBackwardCompute<T>> RecordingPlannerFactory<T, T, std::complex<T>>::makeSplitBackward(
    std::size_t rank, const Dim* dims, const Dim* batch, const PlanKey* key, const std::shared_ptr<T>& tuning) const
{
    return recordMake(this->recorder_,
                      this->describe("makeSplitBackward", rank, dims, batch, key, &tuning),
                      [&] { return this->planner_.makeSplitBackward(rank, dims, batch, key, tuning); });
}

template <typename T>
const ComplexFactory<T>* RecordingPlannerFactory<T, T, std::complex<T>>::complexFactory() const
{
    this->recorder_->add(this->describe("complexFactory", 0, nullptr));
    return companion_.get();
}

#define ZUN_SUPPORT_INSTANTIATE(T)                                                                      \
    template class Recorder<T>;                                                                         \
    template class RecordingFactoryBase<T, std::complex<T>, std::complex<T>, ComplexFactory<T>>;        \
    template class RecordingFactoryBase<T, std::complex<T>, std::complex<T>, ComplexPlannerFactory<T>>; \
    template class RecordingFactoryBase<T, T, std::complex<T>, RealPlannerFactory<T>>;                  \
    template class RecordingFactoryBase<T, T, std::complex<T>, RealFactory<T>>;                         \
    template class RecordingPlannerBase<T, std::complex<T>, std::complex<T>>;                           \
    template class RecordingPlannerBase<T, T, std::complex<T>>;                                         \
    template class RecordingPlannerFactory<T, std::complex<T>, std::complex<T>>;                        \
    template class RecordingPlannerFactory<T, T, std::complex<T>>;

ZUN_SUPPORT_INSTANTIATE(float)
ZUN_SUPPORT_INSTANTIATE(double)
ZUN_SUPPORT_INSTANTIATE(_Float16)

#undef ZUN_SUPPORT_INSTANTIATE

}  // namespace zun::fft::support
