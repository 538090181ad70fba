#include "Hooks.h"

namespace bms {

DispatchHooks Hooks;

} // namespace bms
