// How the stand-in core finds packages and data caches: a fake sysfs tree,
// fake C library and CPUID answers, and the order in which they are asked.
#include <zun/machine.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using zun::CacheInfo;
using zun::machine::CpuidRegisters;

struct SysfsCache {
    int index, level;
    const char* type;
    const char* size;
};

// A machine described by a fake sysfs tree and a fake CPU listing, whose C
// library and processor know the caches given to them and log every question.
class FakeMachine {
public:
    explicit FakeMachine(const std::string& name)
        : root_(fs::path(::testing::TempDir()) / ("zun_machine_" + name))
    {
        fs::remove_all(root_);
        fs::create_directories(root_ / "cpu");
    }
    ~FakeMachine() { fs::remove_all(root_); }

    void addSysfsCache(const SysfsCache& cache)
    {
        const fs::path index = root_ / "cpu" / "cpu0" / "cache" / ("index" + std::to_string(cache.index));
        fs::create_directories(index);
        write(index / "level", std::to_string(cache.level));
        write(index / "type", cache.type);
        write(index / "size", cache.size);
        write(index / "coherency_line_size", "64");
        write(index / "shared_cpu_list", "0-1");
    }
    void addSysfsPackage(int cpu, int package)
    {
        const fs::path topology = root_ / "cpu" / ("cpu" + std::to_string(cpu)) / "topology";
        fs::create_directories(topology);
        write(topology / "physical_package_id", std::to_string(package));
    }
    void writeCpuInfo(const std::string& text) { write(root_ / "cpuinfo", text); }

    std::map<int, int> libraryKiB, processorKiB;  // by level
    std::vector<std::string> asked;

    zun::machine::Sources sources()
    {
        auto answer = [this](const char* source, const std::map<int, int>& known) {
            return [this, source, &known](int level) {
                asked.push_back(source + std::to_string(level));
                CacheInfo info;
                const auto found = known.find(level);
                if (found != known.end()) info.sizeKiB = found->second;
                return info;
            };
        };
        return {(root_ / "cpu").string(), (root_ / "cpuinfo").string(), answer("sysconf", libraryKiB),
                answer("cpuid", processorKiB)};
    }

private:
    static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; }

    fs::path root_;
};

TEST(CoreMachine, DataCachesComeFromTheFirstSourceThatKnowsThem)
{
    const SysfsCache l1Instruction{0, 1, "Instruction", "32K"};
    const SysfsCache l1Data{1, 1, "Data", "48K"};
    const SysfsCache l2{2, 2, "Unified", "1024K"};
    const SysfsCache l3{3, 3, "Unified", "32M"};
    struct Case {
        const char* name;
        std::vector<SysfsCache> sysfs;
        std::map<int, int> library, processor;
        int level, expectedKiB;
        std::vector<std::string> asked;
    };
    const Case cases[] = {
        {"no cache directory: the C library", {}, {{1, 48}}, {{1, 32}}, 1, 48, {"sysconf1"}},
        {"no cache directory, library silent: CPUID", {}, {}, {{2, 1024}}, 2, 1024, {"sysconf2", "cpuid2"}},
        {"nothing anywhere stays 0", {}, {}, {}, 3, 0, {"sysconf3", "cpuid3"}},
        {"instruction caches only", {l1Instruction}, {{1, 48}}, {}, 1, 48, {"sysconf1"}},
        {"instruction caches only, CPUID", {l1Instruction}, {}, {{1, 40}}, 1, 40, {"sysconf1", "cpuid1"}},
        {"normal sysfs wins", {l1Instruction, l1Data, l2, l3}, {{1, 1}}, {{1, 2}}, 1, 48, {}},
        {"normal sysfs, megabytes", {l1Instruction, l1Data, l2, l3}, {}, {}, 3, 32768, {}},
        {"sysfs without this level", {l1Instruction, l1Data, l2}, {{3, 30720}}, {}, 3, 30720, {"sysconf3"}},
        {"sysfs size of 0 is no figure", {{0, 2, "Unified", "0K"}}, {{2, 2048}}, {}, 2, 2048, {"sysconf2"}},
        {"sysfs size too large to read is no figure", {{0, 2, "Unified", "99999999999999999999K"}}, {{2, 2048}}, {},
         2, 2048, {"sysconf2"}},
        {"sysfs size that overflows in KiB is no figure", {{0, 2, "Unified", "9000000000000000G"}}, {{2, 2048}}, {},
         2, 2048, {"sysconf2"}},
        {"sysfs size in bytes", {{0, 2, "Unified", "2097152"}}, {}, {}, 2, 2048, {}},
    };
    int id = 0;
    for (const Case& c : cases) {
        FakeMachine machine("cache" + std::to_string(id++));
        for (const SysfsCache& cache : c.sysfs) machine.addSysfsCache(cache);
        machine.libraryKiB = c.library;
        machine.processorKiB = c.processor;
        const CacheInfo info = zun::machine::dataCacheFrom(machine.sources(), c.level);
        EXPECT_EQ(info.sizeKiB, c.expectedKiB) << c.name;
        EXPECT_EQ(machine.asked, c.asked) << c.name;
    }
}

