#include "runtime/runtime_state.h"

namespace wsh {

constinit NeverDestroyed<RuntimeState> runtime_state_storage;

}  // namespace wsh
