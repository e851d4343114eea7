// The places in the code that read a module global, each with its own
// cached look-up pair in ModuleState.
#pragma once

namespace wsh {

enum GlobalSite : int {
    site_class_APIHandler,
    site_class_tornado_get,
    site_class_tornado_post,
    global_site_count
};

}  // namespace wsh
