#pragma once

namespace qs {

// On a terminal: shows prompt, waits for one key press (no echo, no Enter) and ends the
// line. Otherwise does nothing, so that input from a file or a pipe is never waited on.
void prompt_for_key(const char* prompt);

} // namespace qs
