// A planner factory whose plans ask for more work than the serial planner's
// and guard it. The stand-in's float and double plans use no work at all, so
// on their own they cannot show a strategy whose threads share a slice, whose
// slice misses a plan's need or whose slices reach past workSize(); the plans
// of a real core library do use their work. Each plan of this factory stamps
// its whole share of the work buffer with a value of its own before it runs
// and checks, after the plan it wraps has run, that the part it keeps for
// itself still holds that value. A write by another call, or a share that runs
// into the harness's guard zone, then fails the test in every precision.
#pragma once

#include <zun/core.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace zun::fft::support {

// How many reals each plan asks for beyond the plan it wraps. Plans differ by
// their make ordinal, so the plans of one strategy need different amounts;
// the `favourite` make asks for `favouriteExtra` more than any other plan, so
// a slice sized without that plan is too small for it.
struct Appetite {
    std::int64_t base = 96;
    std::int64_t step = 16;  // times (make ordinal mod 4)
    std::optional<std::int64_t> favourite;
    std::int64_t favouriteExtra = 48;
};

// Shared by a hungry planner, its companion and every plan they make.
class WorkLedger {
public:
    explicit WorkLedger(const Appetite& appetite) : appetite_(appetite) {}

    struct Portion {
        std::int64_t make;   // ordinal among the make calls
        std::int64_t extra;  // reals beyond the wrapped plan's work
    };
    // Numbers a make call and tells its plan's extra work.
    Portion nextMake();
    std::int64_t makes() const { return makes_.load(); }

    std::uint32_t nextStamp() { return stamps_.fetch_add(1) + 1; }
    // A plan found its stamp overwritten: reported as a test failure.
    void overwritten(std::int64_t make, std::uint64_t firstByte, std::uint64_t bytes);
    long overwrites() const { return overwrites_.load(); }

    // The largest work of a wrapped plan made so far.
    void sawInnerWork(std::size_t reals);
    std::size_t largestInnerWork() const { return largestInnerWork_.load(); }

private:
    Appetite appetite_;
    std::atomic<std::int64_t> makes_{0};
    std::atomic<std::uint32_t> stamps_{0};
    std::atomic<long> overwrites_{0};
    std::atomic<std::size_t> largestInnerWork_{0};
};

template <typename T, typename In, typename Out>
struct HungryPlanner {
    std::unique_ptr<Factory<T, In, Out>> factory;  // a PlannerFactory
    std::shared_ptr<WorkLedger> ledger;
};

// Wraps a serial planner (by default a fresh stand-in planner).
template <typename T, typename In, typename Out>
HungryPlanner<T, In, Out> hungryPlanner(const Appetite& appetite = {},
                                        std::unique_ptr<Factory<T, In, Out>> inner = makePlannerFactory<T, In, Out>());

}  // namespace zun::fft::support
