#pragma once

namespace qs {

// Waits for one key press on standard input, without echo and without Enter on a
// terminal; reads one byte when standard input is not a terminal (end of input counts).
void wait_for_key();

} // namespace qs
