// A planner factory that forwards to a serial planner and logs every call made
// on it, on its companion and on the plans it hands out, so that tests can see
// exactly which sub-plans a layer asks for and how it runs them.
#pragma once

#include <zun/core.h>

#include <atomic>
#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zun::fft::support {

// A pointer operand placed among the registered regions.
struct Location {
    const void* pointer = nullptr;
    int region = -1;            // -1: in no registered region
    std::ptrdiff_t offset = 0;  // reals from the region's base
};

struct FactoryCall {
    std::string op;
    bool companion = false;  // made on the complex companion of a real-to-complex factory
    std::size_t rank = 0;    // as passed
    bool column = false;     // rank == columnRank; dims then holds one Dim
    std::vector<Dim> dims;
    std::optional<Dim> batch;
    bool lockFlag = false;
    bool unitStride = false;
    const PlanKey* key = nullptr;
    std::optional<std::ptrdiff_t> keyOffset;  // words from the registered key base
    bool tuningEmpty = true;
    std::optional<std::ptrdiff_t> tuningIndex;  // into the registered tuning array
    std::optional<double> tuningRead;           // the first value the tuning pointer reads, as the call began
    long tuningUseCount = 0;
    bool tuningLocked = false;  // tuningMutex() held exclusively (by anyone) when the call began
    std::int64_t argument = 0;  // auxiliaryA / auxiliaryB
    // Queries, tuning indices, threadCount, auxiliaries: the value returned.
    // Makes: 1 when a plan came back. lockForTuning: 1 when the lock owns the mutex.
    std::int64_t result = 0;
    std::int64_t makeIndex = -1;  // ordinal among all make calls of the recorder
    bool declined = false;        // refused by the decline switch, never forwarded
};

struct PlanCall {
    std::size_t call = 0;  // index of the FactoryCall that made the plan
    std::string op;        // forward, backward, forwardWithArg, backwardWithArg, execute, reserveThreadWork
    void* extraArg = nullptr;
    std::int64_t value = 0;        // execute: mode; reserveThreadWork: n
    std::vector<Location> arrays;  // (data) | (first, second) | (data, side)
    Location work;
    std::size_t workSize = 0;  // of the called plan: it may use [work, work + workSize)
    std::thread::id thread;
};

template <typename T>
class Recorder {
public:
    // Regions locate plan operands; the returned id is Location::region.
    int registerRegion(const T* base, std::size_t reals);
    void registerKey(const PlanKey* base);
    void registerTuning(const T* base);

    // Make calls for which the predicate holds return empty. The predicate runs
    // under the recorder's lock, so it must not call back into the recorder.
    void declineWhen(std::function<bool(const FactoryCall&)> predicate);
    void declineMake(std::int64_t makeIndex);
    void declineNothing();

    void recordPlanCalls(bool on) { recordingPlanCalls_.store(on); }
    bool recordingPlanCalls() const { return recordingPlanCalls_.load(std::memory_order_relaxed); }

    std::vector<FactoryCall> calls() const;
    std::vector<FactoryCall> calls(const std::string& op) const;
    std::vector<PlanCall> planCalls() const;
    void clear();
    // Wrapped plans constructed minus destroyed.
    long livePlans() const { return livePlans_.load(); }
    // The FactoryCall index of each wrapped plan destroyed since the last clear, in order.
    std::vector<std::size_t> deletions() const;

    // For the wrappers.
    FactoryCall describe(const char* op, bool companion, std::size_t rank, const Dim* dims, const Dim* batch,
                         const PlanKey* key, const std::shared_ptr<T>* tuning) const;
    std::size_t add(FactoryCall call);
    // Adds a make call, numbering it and applying the decline switch.
    std::size_t addMake(FactoryCall call, bool& declined);
    void setResult(std::size_t call, std::int64_t result);
    void addPlanCall(std::size_t call, const char* op, void* extraArg, std::int64_t value,
                     std::initializer_list<const T*> arrays, const T* work, std::size_t workSize);
    void planCreated() { ++livePlans_; }
    void planDestroyed(std::size_t call);

private:
    struct Region {
        const T* base;
        std::size_t reals;
    };
    Location locate(const T* pointer) const;

