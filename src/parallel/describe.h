// Pieces of plan descriptions.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace zun::fft::omp {

template <typename T>
const char* precisionName()
{
    if constexpr (sizeof(T) == 2) return "float16_t";
    else if constexpr (sizeof(T) == 4) return "float32_t";
    else return "float64_t";
}

// The leading part of a sub-plan description up to and including its last
// 'b' or 'v' (nothing when it has neither).
inline std::string upToLastCountMark(const std::string& description)
{
    const std::size_t mark = description.find_last_of("bv");
    return mark == std::string::npos ? std::string() : description.substr(0, mark + 1);
}

// The sizes of a row plan description: from just after its first '(' up to,
// not including, the character before its first 'b'. Positions of absent
// characters count as the largest value and the arithmetic wraps, so every
// description gives some piece and none is cut past its end.
inline std::string sizesBetweenParenAndCount(const std::string& description)
{
    const std::uint64_t open = description.find('(');
    const std::uint64_t mark = description.find('b');
    const std::uint64_t start = open + 1;
    const std::uint64_t length = mark - open - 2;
    return description.substr(start, std::min<std::uint64_t>(length, description.size() - start));
}

// The piece of a sub-plan description from just after its last '(' (its
// start when it has none) to just before the last `marker` (its end when the
// marker does not occur); empty when that marker stands before the start.
inline std::string pieceBefore(const std::string& description, const std::string& marker)
{
    const std::size_t open = description.rfind('(');
    const std::size_t start = open == std::string::npos ? 0 : open + 1;
    const std::size_t found = description.rfind(marker);
    const std::size_t end = found == std::string::npos ? description.size() : found;
    return end > start ? description.substr(start, end - start) : std::string();
}

// "Name<floatNN_t>(ROWSxSIZES_bCOUNT/TEAMS)": the description of the
// strategies, TEAMS being their team sizes.
template <typename T>
std::string describeTeams(const char* name, std::int64_t rows, const std::string& sizes, std::int64_t howmany,
                          const std::string& teams)
{
    return std::string(name) + "<" + precisionName<T>() + ">(" + std::to_string(rows) + "x" + sizes + "_b" +
           std::to_string(howmany) + "/" + teams + ")";
}

// Strategies on nested teams: "OUTER/INNER".
template <typename T>
std::string describeNested(const char* name, std::int64_t rows, const std::string& sizes, std::int64_t howmany,
                           int outerThreads, int innerThreads)
{
    return describeTeams<T>(name, rows, sizes, howmany,
                            std::to_string(outerThreads) + "/" + std::to_string(innerThreads));
}

// Strategies on one flat team: its size.
template <typename T>
std::string describeFlat(const char* name, std::int64_t rows, const std::string& sizes, std::int64_t howmany,
                         int threads)
{
    return describeTeams<T>(name, rows, sizes, howmany, std::to_string(threads));
}

}  // namespace zun::fft::omp
