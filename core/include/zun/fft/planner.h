// The core library's serial planner factories.
#pragma once

#include <zun/fft/interfaces.h>

#include <shared_mutex>
#include <vector>

namespace zun::fft {

// A serial planner factory for one real type and kind (In == Out == complex<T>
// for complex-to-complex, In == T for real-to-complex). The result implements
// PlannerFactory<T, In, Out>; a real-to-complex factory owns its companion.
template <typename T, typename In, typename Out>
ZUN_CORE_EXPORT std::unique_ptr<Factory<T, In, Out>> makePlannerFactory();

// A key with one record per axis; record k names tuning entry k + 1, so a tuning
// array of rank + 1 values is long enough for it. Every header word is 2 or more.
ZUN_CORE_EXPORT std::vector<PlanKey> makePlanKey(std::size_t rank);

// The process-wide mutex that lockForTuning holds exclusively in tuning mode.
// Exposed so that callers (and tests) can observe whether tuning is under way.
ZUN_CORE_EXPORT std::shared_mutex& tuningMutex();

}  // namespace zun::fft