    mutable std::mutex mutex_;
    std::vector<FactoryCall> calls_;
    std::vector<PlanCall> planCalls_;
    std::vector<std::size_t> deletions_;
    std::vector<Region> regions_;
    const PlanKey* keyBase_ = nullptr;
    const T* tuningBase_ = nullptr;
    std::function<bool(const FactoryCall&)> decline_;
    std::int64_t makes_ = 0;
    std::atomic<bool> recordingPlanCalls_{true};
    std::atomic<long> livePlans_{0};
};

// The Factory operations, shared by the planner and by its companion.
template <typename T, typename In, typename Out, typename Interface>
class RecordingFactoryBase : public Interface {
public:
    RecordingFactoryBase(std::unique_ptr<Factory<T, In, Out>> owned, std::shared_ptr<Recorder<T>> recorder);
    RecordingFactoryBase(const Factory<T, In, Out>& borrowed, std::shared_ptr<Recorder<T>> recorder, bool companion);

    std::int64_t queryInplace(std::size_t rank, const Dim* dims, bool unitStride) const override;
    std::unique_ptr<InplaceCompute<T>> makeInplace(std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag,
                                                   const PlanKey* key,
                                                   const std::shared_ptr<T>& tuning) const override;
    std::int64_t queryOoplace(std::size_t rank, const Dim* dims, bool unitStride) const override;
    std::unique_ptr<OoplaceCompute<T>> makeOoplace(std::size_t rank, const Dim* dims, const Dim* batch, bool lockFlag,
                                                   const PlanKey* key,
                                                   const std::shared_ptr<T>& tuning) const override;
    std::int64_t auxiliaryA(std::int64_t value) const override;
    std::int64_t auxiliaryB(std::int64_t value) const override;
    int threadCount() const override;
    std::string toString() const override;

    const std::shared_ptr<Recorder<T>>& recorder() const { return recorder_; }

protected:
    FactoryCall describe(const char* op, std::size_t rank, const Dim* dims, const Dim* batch = nullptr,
                         const PlanKey* key = nullptr, const std::shared_ptr<T>* tuning = nullptr) const;
    std::int64_t recordValue(FactoryCall call, const std::function<std::int64_t()>& forward) const;

    std::unique_ptr<Factory<T, In, Out>> owned_;
    const Factory<T, In, Out>* inner_;
    std::shared_ptr<Recorder<T>> recorder_;
    bool companion_;
};

template <typename T>
using RecordingCompanionFactory = RecordingFactoryBase<T, std::complex<T>, std::complex<T>, ComplexFactory<T>>;

// The planner operations common to both kinds.
template <typename T, typename In, typename Out>
class RecordingPlannerBase : public RecordingFactoryBase<T, In, Out, PlannerFactory<T, In, Out>> {
public:
    explicit RecordingPlannerBase(std::unique_ptr<Factory<T, In, Out>> inner);

    std::int64_t tuningIndexInplace(std::size_t rank, const Dim* dims, const PlanKey* key) const override;
    std::int64_t tuningIndexOoplace(std::size_t rank, const Dim* dims, const PlanKey* key) const override;
    TuningLock lockForTuning(std::size_t rank, const Dim* dims, bool unitStride,
                             const std::shared_ptr<T>& tuning) const override;

protected:
    const PlannerFactory<T, In, Out>& planner_;
};

// By default wraps a fresh stand-in serial planner factory.
template <typename T, typename In, typename Out>
class RecordingPlannerFactory : public RecordingPlannerBase<T, In, Out> {
public:
    explicit RecordingPlannerFactory(std::unique_ptr<Factory<T, In, Out>> inner = makePlannerFactory<T, In, Out>());
};

template <typename T>
class RecordingPlannerFactory<T, T, std::complex<T>> : public RecordingPlannerBase<T, T, std::complex<T>> {
public:
    explicit RecordingPlannerFactory(
        std::unique_ptr<RealFactory<T>> inner = makePlannerFactory<T, T, std::complex<T>>());

    std::unique_ptr<SplitBackwardCompute<T>> makeSplitBackward(std::size_t rank, const Dim* dims, const Dim* batch,
                                                               const PlanKey* key,
                                                               const std::shared_ptr<T>& tuning) const override;
    const ComplexFactory<T>* complexFactory() const override;

private:
    std::unique_ptr<RecordingCompanionFactory<T>> companion_;
};

template <typename T>
using RecordingComplexFactory = RecordingPlannerFactory<T, std::complex<T>, std::complex<T>>;
template <typename T>
using RecordingRealFactory = RecordingPlannerFactory<T, T, std::complex<T>>;

}  // namespace zun::fft::support
