#include "fftw_plan.h"

namespace zun::fft::detail {

std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

unsigned planningFlags(bool tuning) { return tuning ? FFTW_MEASURE : FFTW_ESTIMATE; }

}  // namespace zun::fft::detail
