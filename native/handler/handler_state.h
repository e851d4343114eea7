// What the handler's methods keep for the process: the keyword-name tuples
// of their keyword calls and the caches of their global reads. Filled once
// after the constant table exists; never released (see never_destroyed.h).
#pragma once

#include "handler/reading_places.h"
#include "runtime/call.h"
#include "runtime/lookup.h"
#include "runtime/never_destroyed.h"
#include "runtime/ref.h"

namespace wsh {

struct HandlerState {
    // Keyword names of the bodies' keyword calls, e.g. set_header(name=, value=).
    Ref keywords_name_value;
    Ref keywords_status_code;
    Ref keywords_status_code_result;
    Ref keywords_workspace_id;
    Ref keywords_error_str;
    ReadingPlace places[handler_place_count];
    // The look-up of workspace.to_dict, repeated for every workspace.
    MethodLookupCache to_dict_method;
};

extern constinit NeverDestroyed<HandlerState> handler_state_storage;

inline HandlerState& handler_state() noexcept { return handler_state_storage.get(); }

// The cache of the global read at `place`.
inline ReadingPlace& reading_place(HandlerReadingPlace where) noexcept { return handler_state().places[where]; }

// Builds the keyword-name tuples: 0, or -1 with an exception set.
int init_handler_state();

}  // namespace wsh
