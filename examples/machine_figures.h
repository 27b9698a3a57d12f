// The figures a parallel factory sizes its plans for: the thread count, the
// processor packages and the L1, L2 and L3 data caches. They are detected
// here and all passed in the configuration, so the factory keeps exactly the
// figures that are printed (a cache no source knows stays 0 either way).
#pragma once

#include <zun/config.h>

#include <string>

namespace examples {

struct MachineFigures {
    int threads;
    int packages;
    int l1KiB, l2KiB, l3KiB;
};

inline MachineFigures detectMachineFigures(int threads)
{
    return {threads, zun::detectPackages(), zun::detectDataCache(1).sizeKiB, zun::detectDataCache(2).sizeKiB,
            zun::detectDataCache(3).sizeKiB};
}

inline zun::Configuration configurationOf(const MachineFigures& figures)
{
    zun::Configuration configuration;
    configuration.set(zun::Parameter::Threads, figures.threads);
    configuration.set(zun::Parameter::Packages, figures.packages);
    configuration.set(zun::Parameter::DataCacheL1, figures.l1KiB);
    configuration.set(zun::Parameter::DataCacheL2, figures.l2KiB);
    configuration.set(zun::Parameter::DataCacheL3, figures.l3KiB);
    return configuration;
}

inline std::string describe(const MachineFigures& figures)
{
    return std::to_string(figures.threads) + " threads, " + std::to_string(figures.packages) +
           (figures.packages == 1 ? " package, L1 " : " packages, L1 ") + std::to_string(figures.l1KiB) +
           " KiB, L2 " + std::to_string(figures.l2KiB) + " KiB, L3 " + std::to_string(figures.l3KiB) + " KiB";
}

}  // namespace examples
