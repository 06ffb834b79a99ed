#pragma once

#include <unistd.h>

namespace tv2 {

// True when standard error is a terminal (progress lines go only there).
inline bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace tv2
