#include "fftw_plan.h"

#include <unistd.h>

#include <limits>

namespace zun::fft::detail {

std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::int64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageBytes = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageBytes <= 0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(pages) * pageBytes;
}

unsigned planningFlags(bool tuning) { return tuning ? FFTW_MEASURE : FFTW_ESTIMATE; }

}  // namespace zun::fft::detail
