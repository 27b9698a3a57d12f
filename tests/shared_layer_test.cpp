// The pieces strategies are written with: cache budgets, plan sets and work
// layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "parallel/caches.h"
#include "parallel/plan_set.h"
#include "parallel/work.h"

namespace zun::fft::omp {
namespace {

TEST(CacheBudgets, LinesAndBudgetsInRealsOfEachPrecision)
{
    EXPECT_EQ(roundUpToLine<float>(0), 0u);
    EXPECT_EQ(roundUpToLine<float>(1), 16u);
    EXPECT_EQ(roundUpToLine<float>(16), 16u);
    EXPECT_EQ(roundUpToLine<float>(17), 32u);
    EXPECT_EQ(roundUpToLine<double>(9), 16u);
    EXPECT_EQ(roundUpToLine<_Float16>(33), 64u);
    EXPECT_EQ((lineColumns<float>), 8);
    EXPECT_EQ((lineColumns<double>), 4);
    EXPECT_EQ((lineColumns<_Float16>), 16);

    const CacheBudgets f = cacheBudgets<float>({48, 2048, 32768});
    EXPECT_EQ(f.l1Reals, 12288);
    EXPECT_EQ(f.halfL2Reals, 262144);
    EXPECT_EQ(f.halfL3Reals, 4194304);
    EXPECT_EQ(f.threeQuarterL3Reals, 6291456);
    EXPECT_EQ(f.lineColumns, 8);
    EXPECT_EQ(f.lineReals, 16);
    const CacheBudgets d = cacheBudgets<double>({48, 2048, 32768});
    EXPECT_EQ(d.threeQuarterL3Reals, 3145728);
    EXPECT_EQ(d.lineReals, 8);
    const CacheBudgets h = cacheBudgets<_Float16>({48, 2048, 32768});
    EXPECT_EQ(h.threeQuarterL3Reals, 12582912);
    EXPECT_EQ(h.lineColumns, 16);
    // The largest size a cache field can hold still fits.
    EXPECT_EQ(cacheBudgets<_Float16>({0xffffffffu, 0, 0}).l1Reals, std::int64_t{0xffffffff} * 512);
}

struct FakePlan {
    std::int64_t count;
    std::size_t workSize() const { return static_cast<std::size_t>(count) * 10; }
};

// Records the counts a plan set asks for, in order.
struct CountingMaker {
    std::vector<std::int64_t>& counts;
    std::unique_ptr<FakePlan> operator()(std::int64_t count) const
    {
        counts.push_back(count);
        return std::make_unique<FakePlan>(FakePlan{count});
    }
};

TEST(PlanSet, RequestsInTheOrderGivenAndATailOnlyWhenThereIsOne)
{
    struct Case {
        std::int64_t items, unit, threads;
        std::vector<Piece> order;
        std::vector<std::int64_t> counts;
    };
    const Case cases[] = {
        {100, 8, 5, {Piece::Block, Piece::Tail, Piece::Unit}, {16, 4, 8}},  // 12 groups: 2 per thread, 16 least
        {96, 8, 3, {Piece::Block, Piece::Tail, Piece::Unit}, {32, 8}},      // whole groups: no tail
        {9, 2, 4, {Piece::Block, Piece::Tail, Piece::Unit}, {4, 1, 2}},     // odd rows: a one-row tail
        {64, 1, 8, {Piece::Block, Piece::Unit, Piece::Tail}, {8, 1}},       // unit 1 never has a tail
        {7, 1, 4, {Piece::Unit, Piece::Block}, {1, 2}},                     // blocks of at least two units
    };
    for (const Case& c : cases) {
        std::vector<std::int64_t> counts;
        PlanSet<FakePlan> set(c.items, c.unit, c.threads);
        SubPlans subPlans;
        for (const Piece piece : c.order) set.request(piece, subPlans, CountingMaker{counts});
        EXPECT_EQ(counts, c.counts) << c.items << " items in units of " << c.unit;
        EXPECT_TRUE(subPlans.complete());
        EXPECT_EQ(set.workNeed(), static_cast<std::uint64_t>(*std::max_element(counts.begin(), counts.end())) * 10);
    }
}

TEST(PlanSet, ADeclinedPieceMakesTheRequestIncompleteAndNothingMoreIsAsked)
{
    PlanSet<FakePlan> set(100, 8, 5);
    SubPlans subPlans;
    std::vector<std::int64_t> asked;
    auto declineTheTail = [&](std::int64_t count) {
        asked.push_back(count);
        return count == 4 ? nullptr : std::make_unique<FakePlan>(FakePlan{count});
    };
    set.request(blockTailUnit, subPlans, declineTheTail);
    EXPECT_FALSE(subPlans.complete());
    EXPECT_FALSE(subPlans.require(declineTheTail, 8)) << "a single plan after the decline";
    EXPECT_EQ(asked, (std::vector<std::int64_t>{16, 4})) << "block, then the declined tail; no unit, no single plan";
}

TEST(PlanSet, WalksAShareWithBlocksUnitsAndTheTailOnTheLastThread)
{
    PlanSet<FakePlan> set(100, 8, 5);
    SubPlans subPlans;
    std::vector<std::int64_t> counts;
    set.request(blockTailUnit, subPlans, CountingMaker{counts});
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;  // (plan count, first item)
    auto record = [&](const FakePlan& plan, std::int64_t first) { calls.push_back({plan.count, first}); };
    set.walk(Team{4, 5}, record);
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{16, 80}, {4, 96}}));
    calls.clear();
    set.walk(Team{1, 4}, record);  // a smaller team: three groups each, a block and a group
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{16, 24}, {8, 40}}));
}

