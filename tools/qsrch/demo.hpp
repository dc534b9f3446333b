// `qsrch demo`: the sample part found on the sample board, printed and drawn.
#pragma once

#include "options.hpp"

namespace qtool {

// Prints the results and where the picture went; returns the exit status.
int runDemo(const DemoSettings& settings);

}  // namespace qtool
