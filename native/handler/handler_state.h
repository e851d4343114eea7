// What the handler keeps for the process beside its methods' own places and
// keyword names (method_record.h): the keyword-name tuples of the calls the
// methods share. Filled once after the constant table exists; never
// released (see never_destroyed.h).
#pragma once

#include "runtime/never_destroyed.h"
#include "runtime/ref.h"

namespace wsh {

struct HandlerState {
    // The result answer's _finish_with_result(status_code=, result=).
    Ref keywords_status_code_result;
    // The except clauses' parse_zorvik_exception(error_str=).
    Ref keywords_error_str;
};

extern constinit NeverDestroyed<HandlerState> handler_state_storage;

inline HandlerState& handler_state() noexcept { return handler_state_storage.get(); }

// Builds the keyword-name tuples, the shared ones and every method's: 0, or
// -1 with an exception set.
int init_handler_state();

}  // namespace wsh
