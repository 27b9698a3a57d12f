// The machine description: cores, packages and data caches, each read from
// the first source that knows it.
#include <zun/machine.h>

#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace zun {
namespace machine {
namespace {

namespace fs = std::filesystem;

std::string readWord(const fs::path& file) {
    std::ifstream in(file);
    std::string word;
    in >> word;
    return word;
}

// The decimal number at the start of `text`, and where it ends. Files that
// hold no such number, or one too large, read as unknown: nothing here may
// throw or overflow, whatever a file holds.
std::optional<std::int64_t> leadingNumber(const std::string& text, std::size_t* end = nullptr) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    if (end) *end = static_cast<std::size_t>(stop - text.data());
    return value;
}

std::int64_t readNumber(const fs::path& file, std::int64_t fallback) {
    return leadingNumber(readWord(file)).value_or(fallback);
}

// sysfs writes sizes like "48K", "2048K" or "30M"; 0 when unknown.
std::int64_t parseKiB(const std::string& text) {
    std::size_t digits = 0;
    const std::optional<std::int64_t> value = leadingNumber(text, &digits);
    if (!value) return 0;
    const auto scaled = [](std::int64_t kib, int shift) {
        return kib > (std::numeric_limits<std::int64_t>::max() >> shift) ? 0 : kib << shift;
    };
    switch (digits < text.size() ? std::toupper(static_cast<unsigned char>(text[digits])) : 'B') {
        case 'K': return *value;
        case 'M': return scaled(*value, 10);
        case 'G': return scaled(*value, 20);
        default: return *value >> 10;
    }
}

// Counts the CPUs of a list such as "0-3,8,10-11".
int countCpuList(const std::string& list) {
    int cpus = 0;
    std::stringstream ranges(list);
    std::string range;
    while (std::getline(ranges, range, ',')) {
        if (range.empty()) continue;
        const std::size_t dash = range.find('-');
        const std::optional<std::int64_t> first = leadingNumber(range.substr(0, dash));
        const std::optional<std::int64_t> last =
            dash == std::string::npos ? first : leadingNumber(range.substr(dash + 1));
        if (!first || !last || *last < *first || *last - *first >= std::numeric_limits<int>::max() - cpus) continue;
        cpus += static_cast<int>(*last - *first + 1);
    }
    return cpus;
}

bool holdsData(const fs::path& cacheIndex) {
    const std::string type = readWord(cacheIndex / "type");
    return type == "Data" || type == "Unified";
}

int clampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<int>::max()));
}

bool isCpuDirectory(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.size() >= 4 && name.compare(0, 3, "cpu") == 0 && std::isdigit(static_cast<unsigned char>(name[3]));
}

std::set<std::int64_t> packagesInSysfs(const fs::path& cpuRoot) {
    std::set<std::int64_t> packages;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(cpuRoot, error)) {
        if (!isCpuDirectory(entry.path())) continue;
        const std::int64_t id = readNumber(entry.path() / "topology" / "physical_package_id", -1);
        if (id >= 0) packages.insert(id);
    }
    return packages;
}

// The listing has one "physical id : N" line per logical CPU.
std::set<std::int64_t> packagesInCpuInfo(const fs::path& cpuInfo) {
    std::set<std::int64_t> packages;
    std::ifstream in(cpuInfo);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 11, "physical id") != 0) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::istringstream value(line.substr(colon + 1));
        std::int64_t id = -1;
        if (value >> id && id >= 0) packages.insert(id);
    }
    return packages;
}

CacheInfo cacheInSysfs(const fs::path& cpuRoot, int level) {
    CacheInfo info;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(cpuRoot / "cpu0" / "cache", error)) {
        const fs::path& index = entry.path();
        if (index.filename().string().compare(0, 5, "index") != 0) continue;
        if (readNumber(index / "level", 0) != level || !holdsData(index)) continue;
        info.sizeKiB = clampToInt(parseKiB(readWord(index / "size")));
        info.lineBytes = clampToInt(readNumber(index / "coherency_line_size", 0));
        info.sharedByCpus = countCpuList(readWord(index / "shared_cpu_list"));
        break;
    }
    return info;
}

// The C library knows the caches through names of its own (glibc reads them
// with CPUID); it says nothing of how many CPUs share one.
CacheInfo cacheFromSysconf(int level) {
#if defined(_SC_LEVEL1_DCACHE_SIZE) && defined(_SC_LEVEL3_CACHE_LINESIZE)
    static constexpr int names[3][2] = {{_SC_LEVEL1_DCACHE_SIZE, _SC_LEVEL1_DCACHE_LINESIZE},
                                        {_SC_LEVEL2_CACHE_SIZE, _SC_LEVEL2_CACHE_LINESIZE},
                                        {_SC_LEVEL3_CACHE_SIZE, _SC_LEVEL3_CACHE_LINESIZE}};
    if (level < 1 || level > 3) return {};
    const long bytes = sysconf(names[level - 1][0]);
    if (bytes <= 0) return {};
    CacheInfo info;
    info.sizeKiB = clampToInt(bytes / 1024);
    info.lineBytes = clampToInt(sysconf(names[level - 1][1]));
    return info;
#else
    (void)level;
    return {};
#endif
}

