// Machine description and user configuration of the core library.
#pragma once

#include <cstdint>
#include <map>

// The core library exports its interface; everything else stays inside it.
#define ZUN_CORE_EXPORT __attribute__((visibility("default")))

namespace zun {

enum class Parameter : int {
    Threads = 256,
    Packages = 257,
    DataCacheL1 = 273,
    DataCacheL2 = 274,
    DataCacheL3 = 275,
};

// A set of parameter values; an unset parameter reads 0.
class ZUN_CORE_EXPORT Configuration {
public:
    int get(Parameter parameter) const;
    void set(Parameter parameter, int value);

private:
    std::map<Parameter, int> values_;
};

struct CacheInfo {
    std::int32_t sizeKiB = 0;      // never negative; 0 when the level is unknown
    std::int32_t lineBytes = 0;
    std::int32_t sharedByCpus = 0;
};

ZUN_CORE_EXPORT int detectCores();
ZUN_CORE_EXPORT int detectPackages();
ZUN_CORE_EXPORT CacheInfo detectDataCache(int level);

}  // namespace zun
