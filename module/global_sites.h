// The places in the code that read a module global, each with its own
// cached look-up pair in ModuleState.
#pragma once

namespace wsh {

enum GlobalSite : int {
    site_class_APIHandler,
    site_class_tornado_get,
    site_class_tornado_post,
    // Read only by the test-only module's checks of the look-up cache.
    site_test_0,
    site_test_1,
    site_test_2,
    site_test_3,
    global_site_count
};

}  // namespace wsh
