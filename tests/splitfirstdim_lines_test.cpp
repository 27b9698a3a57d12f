// Middle records and line walks of the split-first-dimension strategies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "splitfirstdim/lines.h"
#include "splitfirstdim/split_first_dim.h"

namespace zun::fft::omp {
namespace {

struct Strides {
    std::int64_t in;
    std::int64_t out;
};

void expectStrides(const std::vector<Dim>& middle, const std::vector<Strides>& expected)
{
    ASSERT_EQ(middle.size(), expected.size());
    for (std::size_t j = 0; j < middle.size(); ++j) {
        EXPECT_EQ(middle[j].inStride, expected[j].in) << "record " << j;
        EXPECT_EQ(middle[j].outStride, expected[j].out) << "record " << j;
    }
}

TEST(MiddleDims, ZeroStridesBecomePackedRelativeToTheAxesInside)
{
    // Complex, every stride 0: rows of 8 complex values are 16 reals.
    const Dim packed[] = {{6, 0, 0}, {3, 0, 0}, {5, 0, 0}, {4, 0, 0}, {8, 0, 0}};
    expectStrides(makeMiddleDims(5, packed, Layout::ComplexInput), {{320, 0}, {64, 0}, {16, 0}});

    // A given stride stays, and the zero strides outside it grow from it;
    // with one layout the outStride fields are cleared, so the walk adds
    // no offset of a layout the strategy does not have.
    const Dim strided[] = {{6, 0, 0}, {3, 0, 9}, {5, 100, 0}, {4, 0, 0}, {8, 0, 0}};
    expectStrides(makeMiddleDims(5, strided, Layout::ComplexInput), {{500, 0}, {100, 0}, {16, 0}});

    // Out of place the two chains are independent: a given outStride on an
    // axis whose inStride is 0 fills only the inStride.
    const Dim mixed[] = {{6, 0, 0}, {3, 0, 0}, {5, 0, 40}, {4, 0, 0}, {8, 0, 3}};
    expectStrides(makeMiddleDims(5, mixed, Layout::ComplexInput, Layout::ComplexOutput),
                  {{320, 200}, {64, 40}, {16, 24}});
}

TEST(MiddleDims, RealLayoutsSeedFromTheirRowLength)
{
    // In place the padded row holds 2 x (7/2 + 1) = 8 reals, whatever the
    // innermost stride field says.
    const Dim inplace[] = {{2, 0, 0}, {3, 0, 0}, {5, 0, 0}, {7, 1, 0}};
    expectStrides(makeMiddleDims(4, inplace, Layout::InplaceReal), {{40, 0}, {8, 0}});

    // Out of place: real rows of L reals (times a given unit stride), complex
    // rows of 2 x nc reals, the innermost outStride never consulted.
    const Dim ooplace[] = {{2, 0, 0}, {3, 0, 0}, {5, 0, 0}, {8, 0, 77}};
    expectStrides(makeMiddleDims(4, ooplace, Layout::RealInput, Layout::ComplexHalfOutput), {{40, 50}, {8, 10}});
}

TEST(LineWalk, LexicographicOrderAtTheSummedOffsets)
{
    const Dim records[] = {{2, 100, 1000}, {3, -10, 7}};
    std::vector<std::pair<std::int64_t, std::int64_t>> visited;
    forEachLine(records, records + 2, LineOffsets{5, 6},
                [&](const LineOffsets& line) { visited.emplace_back(line.in, line.out); });
    const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
        {5, 6}, {-5, 13}, {-15, 20}, {105, 1006}, {95, 1013}, {85, 1020}};
    EXPECT_EQ(visited, expected);

    int calls = 0;
    const Dim empty[] = {{2, 100, 0}, {0, 1, 0}};
    forEachLine(empty, empty + 2, LineOffsets{}, [&](const LineOffsets&) { ++calls; });
    EXPECT_EQ(calls, 0) << "an axis of size 0 has no line";
}

TEST(LineWalk, ThreadsShareTheLinesByAxis1Index)
{
    // Rank 5: axes 1 to 3 of sizes 3, 2 and 2.
    const Dim dims[] = {{4, 0, 0}, {3, 0, 0}, {2, 0, 0}, {2, 0, 0}, {4, 0, 0}};
    const std::vector<Dim> middle = makeMiddleDims(5, dims, Layout::ComplexInput);
    for (int teamSize = 1; teamSize <= 5; ++teamSize) {
        SCOPED_TRACE("team of " + std::to_string(teamSize));
        std::vector<std::int64_t> all;
        for (int thread = 0; thread < teamSize; ++thread) {
            std::vector<std::int64_t> own;
            forEachOwnLine(middle, Team{thread, teamSize}, [&](const LineOffsets& line) { own.push_back(line.in); });
            EXPECT_TRUE(std::is_sorted(own.begin(), own.end())) << "thread " << thread;
            if (thread >= 3) {
                EXPECT_TRUE(own.empty()) << "no axis-1 index left for thread " << thread;
            }
            all.insert(all.end(), own.begin(), own.end());
        }
        // Line strides 32 (axis 1), 16 (axis 2), 8 (axis 3): every line once.
        std::sort(all.begin(), all.end());
        std::vector<std::int64_t> expected;
        for (std::int64_t line = 0; line < 12; ++line) expected.push_back(8 * line);
        EXPECT_EQ(all, expected);
    }
}

// The axis-0 team is the rest plan's; a rest plan reporting no thread at all
// still leaves one to run the pass (the count sizes the region and the buffer).
TEST(LineWalk, TeamOfTheRestPlan)
{
    struct Reporting {
        int threads;
        int threadCount() const { return threads; }
    };
    EXPECT_EQ(restTeam(Reporting{3}), 3);
    EXPECT_EQ(restTeam(Reporting{0}), 1);
    EXPECT_EQ(restTeam(Reporting{-2}), 1);
}

}  // namespace
}  // namespace zun::fft::omp
