#include <gtest/gtest.h>

#include <vector>

#include "parallel/partition.h"

namespace zun::fft::omp {
namespace {

TEST(Partition, SplitRangeExamples)
{
    struct Case {
        std::int64_t count, unit;
        int team;
        std::vector<std::pair<std::int64_t, std::int64_t>> shares;
    };
    const Case cases[] = {
        {100, 8, 5, {{0, 24}, {24, 48}, {48, 64}, {64, 80}, {80, 96}}},
        {20, 8, 3, {{0, 8}, {8, 16}, {16, 16}}},
        {7, 1, 3, {{0, 3}, {3, 5}, {5, 7}}},
        {5, 8, 4, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {0, 1, 3, {{0, 0}, {0, 0}, {0, 0}}},
        {9, 2, 1, {{0, 8}}},
    };
    for (const auto& c : cases) {
        for (int t = 0; t < c.team; ++t) {
            const Share share = splitRange(c.count, c.team, t, c.unit);
            EXPECT_EQ(share.begin, c.shares[t].first) << c.count << "/" << c.unit << " thread " << t;
            EXPECT_EQ(share.end, c.shares[t].second) << c.count << "/" << c.unit << " thread " << t;
            EXPECT_EQ(share.runsTail, t == c.team - 1 && c.count % c.unit != 0);
            EXPECT_EQ(share.tailBegin, c.count - c.count % c.unit);
        }
    }
}

TEST(Partition, SharesCoverEveryItemOnceInWholeUnits)
{
    for (std::int64_t unit : {1, 2, 4, 8, 16}) {
        for (int team = 1; team <= 9; ++team) {
            for (std::int64_t count = 0; count <= 70; ++count) {
                std::vector<int> seen(count, 0);
                std::int64_t previousEnd = 0;
                std::int64_t largest = 0, smallest = count;
                for (int t = 0; t < team; ++t) {
                    const Share share = splitRange(count, team, t, unit);
                    ASSERT_EQ(share.begin, previousEnd) << "shares lie side by side";
                    ASSERT_EQ((share.end - share.begin) % unit, 0);
                    for (std::int64_t i = share.begin; i < share.end; ++i) ++seen[i];
                    if (share.runsTail)
                        for (std::int64_t i = share.tailBegin; i < count; ++i) ++seen[i];
                    largest = std::max(largest, share.end - share.begin);
                    smallest = std::min(smallest, share.end - share.begin);
                    previousEnd = share.end;
                }
                for (std::int64_t i = 0; i < count; ++i)
                    ASSERT_EQ(seen[i], 1) << "item " << i << " count " << count << " unit " << unit << " team " << team;
                EXPECT_LE(largest - smallest, unit) << "balanced to one unit";
            }
        }
    }
}

TEST(Partition, ShareWalkUsesBlocksThenUnitsThenTail)
{
    struct Call {
        char plan;
        std::int64_t item;
    };
    const char block = 'B', unit = 'U', tail = 'T';
    auto walk = [&](const Share& share, std::int64_t blockSize, std::int64_t unitSize, const char* tailPlan) {
        std::vector<Call> calls;
        runShare(share, blockSize, unitSize, block, unit, tailPlan,
                 [&](const char& plan, std::int64_t item) { calls.push_back({plan, item}); });
        return calls;
    };
    // 100 transforms over 3 threads with block 25: thread 0 takes 34.
    auto calls = walk(splitRange(100, 3, 0, 1), 25, 1, nullptr);
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[0].plan, 'B');
    EXPECT_EQ(calls[1].plan, 'U');
    EXPECT_EQ(calls[1].item, 25);
    // Exactly one block and nothing else.
    calls = walk(Share{16, 32, 32, false}, 16, 8, &tail);
    ASSERT_EQ(calls.size(), 1u);
    // The last thread of 100 strided transforms in groups of 8 runs the tail at 96.
    calls = walk(splitRange(100, 5, 4, 8), 16, 8, &tail);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].plan, 'B');
    EXPECT_EQ(calls[1].plan, 'T');
    EXPECT_EQ(calls[1].item, 96);
    // Without a tail plan nothing runs there.
    EXPECT_EQ(walk(splitRange(5, 2, 1, 8), 16, 8, nullptr).size(), 0u);
}

struct FakePlan {
    int threads;
    std::size_t work;
    std::size_t slice;
    int threadCount() const { return threads; }
    std::size_t workSize() const { return work; }
    std::size_t threadWorkSize() const { return slice; }
};

TEST(Partition, WorkSlices)
{
    EXPECT_EQ(threadWorkNeed(FakePlan{1, 100, 7}), 100u);
    EXPECT_EQ(threadWorkNeed(FakePlan{0, 100, 7}), 100u);
    EXPECT_EQ(threadWorkNeed(FakePlan{2, 100, 7}), 7u);

    const FakePlan small{1, 10, 0}, large{1, 40, 0};
    const FakePlan* absent = nullptr;
    EXPECT_EQ(sliceFor<float>(&small, absent, &large), 48u) << "every plan that runs in a slice counts";

    std::uint64_t slice = 48;
    raiseSlice(slice, 20);
    EXPECT_EQ(slice, 48u);
    raiseSlice(slice, 50);
    EXPECT_EQ(slice, 50u) << "raised exactly, not rounded";
}

}  // namespace
}  // namespace zun::fft::omp
