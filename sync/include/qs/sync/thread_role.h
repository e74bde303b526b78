#pragma once

#include "qs/sync/thread_annotations.h"

namespace qs {

// A capability that is no lock: "this code runs on a given thread" (an event loop's, say).
// Members only that thread may touch are GUARDED_BY a role; a function that thread runs
// asserts the role where it starts (ASSERT_CAPABILITY, with a run-time check in Debug
// builds), and helpers it calls REQUIRE it. Empty: as a [[no_unique_address]] member it
// takes no room.
class CAPABILITY("thread role") thread_role {};

} // namespace qs
