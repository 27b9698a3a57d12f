// The user's configuration values.
#include <zun/config.h>

namespace zun {

int Configuration::get(Parameter parameter) const {
    const auto found = values_.find(parameter);
    return found == values_.end() ? 0 : found->second;
}

void Configuration::set(Parameter parameter, int value) { values_[parameter] = value; }

}  // namespace zun