#if defined(__x86_64__) || defined(__i386__)
CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf = 0) {
    CpuidRegisters r;
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
    return r;
}

constexpr std::uint32_t amdCacheParameters = 0x8000001D;
constexpr std::uint32_t amdTopologyExtensions = 1u << 22;  // leaf 0x80000001, ecx

CacheInfo cacheFromCpuid(int level) {
    unsigned vendor = 0;
    const unsigned maxLeaf = __get_cpuid_max(0, &vendor);
    if (vendor == signature_INTEL_ebx && maxLeaf >= 4)
        return cacheFromParameterLeaves(level, [](std::uint32_t i) { return cpuid(4, i); });
    if (vendor != signature_AMD_ebx) return {};
    const unsigned maxExtended = __get_cpuid_max(0x80000000, nullptr);
    if (maxExtended >= amdCacheParameters && (cpuid(0x80000001).ecx & amdTopologyExtensions) != 0)
        return cacheFromParameterLeaves(level, [](std::uint32_t i) { return cpuid(amdCacheParameters, i); });
    if (maxExtended >= 0x80000006) return cacheFromAmdLegacyLeaves(level, cpuid(0x80000005), cpuid(0x80000006));
    return {};
}
#else
CacheInfo cacheFromCpuid(int) { return {}; }
#endif

std::uint32_t bits(std::uint32_t word, int low, int count) { return (word >> low) & ((1u << count) - 1); }

}  // namespace

Sources systemSources() {
    return {"/sys/devices/system/cpu", "/proc/cpuinfo", cacheFromSysconf, cacheFromCpuid};
}

int packagesFrom(const Sources& sources) {
    std::set<std::int64_t> packages = packagesInSysfs(sources.cpuRoot);
    if (packages.empty()) packages = packagesInCpuInfo(sources.cpuInfo);
    return packages.empty() ? 1 : static_cast<int>(packages.size());
}

CacheInfo dataCacheFrom(const Sources& sources, int level) {
    const CacheInfo sysfs = cacheInSysfs(sources.cpuRoot, level);
    if (sysfs.sizeKiB > 0) return sysfs;
    const CacheInfo library = sources.sysconf(level);
    if (library.sizeKiB > 0) return library;
    const CacheInfo processor = sources.cpuid(level);
    return processor.sizeKiB > 0 ? processor : CacheInfo{};
}

CacheInfo cacheFromParameterLeaves(int level, const std::function<CpuidRegisters(std::uint32_t)>& subleaf) {
    enum : std::uint32_t { noMoreCaches = 0, dataCache = 1, unifiedCache = 3 };
    // A real processor lists a handful of caches; the bound only guards
    // against a hypervisor that never ends the list.
    for (std::uint32_t i = 0; i < 64; ++i) {
        const CpuidRegisters r = subleaf(i);
        const std::uint32_t type = bits(r.eax, 0, 5);
        if (type == noMoreCaches) break;
        if ((type != dataCache && type != unifiedCache) || static_cast<int>(bits(r.eax, 5, 3)) != level) continue;
        const std::uint64_t ways = bits(r.ebx, 22, 10) + 1, partitions = bits(r.ebx, 12, 10) + 1;
        const std::uint64_t line = bits(r.ebx, 0, 12) + 1, sets = std::uint64_t{r.ecx} + 1;
        CacheInfo info;
        info.sizeKiB = clampToInt(static_cast<std::int64_t>(ways * partitions * line * sets / 1024));
        info.lineBytes = static_cast<int>(line);
        info.sharedByCpus = static_cast<int>(bits(r.eax, 14, 12) + 1);
        return info;
    }
    return {};
}

CacheInfo cacheFromAmdLegacyLeaves(int level, const CpuidRegisters& leaf5, const CpuidRegisters& leaf6) {
    CacheInfo info;
    switch (level) {
        case 1:
            info.sizeKiB = static_cast<int>(bits(leaf5.ecx, 24, 8));
            info.lineBytes = static_cast<int>(bits(leaf5.ecx, 0, 8));
            break;
        case 2:
            info.sizeKiB = static_cast<int>(bits(leaf6.ecx, 16, 16));
            info.lineBytes = static_cast<int>(bits(leaf6.ecx, 0, 8));
            break;
        case 3:  // counted in 512 KiB units
            info.sizeKiB = static_cast<int>(bits(leaf6.edx, 18, 14) * 512);
            info.lineBytes = static_cast<int>(bits(leaf6.edx, 0, 8));
            break;
        default: break;
    }
    return info.sizeKiB > 0 ? info : CacheInfo{};
}

}  // namespace machine

int detectCores() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0) return static_cast<int>(online);
    return std::max(1u, std::thread::hardware_concurrency());
}

int detectPackages() { return machine::packagesFrom(machine::systemSources()); }

CacheInfo detectDataCache(int level) { return machine::dataCacheFrom(machine::systemSources(), level); }

}  // namespace zun
