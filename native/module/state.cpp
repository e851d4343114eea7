#include "module/state.h"

namespace wsh {

constinit NeverDestroyed<ModuleState> module_state_storage;
constinit NeverDestroyed<LoadingStatics> loading_statics_storage;

}  // namespace wsh
