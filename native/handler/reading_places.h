// The places in the handler's code that read a module global, each with a
// cache of its own (handler_state.h).
#pragma once

namespace wsh {

enum HandlerSite : int {
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
    handler_site_count
};

}  // namespace wsh
