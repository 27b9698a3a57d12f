// Configuration values and the machine description of the stand-in core.
#include <zun/config.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

using zun::Parameter;

TEST(CoreConfig, UnsetParametersReadZeroAndSetOnesKeepTheirLastValue) {
    zun::Configuration config;
    for (Parameter p : {Parameter::Threads, Parameter::Packages, Parameter::DataCacheL1, Parameter::DataCacheL2,
                        Parameter::DataCacheL3})
        EXPECT_EQ(config.get(p), 0);
    config.set(Parameter::Threads, 6);
    config.set(Parameter::DataCacheL2, 1024);
    config.set(Parameter::Threads, 3);
    EXPECT_EQ(config.get(Parameter::Threads), 3);
    EXPECT_EQ(config.get(Parameter::DataCacheL2), 1024);
    EXPECT_EQ(config.get(Parameter::Packages), 0);
}

TEST(CoreConfig, MachineDescriptionIsPlausible) {
    EXPECT_GE(zun::detectCores(), 1);
    EXPECT_GE(zun::detectPackages(), 1);
    for (int level : {0, 4, -1}) EXPECT_EQ(zun::detectDataCache(level).sizeKiB, 0) << level;
    for (int level : {1, 2, 3}) {
        const zun::CacheInfo cache = zun::detectDataCache(level);
        EXPECT_GE(cache.sizeKiB, 0);
        EXPECT_GE(cache.lineBytes, 0);
        EXPECT_GE(cache.sharedByCpus, 0);
    }
}

// Where sysfs describes a level-1 data cache, its size reaches the caller.
TEST(CoreConfig, ReadsTheFirstLevelDataCacheFromSysfs) {
    const std::string index = "/sys/devices/system/cpu/cpu0/cache/index0/";
    std::string type;
    std::ifstream(index + "type") >> type;
    int level = 0;
    std::ifstream(index + "level") >> level;
    if (type != "Data" || level != 1) GTEST_SKIP() << "no level-1 data cache described at index0";
    const zun::CacheInfo cache = zun::detectDataCache(1);
    EXPECT_GT(cache.sizeKiB, 0);
    EXPECT_GT(cache.lineBytes, 0);
    EXPECT_GE(cache.sharedByCpus, 1);
}

}  // namespace