TEST(CoreMachine, SysfsCacheEntriesKeepTheirLineAndSharing)
{
    FakeMachine machine("sharing");
    machine.addSysfsCache({0, 2, "Unified", "2048K"});
    const CacheInfo info = zun::machine::dataCacheFrom(machine.sources(), 2);
    EXPECT_EQ(info.sizeKiB, 2048);
    EXPECT_EQ(info.lineBytes, 64);
    EXPECT_EQ(info.sharedByCpus, 2);
}

TEST(CoreMachine, PackagesFromTopologyElseTheCpuListingElseOne)
{
    const std::string twoPackageListing = "processor\t: 0\nphysical id\t: 0\n\nprocessor\t: 1\nphysical id\t: 1\n";
    {
        FakeMachine machine("topology");
        for (int cpu = 0; cpu < 4; ++cpu) machine.addSysfsPackage(cpu, cpu / 2);
        machine.writeCpuInfo("physical id\t: 0\n");
        EXPECT_EQ(zun::machine::packagesFrom(machine.sources()), 2) << "topology files win";
    }
    {
        FakeMachine machine("listing");
        machine.writeCpuInfo(twoPackageListing);
        EXPECT_EQ(zun::machine::packagesFrom(machine.sources()), 2);
    }
    {
        FakeMachine machine("nothing");
        machine.writeCpuInfo("processor\t: 0\nmodel name\t: virtual\n");
        EXPECT_EQ(zun::machine::packagesFrom(machine.sources()), 1);
    }
}

// Cache parameter subleaves: type in eax bits 0-4, level in 5-7, sharing - 1
// in 14-25; ways - 1, partitions - 1 and line - 1 in ebx; sets - 1 in ecx.
CpuidRegisters parameterLeaf(std::uint32_t type, std::uint32_t level, std::uint32_t ways, std::uint32_t sets,
                             std::uint32_t sharing)
{
    return {type | level << 5 | (sharing - 1) << 14, (ways - 1) << 22 | 63, sets - 1, 0};
}

TEST(CoreMachine, CpuidCacheLeavesDecode)
{
    const std::vector<CpuidRegisters> leaves = {
        parameterLeaf(2, 1, 8, 64, 2),      // 32 KiB instruction cache, listed before the data cache
        parameterLeaf(1, 1, 12, 64, 2),     // 48 KiB data
        parameterLeaf(3, 2, 16, 1024, 2),   // 1 MiB unified
        parameterLeaf(3, 3, 16, 32768, 16), // 32 MiB unified
        {},                                 // end of the list
    };
    auto subleaf = [&](std::uint32_t i) { return i < leaves.size() ? leaves[i] : CpuidRegisters{}; };
    const int expectedKiB[] = {0, 48, 1024, 32768, 0};
    for (int level = 0; level <= 4; ++level)
        EXPECT_EQ(zun::machine::cacheFromParameterLeaves(level, subleaf).sizeKiB, expectedKiB[level]) << level;
    const CacheInfo l3 = zun::machine::cacheFromParameterLeaves(3, subleaf);
    EXPECT_EQ(l3.lineBytes, 64);
    EXPECT_EQ(l3.sharedByCpus, 16);

    // AMD's older leaves, as an 8-core virtual machine without leaf 0x8000001D
    // reports them: L1d in KiB, L2 in KiB, L3 in 512 KiB units.
    const CpuidRegisters leaf5{0, 0, 48u << 24 | 64, 0};
    const CpuidRegisters leaf6{0, 0, 1024u << 16 | 64, 1016u << 18 | 64};
    const int legacyKiB[] = {0, 48, 1024, 520192, 0};
    for (int level = 0; level <= 4; ++level)
        EXPECT_EQ(zun::machine::cacheFromAmdLegacyLeaves(level, leaf5, leaf6).sizeKiB, legacyKiB[level]) << level;
}

}  // namespace
