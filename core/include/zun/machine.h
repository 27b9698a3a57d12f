// Where the stand-in core finds the machine figures. Each figure has sources
// tried in order, and the first that knows it wins: sysfs, then the C
// library, then the processor itself, because virtual machines often show a
// sysfs without cache entries while the C library and CPUID still know them.
// The sources are parameters so that a fake sysfs tree and fake fallbacks can
// stand in for the machine's own.
#pragma once

#include <zun/config.h>

#include <cstdint>
#include <functional>
#include <string>

namespace zun::machine {

struct Sources {
    std::string cpuRoot;                          // the sysfs directory of the CPUs
    std::string cpuInfo;                          // the kernel's CPU listing
    std::function<CacheInfo(int level)> sysconf;  // the C library's cache figures
    std::function<CacheInfo(int level)> cpuid;    // the processor's own cache description
};

// The sources of this machine: /sys/devices/system/cpu, /proc/cpuinfo,
// sysconf and CPUID.
ZUN_CORE_EXPORT Sources systemSources();

// Distinct packages named by the sysfs topology files, else by the "physical
// id" lines of the CPU listing, else 1.
ZUN_CORE_EXPORT int packagesFrom(const Sources& sources);

// The data or unified cache of `level` as sysfs describes it for cpu0, else as
// the C library reports it, else as CPUID describes it; all zero when no source
// knows its size.
ZUN_CORE_EXPORT CacheInfo dataCacheFrom(const Sources& sources, int level);

struct CpuidRegisters {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// Decodes the cache parameter subleaves that Intel's leaf 4 and AMD's leaf
// 0x8000001D share: subleaf i describes one cache, a type of 0 ends the list.
ZUN_CORE_EXPORT CacheInfo cacheFromParameterLeaves(int level,
                                                   const std::function<CpuidRegisters(std::uint32_t)>& subleaf);

// Decodes AMD's older cache leaves 0x80000005 (L1) and 0x80000006 (L2, L3),
// for processors that do not offer leaf 0x8000001D.
ZUN_CORE_EXPORT CacheInfo cacheFromAmdLegacyLeaves(int level, const CpuidRegisters& leaf5, const CpuidRegisters& leaf6);

}  // namespace zun::machine
