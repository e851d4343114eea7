// The places in the handler's code that read a module global, each with a
// cache of its own (handler_state.h).
#pragma once

namespace wsh {

enum HandlerReadingPlace : int {
    // _finish_with_result: `json` for the length and for the body
    place_writer_json_length,
    place_writer_json_body,
    // get
    place_get_fetch,
    place_get_requests_connection,
    place_get_status_bad_gateway,
    place_get_requests_request,
    place_get_parse,
    place_get_status_internal_error,
    place_get_status_ok,
    // post
    place_post_status_bad_request,
    place_post_set_joined,
    place_post_requests_connection,
    place_post_status_bad_gateway,
    place_post_requests_request,
    place_post_parse,
    place_post_status_internal_error,
    place_post_status_ok,
    handler_place_count
};

}  // namespace wsh
