// The places in the code that read a module global, each with its own
// cached look-up pair in ModuleState.
#pragma once

namespace wsh {

enum GlobalSite : int {
    site_class_APIHandler,
    site_class_tornado_get,
    site_class_tornado_post,
    // _finish_with_result: `json` for the length and for the body
    site_writer_json_length,
    site_writer_json_body,
    // get
    site_get_fetch,
    site_get_requests_connection,
    site_get_status_bad_gateway,
    site_get_requests_request,
    site_get_parse,
    site_get_status_internal_error,
    site_get_status_ok,
    // post
    site_post_status_bad_request,
    site_post_set_joined,
    site_post_requests_connection,
    site_post_status_bad_gateway,
    site_post_requests_request,
    site_post_parse,
    site_post_status_internal_error,
    site_post_status_ok,
    // Read only by the test-only module's checks of the look-up cache.
    site_test_0,
    site_test_1,
    site_test_2,
    site_test_3,
    global_site_count
};

}  // namespace wsh