TEST(WorkLayouts, SlicesSideAreasAndGetters)
{
    float* const work = nullptr;
    const FakePlan small{1}, large{3};  // 10 and 30 reals

    FlatSlices<float> flat(4);
    flat.fit(&small, &large);
    EXPECT_EQ(flat.threadWorkSize(), 32u) << "the largest need, in whole lines";
    EXPECT_EQ(flat.workSize(), 4 * 32u);
    EXPECT_EQ(flat.threadCount(), 4);
    EXPECT_EQ(flat.slice(work, Team{3, 4}), work + 96);
    flat.reserveThreadWork(20);
    EXPECT_EQ(flat.threadWorkSize(), 32u) << "never lowered";
    flat.reserveThreadWork(40);
    EXPECT_EQ(flat.workSize(), 4 * 40u) << "raised exactly";

    NestedSlices<double> nested({2, 3});
    nested.fit(&large);
    EXPECT_EQ(nested.threadWorkSize(), 32u);
    EXPECT_EQ(nested.workSize(), 6 * 32u);
    EXPECT_EQ(nested.threadCount(), 6);
    double* const base = nullptr;
    // Offsets by the stored inner size, whatever team the runtime formed.
    EXPECT_EQ(nested.slice(base, Team{1, 2}, Team{1, 2}), base + (3 + 1) * 32);

    SideThenSlices<float, NestedSlices<float>> sideFirst(NestedTeams{2, 2}, 20);
    sideFirst.fit(&small);
    EXPECT_EQ(sideFirst.workSize(), 32u + 4 * 16u) << "the side area once, in whole lines";
    EXPECT_EQ(sideFirst.side(work), work);
    EXPECT_EQ(sideFirst.slices(work, true), work + 32);
    EXPECT_EQ(sideFirst.slices(work, false), work);
    SideThenSlices<float, FlatSlices<float>> flatSideFirst(3, 16);
    flatSideFirst.fit(&small);
    EXPECT_EQ(flatSideFirst.workSize(), 16u + 3 * 16u);
    EXPECT_EQ(flatSideFirst.slice(flatSideFirst.slices(work, true), Team{2, 3}), work + 16 + 32);

    SlicesThenSideBuffers<float> sideAfter({2, 2}, 18);
    sideAfter.fit(&small);
    EXPECT_EQ(sideAfter.workSize(), 4 * 16u + 2 * 32u);
    // Side buffers follow the slices of the outer team that runs.
    EXPECT_EQ(sideAfter.side(work, NestedPlace{{1, 2}, {0, 2}, {}}), work + 4 * 16 + 32);
    EXPECT_EQ(sideAfter.side(work, NestedPlace{{0, 1}, {0, 2}, {}}), work + 2 * 16);
}

// A slice no buffer can hold, needed by a plan or reserved by a parent: every
// size saturates at the largest value, never wrapping below what it counts.
TEST(WorkLayouts, SizesSaturateInsteadOfWrapping)
{
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(roundUpToLine<float>(largest - 15), largest - 15) << "the largest whole number of lines";
    EXPECT_EQ(roundUpToLine<float>(largest - 14), largest);
    EXPECT_EQ(roundUpToLine<_Float16>(largest), largest);

    const FakePlan hungry{static_cast<std::int64_t>(largest / 10)};  // largest - 5 reals
    FlatSlices<float> flat(4);
    flat.fit(&hungry);
    EXPECT_EQ(flat.threadWorkSize(), largest);
    EXPECT_EQ(flat.workSize(), largest);

    NestedSlices<double> nested({2, 3});
    nested.reserveThreadWork(largest / 4);
    EXPECT_EQ(nested.threadWorkSize(), largest / 4) << "the slice as reserved";
    EXPECT_EQ(nested.workSize(), largest);

    SideThenSlices<float, FlatSlices<float>> sideFirst(1, 64);
    sideFirst.reserveThreadWork(largest - 10);
    EXPECT_EQ(sideFirst.workSize(), largest);

    SlicesThenSideBuffers<float> sideAfter({1, 1}, 64);
    sideAfter.reserveThreadWork(largest - 10);
    EXPECT_EQ(sideAfter.workSize(), largest);
    SlicesThenSideBuffers<float> widestSides({2, 1}, largest - 100);
    EXPECT_EQ(widestSides.workSize(), largest);
}

}  // namespace
}  // namespace zun::fft::omp
